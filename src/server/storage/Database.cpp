#include "Database.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include <atomic>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

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
QString credentialsTable(const QString &name, const QString &reference)
{
    return u"CREATE TABLE %1 ("
           "CDOPERADOR VARCHAR(12) NOT NULL PRIMARY KEY%2, "
           "DSSALT VARCHAR(64) NOT NULL, "
           "DSHASH VARCHAR(128) NOT NULL, "
           "NRITERACOES INTEGER NOT NULL, "
           "DTATUALIZACAO {FLOAT})"_s.arg(name, reference);
}

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
             // On PostgreSQL the lookup role is refused this table; SQLite
             // keeps it in the credentials file instead (keepCredentialsApart).
             credentialsTable(u"OPERADORSENHA"_s, u" REFERENCES OPERADOR (CDOPERADOR) ON DELETE CASCADE"_s),

             // The lookups' InterBase-dialect texts select from PARAM(:X) P and
             // read P.PARAM; unquoted names so that P.PARAM resolves.
             u"CREATE FUNCTION PARAM(V TEXT) RETURNS TABLE(PARAM TEXT) "
             "LANGUAGE SQL IMMUTABLE AS $$ SELECT V $$"_s,
         }},
        // Removing a periodicity, a group or an operator first asks whether a
        // task still uses it.
        {2,
         {
             u"CREATE INDEX ATIVIDADEFILIAL_PERIENTR ON ATIVIDADEFILIAL (CDPERIENTR)"_s,
             u"CREATE INDEX RESPATIVFILIAL_GRUPO ON RESPATIVFILIAL (CDGRUPOPER)"_s,
             u"CREATE INDEX RESPATIVFILIAL_OPER ON RESPATIVFILIAL (CDOPERADOR)"_s,
             u"CREATE INDEX GRUPOPEROPER_OPERADOR ON GRUPOPEROPER (CDOPERADOR)"_s,
         },
         {}},
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

