#pragma once

#include <QSqlDatabase>
#include <QString>

#include "EnumNames.h"
#include "framework_export.h"

// The SQL dialects a lookup query carries a text for.
enum class TSqlDialect { Default, InterBase, Oracle, MSSQL };
// Each dialect's suffix in the query files' names (queries/NAME.SUFFIX.sql), and its name in messages.
inline constexpr EnumName<TSqlDialect> sqlDialectNames[] = {
    {TSqlDialect::Default, u"default", u"padrão"},
    {TSqlDialect::InterBase, u"interbase", u"InterBase"},
    {TSqlDialect::Oracle, u"oracle", u"Oracle"},
    {TSqlDialect::MSSQL, u"mssql", u"MSSQL"},
};
static_assert(enumTableComplete(sqlDialectNames, TSqlDialect::MSSQL));

// Where the lookup connection goes, read from the host's options text
// (docs/server.md, "Desktops"). Accepted forms (keys are case-insensitive; a
// value with blanks in single quotes, \' for a quote):
//   engine=sqlite file=/path/pru.db
//   engine=postgresql host=127.0.0.1 port=5432 database=pru user=pru_lookup password=... sslmode=verify-full
//     (sslmode and sslrootcert as libpq takes them; PostgreSQL only)
//   engine=firebird host=127.0.0.1 port=3050 database=/path/pru.fdb user=SYSDBA password=...
//   QSQLITE:/path/pru.db          (same as engine=sqlite file=...)
//   QPSQL:host=... / QIBASE:host=...
// "dbname" is taken as "database"; without engine, a file means SQLite.
struct FRAMEWORK_EXPORT LookupSettings
{
    enum class Engine { SQLite, PostgreSQL, Firebird };

    Engine engine = Engine::SQLite;
    QString file; // SQLite
    QString host; // servers
    int port = -1;
    QString database; // servers: database name (PostgreSQL) or file (Firebird)
    QString user;
    QString password;
    QString sslMode; // PostgreSQL: empty for libpq's default
    QString sslRootCert; // PostgreSQL: the CA file for verify-ca / verify-full

    // Throws EDatabaseError naming what is wrong (unknown key or engine,
    // missing file or database, bad port).
    static LookupSettings parse(const QString &options);
    QString driverName() const;
};

// The framework's shared database connection for lookups. Screens run their
// lookup queries directly against the database through it (not through the
// application server), on the user-interface thread. It is opened read-only
// where the engine allows (SQLite) and with a role that can only read the
// lookup tables where it does not (PostgreSQL, see
// scripts/postgres-lookup-role.sql). On SQLite, PARAM is registered on it.
class FRAMEWORK_EXPORT LookupConnection
{
public:
    static QString connectionName(); // "pru_lookup"

    // (Re)opens the shared connection. Throws EDatabaseError when the
    // driver is missing or the database cannot be opened.
    static QSqlDatabase open(const LookupSettings &settings);
    // The shared connection; opened on first use from the host's options
    // (LookupDatabaseOptions), and again whenever those options change.
    static QSqlDatabase database();
    static bool isOpen();
    static void close();

    // Opens a connection of the given name with the same rules as the shared
    // one (read-only SQLite with PARAM); for tools and tests.
    static QSqlDatabase openNamed(const LookupSettings &settings, const QString &name);

    // The dialect whose text runs on a connection: Firebird (QIBASE) the
    // InterBase text, Oracle (QOCI, or ODBC to Oracle) the Oracle text, SQL
    // Server (QTDS, or ODBC to SQL Server) the MSSQL text, any other the default.
    static TSqlDialect dialectOf(const QSqlDatabase &database);
    // The same from a driver name and the connection's text (an ODBC
    // connection string names its driver).
    static TSqlDialect dialectFor(const QString &driverName, const QString &connectionText);
};
