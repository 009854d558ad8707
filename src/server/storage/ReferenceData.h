#pragma once

#include <QByteArray>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// The reference data a site keeps from the server's command line: units,
// operators, operator groups and their members, periodicities with their
// recurrence. Each kind is added or changed, listed, removed, and imported
// and exported as CSV; every row is checked the same way whichever way it
// comes in. Throws EDatabaseError with a text for the administrator.
namespace ReferenceData {
enum class Kind { Units, Operators, Groups, Members, Periodicities };

// "units", "operators", "groups", "members", "periodicities".
Kind kindNamed(const QString &name);
QString nameOf(Kind kind);
// The columns of a kind, as its CSV header and its listing name them.
QStringList columns(Kind kind);

// Adds a row or changes the one with the same key; values in columns() order
// (an optional column may be left out at the end).
void put(QSqlDatabase &db, Kind kind, const QStringList &values);
// Removes the row of key (members: group, operator). Refuses a row still in
// use.
void remove(QSqlDatabase &db, Kind kind, const QStringList &key);
// Every row in key order, values in columns() order.
QList<QStringList> rows(QSqlDatabase &db, Kind kind);

// One transaction for the whole file: every row added or changed, or, at the
// first bad row, nothing, with the file's name, the line and the column.
// Returns the number of rows read.
int importCsv(QSqlDatabase &db, Kind kind, const QByteArray &bytes, const QString &fileName);
QByteArray exportCsv(QSqlDatabase &db, Kind kind);
} // namespace ReferenceData
