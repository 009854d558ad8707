// The three lookup queries run against every engine we support: SQLite always,
// PostgreSQL and Firebird when the test script started their servers
// (PRU_TEST_PG, PRU_TEST_FB). One body per behaviour, one data row per engine.
#include <QtTest>

#include <QCoreApplication>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <memory>

#include "Exceptions.h"
#include "FrameworkServices.h"
#include "LookupConnection.h"
#include "LookupQueries.h"
#include "SqliteParam.h"
#include "TADOIBQuery.h"
#include "TClientDataSet.h"
#include "TDataSource.h"
#include "TField.h"

#include "Database.h"

using namespace Qt::StringLiterals;

namespace {

using Pair = QPair<QString, QString>;
using Rows = QList<Pair>;

// What the tables hold. 'R' periodicities are never offered.
struct Periodicity
{
    QString code;
    QString name;
    QString type;
};
const QList<Periodicity> storedPeriodicities = {
    {u"01"_s, u"Diária"_s, u"D"_s},       {u"07"_s, u"Semanal"_s, u"S"_s},   {u"30"_s, u"Mensal"_s, u"M"_s},
    {u"R1"_s, u"Reprogramada"_s, u"R"_s}, {u"A"_s, u"Dias úteis"_s, u"U"_s}, {u"ZZ"_s, u"Sob demanda"_s, u"R"_s},
};
const Rows offeredPeriodicities = {
    {u"01"_s, u"Diária"_s}, {u"07"_s, u"Semanal"_s}, {u"30"_s, u"Mensal"_s}, {u"A"_s, u"Dias úteis"_s}};
const Rows storedOperators = {{u"ADMIN"_s, u"Administrador"_s},
                              {u"JOAO"_s, u"João da Silva"_s},
                              {u"MARIA.SOUZA"_s, u"Maria Souza"_s},
                              {u"X"_s, u"Operador X"_s}};
const Rows storedGroups = {{u"01"_s, u"Caixa"_s}, {u"02"_s, u"Gerência"_s}, {u"G"_s, u"Grupo G"_s}};

struct Lookup
{
    QString query;
    QString codeParam;
    QString allParam;
    QString nameColumn;
    Rows expected; // every row the all-rows switch gives, in code order
};

QList<Lookup> lookups()
{
    return {
        {u"qryVdPeridiocidade"_s, u"CDPERIENTR"_s, u"TCDPERIENTR"_s, u"NMPERIENTR"_s, offeredPeriodicities},
        {u"qryVdOperador"_s, u"CDOPERADOR"_s, u"TCDOPERADOR"_s, u"NMOPERADOR"_s, storedOperators},
        {u"qryVdGrupoper"_s, u"CDGRUPOPER"_s, u"TCDGRUPOPER"_s, u"DSGRUPOPER"_s, storedGroups},
    };
}

Lookup lookupOf(const QString &query)
{
    for (const Lookup &l : lookups()) {
        if (l.query == query) {
            return l;
        }
    }
    return {};
}

// Runs a lookup as the screen does: close, both parameters by name, open.
Rows run(TADOIBQuery *query, const Lookup &l, const QVariant &code, const QVariant &all)
{
    query->Close();
    query->ParamByName(l.codeParam)->setValue(code);
    query->ParamByName(l.allParam)->setValue(all);
    query->Open();
    Rows rows;
    if (query->IsEmpty()) {
        return rows;
    }
    query->First();
    while (!query->Eof()) {
        rows.append({query->FieldByName(l.codeParam)->AsString(), query->FieldByName(l.nameColumn)->AsString()});
        query->Next();
    }
    return rows;
}

const QStringList engineNames = {u"sqlite"_s, u"postgresql"_s, u"firebird"_s};

bool serversRequired()
{
    return qEnvironmentVariable("PRU_REQUIRE_SERVERS") == u"1";
}

void execOrThrow(const QSqlDatabase &db, const QString &sql)
{
    QSqlQuery q(db);
    if (!q.exec(sql)) {
        throw EDatabaseError(u"%1\n%2"_s.arg(sql, q.lastError().text()));
    }
}

QString scalar(const QSqlDatabase &db, const QString &sql)
{
    QSqlQuery q(db);
    if (!q.exec(sql) || !q.next()) {
        throw EDatabaseError(u"%1\n%2"_s.arg(sql, q.lastError().text()));
    }
    return q.value(0).toString().trimmed();
}

} // namespace

class TestLookupQueries : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void storedTexts_data();
    void storedTexts();
    void queryComponents();
    void settingsText_data();
    void settingsText();
    void parameterNames();

    void dialectChosen_data();
    void dialectChosen();
    void allRowsSwitch_data();
    void allRowsSwitch();
    void oneCode_data();
    void oneCode();
    void nothingFound_data();
    void nothingFound();
    void paddedCharTrimmed_data();
    void paddedCharTrimmed();
    void trailingBlanks_data();
    void trailingBlanks();
    void parametersRepeatedAndReordered_data();
    void parametersRepeatedAndReordered();
    void emptyTextBindsAsText_data();
    void emptyTextBindsAsText();
    void otherDialectTexts_data();
    void otherDialectTexts();
    void dialectOfConnections_data();
    void dialectOfConnections();
    void sharedConnectionFollowsHostOptions();
    void lookupConnectionRights_data();
    void lookupConnectionRights();
    void sqliteParamFunction();

private:
    struct Engine
    {
        bool ready = false;
        QString reason; // why it is not ready
        LookupSettings settings; // how the lookups connect
        QString adminConnection; // a connection that owns the tables
        QString version;
    };

    void addEngineRows(const QStringList &engines = engineNames);
    // Opens the lookup connection on the row's engine; skips or fails the row
    // when the engine's server was not given.
    bool useEngine(const QString &engine);
    void prepareSqlite();
    void preparePostgres();
    void prepareFirebird();
    void createSchema(const QSqlDatabase &db);
    void fillTables(const QSqlDatabase &db);
    void checkTablesIntact(const QString &engine);

    QMap<QString, Engine> m_engines;
    QString m_current;
    QTemporaryDir m_dir;
    QString m_pgBaseConnection;
    QString m_pgDatabase;
    QString m_pgRole;
    QMap<QString, int> m_rowsRun;
};

// ---------------------------------------------------------------- set-up --

void TestLookupQueries::initTestCase()
{
    QVERIFY(m_dir.isValid());
    prepareSqlite();
    preparePostgres();
    prepareFirebird();
    for (const QString &name : engineNames) {
        const Engine &e = m_engines.value(name);
        if (e.ready) {
            qInfo("%s: %s", qPrintable(name), qPrintable(e.version));
        } else {
            qInfo("%s: not tested (%s)", qPrintable(name), qPrintable(e.reason));
        }
    }
}