// The credentials file is created before SQLite would create it, so that
// it is the server's user's alone (the -wal and -shm files copy its mode).
void attachCredentials(QSqlDatabase &db, const QString &mainFile)
{
    const QString file = Database::credentialsFile(mainFile);
    if (file != u":memory:"_s && !QFileInfo::exists(file)) {
        // 0600 from the first moment: created wider and narrowed after, it
        // could be opened by anyone in between and read later.
        const int fd = ::open(QFile::encodeName(file).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        const int error = fd < 0 ? errno : 0;
        if (fd >= 0) {
            ::close(fd);
        } else if (error != EEXIST) { // EEXIST: another server created it first, and that one is used
            throw EServerFailure(u"Não foi possível criar o arquivo de senhas %1: %2"_s.arg(
                file, QString::fromLocal8Bit(std::strerror(error))));
        }
    }
    QSqlQuery query(db);
    query.prepare(u"ATTACH DATABASE ? AS %1"_s.arg(Database::credentialsSchema));
    query.addBindValue(file);
    if (!query.exec()) {
        // SQLite reads the main file first here: when that is what fails, it
        // is named, not the credentials file.
        if (QSqlQuery probe(db); !probe.exec(u"PRAGMA main.schema_version"_s)) {
            throw EServerFailure(
                u"O arquivo %1 não é um banco de dados SQLite, ou está danificado (%2). Restaure a "
                "cópia de segurança ou indique outro arquivo."_s.arg(mainFile, probe.lastError().text()));
        }
        throw EServerFailure(
            u"Não foi possível abrir o arquivo de senhas %1: %2"_s.arg(file, query.lastError().text()));
    }
}

// Refused before anything is written: a damaged file (served, every login
// would fail) and another program's file (it would be filled with our tables).
void refuseDamagedOrForeign(QSqlDatabase &db)
{
    const QString file = db.databaseName();
    // About 40 ms for a 13 MB file of 100,000 responsibles, once per start.
    QSqlQuery check(db);
    QStringList problems;
    if (!check.exec(u"PRAGMA main.quick_check(3)"_s)) {
        problems << check.lastError().text();
    }
    while (check.next()) {
        problems << check.value(0).toString().simplified(); // one line, as every failure is
    }
    if (problems != QStringList{u"ok"_s}) {
        throw EServerFailure(u"O banco de dados SQLite %1 está danificado (%2). Restaure a cópia de segurança."_s.arg(
            file, problems.join(u"; "_s).left(300)));
    }
    if (tableExists(db, u"VERSAOESQUEMA"_s)) {
        return;
    }
    const QVariant other =
        Sql::scalar(db, u"SELECT name FROM main.sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite!_%' "
                        "ESCAPE '!' ORDER BY name LIMIT 1"_s);
    if (other.isValid()) {
        throw EServerFailure(u"O arquivo %1 já tem tabelas de outro programa (%2, ...) e não é um banco de dados deste "
                             "servidor; indique um arquivo novo ou o banco do servidor."_s.arg(file, other.toString()));
    }
}

bool hasTable(QSqlDatabase &db, const QString &schema, const QString &table)
{
    return Sql::scalar(db, u"SELECT 1 FROM %1.sqlite_master WHERE type = 'table' AND UPPER(name) = ?"_s.arg(schema),
                       {table})
        .isValid();
}

// Moves the credentials of a database of the earlier layout (OPERADORSENHA in
// the main file) into the credentials file. Each step is one transaction on
// one file and safe to repeat, so a server stopped anywhere resumes at its
// next start: until the main file's table is dropped, unqualified names
// resolve to it (main comes before attached files) and it stays the one in use.
void keepCredentialsApart(QSqlDatabase &db)
{
    const QString schema = Database::credentialsSchema;
    // A connection not made by open() (a tool's, a test's) gets it too.
    if (!Sql::scalar(db, u"SELECT 1 FROM pragma_database_list WHERE UPPER(name) = ?"_s, {schema}).isValid()) {
        attachCredentials(db, db.databaseName());
    }
    {
        TransactionGuard guard(db);
        if (!hasTable(db, schema, u"OPERADORSENHA"_s)) {
            Sql::exec(db, expand(credentialsTable(schema + u".OPERADORSENHA"_s, QString()), true));
        }
        guard.commit();
    }
    if (!hasTable(db, u"main"_s, u"OPERADORSENHA"_s)) {
        return;
    }
    const QString columns = u"CDOPERADOR, DSSALT, DSHASH, NRITERACOES, DTATUALIZACAO"_s;
    {
        // Writes the credentials file only; the main file's rows win over
        // whatever an interrupted earlier copy left.
        TransactionGuard guard(db);
        if (hasTable(db, u"main"_s, u"OPERADORSENHA"_s)) {
            Sql::exec(db, u"INSERT OR REPLACE INTO %1.OPERADORSENHA (%2) SELECT %2 FROM main.OPERADORSENHA"_s.arg(
                              schema, columns));
        }
        guard.commit();
    }
    // Deleted pages are overwritten, so no hash stays behind in the main file
    // (Debian's SQLite does it by default; a build without it must too).
    execPragma(db, u"PRAGMA main.secure_delete=ON"_s);
    {
        // Writes the main file only, and only once every row is found intact
        // in the credentials file.
        TransactionGuard guard(db);
        if (hasTable(db, u"main"_s, u"OPERADORSENHA"_s)) {
            const int missing =
                Sql::scalar(
                    db, u"SELECT COUNT(*) FROM main.OPERADORSENHA m WHERE NOT EXISTS (SELECT 1 FROM %1.OPERADORSENHA s "
                        "WHERE s.CDOPERADOR = m.CDOPERADOR AND s.DSSALT = m.DSSALT AND s.DSHASH = m.DSHASH "
                        "AND s.NRITERACOES = m.NRITERACOES AND s.DTATUALIZACAO IS m.DTATUALIZACAO)"_s.arg(schema))
                    .toInt();
            if (missing > 0) {
                throw EServerFailure(u"As senhas de %1 operador(es) não conferem no arquivo de senhas; "
                                     "nada foi removido do banco de dados principal."_s.arg(missing));
            }
            Sql::exec(db, u"DROP TABLE main.OPERADORSENHA"_s);
        }
        guard.commit();
    }
    // The old pages also leave the write-ahead log (best effort: a reader
    // may hold it; its next checkpoint copies the zeroed pages).
    execPragma(db, u"PRAGMA main.wal_checkpoint(TRUNCATE)"_s);
}

} // namespace

