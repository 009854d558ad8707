#pragma once

#include <QAbstractTableModel>
#include <QPointer>

#include "TClientDataSet.h"
#include "framework_export.h"

class TDBGrid;

// The grid's model: rows of a record set, columns of the grid. It turns the
// record set's precise notifications into Qt's begin/end row signals; only a
// content replacement resets it.
class FRAMEWORK_EXPORT DataSetModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit DataSetModel(TDBGrid *grid);

    TClientDataSet *dataSet() const { return m_dataSet; }
    void setDataSet(TClientDataSet *dataSet);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // Typed text of the current row: puts the record set into edit state
    // (Edit, with its events) and hands the text to TField::setText.
    // Exceptions go to the caller.
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

    // Column set changes (the grid's columns were added, removed or rebuilt).
    void beginColumnsChange();
    void endColumnsChange();
    void columnTitleChanged(int column);
    // True between a begin and an end of a row change: the view's own
    // adjustments of its current index then are not the user's moves.
    bool isChanging() const { return m_resetting || m_inserting || m_removing || m_moving || m_columnsChanging > 0; }

signals:
    // After the model followed a change of the record set's rows or current row.
    void currentRowMayHaveChanged();

private:
    void attach();
    void detach();
    void finishRowChange(bool *pending, int delta, void (QAbstractItemModel::*end)());
    void onAboutToReset();
    void onReset();
    void notifyIndicator();

    TDBGrid *m_grid;
    QPointer<TClientDataSet> m_dataSet;
    int m_rows = 0;
    bool m_resetting = false;
    bool m_inserting = false;
    bool m_removing = false;
    bool m_moving = false;
    int m_columnsChanging = 0;
    QList<QMetaObject::Connection> m_connections;
};