void TestLookupQueries::cleanupTestCase()
{
    LookupConnection::close();
    for (auto it = m_rowsRun.cbegin(); it != m_rowsRun.cend(); ++it) {
        qInfo("%s: %d lookup rows run", qPrintable(it.key()), it.value());
    }
    for (const Engine &e : std::as_const(m_engines)) {
        if (!e.adminConnection.isEmpty() && QSqlDatabase::contains(e.adminConnection)) {
            QSqlDatabase::database(e.adminConnection, false).close();
            QSqlDatabase::removeDatabase(e.adminConnection);
        }
    }
    if (!m_pgBaseConnection.isEmpty()) {
        {
            QSqlDatabase base = QSqlDatabase::database(m_pgBaseConnection, false);
            QSqlQuery q(base);
            if (!m_pgDatabase.isEmpty()) {
                q.exec(u"DROP DATABASE IF EXISTS %1 WITH (FORCE)"_s.arg(m_pgDatabase));
            }
            if (!m_pgRole.isEmpty()) {
                q.exec(u"DROP ROLE IF EXISTS %1"_s.arg(m_pgRole));
                q.exec(u"DROP ROLE IF EXISTS %1_srv"_s.arg(m_pgRole));
            }
            base.close();
        }
        QSqlDatabase::removeDatabase(m_pgBaseConnection);
    }
}

// The tables are the server's own, made by its migrations.
void TestLookupQueries::createSchema(const QSqlDatabase &db)
{
    QSqlDatabase target = db;
    Database::migrate(target);
    if (Database::schemaVersion(target) != Database::latestVersion()) {
        throw EDatabaseError(u"the server's migrations did not complete"_s);
    }
}

void TestLookupQueries::fillTables(const QSqlDatabase &db)
{
    QSqlQuery q(db);
    auto exec = [&q](const QString &sql, const QVariantList &values) {
        if (!q.prepare(sql)) {
            throw EDatabaseError(q.lastError().text());
        }
        for (int i = 0; i < values.size(); ++i) {
            q.bindValue(i, values.at(i));
        }
        if (!q.exec()) {
            throw EDatabaseError(u"%1\n%2"_s.arg(sql, q.lastError().text()));
        }
    };
    for (const Periodicity &p : storedPeriodicities) {
        exec(u"INSERT INTO PERIENTR (CDPERIENTR, NMPERIENTR, IDTIPODIA) VALUES (?, ?, ?)"_s, {p.code, p.name, p.type});
    }
    for (const Pair &o : storedOperators) {
        exec(u"INSERT INTO OPERADOR (CDOPERADOR, NMOPERADOR) VALUES (?, ?)"_s, {o.first, o.second});
    }
    for (const Pair &g : storedGroups) {
        exec(u"INSERT INTO GRUPOPER (CDGRUPOPER, DSGRUPOPER) VALUES (?, ?)"_s, {g.first, g.second});
    }
}

void TestLookupQueries::prepareSqlite()
{
    Engine e;
    const QString file = m_dir.filePath(u"lookups.sqlite"_s);
    e.adminConnection = u"admin_sqlite"_s;
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, e.adminConnection);
    db.setDatabaseName(file);
    if (!db.open()) {
        e.reason = db.lastError().text();
        m_engines.insert(u"sqlite"_s, e);
        return;
    }
    try {
        // As the server keeps it: write-ahead log, read by others meanwhile.
        execOrThrow(db, u"PRAGMA journal_mode=WAL"_s);
        createSchema(db);
        fillTables(db);
        execOrThrow(db, u"INSERT INTO OPERADORSENHA (CDOPERADOR, DSSALT, DSHASH, NRITERACOES) "
                        "VALUES ('ADMIN', 'sal', 'segredo', 1)"_s);
        e.version = u"SQLite "_s + scalar(db, u"SELECT sqlite_version()"_s);
        e.settings = LookupSettings::parse(u"engine=sqlite file="_s + file);
        e.ready = true;
    } catch (const EDatabaseError &error) {
        e.reason = error.message();
    }
    m_engines.insert(u"sqlite"_s, e);
}

void TestLookupQueries::preparePostgres()
{
    Engine e;
    const QString options = qEnvironmentVariable("PRU_TEST_PG");
    if (options.isEmpty()) {
        e.reason = u"PRU_TEST_PG not set: no PostgreSQL server was started for the tests"_s;
        m_engines.insert(u"postgresql"_s, e);
        return;
    }
    try {
        const LookupSettings base = LookupSettings::parse(u"engine=postgresql "_s + options);
        const QString suffix =
            u"%1_%2"_s.arg(QCoreApplication::applicationPid()).arg(QRandomGenerator::global()->bounded(1000000));
        m_pgDatabase = u"pru_lookups_"_s + suffix;
        m_pgRole = u"pru_lookup_"_s + suffix;
        m_pgBaseConnection = u"pg_base"_s;
        QSqlDatabase baseDb = LookupConnection::openNamed(base, m_pgBaseConnection);
        execOrThrow(baseDb, u"CREATE DATABASE %1"_s.arg(m_pgDatabase));

        LookupSettings admin = base;
        admin.database = m_pgDatabase;
        e.adminConnection = u"admin_pg"_s;
        QSqlDatabase db = LookupConnection::openNamed(admin, e.adminConnection);
        createSchema(db);
        fillTables(db);
        execOrThrow(db, u"INSERT INTO OPERADORSENHA (CDOPERADOR, DSSALT, DSHASH, NRITERACOES) "
                        "VALUES ('ADMIN', 'sal', 'segredo', 1)"_s);
        e.version = scalar(db, u"SELECT version()"_s).section(u',', 0, 0);

        // The lookup role, made and given its rights by the scripts the administrator runs.
        const QString scripts = QStringLiteral(PRU_SOURCE_DIR) + u"/scripts/"_s;
        QString psql = QStandardPaths::findExecutable(u"psql"_s);
        if (psql.isEmpty()) {
            throw EDatabaseError(u"psql not found"_s);
        }
        const QString password = u"lookup-"_s + suffix;
        QString conninfo = u"host=%1 dbname=%2 user=%3"_s.arg(base.host, m_pgDatabase, base.user);
        if (base.port > 0) {
            conninfo += u" port=%1"_s.arg(base.port);
        }
        const auto runScript = [&](const QString &name, const QStringList &variables) {
            QStringList arguments{u"-X"_s, u"-q"_s, u"-d"_s, conninfo};
            for (const QString &variable : variables) {
                arguments << u"-v"_s << variable;
            }
            QProcess process;
            process.setProcessChannelMode(QProcess::MergedChannels);
            process.start(psql, arguments << u"-f"_s << scripts + name);
            if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit
                || process.exitCode() != 0) {
                throw EDatabaseError(name + u" failed: "_s + QString::fromLocal8Bit(process.readAll()));
            }
        };
        runScript(u"postgres-setup.sql"_s,
                  {u"database="_s + m_pgDatabase, u"server_role="_s + m_pgRole + u"_srv"_s, u"server_password=x"_s,
                   u"lookup_role="_s + m_pgRole, u"lookup_password="_s + password});
        runScript(u"postgres-lookup-role.sql"_s, {u"role="_s + m_pgRole});
        e.settings = admin;
        e.settings.user = m_pgRole;
        e.settings.password = password;
        e.ready = true;
    } catch (const EDatabaseError &error) {
        e.reason = error.message();
    }
    m_engines.insert(u"postgresql"_s, e);
}

