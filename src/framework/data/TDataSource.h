#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

#include "TClientDataSet.h"
#include "framework_export.h"

// Links data-aware widgets to a record set and reports its state changes.
class FRAMEWORK_EXPORT TDataSource : public QObject
{
    Q_OBJECT
public:
    explicit TDataSource(QObject *parent = nullptr);

    TClientDataSet *DataSet() const { return m_dataSet; }
    void setDataSet(TClientDataSet *dataSet);
    // dsInactive without a record set.
    TDataSetState State() const;

    // Runs (through the guard) after every state change of the record set.
    std::function<void(QObject *sender)> OnStateChange;

signals:
    void stateChanged(TDataSetState state);
    void dataSetChanged(TClientDataSet *dataSet);

private:
    QPointer<TClientDataSet> m_dataSet;
    QMetaObject::Connection m_stateConnection;
};
