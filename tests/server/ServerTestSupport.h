#pragma once

// What the server tests share: a new database per test on each engine (SQLite
// always; PostgreSQL when PRU_TEST_PG names a server), the real RpcServer with
// the remote module on a loopback port, clients that log in through the wire,
// and builders of packets as the screen sends them.

#include <QCborArray>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <source_location>

#include "Admin.h"
#include "Database.h"
#include "DateTime.h"
#include "Fields.h"
#include "Packet.h"
#include "RdmProcessoUnidade.h"
#include "KeptModules.h"
#include "Refusal.h"
#include "RpcClient.h"
#include "RpcServer.h"
#include "ServerClock.h"
#include "Sql.h"

using namespace Qt::StringLiterals;

namespace ServerTest {

inline constexpr int callTimeoutMs = 30'000;
// Cheap hashes keep the tests quick; the program uses the slow default.
inline const PasswordHash::Cost testCost = PasswordHash::Cost::minimal();

inline QString pgOptionsWithDatabase(const QString &options, const QString &database)
{
    QString out = options;
    static const QRegularExpression dbname(u"dbname=\\S+"_s);
    if (out.contains(dbname)) {
        out.replace(dbname, u"dbname="_s + database);
    } else {
        out += u" dbname="_s + database;
    }
    return out;
}

// One new database; a PostgreSQL one is dropped again at the end.
class TestDatabase
{
public:
    static std::unique_ptr<TestDatabase> create(const QString &engine, QString *why)
    {
        auto db = std::unique_ptr<TestDatabase>(new TestDatabase);
        if (engine == u"sqlite"_s) {
            if (!db->m_dir.isValid()) {
                *why = u"no temporary directory"_s;
                return {};
            }
            db->config = DatabaseConfig::sqlite(db->m_dir.filePath(u"server.sqlite"_s));
            return db;
        }
        const QString server = qEnvironmentVariable("PRU_TEST_PG");
        if (server.isEmpty()) {
            *why = u"PRU_TEST_PG is not set: no PostgreSQL server to test against (scripts/test.sh starts one)"_s;
            return {};
        }
        static int counter = 0;
        db->m_pgServer = server;
        db->m_pgName = u"pru_srv_%1_%2_%3"_s.arg(QCoreApplication::applicationPid())
                           .arg(++counter)
                           .arg(QDateTime::currentMSecsSinceEpoch() % 100000);
        try {
            ScopedConnection admin(DatabaseConfig::postgres(server), u"test-admin"_s);
            Sql::exec(admin.db(), u"CREATE DATABASE "_s + db->m_pgName);
        } catch (const EDatabaseError &e) {
            *why = u"cannot create a PostgreSQL test database: "_s + e.message();
            db->m_pgName.clear();
            return {};
        }
        db->config = DatabaseConfig::postgres(pgOptionsWithDatabase(server, db->m_pgName));
        return db;
    }

    ~TestDatabase()
    {
        if (m_pgName.isEmpty()) {
            return;
        }
        try {
            ScopedConnection admin(DatabaseConfig::postgres(m_pgServer), u"test-admin"_s);
            Sql::exec(admin.db(), u"DROP DATABASE IF EXISTS %1 WITH (FORCE)"_s.arg(m_pgName));
        } catch (const EDatabaseError &e) {
            qWarning("could not drop %s: %s", qPrintable(m_pgName), qPrintable(e.message()));
        }
    }

