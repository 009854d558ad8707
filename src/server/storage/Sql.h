#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVariantList>

// Small helpers that turn every database failure into EServerFailure, so no
// caller can forget to look at a QSqlQuery's result.
namespace Sql {
// Prepares and runs text with positional "?" values. Returns the active query.
// Inside a TransactionGuard the statement is prepared once per connection and
// run again on later calls (on PostgreSQL a fresh one costs a PREPARE and a
// DEALLOCATE round trip each); the guard finishes them all when it ends.
QSqlQuery exec(QSqlDatabase &db, const QString &text, const QVariantList &values = {});
// Drops the statements kept for a connection; Database::remove calls it.
void forgetConnection(const QString &connectionName);
// Binds values to a query prepared once and runs it again.
void rerun(QSqlQuery &query, const QString &text, const QVariantList &values);
// Runs text and returns the first column of the first row, or an invalid
// QVariant when there is no row.
QVariant scalar(QSqlDatabase &db, const QString &text, const QVariantList &values = {});
// Runs an INSERT ... RETURNING key and gives the new key.
qint64 insertReturningKey(QSqlDatabase &db, const QString &text, const QVariantList &values);
// The same through a query prepared once (rerun).
qint64 rerunReturningKey(QSqlQuery &query, const QString &text, const QVariantList &values);

// A typed null, so that PostgreSQL never has to guess a parameter's type.
QVariant nullText();
QVariant nullNumber();
// Text or a typed null when blank.
QVariant textOrNull(const QString &text);
// Reads a stored value that may come back as text on SQLite.
double toDouble(const QVariant &value);
} // namespace Sql

// A write transaction that rolls back unless committed, so no early return or
// exception can leave half a delta written. On SQLite it takes the write lock
// at once (BEGIN IMMEDIATE): a plain BEGIN that reads then writes fails at
// once with "database is locked" when another connection writes.
class TransactionGuard
{
public:
    explicit TransactionGuard(QSqlDatabase &db);
    ~TransactionGuard();
    TransactionGuard(const TransactionGuard &) = delete;
    TransactionGuard &operator=(const TransactionGuard &) = delete;

    void commit();

private:
    void end();

    QSqlDatabase &m_db;
    bool m_sqlite;
    bool m_open = false;
};