void TestLookupQueries::prepareFirebird()
{
    Engine e;
    const QString options = qEnvironmentVariable("PRU_TEST_FB");
    if (options.isEmpty()) {
        e.reason = u"PRU_TEST_FB not set: no Firebird server was started for the tests"_s;
        m_engines.insert(u"firebird"_s, e);
        return;
    }
    try {
        e.settings = LookupSettings::parse(u"engine=firebird "_s + options);
        e.adminConnection = u"admin_fb"_s;
        QSqlDatabase db = LookupConnection::openNamed(e.settings, e.adminConnection);
        // The script made the tables and PARAM; the rows are this test's.
        if (!db.transaction()) {
            throw EDatabaseError(db.lastError().text());
        }
        execOrThrow(db, u"DELETE FROM PERIENTR"_s);
        execOrThrow(db, u"DELETE FROM OPERADOR"_s);
        execOrThrow(db, u"DELETE FROM GRUPOPER"_s);
        fillTables(db);
        if (!db.commit()) {
            throw EDatabaseError(db.lastError().text());
        }
        e.version =
            u"Firebird "_s + scalar(db, u"SELECT rdb$get_context('SYSTEM', 'ENGINE_VERSION') FROM rdb$database"_s);
        e.ready = true;
    } catch (const EDatabaseError &error) {
        e.reason = error.message();
    }
    m_engines.insert(u"firebird"_s, e);
}

void TestLookupQueries::addEngineRows(const QStringList &engines)
{
    QTest::addColumn<QString>("engine");
    for (const QString &engine : engines) {
        QTest::newRow(qPrintable(engine)) << engine;
    }
}

bool TestLookupQueries::useEngine(const QString &engine)
{
    const Engine e = m_engines.value(engine);
    if (!e.ready) {
        const QString message = u"%1 not available: %2"_s.arg(engine, e.reason);
        // A server that was given but cannot be used is always a failure;
        // one that was not given fails only where servers are required.
        const bool given = engine == u"sqlite"
                           || (engine == u"postgresql" && !qEnvironmentVariableIsEmpty("PRU_TEST_PG"))
                           || (engine == u"firebird" && !qEnvironmentVariableIsEmpty("PRU_TEST_FB"));
        if (given || serversRequired()) {
            QTest::qFail(qPrintable(message), __FILE__, __LINE__);
        } else {
            QTest::qSkip(qPrintable(message), __FILE__, __LINE__);
        }
        return false;
    }
    if (m_current != engine || !LookupConnection::isOpen()) {
        LookupConnection::open(e.settings);
        m_current = engine;
    }
    ++m_rowsRun[engine];
    return true;
}

void TestLookupQueries::checkTablesIntact(const QString &engine)
{
    const QSqlDatabase db = QSqlDatabase::database(m_engines.value(engine).adminConnection, false);
    QCOMPARE(scalar(db, u"SELECT COUNT(*) FROM PERIENTR"_s).toInt(), int(storedPeriodicities.size()));
    QCOMPARE(scalar(db, u"SELECT COUNT(*) FROM OPERADOR"_s).toInt(), int(storedOperators.size()));
    QCOMPARE(scalar(db, u"SELECT COUNT(*) FROM GRUPOPER"_s).toInt(), int(storedGroups.size()));
}

// ------------------------------------------------------------- the texts --

