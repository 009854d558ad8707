#pragma once

#include <QDate>
#include <QList>
#include <QSqlDatabase>
#include <QString>

#include "PasswordHash.h"

// The administrator's commands (pru_server --create-db, --demo, ...), kept
// apart from the program so that tests and the benchmark can use them.
namespace Admin {
// Creates the schema or brings it to the latest version.
void createDatabase(QSqlDatabase &db);

void addUnit(QSqlDatabase &db, const QString &code, const QString &name);
// Adds an operator, or changes the name, unit and password of an existing
// one. Throws EDatabaseError on a bad value or an unknown unit.
// A cost below the interactive one serves tests only.
void addOperator(QSqlDatabase &db, const QString &code, const QString &name, const QString &unit,
                 const QString &password, const PasswordHash::Cost &cost = PasswordHash::Cost::interactive());
// Adds an operator group with its members (all must exist).
void addGroup(QSqlDatabase &db, const QString &code, const QString &name, const QStringList &members);

// Demonstration data: two units, operators (password "senha"), groups,
// periodicities (one on request), processes with tasks and responsibles, a
// process whose day is out of date, some executed occurrences. Refuses a
// database that already holds units.
void loadDemo(QSqlDatabase &db);

// A unit of the size a large chain's store reaches, for measuring the screen
// and the server against it: processes × tasksPerProcess tasks, each with
// responsiblesPerTask responsibles (a group of the unit's operators, then
// operators). Creates the unit, its operators (codes firstOperator.. on, all
// with password), one group and the daily periodicity when missing, in one
// transaction. Refuses a unit that already exists.
struct LargeUnit
{
    QString firstOperator; // the unit's supervisor: log in as this one
    QString lastOperator;
    QString group;
    int processes = 0;
    int tasks = 0;
    int responsibles = 0;
};
LargeUnit loadLargeUnit(QSqlDatabase &db, const QString &unit, int processes = 1000, int tasksPerProcess = 20,
                        int responsiblesPerTask = 5, const QString &password = QStringLiteral("senha"),
                        const PasswordHash::Cost &cost = PasswordHash::Cost::interactive());

// Marks one occurrence executed by operator at when (a day count).
void markExecuted(QSqlDatabase &db, qint64 occurrence, const QString &operatorCode, double when);

struct Occurrence
{
    qint64 number = 0;
    qint64 process = 0;
    qint64 task = 0;
    QString unit;
    QString processName;
    QString taskName;
    QString concludedBy;
    double concludedAt = 0; // 0 when not concluded
};
QList<Occurrence> occurrences(QSqlDatabase &db, const QDate &day);
} // namespace Admin