namespace Database {

QString credentialsFile(const QString &sqliteFile)
{
    if (sqliteFile.isEmpty() || sqliteFile == u":memory:"_s) {
        return u":memory:"_s;
    }
    return sqliteFile + u".senhas"_s;
}

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
        throw EServerFailure(
            u"O driver de banco de dados %1 não está disponível."_s.arg(sqlite ? u"SQLite"_s : u"PostgreSQL"_s));
    }
    if (sqlite) {
        db.setDatabaseName(config.sqliteFile);
        // Writers queue instead of failing at once while another connection writes.
        db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=%1"_s.arg(config.busyTimeoutMs));
    } else {
        applyPgOptions(db, config.pgOptions);
        // Each connection says what it serves in pg_stat_activity
        // ("pru_server.session", "pru_server.login"), unless the site named it.
        if (!db.connectOptions().contains(u"application_name="_s)) {
            const QString named = u"application_name=pru_server."_s + connectionName.section(u'-', 0, 0);
            db.setConnectOptions(db.connectOptions().isEmpty() ? named : db.connectOptions() + u';' + named);
        }
    }
    if (!db.open()) {
        const QString error = db.lastError().text();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName);
        throw EServerFailure(u"Não foi possível abrir o banco de dados (%1): %2"_s.arg(config.describe(), error));
    }
    try {
        if (sqlite) {
            attachCredentials(db, config.sqliteFile);
            execPragma(db, u"PRAGMA main.journal_mode=WAL"_s);
            execPragma(db, u"PRAGMA %1.journal_mode=WAL"_s.arg(Database::credentialsSchema));
            execPragma(db, u"PRAGMA main.synchronous=NORMAL"_s);
            execPragma(db, u"PRAGMA %1.synchronous=NORMAL"_s.arg(Database::credentialsSchema));
            execPragma(db, u"PRAGMA foreign_keys=ON"_s);
            execPragma(db, u"PRAGMA busy_timeout=%1"_s.arg(config.busyTimeoutMs));
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
    Sql::forgetConnection(connectionName);
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
    if (sqlite) {
        refuseDamagedOrForeign(db);
    }
    if (const int found = schemaVersion(db); found > latestVersion()) {
        throw EServerFailure(u"O banco de dados está na versão %1 do esquema, mais nova que a %2 que este servidor "
                             "conhece; atualize o pru-server antes de usá-lo com este banco."_s.arg(found)
                                 .arg(latestVersion()));
    }
    {
        TransactionGuard guard(db);
        if (!tableExists(db, u"VERSAOESQUEMA"_s)) {
            Sql::exec(
                db,
                expand(
                    u"CREATE TABLE VERSAOESQUEMA (NRVERSAO INTEGER NOT NULL PRIMARY KEY, DTAPLICACAO {FLOAT} NOT NULL)"_s,
                    sqlite));
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
    if (sqlite) {
        keepCredentialsApart(db);
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
            throw EServerFailure(
                u"Opções de conexão PostgreSQL inválidas: falta '=' depois de \"%1\"."_s.arg(options.mid(i).left(40)));
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
    : m_name(Database::uniqueConnectionName(prefix))
    , m_db(Database::open(config, m_name))
{ }

ScopedConnection::~ScopedConnection()
{
    m_db = QSqlDatabase();
    Database::remove(m_name);
}
