#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <Qt>

#include "data_export.h"

class TDBGrid;

// The columns of the screen's grids, kept under ":/data/grids/<grid>.json".
namespace GridDefinitions {

struct PRU_DATA_EXPORT Column
{
    QString fieldName;
    QString title; // empty: the field's display label
    int width = -1; // pixels; -1 keeps the grid's default width
    bool readOnly = false;
    Qt::Alignment alignment = Qt::AlignLeft;
    Qt::Alignment titleAlignment = Qt::AlignLeft;
    bool ellipsisButton = false;
};

struct PRU_DATA_EXPORT Grid
{
    QString name;
    QList<Column> columns;
    // Option names: editing, titles, columnResize, columnLines, rowLines, tabs,
    // alwaysShowSelection, cancelOnExit. Empty: the grid keeps
    // the options it has.
    QStringList options;
    bool hasOptions = false;
};

// Throws EDatabaseError for a missing or malformed definition.
PRU_DATA_EXPORT Grid load(const QString &gridName);
PRU_DATA_EXPORT Grid parse(const QString &json, const QString &sourceName);
// Gives the grid the columns and options of its definition.
PRU_DATA_EXPORT void apply(TDBGrid *grid, const QString &gridName);

} // namespace GridDefinitions
