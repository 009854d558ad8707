#pragma once

#include <QAbstractTableModel>
#include <QPointer>

#include "TClientDataSet.h"
#include "TDBGridColumns.h"
#include "framework_export.h"

// A grid's model: rows of a record set, its own columns. It turns the record
// set's precise notifications into Qt's begin/end row signals (only a content
// replacement resets it) and a change of the set of columns into a reset.
// It knows no view: views follow its signals and those of its columns.
class FRAMEWORK_EXPORT DataSetModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit DataSetModel(QObject *parent = nullptr);

    TClientDataSet *dataSet() const { return m_dataSet; }
    void setDataSet(TClientDataSet *dataSet);
    TDBGridColumns *columns() const { return m_columns; }
    // Whether cells of writable columns may be edited at all.
    bool isEditable() const { return m_editable; }
    void setEditable(bool editable) { m_editable = editable; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // Typed text of the current row: puts the record set into edit state
    // (Edit, with its events) and hands the text to TField::setText.
    // Exceptions go to the caller.
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

    // True between a begin and an end of a row or column change: the view's
    // own adjustments of its current index then are not the user's moves.
    bool isChanging() const { return m_resetting || m_inserting || m_removing || m_moving || m_columnsChanging > 0; }

signals:
    // After the model followed a change of the record set's rows or current row.
    void currentRowMayHaveChanged();
    // The indicator went from one row to another with the same glyph: the
    // two header sections are drawn again. (A header-data change would do it
    // too, but it also makes the view measure its header and lay out and
    // draw every row again.)
    void indicatorMoved(int from, int to);

private:
    void attach();
    void detach();
    void finishRowChange(bool *pending, int delta, void (QAbstractItemModel::*end)());
    void onAboutToReset();
    void onReset();
    void notifyIndicator();
    void rememberIndicator();

    TDBGridColumns *m_columns;
    QPointer<TClientDataSet> m_dataSet;
    int m_rows = 0;
    bool m_editable = true;
    bool m_resetting = false;
    bool m_inserting = false;
    bool m_removing = false;
    bool m_moving = false;
    int m_columnsChanging = 0;
    QPersistentModelIndex m_indicatorRow; // where the indicator was last drawn
    TDataSetState m_indicatorState = TDataSetState::dsInactive; // what it showed there
    QList<QMetaObject::Connection> m_connections;
};
