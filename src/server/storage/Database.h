#pragma once

#include <QSqlDatabase>
#include <QString>

#include "Exceptions.h"

// Where the server keeps its data: a SQLite file (the default) or a
// PostgreSQL database given by libpq-style options
// ("host=... port=... user=... dbname=... password=...").
struct DatabaseConfig
{
    enum class Engine { SQLite, PostgreSQL };
    Engine engine = Engine::SQLite;
    QString sqliteFile = QStringLiteral("pru87000.sqlite");
    QString pgOptions;
    // SQLite: how long a writer waits for another one's write lock before its
    // statement fails as busy ("O banco de dados está ocupado ...").
    int busyTimeoutMs = 10'000;

    static DatabaseConfig sqlite(const QString &file);
    static DatabaseConfig postgres(const QString &options);
    // For log lines: never shows a password.
    QString describe() const;
};

// A failure of the database itself (not a refused business rule). The
// session logs these on standard error before they go back as failures.
class EServerFailure : public EDatabaseError
{
public:
    using EDatabaseError::EDatabaseError;
};

namespace Database {
// Opens a new connection in the calling thread under connectionName and sets
// it up for concurrent use (SQLite: WAL, busy timeout, foreign keys, the
// credentials file attached).
// Throws EServerFailure.
QSqlDatabase open(const DatabaseConfig &config, const QString &connectionName);
// A connection name that no other connection of this process uses.
QString uniqueConnectionName(const QString &prefix);
// Closes and removes a connection; call it in the thread that opened it, once
// every query on it is gone.
void remove(const QString &connectionName);

bool isSQLite(const QSqlDatabase &db);

// On SQLite the operators' credentials (OPERADORSENHA) live in a file of
// their own beside the database, attached under credentialsSchema by every
// connection open() makes; the file the screen reads for its lookups holds
// no secret. ":memory:" for an in-memory database.
inline constexpr QLatin1StringView credentialsSchema{"SENHAS"};
QString credentialsFile(const QString &sqliteFile);

// Schema versions: migrate() brings any older database (or an empty one) to
// latestVersion(), each step in its own transaction; on SQLite it also
// creates the credentials file's table and moves credentials left in the
// main file by earlier versions there. Throws EServerFailure.
int latestVersion();
int schemaVersion(QSqlDatabase &db); // 0 for an empty database
void migrate(QSqlDatabase &db);

// Parses libpq-style "key=value key='quoted value'" options into the
// connection; unknown keys become driver connect options. Throws EServerFailure
// on a malformed text.
void applyPgOptions(QSqlDatabase &db, const QString &options);
} // namespace Database

// Opens a connection for the lifetime of a scope, in the calling thread.
class ScopedConnection
{
public:
    ScopedConnection(const DatabaseConfig &config, const QString &prefix);
    ~ScopedConnection();
    ScopedConnection(const ScopedConnection &) = delete;
    ScopedConnection &operator=(const ScopedConnection &) = delete;

    QSqlDatabase &db() { return m_db; }
    const QString &name() const { return m_name; }

private:
    QString m_name;
    QSqlDatabase m_db;
};
