#include "Database.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include <atomic>

#include "DateTime.h"
#include "Sql.h"

using namespace Qt::StringLiterals;

DatabaseConfig DatabaseConfig::sqlite(const QString &file)
{
    DatabaseConfig config;
    config.engine = Engine::SQLite;
    config.sqliteFile = file;
    return config;
}

DatabaseConfig DatabaseConfig::postgres(const QString &options)
{
    DatabaseConfig config;
    config.engine = Engine::PostgreSQL;
    config.pgOptions = options;
    return config;
}

QString DatabaseConfig::describe() const
{
    if (engine == Engine::SQLite) {
        return u"SQLite %1"_s.arg(QFileInfo(sqliteFile).absoluteFilePath());
    }
    QStringList shown;
    const QStringList parts = pgOptions.split(u' ', Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        if (!part.startsWith(u"password"_s, Qt::CaseInsensitive)) {
            shown << part;
        }
    }
    return u"PostgreSQL %1"_s.arg(shown.join(u' '));
}

namespace {

// The statements of each schema version, written once for both engines:
// {KEY} is a generated key column, {REF} a column that refers to one,
// {FLOAT} a double. Date-times are kept as day counts (day 0 = 30/12/1899,
// time of day as the fraction), exactly as they travel, so that a value read
// back compares equal to what a client holds; a day (DTATIVIDADE) is a whole
// day count.
struct Migration
{
    int version;
    QStringList common;
    QStringList postgresOnly;
};

const QList<Migration> &migrations()
{
    static const QList<Migration> list = {
        {1,
         {
             u"CREATE TABLE UNIDADE ("
             "CDUNIDADE VARCHAR(4) NOT NULL PRIMARY KEY, "
             "NMUNIDADE VARCHAR(60) NOT NULL)"_s,

             // Operators can be read by the clients' lookup connection, so
             // their credentials live in OPERADORSENHA, never here.
             u"CREATE TABLE OPERADOR ("
             "CDOPERADOR VARCHAR(12) NOT NULL PRIMARY KEY, "
             "NMOPERADOR VARCHAR(40) NOT NULL, "
             "CDUNIDADE VARCHAR(4) REFERENCES UNIDADE (CDUNIDADE))"_s,

             u"CREATE TABLE OPERADORSENHA ("
             "CDOPERADOR VARCHAR(12) NOT NULL PRIMARY KEY REFERENCES OPERADOR (CDOPERADOR) ON DELETE CASCADE, "
             "DSSALT VARCHAR(64) NOT NULL, "
             "DSHASH VARCHAR(128) NOT NULL, "
             "NRITERACOES INTEGER NOT NULL, "
             "DTATUALIZACAO {FLOAT})"_s,

             u"CREATE TABLE GRUPOPER ("
             "CDGRUPOPER VARCHAR(2) NOT NULL PRIMARY KEY, "
             "DSGRUPOPER VARCHAR(30) NOT NULL)"_s,

             u"CREATE TABLE GRUPOPEROPER ("
             "CDGRUPOPER VARCHAR(2) NOT NULL REFERENCES GRUPOPER (CDGRUPOPER) ON DELETE CASCADE, "
             "CDOPERADOR VARCHAR(12) NOT NULL REFERENCES OPERADOR (CDOPERADOR) ON DELETE CASCADE, "
             "PRIMARY KEY (CDGRUPOPER, CDOPERADOR))"_s,

             // IDTIPODIA says how a periodicity recurs: 'D' every day, 'U'
             // working days (Monday to Friday), 'S' weekly on the days marked
             // in IDDIASSEMANA (seven 'S'/'N', Sunday first), 'M' monthly on
             // day NRDIAMES (the month's last day when shorter), 'R' on request
             // (never scheduled, never offered for tasks).
             u"CREATE TABLE PERIENTR ("
             "CDPERIENTR VARCHAR(2) NOT NULL PRIMARY KEY, "
             "NMPERIENTR VARCHAR(20) NOT NULL, "
             "IDTIPODIA VARCHAR(1) NOT NULL, "
             "IDDIASSEMANA VARCHAR(7), "
             "NRDIAMES INTEGER)"_s,

             u"CREATE TABLE PROCESSOFILIAL ("
             "NRPROCESSOFILIAL {KEY}, "
             "CDUNIDADE VARCHAR(4) NOT NULL REFERENCES UNIDADE (CDUNIDADE), "
             "NMPROCESSOFILIAL VARCHAR(100) NOT NULL, "
             "DTINIVIGENCIA {FLOAT} NOT NULL, "
             "DTFINVIGENCIA {FLOAT}, "
             "CDOPERATU VARCHAR(12), "
             "DTATUALIZACAO {FLOAT}, "
             "IDSITUACAO VARCHAR(1) NOT NULL DEFAULT 'S')"_s,
             u"CREATE INDEX PROCESSOFILIAL_UNIDADE ON PROCESSOFILIAL (CDUNIDADE)"_s,

             u"CREATE TABLE ATIVIDADEFILIAL ("
             "NRATIVIDADEFILIAL {KEY}, "
             "NRPROCESSOFILIAL {REF} NOT NULL REFERENCES PROCESSOFILIAL (NRPROCESSOFILIAL), "
             "NMATIVIDADEFILIAL VARCHAR(100) NOT NULL, "
             "CDTELAATIVIDADE VARCHAR(30), "
             "CDMODULOATIVIDADE VARCHAR(3), "
             "CDPERIENTR VARCHAR(2) REFERENCES PERIENTR (CDPERIENTR), "
             "DSATIVIDADEFILIAL VARCHAR(4000), "
             "NRORDENAATIVIDADE INTEGER NOT NULL, "
             "CDOPERATU VARCHAR(12), "
             "DTATUALIZACAO {FLOAT})"_s,
             u"CREATE INDEX ATIVIDADEFILIAL_PROCESSO ON ATIVIDADEFILIAL (NRPROCESSOFILIAL)"_s,

             // A responsible is one operator or one group, never both.
             u"CREATE TABLE RESPATIVFILIAL ("
             "NRRESPATIVFILIAL {KEY}, "
             "NRATIVIDADEFILIAL {REF} NOT NULL REFERENCES ATIVIDADEFILIAL (NRATIVIDADEFILIAL), "
             "NRPROCESSOFILIAL {REF} NOT NULL REFERENCES PROCESSOFILIAL (NRPROCESSOFILIAL), "
             "CDOPERADOR VARCHAR(12) REFERENCES OPERADOR (CDOPERADOR), "
             "CDGRUPOPER VARCHAR(2) REFERENCES GRUPOPER (CDGRUPOPER), "
             "IDEXECUTA VARCHAR(1) NOT NULL, "
             "IDVALIDA VARCHAR(1) NOT NULL, "
             "CDOPERATU VARCHAR(12), "
             "DTATUALIZACAO {FLOAT}, "
             "CHECK ((CDOPERADOR IS NULL) <> (CDGRUPOPER IS NULL)))"_s,
             u"CREATE UNIQUE INDEX RESPATIVFILIAL_OPERADOR ON RESPATIVFILIAL (NRATIVIDADEFILIAL, CDOPERADOR)"_s,
             u"CREATE UNIQUE INDEX RESPATIVFILIAL_GRUPOPER ON RESPATIVFILIAL (NRATIVIDADEFILIAL, CDGRUPOPER)"_s,

             // The scheduled occurrences of tasks; one per task and day.
             u"CREATE TABLE ATIVIDADEDIA ("
             "NRATIVIDADEDIA {KEY}, "
             "NRPROCESSOFILIAL {REF} NOT NULL REFERENCES PROCESSOFILIAL (NRPROCESSOFILIAL), "
             "NRATIVIDADEFILIAL {REF} NOT NULL REFERENCES ATIVIDADEFILIAL (NRATIVIDADEFILIAL), "
             "DTATIVIDADE INTEGER NOT NULL, "
             "CDOPERCONCL VARCHAR(12), "
             "DTCONCLUSAO {FLOAT}, "
             "UNIQUE (NRATIVIDADEFILIAL, DTATIVIDADE))"_s,
             u"CREATE INDEX ATIVIDADEDIA_PROCESSO ON ATIVIDADEDIA (NRPROCESSOFILIAL, DTATIVIDADE)"_s,

             // The days whose occurrences were generated, so a day is
             // generated once whatever the number of servers and restarts.
             u"CREATE TABLE GERACAOATIVIDADE ("
             "DTATIVIDADE INTEGER NOT NULL PRIMARY KEY, "
             "DTGERACAO {FLOAT} NOT NULL)"_s,

             // Who redefined which process's day, and when (kept as history).
             u"CREATE TABLE REDEFATIVIDADE ("
             "NRREDEFATIVIDADE {KEY}, "
             "NRPROCESSOFILIAL {REF} NOT NULL, "
             "DTATIVIDADE INTEGER NOT NULL, "
             "CDOPERADOR VARCHAR(12) NOT NULL, "
             "DTREDEFINICAO {FLOAT} NOT NULL)"_s,
         },
         {
             // The lookups' InterBase-dialect texts select from PARAM(:X) P and
             // read P.PARAM; unquoted names so that P.PARAM resolves.
             u"CREATE FUNCTION PARAM(V TEXT) RETURNS TABLE(PARAM TEXT) "
             "LANGUAGE SQL IMMUTABLE AS $$ SELECT V $$"_s,
         }},
    };
    return list;
}

QString expand(const QString &text, bool sqlite)
{
    QString out = text;
    if (sqlite) {
        out.replace(u"{KEY}"_s, u"INTEGER PRIMARY KEY AUTOINCREMENT"_s);
        out.replace(u"{REF}"_s, u"INTEGER"_s);
    } else {
        out.replace(u"{KEY}"_s, u"BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY"_s);
        out.replace(u"{REF}"_s, u"BIGINT"_s);
    }
    out.replace(u"{FLOAT}"_s, u"DOUBLE PRECISION"_s);
    return out;
}

bool tableExists(QSqlDatabase &db, const QString &name)
{
    const QStringList tables = db.tables(QSql::Tables);
    for (const QString &table : tables) {
        if (table.compare(name, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

void execPragma(QSqlDatabase &db, const QString &text)
{
    QSqlQuery query(db);
    if (!query.exec(text)) {
        throw EServerFailure(u"Erro no banco de dados: %1 [%2]"_s.arg(query.lastError().text(), text));
    }
}

} // namespace

namespace Database {

QString uniqueConnectionName(const QString &prefix)
{
    static std::atomic<quint64> counter{0};
    return u"%1-%2"_s.arg(prefix).arg(++counter);
}

QSqlDatabase open(const DatabaseConfig &config, const QString &connectionName)
{
    const bool sqlite = config.engine == DatabaseConfig::Engine::SQLite;
    QSqlDatabase db = QSqlDatabase::addDatabase(sqlite ? u"QSQLITE"_s : u"QPSQL"_s, connectionName);
    if (!db.isValid()) {
        QSqlDatabase::removeDatabase(connectionName);
        throw EServerFailure(u"O driver de banco de dados %1 não está disponível."_s.arg(sqlite ? u"SQLite"_s : u"PostgreSQL"_s));
    }
    if (sqlite) {
        db.setDatabaseName(config.sqliteFile);
        // Writers queue instead of failing at once while another connection writes.
        db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=10000"_s);
    } else {
        applyPgOptions(db, config.pgOptions);
    }
    if (!db.open()) {
        const QString error = db.lastError().text();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName);
        throw EServerFailure(u"Não foi possível abrir o banco de dados (%1): %2"_s.arg(config.describe(), error));
    }
    try {
        if (sqlite) {
            execPragma(db, u"PRAGMA journal_mode=WAL"_s);
            execPragma(db, u"PRAGMA synchronous=NORMAL"_s);
            execPragma(db, u"PRAGMA foreign_keys=ON"_s);
            execPragma(db, u"PRAGMA busy_timeout=10000"_s);
        } else {
            execPragma(db, u"SET client_min_messages TO WARNING"_s);
        }
    } catch (...) {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName);
        throw;
    }
    return db;
}

void remove(const QString &connectionName)
{
    {
        QSqlDatabase db = QSqlDatabase::database(connectionName, false);
        if (db.isOpen()) {
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connectionName);
}

bool isSQLite(const QSqlDatabase &db)
{
    return db.driver() && db.driver()->dbmsType() == QSqlDriver::SQLite;
}

int latestVersion()
{
    return migrations().constLast().version;
}

int schemaVersion(QSqlDatabase &db)
{
    if (!tableExists(db, u"VERSAOESQUEMA"_s)) {
        return 0;
    }
    const QVariant value = Sql::scalar(db, u"SELECT MAX(NRVERSAO) FROM VERSAOESQUEMA"_s);
    return value.isNull() ? 0 : value.toInt();
}

void migrate(QSqlDatabase &db)
{
    const bool sqlite = isSQLite(db);
    {
        TransactionGuard guard(db);
        if (!tableExists(db, u"VERSAOESQUEMA"_s)) {
            Sql::exec(db, expand(u"CREATE TABLE VERSAOESQUEMA (NRVERSAO INTEGER NOT NULL PRIMARY KEY, DTAPLICACAO {FLOAT} NOT NULL)"_s, sqlite));
        }
        guard.commit();
    }
    for (const Migration &migration : migrations()) {
        TransactionGuard guard(db);
        // Read inside the transaction: two servers starting at once on one
        // database apply each step once.
        if (schemaVersion(db) >= migration.version) {
            continue;
        }
        for (const QString &statement : migration.common) {
            Sql::exec(db, expand(statement, sqlite));
        }
        if (!sqlite) {
            for (const QString &statement : migration.postgresOnly) {
                Sql::exec(db, expand(statement, sqlite));
            }
        }
        Sql::exec(db, u"INSERT INTO VERSAOESQUEMA (NRVERSAO, DTAPLICACAO) VALUES (?, ?)"_s,
                  {migration.version, DateTime::fromQDateTime(QDateTime::currentDateTime())});
        guard.commit();
    }
}

void applyPgOptions(QSqlDatabase &db, const QString &options)
{
    QStringList extra;
    qsizetype i = 0;
    const qsizetype n = options.size();
    while (i < n) {
        while (i < n && options.at(i).isSpace()) {
            ++i;
        }
        if (i >= n) {
            break;
        }
        const qsizetype eq = options.indexOf(u'=', i);
        if (eq < 0) {
            throw EServerFailure(u"Opções de conexão PostgreSQL inválidas: falta '=' depois de \"%1\"."_s.arg(options.mid(i).left(40)));
        }
        const QString key = options.mid(i, eq - i).trimmed();
        i = eq + 1;
        QString value;
        if (i < n && options.at(i) == u'\'') {
            ++i;
            bool closed = false;
            while (i < n) {
                const QChar c = options.at(i);
                if (c == u'\\' && i + 1 < n) {
                    value += options.at(i + 1);
                    i += 2;
                    continue;
                }
                if (c == u'\'') {
                    closed = true;
                    ++i;
                    break;
                }
                value += c;
                ++i;
            }
            if (!closed) {
                throw EServerFailure(u"Opções de conexão PostgreSQL inválidas: aspas sem fechamento."_s);
            }
        } else {
            while (i < n && !options.at(i).isSpace()) {
                value += options.at(i);
                ++i;
            }
        }
        if (key.isEmpty()) {
            throw EServerFailure(u"Opções de conexão PostgreSQL inválidas: nome de opção vazio."_s);
        }
        if (key == u"host"_s || key == u"hostaddr"_s) {
            db.setHostName(value);
        } else if (key == u"port"_s) {
            bool ok = false;
            const int port = value.toInt(&ok);
            if (!ok || port <= 0 || port > 65535) {
                throw EServerFailure(u"Opções de conexão PostgreSQL inválidas: porta \"%1\"."_s.arg(value));
            }
            db.setPort(port);
        } else if (key == u"user"_s) {
            db.setUserName(value);
        } else if (key == u"password"_s) {
            db.setPassword(value);
        } else if (key == u"dbname"_s) {
            db.setDatabaseName(value);
        } else {
            extra << u"%1=%2"_s.arg(key, value);
        }
    }
    if (!extra.isEmpty()) {
        db.setConnectOptions(extra.join(u';'));
    }
}

} // namespace Database

ScopedConnection::ScopedConnection(const DatabaseConfig &config, const QString &prefix)
    : m_name(Database::uniqueConnectionName(prefix)), m_db(Database::open(config, m_name))
{
}

ScopedConnection::~ScopedConnection()
{
    m_db = QSqlDatabase();
    Database::remove(m_name);
}
