#pragma once

#include <QPointer>
#include <QWidget>

#include "TDataSource.h"
#include "framework_export.h"

class QLabel;
class QToolButton;

// Navigator bar: first, prior, next, last, and the value of a chosen field
// of the current row.
class FRAMEWORK_EXPORT TDBNavigator : public QWidget
{
    Q_OBJECT
public:
    explicit TDBNavigator(QWidget *parent = nullptr);

    TDataSource *DataSource() const { return m_dataSource; }
    void setDataSource(TDataSource *dataSource);
    QString fieldName() const { return m_fieldName; }
    void setFieldName(const QString &fieldName);
    QString shownText() const; // what the name display shows now

private:
    void refresh();
    QPointer<TDataSource> m_dataSource;
    QString m_fieldName;
    QLabel *m_name = nullptr;
    QToolButton *m_first = nullptr;
    QToolButton *m_prior = nullptr;
    QToolButton *m_next = nullptr;
    QToolButton *m_last = nullptr;
    QList<QMetaObject::Connection> m_connections;
};