void TestLookupQueries::storedTexts_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("dialect");
    QTest::addColumn<QStringList>("lines");

    const QStringList periodicityDefault = {u"SELECT"_s,
                                            u"   CDPERIENTR,"_s,
                                            u"   NMPERIENTR"_s,
                                            u"FROM"_s,
                                            u"   PERIENTR,"_s,
                                            u"   PARAM(:CDPERIENTR) P,"_s,
                                            u"   PARAM(:TCDPERIENTR) P2"_s,
                                            u"WHERE"_s,
                                            u"(('T' = P2.PARAM) OR (CDPERIENTR = P.PARAM)) AND (IDTIPODIA <> 'R')"_s,
                                            u"ORDER BY CDPERIENTR"_s,
                                            u" "_s};
    const QStringList periodicityInterBase = {
        u"SELECT"_s,
        u"   CDPERIENTR,"_s,
        u"   NMPERIENTR"_s,
        u"FROM"_s,
        u"   PERIENTR,"_s,
        u"   PARAM(:CDPERIENTR) P,"_s,
        u"   PARAM(:TCDPERIENTR) P2"_s,
        u"WHERE"_s,
        u"        (('T' = P2.PARAM) OR (CDPERIENTR = P.PARAM)) AND (IDTIPODIA <> 'R')"_s,
        u"ORDER BY CDPERIENTR"_s,
        u" "_s};
    const QStringList periodicityMssql = {
        u"SELECT CDPERIENTR, NMPERIENTR"_s, u"FROM PERIENTR"_s, u"WHERE "_s,
        u"(('T' = :TCDPERIENTR) OR (CDPERIENTR = :CDPERIENTR)) AND (IDTIPODIA <> 'R')"_s, u"ORDER BY CDPERIENTR"_s};
    const QStringList periodicityOracle = periodicityMssql + QStringList{u" "_s};

    const QStringList operatorInterBase = {u"SELECT"_s,
                                           u"   CDOPERADOR,"_s,
                                           u"   NMOPERADOR"_s,
                                           u"FROM"_s,
                                           u"   OPERADOR,"_s,
                                           u"   PARAM(:CDOPERADOR) P,"_s,
                                           u"   PARAM(:TCDOPERADOR) P2"_s,
                                           u"WHERE "_s,
                                           u"(('T' = P2.PARAM) OR (CDOPERADOR = P.PARAM))"_s,
                                           u"ORDER BY CDOPERADOR"_s};
    const QStringList operatorOracle = {u"SELECT CDOPERADOR, NMOPERADOR"_s, u"FROM OPERADOR"_s, u"WHERE "_s,
                                        u"(('T' = :TCDOPERADOR) OR (CDOPERADOR = :CDOPERADOR))"_s,
                                        u"ORDER BY CDOPERADOR"_s};

    const QStringList groupInterBase = {u"SELECT"_s,
                                        u"   CDGRUPOPER,"_s,
                                        u"   DSGRUPOPER"_s,
                                        u"FROM"_s,
                                        u"   GRUPOPER,"_s,
                                        u"   PARAM(:CDGRUPOPER) P,"_s,
                                        u"   PARAM(:TCDGRUPOPER) P2"_s,
                                        u"WHERE "_s,
                                        u"(('T' = P2.PARAM) OR (CDGRUPOPER = P.PARAM))"_s,
                                        u"ORDER BY CDGRUPOPER"_s};
    const QStringList groupOracle = {u"SELECT CDGRUPOPER, DSGRUPOPER"_s, u"FROM GRUPOPER"_s, u"WHERE "_s,
                                     u"(('T' = :TCDGRUPOPER) OR (CDGRUPOPER = :CDGRUPOPER))"_s,
                                     u"ORDER BY CDGRUPOPER"_s};

    auto add = [](const QString &query, TSqlDialect dialect, const char *dialectName, const QStringList &lines) {
        QTest::addRow("%s/%s", qPrintable(query), dialectName) << query << int(dialect) << lines;
    };
    add(u"qryVdPeridiocidade"_s, TSqlDialect::Default, "default", periodicityDefault);
    add(u"qryVdPeridiocidade"_s, TSqlDialect::InterBase, "interbase", periodicityInterBase);
    add(u"qryVdPeridiocidade"_s, TSqlDialect::Oracle, "oracle", periodicityOracle);
    add(u"qryVdPeridiocidade"_s, TSqlDialect::MSSQL, "mssql", periodicityMssql);
    add(u"qryVdOperador"_s, TSqlDialect::Default, "default", operatorInterBase);
    add(u"qryVdOperador"_s, TSqlDialect::InterBase, "interbase", operatorInterBase);
    add(u"qryVdOperador"_s, TSqlDialect::Oracle, "oracle", operatorOracle);
    add(u"qryVdOperador"_s, TSqlDialect::MSSQL, "mssql", operatorOracle);
    add(u"qryVdGrupoper"_s, TSqlDialect::Default, "default", groupInterBase);
    add(u"qryVdGrupoper"_s, TSqlDialect::InterBase, "interbase", groupInterBase);
    add(u"qryVdGrupoper"_s, TSqlDialect::Oracle, "oracle", groupOracle);
    add(u"qryVdGrupoper"_s, TSqlDialect::MSSQL, "mssql", groupOracle);
}

void TestLookupQueries::storedTexts()
{
    QFETCH(QString, query);
    QFETCH(int, dialect);
    QFETCH(QStringList, lines);
    const auto d = static_cast<TSqlDialect>(dialect);
    QCOMPARE(LookupQueries::text(query, d), lines);
    QObject owner;
    TADOIBQuery *q = LookupQueries::create(query, &owner);
    QCOMPARE(q->SQL(d), lines);
}

void TestLookupQueries::queryComponents()
{
    QObject screen;
    const LookupQueries::LookupQuerySet set = LookupQueries::createAll(&screen);
    const QList<QPair<TADOIBQuery *, TDataSource *>> pairs = {{set.qryVdPeridiocidade, set.dtsVdPeridiocidade},
                                                              {set.qryVdOperador, set.dtsVdOperador},
                                                              {set.qryVdGrupoper, set.dtsVdGrupoper}};
    const QStringList sourceNames = {u"dtsVdPeridiocidade"_s, u"dtsVdOperador"_s, u"dtsVdGrupoper"_s};
    for (int i = 0; i < pairs.size(); ++i) {
        const Lookup l = lookups().at(i);
        TADOIBQuery *query = pairs.at(i).first;
        TDataSource *source = pairs.at(i).second;
        QCOMPARE(screen.findChild<TADOIBQuery *>(l.query), query);
        QCOMPARE(screen.findChild<TDataSource *>(sourceNames.at(i)), source);
        QCOMPARE(source->DataSet(), query->DataSet());
        // Both parameters, whatever case the caller writes them in.
        QCOMPARE(query->Params().size(), 2);
        QCOMPARE(query->ParamByName(l.codeParam.toLower())->Name(), l.codeParam);
        QVERIFY(query->ParamByName(l.allParam));
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, query->ParamByName(u"CDNADA"_s));

        TField *code = query->FieldByName(l.codeParam);
        TField *name = query->FieldByName(l.nameColumn);
        QCOMPARE(code->DisplayLabel(), u"Código"_s);
        QCOMPARE(name->DisplayLabel(), u"Nome"_s);
        QCOMPARE(query->DataSet()->Fields().size(), 2);
    }
    QCOMPARE(set.qryVdPeridiocidade->FieldByName(u"CDPERIENTR"_s)->Size(), 2);
    QCOMPARE(set.qryVdPeridiocidade->FieldByName(u"NMPERIENTR"_s)->Size(), 20);
    QCOMPARE(set.qryVdOperador->FieldByName(u"CDOPERADOR"_s)->Size(), 12);
    QCOMPARE(set.qryVdOperador->FieldByName(u"CDOPERADOR"_s)->DisplayWidth(), 15);
    QCOMPARE(set.qryVdOperador->FieldByName(u"NMOPERADOR"_s)->Size(), 40);
    QCOMPARE(set.qryVdGrupoper->FieldByName(u"CDGRUPOPER"_s)->Size(), 2);
    QCOMPARE(set.qryVdGrupoper->FieldByName(u"DSGRUPOPER"_s)->Size(), 30);
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, LookupQueries::create(u"qryNada"_s, &screen));
}

