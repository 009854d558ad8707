#pragma once

#include <QFont>
#include <QObject>
#include <QPointer>

#include <memory>
#include <vector>

#include "TColumn.h"
#include "framework_export.h"

class TClientDataSet;

// The columns of a grid. Without any column added by code they are one per
// visible field of the record set, rebuilt when it opens. The model that owns
// them follows their signals; the view answers them with geometry.
class FRAMEWORK_EXPORT TDBGridColumns : public QObject
{
    Q_OBJECT
public:
    explicit TDBGridColumns(QObject *parent = nullptr);
    ~TDBGridColumns() override;

    int Count() const { return int(m_items.size()); }
    TColumn *Items(int index) const; // nullptr when out of range
    TColumn *operator[](int index) const { return Items(index); }
    TColumn *Add(const QString &fieldName);
    TColumn *findByFieldName(const QString &fieldName) const;
    TColumn *findByField(const TField *field) const;
    int indexOf(const TColumn *column) const;
    // Back to one column per visible field.
    void Clear();
    // True when the columns were added by code (not built from the fields).
    bool isCustom() const { return m_custom; }

    // The record set whose fields the columns show.
    TClientDataSet *dataSet() const { return m_dataSet; }
    void setDataSet(TClientDataSet *dataSet) { m_dataSet = dataSet; }
    // Without columns added by code: one per visible field, anew.
    void rebuildFromFields();

    // Changes between BeginUpdate and EndUpdate (calls nest) reach the model
    // and the view as one change of the set of columns: views measure and
    // lay their columns out once, not once per column added or changed.
    void BeginUpdate();
    void EndUpdate();

    // The font default widths are measured in: the view's.
    QFont font() const { return m_font; }
    void setFont(const QFont &font) { m_font = font; }

signals:
    // Around a change of the set of columns (added, cleared, rebuilt).
    void columnsAboutToBeReset();
    void columnsReset();
    // One column's caption, width, alignment, field or look changed.
    void columnChanged(int index);

private:
    friend class TColumn;
    void notifyChanged(const TColumn *column);

    std::vector<std::unique_ptr<TColumn>> m_items;
    QPointer<TClientDataSet> m_dataSet;
    QFont m_font;
    bool m_custom = false;
    int m_updating = 0;
};