    DatabaseConfig config;

private:
    TestDatabase() = default;
    QTemporaryDir m_dir;
    QString m_pgServer;
    QString m_pgName;
};

// Two units, operators of each, groups and periodicities; processes are made
// by each test.
inline void seed(QSqlDatabase &db)
{
    Database::migrate(db);
    Admin::addUnit(db, u"0001"_s, u"Loja Centro"_s);
    Admin::addUnit(db, u"0002"_s, u"Loja Norte"_s);
    Admin::addOperator(db, u"SUPERVISOR"_s, u"Supervisor Centro"_s, u"0001"_s, u"senha"_s, testCost);
    Admin::addOperator(db, u"MARIA"_s, u"Maria Souza"_s, u"0001"_s, u"segredo"_s, testCost);
    Admin::addOperator(db, u"GERENTE"_s, u"Gerente Norte"_s, u"0002"_s, u"senha"_s, testCost);
    Admin::addGroup(db, u"CX"_s, u"Caixas"_s, {u"MARIA"_s});
    Admin::addGroup(db, u"ES"_s, u"Estoque"_s, {u"SUPERVISOR"_s});
    TransactionGuard guard(db);
    Sql::exec(db, u"INSERT INTO PERIENTR (CDPERIENTR, NMPERIENTR, IDTIPODIA) VALUES ('DI', 'Diária', 'D')"_s);
    Sql::exec(
        db,
        u"INSERT INTO PERIENTR (CDPERIENTR, NMPERIENTR, IDTIPODIA, IDDIASSEMANA) VALUES ('NU', 'Nunca', 'S', 'NNNNNNN')"_s);
    Sql::exec(db, u"INSERT INTO PERIENTR (CDPERIENTR, NMPERIENTR, IDTIPODIA) VALUES ('RQ', 'Sob solicitação', 'R')"_s);
    guard.commit();
}

class Client
{
public:
    bool open(quint16 port, const QString &op, const QString &password, QString *error)
    {
        return m_client.open(u"127.0.0.1"_s, port, RdmProcessoUnidade::serverName, op, password, callTimeoutMs, error);
    }
    RpcReply call(const QString &method, const QCborArray &args = {})
    {
        return m_client.call(method, args, callTimeoutMs);
    }
    RpcClient &rpc() { return m_client; }

private:
    RpcClient m_client;
};

// A database, a running server over it and a direct connection for checks.
class Environment
{
public:
    bool start(const QString &engine, QString *why, const std::function<void(DatabaseConfig &)> &adjust = {})
    {
        m_database = TestDatabase::create(engine, why);
        if (!m_database) {
            return false;
        }
        if (adjust) {
            adjust(m_database->config);
        }
        m_direct = std::make_unique<ScopedConnection>(m_database->config, u"test-direct"_s);
        seed(m_direct->db());
        m_state = std::make_shared<ServerState>(m_database->config);
        m_server = std::make_unique<RpcServer>(KeptModules::factory(m_state));
        if (!m_server->listen(QHostAddress::LocalHost, 0, why)) {
            return false;
        }
        return true;
    }

    void stop()
    {
        if (m_server) {
            m_server->close();
        }
        m_server.reset();
        m_state.reset();
        m_direct.reset();
        m_database.reset();
        ServerClock::setOffsetDaysForTesting(0);
    }

    quint16 port() const { return m_server->port(); }
    QSqlDatabase &db() { return m_direct->db(); }
    ServerState &state() { return *m_state; }

    std::unique_ptr<Client> login(const QString &op = u"SUPERVISOR"_s, const QString &password = u"senha"_s)
    {
        auto client = std::make_unique<Client>();
        QString error;
        if (!client->open(port(), op, password, &error)) {
            qWarning("login of %s failed: %s", qPrintable(op), qPrintable(error));
            return {};
        }
        return client;
    }

    QVariant scalar(const QString &text, const QVariantList &values = {}) { return Sql::scalar(db(), text, values); }
    int count(const QString &text, const QVariantList &values = {}) { return scalar(text, values).toInt(); }