void TestLookupQueries::settingsText_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("engine");
    QTest::addColumn<QString>("where"); // file or database
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("secrets"); // user|password|sslmode

    using E = LookupSettings::Engine;
    QTest::newRow("sqlite") << u"engine=sqlite file=/srv/pru.db"_s << true << int(E::SQLite) << u"/srv/pru.db"_s << -1
                            << u"||"_s;
    QTest::newRow("driver prefix") << u"QSQLITE:/srv/pru.db"_s << true << int(E::SQLite) << u"/srv/pru.db"_s << -1
                                   << u"||"_s;
    QTest::newRow("file alone") << u"file=/srv/pru.db"_s << true << int(E::SQLite) << u"/srv/pru.db"_s << -1 << u"||"_s;
    QTest::newRow("postgresql") << u"engine=postgresql host=127.0.0.1 port=5432 dbname=pru user=u password=p"_s << true
                                << int(E::PostgreSQL) << u"pru"_s << 5432 << u"u|p|"_s;
    QTest::newRow("firebird") << u"QIBASE:host=db port=3050 database=/d/pru.fdb user=SYSDBA password=k"_s << true
                              << int(E::Firebird) << u"/d/pru.fdb"_s << 3050 << u"SYSDBA|k|"_s;
    QTest::newRow("quoted values") << u"engine=postgresql database='pru 87000' password='uma senha' user='o\\'brien'"_s
                                   << true << int(E::PostgreSQL) << u"pru 87000"_s << -1 << u"o'brien|uma senha|"_s;
    QTest::newRow("quoted file") << u"engine=sqlite file='/srv/dados da loja/pru.db'"_s << true << int(E::SQLite)
                                 << u"/srv/dados da loja/pru.db"_s << -1 << u"||"_s;
    QTest::newRow("sslmode")
        << u"engine=postgresql host=db database=pru sslmode=verify-full sslrootcert=/etc/pru/ca.crt"_s << true
        << int(E::PostgreSQL) << u"pru"_s << -1 << u"||verify-full"_s;
    QTest::newRow("unknown sslmode") << u"engine=postgresql database=pru sslmode=sempre"_s << false << 0 << QString()
                                     << 0 << QString();
    QTest::newRow("sslmode on sqlite") << u"engine=sqlite file=x sslmode=require"_s << false << 0 << QString() << 0
                                       << QString();
    QTest::newRow("quote left open") << u"engine=postgresql database=pru password='aberta"_s << false << 0 << QString()
                                     << 0 << QString();
    QTest::newRow("unknown engine") << u"engine=mysql database=x"_s << false << 0 << QString() << 0 << QString();
    QTest::newRow("unknown key") << u"engine=sqlite file=x colour=blue"_s << false << 0 << QString() << 0 << QString();
    QTest::newRow("bad port") << u"engine=postgresql database=x port=99999"_s << false << 0 << QString() << 0
                              << QString();
    QTest::newRow("no file") << u"engine=sqlite"_s << false << 0 << QString() << 0 << QString();
    QTest::newRow("no database") << u"engine=firebird host=db"_s << false << 0 << QString() << 0 << QString();
    QTest::newRow("server without engine") << u"host=db database=x"_s << false << 0 << QString() << 0 << QString();
    QTest::newRow("not key=value") << u"engine=sqlite /srv/pru.db"_s << false << 0 << QString() << 0 << QString();
    QTest::newRow("empty") << QString() << false << 0 << QString() << 0 << QString();
}

void TestLookupQueries::settingsText()
{
    QFETCH(QString, options);
    QFETCH(bool, valid);
    if (!valid) {
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, LookupSettings::parse(options));
        return;
    }
    QFETCH(int, engine);
    QFETCH(QString, where);
    QFETCH(int, port);
    QFETCH(QString, secrets);
    const LookupSettings s = LookupSettings::parse(options);
    QCOMPARE(int(s.engine), engine);
    QCOMPARE(s.engine == LookupSettings::Engine::SQLite ? s.file : s.database, where);
    QCOMPARE(s.port, port);
    QCOMPARE(s.user + u'|' + s.password + u'|' + s.sslMode, secrets);
}

void TestLookupQueries::parameterNames()
{
    // Quoted text, comments and casts are not parameters; each name once.
    QCOMPARE(TADOIBQuery::parameterNames(u"SELECT ':X', \":Y\" FROM T -- :Z\nWHERE A = :B /* :C */ AND D = :E::text "
                                         "AND F = :B AND G = 'it''s :H' AND H = :I_2"_s),
             (QStringList{u"B"_s, u"E"_s, u"I_2"_s}));
    QObject owner;
    TADOIBQuery *q = LookupQueries::create(u"qryVdOperador"_s, &owner);
    q->ParamByName(u"CDOPERADOR"_s)->setValue(u"ADMIN"_s);
    // A new text keeps the values of the names it still uses.
    q->setSQL(TSqlDialect::Default, {u"SELECT CDOPERADOR FROM OPERADOR WHERE CDOPERADOR = :CDOPERADOR"_s});
    QCOMPARE(q->ParamByName(u"CDOPERADOR"_s)->Value(), QVariant(u"ADMIN"_s));
}

// ------------------------------------------------------ on every engine --

void TestLookupQueries::dialectChosen_data()
{
    addEngineRows();
}

void TestLookupQueries::dialectChosen()
{
    QFETCH(QString, engine);
    if (!useEngine(engine)) {
        return;
    }
    const TSqlDialect expected = engine == u"firebird" ? TSqlDialect::InterBase : TSqlDialect::Default;
    QCOMPARE(LookupConnection::dialectOf(LookupConnection::database()), expected);
    QObject owner;
    for (const QString &name : LookupQueries::names()) {
        TADOIBQuery *q = LookupQueries::create(name, &owner);
        QCOMPARE(q->Dialect(), expected);
        QCOMPARE(q->ActiveSQL(), LookupQueries::text(name, expected).join(u'\n'));
    }
}

void TestLookupQueries::allRowsSwitch_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("code");
    const QStringList codes = {QString(), u"01"_s, u"ADMIN"_s, u"R1"_s, u"nada"_s, u"'; DELETE FROM PERIENTR; --"_s};
    for (const QString &engine : engineNames) {
        for (const Lookup &l : lookups()) {
            for (const QString &code : codes) {
                QTest::addRow("%s/%s/%s", qPrintable(engine), qPrintable(l.query),
                              code.isEmpty() ? "empty" : qPrintable(code))
                    << engine << l.query << code;
            }
        }
    }
}

void TestLookupQueries::allRowsSwitch()
{
    QFETCH(QString, engine);
    QFETCH(QString, query);
    QFETCH(QString, code);
    if (!useEngine(engine)) {
        return;
    }
    QObject screen;
    const Lookup l = lookupOf(query);
    TADOIBQuery *q = LookupQueries::create(query, &screen);
    // "T": every row (for periodicities, every one not of type 'R'), in
    // code order, whatever the code parameter holds.
    QCOMPARE(run(q, l, code, u"T"_s), l.expected);
    QCOMPARE(q->RecordCount(), int(l.expected.size()));
    // Open stands on the first row (the one the screen reads), and the
    // query stays open with its result until the next use.
    q->Close();
    q->Open();
    QVERIFY(q->Active());
    QCOMPARE(q->DataSet()->RecNo(), 1);
    QCOMPARE(q->FieldByName(l.codeParam)->AsString(), l.expected.first().first);
}

void TestLookupQueries::oneCode_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("name");
    for (const QString &engine : engineNames) {
        for (const Lookup &l : lookups()) {
            for (const Pair &row : l.expected) {
                QTest::addRow("%s/%s/%s", qPrintable(engine), qPrintable(l.query), qPrintable(row.first))
                    << engine << l.query << row.first << row.second;
            }
        }
    }
}

void TestLookupQueries::oneCode()
{
    QFETCH(QString, engine);
    QFETCH(QString, query);
    QFETCH(QString, code);
    QFETCH(QString, name);
    if (!useEngine(engine)) {
        return;
    }
    QObject screen;
    const Lookup l = lookupOf(query);
    TADOIBQuery *q = LookupQueries::create(query, &screen);
    // The screen's use: empty switch, one code, first row's columns.
    const Rows rows = run(q, l, code, u""_s);
    QCOMPARE(rows, (Rows{{code, name}}));
    q->First();
    QVERIFY(!q->IsEmpty());
    // The code exactly as stored, without the blanks a driver pads CHAR with.
    QCOMPARE(q->FieldByName(l.codeParam)->AsString(), code);
    QCOMPARE(q->FieldByName(l.nameColumn)->AsString(), name);
    // Another switch value than "T" is no switch at all.
    QCOMPARE(run(q, l, code, u"X"_s), (Rows{{code, name}}));
    QCOMPARE(run(q, l, code, QVariant()), (Rows{{code, name}}));
}

void TestLookupQueries::nothingFound_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QVariant>("code");
    QTest::addColumn<QVariant>("all");
    struct Case
    {
        const char *tag;
        QString query;
        QVariant code;
        QVariant all;
    };
    const QList<Case> cases = {
        {"periodicity unknown", u"qryVdPeridiocidade"_s, u"99"_s, u""_s},
        {"periodicity of type R", u"qryVdPeridiocidade"_s, u"R1"_s, u""_s},
        {"periodicity of type R with switch off", u"qryVdPeridiocidade"_s, u"ZZ"_s, u"N"_s},
        {"periodicity lower case", u"qryVdPeridiocidade"_s, u"a"_s, u""_s},
        {"periodicity leading blank", u"qryVdPeridiocidade"_s, u" A"_s, u""_s},
        {"periodicity empty code", u"qryVdPeridiocidade"_s, u""_s, u""_s},
        {"periodicity null code", u"qryVdPeridiocidade"_s, QVariant(), QVariant()},
        {"switch in lower case", u"qryVdPeridiocidade"_s, u""_s, u"t"_s},
        {"operator unknown", u"qryVdOperador"_s, u"NINGUEM"_s, u""_s},
        {"operator lower case", u"qryVdOperador"_s, u"admin"_s, u""_s},
        {"operator leading blank", u"qryVdOperador"_s, u" ADMIN"_s, u""_s},
        {"operator inner blank", u"qryVdOperador"_s, u"MARIA SOUZA"_s, u""_s},
        {"operator quote", u"qryVdOperador"_s, u"O'BRIEN"_s, u""_s},
        {"operator or true", u"qryVdOperador"_s, u"' OR '1'='1"_s, u""_s},
        {"operator drop", u"qryVdOperador"_s, u"x'; DROP TABLE OPERADOR; --"_s, u""_s},
        {"operator delete", u"qryVdOperador"_s, u"ADMIN; DELETE FROM OPERADOR"_s, u""_s},
        {"switch holding SQL", u"qryVdOperador"_s, u""_s, u"T' OR 'T'='T"_s},
        {"group unknown", u"qryVdGrupoper"_s, u"03"_s, u""_s},
        {"group lower case", u"qryVdGrupoper"_s, u"g"_s, u""_s},
        {"group union", u"qryVdGrupoper"_s, u"01' UNION SELECT CDOPERADOR, DSHASH FROM OPERADORSENHA --"_s, u""_s},
        {"group comment", u"qryVdGrupoper"_s, u"01/*"_s, u""_s},
        {"group semicolon", u"qryVdGrupoper"_s, u";"_s, u""_s},
    };
    for (const QString &engine : engineNames) {
        for (const Case &c : cases) {
            QTest::addRow("%s/%s", qPrintable(engine), c.tag) << engine << c.query << c.code << c.all;
        }
    }
}

void TestLookupQueries::nothingFound()
{
    QFETCH(QString, engine);
    QFETCH(QString, query);
    QFETCH(QVariant, code);
    QFETCH(QVariant, all);
    if (!useEngine(engine)) {
        return;
    }
    QObject screen;
    const Lookup l = lookupOf(query);
    TADOIBQuery *q = LookupQueries::create(query, &screen);
    QCOMPARE(run(q, l, code, all), Rows());
    QVERIFY(q->IsEmpty());
    QCOMPARE(q->RecordCount(), 0);
    // Only ever a value: the tables are as they were.
    checkTablesIntact(engine);
}

void TestLookupQueries::paddedCharTrimmed_data()
{
    addEngineRows();
}

void TestLookupQueries::paddedCharTrimmed()
{
    QFETCH(QString, engine);
    if (!useEngine(engine)) {
        return;
    }
    // CHAR(n) comes back blank-padded from Firebird and PostgreSQL; the
    // screen sees the value without the padding, while a blank inside a
    // VARCHAR value stays.
    const QStringList text = {u"SELECT CAST(P.PARAM AS CHAR(6)) AS C, CAST(P.PARAM AS VARCHAR(6)) AS V, "
                              "CAST(P2.PARAM AS VARCHAR(6)) AS W FROM PARAM(:X) P, PARAM(:Y) P2"_s};
    TADOIBQuery q;
    q.setSQL(TSqlDialect::Default, text);
    q.setSQL(TSqlDialect::InterBase, text);
    q.ParamByName(u"X"_s)->setValue(u"AB"_s);
    q.ParamByName(u"Y"_s)->setValue(u" AB"_s);
    q.Open();
    QCOMPARE(q.FieldByName(u"C"_s)->AsString(), u"AB"_s);
    QCOMPARE(q.FieldByName(u"V"_s)->AsString(), u"AB"_s);
    QCOMPARE(q.FieldByName(u"W"_s)->AsString(), u" AB"_s);
}

void TestLookupQueries::trailingBlanks_data()
{
    addEngineRows();
}