    // Rows written straight into the database, as another screen or an
    // earlier version would have left them.
    qint64 insertProcess(const QString &unit, const QString &name, double start, const QVariant &end = {})
    {
        return Sql::insertReturningKey(
            db(),
            u"INSERT INTO PROCESSOFILIAL (CDUNIDADE, NMPROCESSOFILIAL, DTINIVIGENCIA, DTFINVIGENCIA, CDOPERATU, DTATUALIZACAO, IDSITUACAO) "
            "VALUES (?, ?, ?, ?, 'SUPERVISOR', ?, 'S') RETURNING NRPROCESSOFILIAL"_s,
            {unit, name, start, end.isValid() ? end : Sql::nullNumber(), ServerClock::nowDays()});
    }
    qint64 insertTask(qint64 process, const QString &name, const QString &periodicity, int order)
    {
        return Sql::insertReturningKey(
            db(),
            u"INSERT INTO ATIVIDADEFILIAL (NRPROCESSOFILIAL, NMATIVIDADEFILIAL, CDPERIENTR, NRORDENAATIVIDADE, CDOPERATU) "
            "VALUES (?, ?, ?, ?, 'SUPERVISOR') RETURNING NRATIVIDADEFILIAL"_s,
            {process, name, Sql::textOrNull(periodicity), order});
    }
    qint64 insertResponsible(qint64 process, qint64 task, const QString &op, const QString &group)
    {
        return Sql::insertReturningKey(
            db(),
            u"INSERT INTO RESPATIVFILIAL (NRATIVIDADEFILIAL, NRPROCESSOFILIAL, CDOPERADOR, CDGRUPOPER, IDEXECUTA, IDVALIDA, CDOPERATU) "
            "VALUES (?, ?, ?, ?, 'S', 'N', 'SUPERVISOR') RETURNING NRRESPATIVFILIAL"_s,
            {task, process, Sql::textOrNull(op), Sql::textOrNull(group)});
    }

private:
    std::unique_ptr<TestDatabase> m_database;
    std::unique_ptr<ScopedConnection> m_direct;
    std::shared_ptr<ServerState> m_state;
    std::unique_ptr<RpcServer> m_server;
};

// ----- packets as the screen builds them --------------------------------------

inline DataPacket dataOf(const RpcReply &reply)
{
    if (!reply.ok) {
        qWarning("call failed: %s", qPrintable(reply.error));
        return {};
    }
    return DataPacket::decode(reply.value.toByteArray());
}

inline int fieldIndex(const QList<FieldDef> &fields, const QString &name)
{
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (fields.at(i).name == name) {
            return int(i);
        }
    }
    return -1;
}

inline QVariant valueOf(const DataPacket &packet, int row, const QString &name)
{
    return packet.rows.at(row).at(fieldIndex(packet.fields, name));
}

// A row of fields with the given values, the rest null.
inline Row makeRow(const QList<FieldDef> &fields, const QVariantMap &values)
{
    Row row(fields.size());
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const int i = fieldIndex(fields, it.key());
        Q_ASSERT(i >= 0);
        row[i] = it.value();
    }
    return row;
}

inline Row withValues(const QList<FieldDef> &fields, Row row, const QVariantMap &values)
{
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        row[fieldIndex(fields, it.key())] = it.value();
    }
    return row;
}

inline QCborArray packetArg(const DeltaPacket &delta)
{
    return {QCborValue(delta.encode())};
}

inline DeltaPacket inserted(const QList<FieldDef> &fields, const QList<Row> &rows)
{
    DeltaPacket delta;
    delta.fields = fields;
    for (const Row &row : rows) {
        delta.entries.append({ChangeKind::Inserted, {}, row});
    }
    return delta;
}

inline DeltaPacket modified(const QList<FieldDef> &fields, const Row &original, const Row &current)
{
    DeltaPacket delta;
    delta.fields = fields;
    delta.entries.append({ChangeKind::Modified, original, current});
    return delta;
}

inline DeltaPacket deleted(const QList<FieldDef> &fields, const Row &original)
{
    DeltaPacket delta;
    delta.fields = fields;
    delta.entries.append({ChangeKind::Deleted, original, {}});
    return delta;
}

inline double today()
{
    return ServerClock::todayDays();
}

// ----- one data row per engine ---------------------------------------------------

// The rows of a test run on each engine, in the column "engine".
inline void engineRows()
{
    QTest::addColumn<QString>("engine");
    QTest::newRow("sqlite") << u"sqlite"_s;
    QTest::newRow("postgresql") << u"postgresql"_s;
}

// The test cannot have its engine's database, for the reason why: it fails on
// SQLite, and on any engine where the servers are required
// (PRU_REQUIRE_SERVERS=1); elsewhere it is skipped. Gives false.
inline bool engineUnavailable(const QString &engine, const QString &why, const std::source_location &where)
{
    if (engine == u"sqlite"_s || qEnvironmentVariableIntValue("PRU_REQUIRE_SERVERS") == 1) {
        QTest::qFail(qPrintable(why), where.file_name(), int(where.line()));
    } else {
        QTest::qSkip(qPrintable(why), where.file_name(), int(where.line()));
    }
    return false;
}

// Starts env on the current row's engine; false when the test failed or was
// skipped for it. A test class whose every test runs on each engine calls it
// from init(), so that a test without its engine does not run.
inline bool startEngine(Environment &env, std::source_location where = std::source_location::current())
{
    QFETCH(QString, engine);
    QString why;
    return env.start(engine, &why) || engineUnavailable(engine, why, where);
}

} // namespace ServerTest