void TestLookupQueries::trailingBlanks()
{
    QFETCH(QString, engine);
    if (!useEngine(engine)) {
        return;
    }
    // The query leaves the code as given. Whether a trailing blank matters
    // is the engine's own comparison rule: SQLite and PostgreSQL compare
    // texts exactly, Firebird ignores trailing blanks. The screen passes
    // codes already normalised to their width, so both agree in use; the
    // code that comes back is always the stored one, never padded.
    QObject screen;
    const Lookup l = lookupOf(u"qryVdOperador"_s);
    TADOIBQuery *q = LookupQueries::create(l.query, &screen);
    const Rows found = run(q, l, u"JOAO "_s, u""_s);
    if (engine == u"firebird") {
        QCOMPARE(found, (Rows{{u"JOAO"_s, u"João da Silva"_s}}));
    } else {
        QCOMPARE(found, Rows());
    }
}

void TestLookupQueries::parametersRepeatedAndReordered_data()
{
    addEngineRows();
}

void TestLookupQueries::parametersRepeatedAndReordered()
{
    QFETCH(QString, engine);
    if (!useEngine(engine)) {
        return;
    }
    // :SECOND before :FIRST, and :SECOND twice: every occurrence gets its
    // name's value, on drivers with named markers and on those with only
    // positional ones alike.
    const QStringList text = {
        u"SELECT CDPERIENTR, NMPERIENTR"_s, u"FROM PERIENTR, PARAM(:SECOND) P2, PARAM(:FIRST) P1"_s,
        u"WHERE P2.PARAM = :SECOND AND (CDPERIENTR = P1.PARAM OR CDPERIENTR = :SECOND)"_s, u"ORDER BY CDPERIENTR"_s};
    QObject owner;
    TADOIBQuery q(&owner);
    q.setObjectName(u"qryTeste"_s);
    q.setSQL(TSqlDialect::Default, text);
    q.setSQL(TSqlDialect::InterBase, text);
    q.defineField(u"CDPERIENTR"_s, FieldType::Text, 2, u"Código"_s);
    q.defineField(u"NMPERIENTR"_s, FieldType::Text, 20, u"Nome"_s);
    QCOMPARE(q.Params().size(), 2);
    QCOMPARE(q.Params().at(0)->Name(), u"SECOND"_s);

    auto codes = [&q](const QString &first, const QString &second) {
        q.Close();
        q.ParamByName(u"FIRST"_s)->setValue(first);
        q.ParamByName(u"SECOND"_s)->setValue(second);
        q.Open();
        QStringList list;
        for (q.First(); !q.Eof(); q.Next()) {
            list.append(q.FieldByName(u"CDPERIENTR"_s)->AsString());
        }
        return list;
    };
    QCOMPARE(codes(u"01"_s, u"30"_s), (QStringList{u"01"_s, u"30"_s}));
    QCOMPARE(codes(u"30"_s, u"01"_s), (QStringList{u"01"_s, u"30"_s}));
    QCOMPARE(codes(u"07"_s, u"07"_s), (QStringList{u"07"_s}));
    QCOMPARE(codes(u"07"_s, u""_s), (QStringList{u"07"_s}));
    // Without definitions the fields come from the result.
    TADOIBQuery plain;
    plain.setSQL(TSqlDialect::Default, text);
    plain.setSQL(TSqlDialect::InterBase, text);
    plain.ParamByName(u"FIRST"_s)->setValue(u"01"_s);
    plain.ParamByName(u"SECOND"_s)->setValue(u"A"_s);
    plain.Open();
    QCOMPARE(plain.RecordCount(), 2);
    QCOMPARE(plain.FieldByName(u"CDPERIENTR"_s)->AsString(), u"01"_s);
    QCOMPARE(plain.FieldByName(u"NMPERIENTR"_s)->AsString(), u"Diária"_s);
    // A text the engine refuses is an error, not an empty result.
    plain.setSQL(TSqlDialect::Default, {u"SELECT NADA FROM LUGAR_NENHUM WHERE X = :X"_s});
    plain.setSQL(TSqlDialect::InterBase, {u"SELECT NADA FROM LUGAR_NENHUM WHERE X = :X"_s});
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, plain.Open());
    QVERIFY(!plain.Active());
}

void TestLookupQueries::emptyTextBindsAsText_data()
{
    addEngineRows();
}

void TestLookupQueries::emptyTextBindsAsText()
{
    QFETCH(QString, engine);
    if (!useEngine(engine)) {
        return;
    }
    // The screen passes "the empty text"; however the caller spells it, it
    // reaches the database as '' and only an empty variant as NULL.
    const QStringList text = {u"SELECT CASE WHEN P.PARAM IS NULL THEN 'N' ELSE 'V' END AS K FROM PARAM(:V) P"_s};
    TADOIBQuery q;
    q.setSQL(TSqlDialect::Default, text);
    q.setSQL(TSqlDialect::InterBase, text);
    const QList<QPair<QVariant, QString>> cases = {
        {QVariant(QString()), u"V"_s}, {QVariant(u""_s), u"V"_s}, {QVariant(), u"N"_s}};
    for (const auto &c : cases) {
        q.Close();
        q.ParamByName(u"V"_s)->setValue(c.first);
        q.Open();
        QCOMPARE(q.RecordCount(), 1);
        QCOMPARE(q.FieldByName(u"K"_s)->AsString(), c.second);
    }
}

void TestLookupQueries::otherDialectTexts_data()
{
    // The Oracle and MSSQL texts compare the parameters directly, which
    // SQLite and PostgreSQL accept too; Firebird cannot type a bare
    // parameter, which is why its texts go through PARAM.
    addEngineRows({u"sqlite"_s, u"postgresql"_s});
}

void TestLookupQueries::otherDialectTexts()
{
    QFETCH(QString, engine);
    if (!useEngine(engine)) {
        return;
    }
    for (TSqlDialect dialect : {TSqlDialect::Oracle, TSqlDialect::MSSQL}) {
        for (const Lookup &l : lookups()) {
            QObject owner;
            TADOIBQuery *q = LookupQueries::create(l.query, &owner);
            q->setSQL(TSqlDialect::Default, q->SQL(dialect));
            QCOMPARE(run(q, l, u""_s, u"T"_s), l.expected);
            const Pair last = l.expected.last();
            QCOMPARE(run(q, l, last.first, u""_s), (Rows{last}));
            QCOMPARE(run(q, l, u"nada"_s, u""_s), Rows());
        }
    }
}

void TestLookupQueries::dialectOfConnections_data()
{
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("database");
    QTest::addColumn<int>("dialect");
    QTest::newRow("sqlite") << u"QSQLITE"_s << u"x.db"_s << int(TSqlDialect::Default);
    QTest::newRow("postgresql") << u"QPSQL"_s << u"pru"_s << int(TSqlDialect::Default);
    QTest::newRow("firebird") << u"QIBASE"_s << u"/d/pru.fdb"_s << int(TSqlDialect::InterBase);
    QTest::newRow("oracle") << u"QOCI"_s << u"pru"_s << int(TSqlDialect::Oracle);
    QTest::newRow("tds") << u"QTDS"_s << u"pru"_s << int(TSqlDialect::MSSQL);
    QTest::newRow("odbc sql server") << u"QODBC"_s << u"DRIVER={ODBC Driver 18 for SQL Server};SERVER=db"_s
                                     << int(TSqlDialect::MSSQL);
    QTest::newRow("odbc freetds") << u"QODBC"_s << u"DRIVER=FreeTDS;SERVER=db"_s << int(TSqlDialect::MSSQL);
    QTest::newRow("odbc oracle") << u"QODBC"_s << u"DRIVER={Oracle in OraClient19};DBQ=pru"_s
                                 << int(TSqlDialect::Oracle);
    QTest::newRow("odbc other") << u"QODBC"_s << u"DRIVER={MariaDB};SERVER=db"_s << int(TSqlDialect::Default);
}

void TestLookupQueries::dialectOfConnections()
{
    QFETCH(QString, driver);
    QFETCH(QString, database);
    QFETCH(int, dialect);
    QCOMPARE(int(LookupConnection::dialectFor(driver, database)), dialect);
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        return;
    }
    const QString name = u"dialect_probe"_s;
    TSqlDialect found = TSqlDialect::Default;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(driver, name);
        db.setDatabaseName(database);
        found = LookupConnection::dialectOf(db);
    }
    QSqlDatabase::removeDatabase(name);
    QCOMPARE(int(found), dialect);
}

void TestLookupQueries::sharedConnectionFollowsHostOptions()
{
    const Engine sqlite = m_engines.value(u"sqlite"_s);
    QVERIFY2(sqlite.ready, qPrintable(sqlite.reason));
    LookupConnection::close();
    m_current.clear();
    setLookupDatabaseOptions(QString());
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, LookupConnection::database());

    // The host's options open it on first use, read-only with PARAM.
    setLookupDatabaseOptions(u"QSQLITE:"_s + sqlite.settings.file);
    QObject owner;
    TADOIBQuery *q = LookupQueries::create(u"qryVdGrupoper"_s, &owner);
    const Lookup l = lookupOf(u"qryVdGrupoper"_s);
    QCOMPARE(run(q, l, u"02"_s, u""_s), (Rows{{u"02"_s, u"Gerência"_s}}));
    QVERIFY(LookupConnection::isOpen());
    QVERIFY(!QSqlQuery(LookupConnection::database()).exec(u"DELETE FROM GRUPOPER"_s));

    // New options reopen it; a file that is not there is a clear error.
    setLookupDatabaseOptions(u"engine=sqlite file="_s + m_dir.filePath(u"nao-existe.sqlite"_s));
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, q->Open());
    QVERIFY(!QFileInfo::exists(m_dir.filePath(u"nao-existe.sqlite"_s)));
    setLookupDatabaseOptions(QString());
    LookupConnection::close();
}

void TestLookupQueries::lookupConnectionRights_data()
{
    addEngineRows({u"sqlite"_s, u"postgresql"_s});
}

void TestLookupQueries::lookupConnectionRights()
{
    QFETCH(QString, engine);
    if (!useEngine(engine)) {
        return;
    }
    const QSqlDatabase db = LookupConnection::database();
    auto runs = [&db](const QString &sql) {
        QSqlQuery q(db);
        return q.exec(sql);
    };
    // Lookups never write.
    QVERIFY(!runs(u"DELETE FROM PERIENTR"_s));
    QVERIFY(!runs(u"UPDATE OPERADOR SET NMOPERADOR = 'x'"_s));
    QVERIFY(!runs(u"INSERT INTO GRUPOPER (CDGRUPOPER, DSGRUPOPER) VALUES ('99', 'x')"_s));
    QVERIFY(!runs(u"CREATE TABLE INTRUSO (X INTEGER)"_s));
    QVERIFY(runs(u"SELECT CDOPERADOR, NMOPERADOR FROM OPERADOR"_s));
    if (engine == u"sqlite") {
        // The server keeps the credentials in a file of its own, which this
        // connection neither holds nor may attach.
        QVERIFY(!runs(u"SELECT * FROM OPERADORSENHA"_s));
        const QString credentials = Database::credentialsFile(m_dir.filePath(u"lookups.sqlite"_s));
        QVERIFY(QFileInfo::exists(credentials));
        QVERIFY(!runs(u"ATTACH DATABASE '%1' AS S"_s.arg(credentials)));
        QVERIFY(!runs(u"SELECT DSHASH FROM S.OPERADORSENHA"_s));
    }
    if (engine == u"postgresql") {
        // Only the lookup tables, only the code and name of operators, and
        // never the credentials.
        QVERIFY(!runs(u"SELECT * FROM OPERADORSENHA"_s));
        QVERIFY(!runs(u"SELECT DSHASH FROM OPERADORSENHA WHERE CDOPERADOR = 'ADMIN'"_s));
        QVERIFY(!runs(u"SELECT CDUNIDADE FROM OPERADOR"_s));
        QVERIFY(!runs(u"SELECT * FROM OPERADOR"_s));
        QVERIFY(runs(u"SELECT P.PARAM FROM PARAM('x') P"_s));
    }
    checkTablesIntact(engine);
}

void TestLookupQueries::sqliteParamFunction()
{
    if (!useEngine(u"sqlite"_s)) {
        return;
    }
    const QSqlDatabase db = LookupConnection::database();
    QSqlQuery q(db);
    // One row holding the argument unchanged, whatever its type.
    QVERIFY(q.exec(u"SELECT P.PARAM, P2.PARAM FROM PARAM('abc') P, PARAM(42) P2"_s));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), u"abc"_s);
    QCOMPARE(q.value(1).toInt(), 42);
    QVERIFY(!q.next());
    QVERIFY(q.exec(u"SELECT COUNT(*), MAX(PARAM IS NULL) FROM PARAM(NULL)"_s));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toInt(), 1);
    QCOMPARE(q.value(1).toInt(), 1);
    // Without its argument it refuses instead of guessing.
    QVERIFY(!q.exec(u"SELECT * FROM PARAM"_s));
    // Only SQLite connections take it.
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, SqliteParam::registerOn(QSqlDatabase()));
}

QTEST_GUILESS_MAIN(TestLookupQueries)
#include "tst_lookupqueries.moc"
