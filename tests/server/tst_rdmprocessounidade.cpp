// The remote module "PRU87000.rdmProcessoUnidade" through the real wire: a
// server on a loopback port over a new database per test, on SQLite and on
// PostgreSQL, called by clients that log in as operators of two units.

#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QTcpSocket>
#include <QThread>

#include <tuple>

#include "RawPeer.h"
#include <poll.h>
#include <sys/socket.h>

#include "Catalogue.h"
#include "Saves.h"
#include "ServerTestSupport.h"

using namespace ServerTest;

namespace {

// A data row of a rule table, once per engine: the tag names the engine too.
QTestData &engineRow(const QString &engine, const char *tag)
{
    return QTest::newRow(qPrintable(engine + u'/' + QLatin1StringView(tag))) << engine;
}

// A rule table's expected refusal: a catalogue key, or "!" and a part of the text.
bool refusedAs(const RpcReply &reply, const QString &expected)
{
    const QString said = refusalOf(reply);
    return expected.startsWith(u'!') ? said.contains(expected.mid(1)) : said == Catalogue::text(expected);
}

} // namespace

class TestRdmProcessoUnidade : public QObject
{
    Q_OBJECT

private slots:
    // Every test runs on each engine.
    // Tests with engine rows start on theirs; the others set up their own.
    void init()
    {
        if (QTest::currentDataTag()) {
            startEngine(m_env);
        }
    }
    void cleanup() { m_env.stop(); }

    void login_data() { engineRows(); }
    void login();
    void sessionsTakeOverKeptConnections_data() { engineRows(); }
    void sessionsTakeOverKeptConnections();
    void getDataServidor_data() { engineRows(); }
    void getDataServidor();
    void processLifecycle_data() { engineRows(); }
    void processLifecycle();
    void processRules_data();
    void processRules();
    void processEditRules_data() { engineRows(); }
    void processEditRules();
    void conflictBetweenSessions_data() { engineRows(); }
    void conflictBetweenSessions();
    void badRowWritesNothing_data() { engineRows(); }
    void badRowWritesNothing();
    void deltaWithoutAFieldRefused_data() { engineRows(); }
    void deltaWithoutAFieldRefused();
    void otherUnitRefused_data() { engineRows(); }
    void otherUnitRefused();
    void tasksRoundTrip_data() { engineRows(); }
    void tasksRoundTrip();
    void taskRules_data();
    void taskRules();
    void operatorsRoundTrip_data() { engineRows(); }
    void operatorsRoundTrip();
    void operatorRules_data();
    void operatorRules();
    void responsiblesInOneDelta_data();
    void responsiblesInOneDelta();
    void badArguments_data();
    void badArguments();
    void deltaHeldNearItsSize();
    void longSaveDoesNotFailOthers_data() { engineRows(); }
    void longSaveDoesNotFailOthers();
    void busyDatabaseIsSaidSo();
    void concurrentWriters_data() { engineRows(); }
    void concurrentWriters();
    void malformedPeersDoNotDisturbOthers_data() { engineRows(); }
    void malformedPeersDoNotDisturbOthers();
    void largeUnit_data() { engineRows(); }
    void largeUnit();

private:
    double newProcess(Client &client, const QString &name);
    // A new process with one task whose responsible is SUPERVISOR; gives the task.
    qint64 taskOfSupervisor(Client &client, double *process);
    Row processRow(Client &client, double number);
    DataPacket tasksOf(Client &client, double process);

    Environment m_env;
};

double TestRdmProcessoUnidade::newProcess(Client &client, const QString &name)
{
    const QList<FieldDef> f = Fields::processos();
    const RpcReply reply =
        client.call(u"SetProcessos"_s, packetArg(inserted(f, {makeRow(f, {{u"NMPROCESSOFILIAL"_s, name},
                                                                          {u"DTINIVIGENCIA"_s, today() + 1},
                                                                          {u"IDSITUACAO"_s, u"S"_s},
                                                                          {u"CDOPERATU"_s, u"SUPERVISOR"_s}})})));
    if (!reply.ok) {
        qWarning("SetProcessos failed: %s", qPrintable(reply.error));
        return 0;
    }
    return reply.value.toDouble();
}

qint64 TestRdmProcessoUnidade::taskOfSupervisor(Client &client, double *process)
{
    *process = newProcess(client, u"Processo"_s);
    const qint64 task = m_env.insertTask(qint64(*process), u"Tarefa"_s, u"DI"_s, 1);
    m_env.insertResponsible(qint64(*process), task, u"SUPERVISOR"_s, {});
    return task;
}

Row TestRdmProcessoUnidade::processRow(Client &client, double number)
{
    const DataPacket packet = dataOf(client.call(u"GetProcessos"_s));
    for (const Row &row : packet.rows) {
        if (row.at(0).toDouble() == number) {
            return row;
        }
    }
    return {};
}

DataPacket TestRdmProcessoUnidade::tasksOf(Client &client, double process)
{
    return dataOf(client.call(u"GetTarefas"_s, {process}));
}

// ----- login -------------------------------------------------------------------

void TestRdmProcessoUnidade::login()
{
    Client good;
    QString error;
    QVERIFY2(good.open(m_env.port(), u"SUPERVISOR"_s, u"senha"_s, &error), qPrintable(error));
    QCOMPARE(good.rpc().unitName(), u"Loja Centro"_s);
    QCOMPARE(good.rpc().operatorName(), u"Supervisor Centro"_s);

    // A database fault is not a failed login, and tells the client nothing of the database.
    Sql::exec(m_env.db(), u"ALTER TABLE OPERADOR RENAME TO OPERADOR_FORA"_s);
    for (int i = 0; i < 4; ++i) {
        Client during;
        QVERIFY(!during.open(m_env.port(), u"MARIA"_s, u"segredo"_s, &error));
        QVERIFY2(error.contains(u"não conseguiu verificar o login agora"_s), qPrintable(error));
        QVERIFY2(!error.contains(u"OPERADOR"_s) && !error.contains(u"SELECT"_s), qPrintable(error));
    }
    Sql::exec(m_env.db(), u"ALTER TABLE OPERADOR_FORA RENAME TO OPERADOR"_s);
    Client after;
    QVERIFY2(after.open(m_env.port(), u"MARIA"_s, u"segredo"_s, &error), qPrintable(error));

    Client wrongPassword;
    QVERIFY(!wrongPassword.open(m_env.port(), u"SUPERVISOR"_s, u"SENHA"_s, &error));
    QVERIFY2(error.contains(u"Operador ou senha inválidos."_s), qPrintable(error));

    Client unknown;
    QVERIFY(!unknown.open(m_env.port(), u"NINGUEM"_s, u"senha"_s, &error));
    QVERIFY2(error.contains(u"Operador ou senha inválidos."_s), qPrintable(error));

    RpcClient otherModule;
    QVERIFY(!otherModule.open(u"127.0.0.1"_s, m_env.port(), u"PRU99999.rdmOutro"_s, u"SUPERVISOR"_s, u"senha"_s,
                              callTimeoutMs, &error));
    QVERIFY2(error.contains(u"PRU99999.rdmOutro"_s), qPrintable(error));

    // The refused clients did not disturb the one that logged in.
    QVERIFY(good.call(u"GetDataServidor"_s).ok);

    // Connections that have not logged in hold no database connection of
    // their own: their passwords go through the gate's few shared ones.
    const bool pg = QString::fromLatin1(QTest::currentDataTag()) == u"postgresql";
    const auto sessions = [&] {
        return m_env.count(u"SELECT COUNT(*) FROM pg_stat_activity WHERE datname = current_database()"_s);
    };
    const int before = pg ? sessions() : 0;
    std::vector<std::unique_ptr<Client>> guessing(12);
    for (auto &client : guessing) {
        client = std::make_unique<Client>();
        QVERIFY(!client->open(m_env.port(), u"NINGUEM"_s, u"x"_s, &error));
    }
    QVERIFY(m_env.state().loginGate->connectionsHeld() <= LoginGate::Settings().workers);
    if (pg) {
        QVERIFY2(sessions() <= before + LoginGate::Settings().workers,
                 qPrintable(QString::number(sessions() - before)));
    }

    // A check that would wait past the limit is refused at once as busy.
    LoginGate gate(m_env.state().config, {1, 1, 500, 48});
    std::atomic<int> busy = 0;
    QList<QThread *> threads;
    for (int i = 0; i < 4; ++i) {
        threads << QThread::create(
            [&] { busy += gate.check(u"MARIA"_s, u"segredo"_s, false).kind == LoginGate::Verdict::Busy ? 1 : 0; });
        threads.last()->start();
    }
    for (QThread *t : threads) {
        QVERIFY(t->wait(30'000));
        delete t;
    }
    QVERIFY2(busy >= 2, qPrintable(QString::number(busy)));
    QCOMPARE(gate.check(u"MARIA"_s, u"segredo"_s, true).kind, LoginGate::Verdict::Ok);

    // A login that matched in full spares the next ones the slow hash, and
    // nothing else: a wrong password, a changed one or a moved operator is
    // checked as before.
    using V = LoginGate::Verdict;
    struct Step
    {
        const char *what;
        QString newPassword; // set before the check (Admin, a new salt) when not empty
        QString newUnit; // the operator's unit from then on, when not empty
        QString password;
        bool trusted;
        V::Kind verdict;
        int slowChecks; // since the gate started
    };
    const QList<Step> steps = {
        {"first, in full", {}, {}, u"segredo"_s, true, V::Ok, 1},
        {"again, remembered", {}, {}, u"segredo"_s, true, V::Ok, 1},
        {"without a token, remembered", {}, {}, u"segredo"_s, false, V::Ok, 1},
        {"wrong password", {}, {}, u"SEGREDO"_s, true, V::Refused, 2},
        {"right again", {}, {}, u"segredo"_s, true, V::Ok, 2},
        {"moved to another unit", {}, u"0002"_s, u"segredo"_s, true, V::Ok, 2},
        {"old password after a change", u"outra"_s, {}, u"segredo"_s, true, V::Refused, 3},
        {"new password, in full", {}, {}, u"outra"_s, true, V::Ok, 4},
        {"the same password set again", u"outra"_s, {}, u"outra"_s, true, V::Ok, 5},
        {"and remembered", {}, {}, u"outra"_s, false, V::Ok, 5},
    };
    LoginGate remembering(m_env.state().config, {});
    QString password = u"segredo"_s;
    QString unit = u"0001"_s;
    for (const Step &step : steps) {
        if (!step.newPassword.isEmpty()) {
            password = step.newPassword;
            Admin::addOperator(m_env.db(), u"MARIA"_s, u"Maria Souza"_s, unit, password, testCost);
        }
        if (!step.newUnit.isEmpty()) {
            unit = step.newUnit; // the stored hash stays
            Sql::exec(m_env.db(), u"UPDATE OPERADOR SET CDUNIDADE = ? WHERE CDOPERADOR = 'MARIA'"_s, {unit});
        }
        const V verdict = remembering.check(u"MARIA"_s, step.password, step.trusted);
        QVERIFY2(verdict.kind == step.verdict, step.what);
        QVERIFY2(remembering.slowChecks() == step.slowChecks,
                 qPrintable(u"%1: %2"_s.arg(QLatin1StringView(step.what)).arg(remembering.slowChecks())));
        if (verdict.kind == V::Ok) {
            QVERIFY2(verdict.unit == unit, step.what);
        }
    }
    // Kept for no time, every login is checked in full.
    LoginGate forgetting(m_env.state().config, {4, 10, 3'000, 48, 0});
    QCOMPARE(forgetting.check(u"MARIA"_s, u"outra"_s, true).kind, V::Ok);
    QCOMPARE(forgetting.check(u"MARIA"_s, u"outra"_s, true).kind, V::Ok);
    QCOMPARE(forgetting.slowChecks(), 2);
}

// A session's database connection is kept for the next one; nothing else of
// the session is.
void TestRdmProcessoUnidade::sessionsTakeOverKeptConnections()
{
    ServerState &state = m_env.state();
    const auto unitsSeen = [this](Client &client) {
        QSet<QString> units;
        const DataPacket packet = dataOf(client.call(u"GetProcessos"_s));
        for (qsizetype r = 0; r < packet.rows.size(); ++r) {
            units << m_env
                         .scalar(u"SELECT CDUNIDADE FROM PROCESSOFILIAL WHERE NRPROCESSOFILIAL = ?"_s,
                                 {valueOf(packet, r, u"NRPROCESSOFILIAL"_s)})
                         .toString();
        }
        return units;
    };
    const auto keptUntil = [&](int kept) {
        // A closed client's session ends in the server's own time.
        return QTest::qWaitFor([&] { return state.keptModules == kept; }, 5'000);
    };
    {
        auto supervisor = m_env.login();
        QVERIFY(supervisor);
        QVERIFY(newProcess(*supervisor, u"Da Loja Centro"_s) > 0);
        QCOMPARE(unitsSeen(*supervisor), QSet<QString>{u"0001"_s});
    }
    QVERIFY(keptUntil(1));
    const int opened = state.sessionConnectionsOpened;
    {
        // Another operator of another unit on the same connection: its own unit only.
        auto gerente = m_env.login(u"GERENTE"_s);
        QVERIFY(gerente);
        QVERIFY(newProcess(*gerente, u"Da Loja Norte"_s) > 0);
        QCOMPARE(unitsSeen(*gerente), QSet<QString>{u"0002"_s});
        QCOMPARE(state.sessionConnectionsOpened.load(), opened);
        // Two at once: each has a connection of its own.
        auto maria = m_env.login(u"MARIA"_s, u"segredo"_s);
        QVERIFY(maria);
        QCOMPARE(unitsSeen(*maria), QSet<QString>{u"0001"_s});
        QCOMPARE(state.sessionConnectionsOpened.load(), opened + 1);
    }
    QVERIFY(keptUntil(2));
    if (QString::fromLatin1(QTest::currentDataTag()) == u"postgresql") {
        // The database ends the kept connections meanwhile: the next session opens a new one.
        QCOMPARE(m_env.count(u"SELECT COUNT(pg_terminate_backend(pid, 5000)) FROM pg_stat_activity WHERE datname = "
                             "current_database() AND application_name = 'pru_server.session'"_s),
                 2);
        auto again = m_env.login();
        QVERIFY(again);
        QCOMPARE(unitsSeen(*again), QSet<QString>{u"0001"_s});
        QCOMPARE(state.sessionConnectionsOpened.load(), opened + 2);
    }
}

void TestRdmProcessoUnidade::getDataServidor()
{
    auto client = m_env.login();
    QVERIFY(client);
    const RpcReply reply = client->call(u"GetDataServidor"_s);
    QVERIFY2(reply.ok, qPrintable(reply.error));
    QVERIFY(reply.value.isDouble());
    QVERIFY(qAbs(reply.value.toDouble() - ServerClock::nowDays()) < 1.0 / 1440);
}

// ----- processes -----------------------------------------------------------------

void TestRdmProcessoUnidade::processLifecycle()
{
    auto client = m_env.login();
    QVERIFY(client);
    const QList<FieldDef> f = Fields::processos();

    const double number = newProcess(*client, u"Abertura da loja"_s);
    QVERIFY(number > 0);

    const DataPacket packet = dataOf(client->call(u"GetProcessos"_s));
    QCOMPARE(packet.fields, f);
    QCOMPARE(packet.rows.size(), 1);
    QCOMPARE(valueOf(packet, 0, u"NRPROCESSOFILIAL"_s).toDouble(), number);
    QCOMPARE(valueOf(packet, 0, u"NMPROCESSOFILIAL"_s).toString(), u"Abertura da loja"_s);
    QCOMPARE(valueOf(packet, 0, u"DTINIVIGENCIA"_s).toDouble(), today() + 1);
    QVERIFY(valueOf(packet, 0, u"DTFINVIGENCIA"_s).isNull());
    QCOMPARE(valueOf(packet, 0, u"CDOPERATU"_s).toString(), u"SUPERVISOR"_s);
    QCOMPARE(valueOf(packet, 0, u"NMOPERADOR"_s).toString(), u"Supervisor Centro"_s);
    QVERIFY(qAbs(valueOf(packet, 0, u"DTATUALIZACAO"_s).toDouble() - ServerClock::nowDays()) < 1.0 / 1440);
    QCOMPARE(valueOf(packet, 0, u"IDSITUACAO"_s).toString(), u"S"_s);

    // Another operator edits it: the server records who and when.
    auto maria = m_env.login(u"MARIA"_s, u"segredo"_s);
    QVERIFY(maria);
    const Row original = packet.rows.at(0);
    const Row current = withValues(
        f, original, {{u"NMPROCESSOFILIAL"_s, u"Abertura e conferência"_s}, {u"DTFINVIGENCIA"_s, today() + 30}});
    RpcReply reply = maria->call(u"SetProcessos"_s, packetArg(modified(f, original, current)));
    QVERIFY2(reply.ok, qPrintable(reply.error));
    QCOMPARE(reply.value.toDouble(), 0.0); // nothing inserted
    Row stored = processRow(*client, number);
    QCOMPARE(stored.at(1).toString(), u"Abertura e conferência"_s);
    QCOMPARE(stored.at(3).toDouble(), today() + 30);
    QCOMPARE(stored.at(4).toString(), u"MARIA"_s);
    QCOMPARE(stored.at(5).toString(), u"Maria Souza"_s);

    // The other unit never sees it.
    auto gerente = m_env.login(u"GERENTE"_s);
    QVERIFY(gerente);
    QCOMPARE(dataOf(gerente->call(u"GetProcessos"_s)).rows.size(), 0);

    reply = client->call(u"SetProcessos"_s, packetArg(deleted(f, stored)));
    QVERIFY2(reply.ok, qPrintable(reply.error));
    QCOMPARE(dataOf(client->call(u"GetProcessos"_s)).rows.size(), 0);
}

void TestRdmProcessoUnidade::processRules_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QVariant>("start");
    QTest::addColumn<QVariant>("end");
    QTest::addColumn<QString>("key"); // empty: accepted
    const double t = today();
    for (const QString &engine : {u"sqlite"_s, u"postgresql"_s}) {
        engineRow(engine, "blank name") << u"   "_s << QVariant(t + 1) << QVariant() << u"NmProcessoNull"_s;
        engineRow(engine, "blank name before dates")
            << QString() << QVariant() << QVariant(t - 5) << u"NmProcessoNull"_s;
        engineRow(engine, "no start") << u"P"_s << QVariant() << QVariant() << u"DataIniVigNull"_s;
        engineRow(engine, "start yesterday") << u"P"_s << QVariant(t - 1) << QVariant() << u"Data<Atual"_s;
        engineRow(engine, "end yesterday") << u"P"_s << QVariant(t) << QVariant(t - 1) << u"Data<Atual"_s;
        engineRow(engine, "end before start") << u"P"_s << QVariant(t + 5) << QVariant(t + 3) << u"DtFin>DtIni"_s;
        engineRow(engine, "start today") << u"P"_s << QVariant(t) << QVariant() << QString();
        engineRow(engine, "end equal to start") << u"P"_s << QVariant(t + 2) << QVariant(t + 2) << QString();
    }
}

void TestRdmProcessoUnidade::processRules()
{
    QFETCH(QString, name);
    QFETCH(QVariant, start);
    QFETCH(QVariant, end);
    QFETCH(QString, key);
    auto client = m_env.login();
    QVERIFY(client);
    const QList<FieldDef> f = Fields::processos();
    const RpcReply reply = client->call(
        u"SetProcessos"_s,
        packetArg(inserted(
            f, {makeRow(f, {{u"NMPROCESSOFILIAL"_s, name}, {u"DTINIVIGENCIA"_s, start}, {u"DTFINVIGENCIA"_s, end}})})));
    if (key.isEmpty()) {
        QVERIFY2(reply.ok, qPrintable(reply.error));
        QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM PROCESSOFILIAL"_s), 1);
    } else {
        QCOMPARE(refusalOf(reply), Catalogue::text(key));
        QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM PROCESSOFILIAL"_s), 0);
    }
}

void TestRdmProcessoUnidade::processEditRules()
{
    auto client = m_env.login();
    QVERIFY(client);
    const QList<FieldDef> f = Fields::processos();
    const double t = today();
    const qint64 running = m_env.insertProcess(u"0001"_s, u"Em vigor"_s, t - 5);
    const qint64 ended = m_env.insertProcess(u"0001"_s, u"Encerrado"_s, t - 10, t - 1);
    const qint64 future = m_env.insertProcess(u"0001"_s, u"Futuro"_s, t + 3);

    // A start in the past stays as it is when only the name changes.
    Row original = processRow(*client, double(running));
    RpcReply reply =
        client->call(u"SetProcessos"_s,
                     packetArg(modified(
                         f, original, withValues(f, original, {{u"NMPROCESSOFILIAL"_s, u"Em vigor (novo nome)"_s}}))));
    QVERIFY2(reply.ok, qPrintable(reply.error));

    // ... but the start of a process in force is not changed.
    original = processRow(*client, double(running));
    reply = client->call(u"SetProcessos"_s,
                         packetArg(modified(f, original, withValues(f, original, {{u"DTINIVIGENCIA"_s, t + 1}}))));
    QCOMPARE(refusalOf(reply), Catalogue::text(u"DataIniInfNotAlt"_s));

    // An ended process cannot be posted with its end in the past.
    original = processRow(*client, double(ended));
    reply = client->call(
        u"SetProcessos"_s,
        packetArg(modified(f, original, withValues(f, original, {{u"NMPROCESSOFILIAL"_s, u"Outro nome"_s}}))));
    QCOMPARE(refusalOf(reply), Catalogue::text(u"Data<Atual"_s));

    // A process not yet in force may move its start, never into the past.
    original = processRow(*client, double(future));
    reply = client->call(u"SetProcessos"_s,
                         packetArg(modified(f, original, withValues(f, original, {{u"DTINIVIGENCIA"_s, t - 1}}))));
    QCOMPARE(refusalOf(reply), Catalogue::text(u"Data<Atual"_s));
    reply = client->call(u"SetProcessos"_s,
                         packetArg(modified(f, original, withValues(f, original, {{u"DTINIVIGENCIA"_s, t + 1}}))));
    QVERIFY2(reply.ok, qPrintable(reply.error));
    QCOMPARE(processRow(*client, double(future)).at(2).toDouble(), t + 1);
}

void TestRdmProcessoUnidade::conflictBetweenSessions()
{
    auto first = m_env.login();
    auto second = m_env.login(u"MARIA"_s, u"segredo"_s);
    QVERIFY(first && second);
    const QList<FieldDef> f = Fields::processos();
    const double number = newProcess(*first, u"Compartilhado"_s);
    QVERIFY(number > 0);

    // Both read the same row.
    const Row seenByFirst = processRow(*first, number);
    const Row seenBySecond = processRow(*second, number);
    QCOMPARE(seenByFirst, seenBySecond);

    RpcReply reply =
        first->call(u"SetProcessos"_s,
                    packetArg(modified(f, seenByFirst,
                                       withValues(f, seenByFirst, {{u"NMPROCESSOFILIAL"_s, u"Nome do primeiro"_s}}))));
    QVERIFY2(reply.ok, qPrintable(reply.error));

    reply =
        second->call(u"SetProcessos"_s,
                     packetArg(modified(f, seenBySecond,
                                        withValues(f, seenBySecond, {{u"NMPROCESSOFILIAL"_s, u"Nome do segundo"_s}}))));
    QCOMPARE(refusalOf(reply), Saves::conflictChangedText());
    reply = second->call(u"SetProcessos"_s, packetArg(deleted(f, seenBySecond)));
    QCOMPARE(refusalOf(reply), Saves::conflictChangedText());
    QCOMPARE(processRow(*first, number).at(1).toString(), u"Nome do primeiro"_s);

    // The same for tasks, which carry no update stamp: their values decide.
    const QList<FieldDef> tf = Fields::tarefas();
    reply = first->call(u"SetTarefas"_s, packetArg(inserted(tf, {makeRow(tf, {{u"NRATIVIDADEFILIAL"_s, -1.0},
                                                                              {u"NRPROCESSOFILIAL"_s, number},
                                                                              {u"NMATIVIDADEFILIAL"_s, u"Tarefa"_s},
                                                                              {u"NRORDENAATIVIDADE"_s, 1.0}})})));
    QVERIFY2(reply.ok, qPrintable(reply.error));
    const Row task1 = tasksOf(*first, number).rows.value(0);
    const Row task2 = tasksOf(*second, number).rows.value(0);
    QVERIFY(!task1.isEmpty());
    reply =
        first->call(u"SetTarefas"_s,
                    packetArg(modified(tf, task1, withValues(tf, task1, {{u"NMATIVIDADEFILIAL"_s, u"Primeiro"_s}}))));
    QVERIFY2(reply.ok, qPrintable(reply.error));
    reply =
        second->call(u"SetTarefas"_s,
                     packetArg(modified(tf, task2, withValues(tf, task2, {{u"NMATIVIDADEFILIAL"_s, u"Segundo"_s}}))));
    QCOMPARE(refusalOf(reply), Saves::conflictChangedText());
    QCOMPARE(valueOf(tasksOf(*first, number), 0, u"NMATIVIDADEFILIAL"_s).toString(), u"Primeiro"_s);

    // A row deleted meanwhile is a conflict too.
    const Row fresh = tasksOf(*first, number).rows.value(0);
    reply = first->call(u"SetTarefas"_s, packetArg(deleted(tf, fresh)));
    QVERIFY2(reply.ok, qPrintable(reply.error));
    reply = second->call(u"SetTarefas"_s,
                         packetArg(modified(tf, fresh, withValues(tf, fresh, {{u"NMATIVIDADEFILIAL"_s, u"Tarde"_s}}))));
    QCOMPARE(refusalOf(reply), Saves::conflictDeletedText());
}

void TestRdmProcessoUnidade::badRowWritesNothing()
{
    auto client = m_env.login();
    QVERIFY(client);
    const QList<FieldDef> f = Fields::processos();
    const double number = newProcess(*client, u"Existente"_s);
    const Row original = processRow(*client, number);

    DeltaPacket delta =
        inserted(f, {
                        makeRow(f, {{u"NMPROCESSOFILIAL"_s, u"Bom"_s}, {u"DTINIVIGENCIA"_s, today() + 1}}),
                        makeRow(f, {{u"NMPROCESSOFILIAL"_s, u"Também bom"_s}, {u"DTINIVIGENCIA"_s, today() + 2}}),
                    });
    delta.entries.append(
        {ChangeKind::Modified, original, withValues(f, original, {{u"NMPROCESSOFILIAL"_s, u"Mudado"_s}})});
    delta.entries.append({ChangeKind::Inserted,
                          {},
                          makeRow(f, {{u"NMPROCESSOFILIAL"_s, u"Ruim"_s}, {u"DTINIVIGENCIA"_s, today() - 3}})});
    const RpcReply reply = client->call(u"SetProcessos"_s, packetArg(delta));
    QCOMPARE(refusalOf(reply), Catalogue::text(u"Data<Atual"_s));
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM PROCESSOFILIAL"_s), 1);
    QCOMPARE(processRow(*client, number), original);

    // Tasks: one good row and one with a periodicity on request.
    const QList<FieldDef> tf = Fields::tarefas();
    const RpcReply tasks =
        client->call(u"SetTarefas"_s, packetArg(inserted(tf, {
                                                                 makeRow(tf, {{u"NRATIVIDADEFILIAL"_s, -1.0},
                                                                              {u"NRPROCESSOFILIAL"_s, number},
                                                                              {u"NMATIVIDADEFILIAL"_s, u"A"_s},
                                                                              {u"CDPERIENTR"_s, u"DI"_s},
                                                                              {u"NRORDENAATIVIDADE"_s, 1.0}}),
                                                                 makeRow(tf, {{u"NRATIVIDADEFILIAL"_s, -2.0},
                                                                              {u"NRPROCESSOFILIAL"_s, number},
                                                                              {u"NMATIVIDADEFILIAL"_s, u"B"_s},
                                                                              {u"CDPERIENTR"_s, u"RQ"_s},
                                                                              {u"NRORDENAATIVIDADE"_s, 2.0}}),
                                                             })));
    QCOMPARE(refusalOf(tasks), Catalogue::text(u"CdPeriodicidadeInv"_s));
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM ATIVIDADEFILIAL"_s), 0);
}

void TestRdmProcessoUnidade::deltaWithoutAFieldRefused()
{
    auto client = m_env.login();
    QVERIFY(client);
    const QList<FieldDef> f = Fields::processos();
    const double number = newProcess(*client, u"Com fim"_s);
    Row original = processRow(*client, number);
    QVERIFY(client
                ->call(u"SetProcessos"_s,
                       packetArg(modified(f, original, withValues(f, original, {{u"DTFINVIGENCIA"_s, today() + 9}}))))
                .ok);
    original = processRow(*client, number);

    // A delta without the end of validity must not read as "no end".
    const int end = fieldIndex(f, u"DTFINVIGENCIA"_s);
    QList<FieldDef> partial = f;
    partial.removeAt(end);
    Row before = original;
    before.removeAt(end);
    const Row after = withValues(partial, before, {{u"NMPROCESSOFILIAL"_s, u"Sem o campo"_s}});
    const RpcReply reply = client->call(u"SetProcessos"_s, packetArg(modified(partial, before, after)));
    QVERIFY2(refusalOf(reply).contains(u"DTFINVIGENCIA"_s), qPrintable(refusalOf(reply)));
    QCOMPARE(processRow(*client, number), original);
}

void TestRdmProcessoUnidade::otherUnitRefused()
{
    auto owner = m_env.login();
    auto intruder = m_env.login(u"GERENTE"_s);
    QVERIFY(owner && intruder);
    const QList<FieldDef> f = Fields::processos();
    const double number = newProcess(*owner, u"Da Loja Centro"_s);
    const Row original = processRow(*owner, number);
    const qint64 task = m_env.insertTask(qint64(number), u"Tarefa"_s, u"DI"_s, 1);
    m_env.insertResponsible(qint64(number), task, u"MARIA"_s, {});

    // A forged delta that names the other unit's row by its real values.
    RpcReply reply = intruder->call(
        u"SetProcessos"_s,
        packetArg(modified(f, original, withValues(f, original, {{u"NMPROCESSOFILIAL"_s, u"Invadido"_s}}))));
    QCOMPARE(refusalOf(reply), Saves::otherUnitText());
    reply = intruder->call(u"SetProcessos"_s, packetArg(deleted(f, original)));
    QCOMPARE(refusalOf(reply), Saves::otherUnitText());

    const QList<FieldDef> tf = Fields::tarefas();
    reply = intruder->call(u"SetTarefas"_s, packetArg(inserted(tf, {makeRow(tf, {{u"NRPROCESSOFILIAL"_s, number},
                                                                                 {u"NMATIVIDADEFILIAL"_s, u"Intrusa"_s},
                                                                                 {u"NRORDENAATIVIDADE"_s, 9.0}})})));
    QCOMPARE(refusalOf(reply), Saves::otherUnitText());
    const Row taskRow = tasksOf(*owner, number).rows.value(0);
    reply = intruder->call(u"SetTarefas"_s, packetArg(deleted(tf, taskRow)));
    QCOMPARE(refusalOf(reply), Saves::otherUnitText());

    const QList<FieldDef> of = Fields::operadores();
    reply =
        intruder->call(u"SetOperadores"_s, packetArg(inserted(of, {makeRow(of, {{u"NRATIVIDADEFILIAL"_s, double(task)},
                                                                                {u"CDOPERADOR"_s, u"GERENTE"_s},
                                                                                {u"IDEXECUTA"_s, u"S"_s},
                                                                                {u"IDVALIDA"_s, u"S"_s}})})));
    QCOMPARE(refusalOf(reply), Saves::otherUnitText());

    // Reading is refused as well.
    QCOMPARE(refusalOf(intruder->call(u"GetTarefas"_s, {number})), Saves::otherUnitText());
    QCOMPARE(refusalOf(intruder->call(u"GetOperadores"_s, {double(task)})), Saves::otherUnitText());
    const QString text = QString::number(qint64(number));
    QCOMPARE(refusalOf(intruder->call(u"GetAtividades"_s, {text})), Saves::otherUnitText());
    QCOMPARE(refusalOf(intruder->call(u"SetAtividades"_s, {text})), Saves::otherUnitText());
    QCOMPARE(refusalOf(intruder->call(u"GetVerifTarefas"_s, {text, QString::number(task)})), Saves::otherUnitText());
    QVERIFY(!intruder->call(u"RedefinirAtividadesDia"_s, {text, u"GERENTE"_s}).ok);
    QCOMPARE(intruder->call(u"GetRelatorioProcessos"_s, {number}).error, Saves::otherUnitText());
    // The whole report holds the intruder's own unit only, and before a
    // login nothing at all.
    const DataPacket report = dataOf(intruder->call(u"GetRelatorioProcessos"_s, {0.0}));
    QCOMPARE(report.rows.size(), 1);
    QCOMPARE(valueOf(report, 0, u"CDUNIDADE"_s).toString(), u"0002"_s);
    RawPeer anonymous;
    QVERIFY(anonymous.connectTo(m_env.port()));
    anonymous.send(RpcWire::callFrame(1, u"GetRelatorioProcessos"_s, {0.0}));
    const std::optional<RpcMessage> refused = anonymous.read();
    QVERIFY(refused && !refused->ok && refused->value.isUndefined());
    QVERIFY2(refused->error.contains(u"login"_s), qPrintable(refused->error));

    // Nothing changed.
    QCOMPARE(processRow(*owner, number), original);
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM ATIVIDADEFILIAL"_s), 1);
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM RESPATIVFILIAL"_s), 1);
}

// ----- tasks -----------------------------------------------------------------------

void TestRdmProcessoUnidade::tasksRoundTrip()
{
    auto client = m_env.login();
    QVERIFY(client);
    const double number = newProcess(*client, u"Processo"_s);
    const QList<FieldDef> tf = Fields::tarefas();
    RpcReply reply = client->call(
        u"SetTarefas"_s, packetArg(inserted(tf, {
                                                    makeRow(tf, {{u"NRATIVIDADEFILIAL"_s, -1.0},
                                                                 {u"NRPROCESSOFILIAL"_s, number},
                                                                 {u"NMATIVIDADEFILIAL"_s, u"Segunda"_s},
                                                                 {u"CDTELAATIVIDADE"_s, u"cxa01000"_s},
                                                                 {u"CDMODULOATIVIDADE"_s, u"cxa"_s},
                                                                 {u"CDPERIENTR"_s, u"DI"_s},
                                                                 {u"NMPERIENTR"_s, u"Diária"_s},
                                                                 {u"DSATIVIDADEFILIAL"_s, u"<b>Observação</b>"_s},
                                                                 {u"NRORDENAATIVIDADE"_s, 2.0},
                                                                 {u"CDOPERATU"_s, u"SUPERVISOR"_s}}),
                                                    makeRow(tf, {{u"NRATIVIDADEFILIAL"_s, -2.0},
                                                                 {u"NRPROCESSOFILIAL"_s, number},
                                                                 {u"NMATIVIDADEFILIAL"_s, u"Primeira"_s},
                                                                 {u"NRORDENAATIVIDADE"_s, 1.0}}),
                                                })));
    QVERIFY2(reply.ok, qPrintable(reply.error));

    DataPacket tasks = tasksOf(*client, number);
    QCOMPARE(tasks.fields, tf);
    QCOMPARE(tasks.rows.size(), 2);
    QCOMPARE(valueOf(tasks, 0, u"NMATIVIDADEFILIAL"_s).toString(), u"Primeira"_s);
    QCOMPARE(valueOf(tasks, 1, u"NMATIVIDADEFILIAL"_s).toString(), u"Segunda"_s);
    QVERIFY(valueOf(tasks, 0, u"NRATIVIDADEFILIAL"_s).toDouble() > 0); // never a temporary key
    QVERIFY(valueOf(tasks, 1, u"NRATIVIDADEFILIAL"_s).toDouble() > 0);
    QCOMPARE(valueOf(tasks, 1, u"NRPROCESSOFILIAL"_s).toDouble(), number);
    QCOMPARE(valueOf(tasks, 1, u"CDTELAATIVIDADE"_s).toString(), u"cxa01000"_s); // as typed
    QCOMPARE(valueOf(tasks, 1, u"CDMODULOATIVIDADE"_s).toString(), u"CXA"_s); // upper case
    QCOMPARE(valueOf(tasks, 1, u"NMPERIENTR"_s).toString(), u"Diária"_s);
    QCOMPARE(valueOf(tasks, 1, u"DSATIVIDADEFILIAL"_s).toString(), u"<b>Observação</b>"_s);
    QCOMPARE(valueOf(tasks, 1, u"CDOPERATU"_s).toString(), u"SUPERVISOR"_s);
    QVERIFY(valueOf(tasks, 0, u"CDPERIENTR"_s).isNull());
    QVERIFY(valueOf(tasks, 0, u"NMPERIENTR"_s).isNull());

    // Swapping the order of the two in one delta.
    DeltaPacket reorder;
    reorder.fields = tf;
    reorder.entries.append(
        {ChangeKind::Modified, tasks.rows.at(0), withValues(tf, tasks.rows.at(0), {{u"NRORDENAATIVIDADE"_s, 2.0}})});
    reorder.entries.append(
        {ChangeKind::Modified, tasks.rows.at(1), withValues(tf, tasks.rows.at(1), {{u"NRORDENAATIVIDADE"_s, 1.0}})});
    reply = client->call(u"SetTarefas"_s, packetArg(reorder));
    QVERIFY2(reply.ok, qPrintable(reply.error));
    tasks = tasksOf(*client, number);
    QCOMPARE(valueOf(tasks, 0, u"NMATIVIDADEFILIAL"_s).toString(), u"Segunda"_s);

    // Tasks without an order come after the last, one after another, up to the
    // column's 32 bits; an order past them is refused.
    const auto add = [&](const QString &name, const QVariant &order) {
        return client->call(u"SetTarefas"_s, packetArg(inserted(tf, {makeRow(tf, {{u"NRATIVIDADEFILIAL"_s, -1.0},
                                                                                  {u"NRPROCESSOFILIAL"_s, number},
                                                                                  {u"NMATIVIDADEFILIAL"_s, name},
                                                                                  {u"NRORDENAATIVIDADE"_s, order}})})));
    };
    QVERIFY(add(u"Terceira"_s, {}).ok);
    const double last = std::numeric_limits<qint32>::max();
    QVERIFY2(refusalOf(add(u"Longe demais"_s, last + 1)).contains(u"fora do intervalo"_s), "order past 32 bits");
    QVERIFY(add(u"Perto do fim"_s, last - 1).ok);
    QVERIFY(add(u"A última"_s, {}).ok);
    reply = add(u"Uma a mais"_s, {});
    QVERIFY2(reply.error.contains(u"Não há mais números de ordem"_s), qPrintable(reply.error));
    tasks = tasksOf(*client, number);
    QCOMPARE(tasks.rows.size(), 5);
    QCOMPARE(valueOf(tasks, 2, u"NRORDENAATIVIDADE"_s).toDouble(), 3.0);
    QCOMPARE(valueOf(tasks, 4, u"NRORDENAATIVIDADE"_s).toDouble(), last);

    // An unknown process number gives an empty list, not a failure.
    const DataPacket none = tasksOf(*client, 987654.0);
    QCOMPARE(none.fields, tf);
    QCOMPARE(none.rows.size(), 0);
}

void TestRdmProcessoUnidade::taskRules_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("periodicity");
    QTest::addColumn<double>("process"); // 0: the test's process
    QTest::addColumn<QString>("expected"); // catalogue key, "!text" for a text of ours, empty: accepted
    for (const QString &engine : {u"sqlite"_s, u"postgresql"_s}) {
        engineRow(engine, "blank description") << u"  "_s << u"DI"_s << 0.0 << u"NmTarefaNull"_s;
        engineRow(engine, "periodicity on request") << u"T"_s << u"RQ"_s << 0.0 << u"CdPeriodicidadeInv"_s;
        engineRow(engine, "unknown periodicity") << u"T"_s << u"XX"_s << 0.0 << u"CdPeriodicidadeInv"_s;
        engineRow(engine, "periodicity in lower case") << u"T"_s << u"di"_s << 0.0 << u"CdPeriodicidadeInv"_s;
        engineRow(engine, "no periodicity") << u"T"_s << QString() << 0.0 << QString();
        engineRow(engine, "process that does not exist") << u"T"_s << u"DI"_s << 555555.0 << u"!não existe"_s;
        engineRow(engine, "temporary process key") << u"T"_s << u"DI"_s << -3.0 << u"!processo gravado"_s;
    }
}

void TestRdmProcessoUnidade::taskRules()
{
    QFETCH(QString, name);
    QFETCH(QString, periodicity);
    QFETCH(double, process);
    QFETCH(QString, expected);
    auto client = m_env.login();
    QVERIFY(client);
    const double number = newProcess(*client, u"Processo"_s);
    const QList<FieldDef> tf = Fields::tarefas();
    const RpcReply reply =
        client->call(u"SetTarefas"_s,
                     packetArg(inserted(
                         tf, {makeRow(tf, {{u"NRATIVIDADEFILIAL"_s, -1.0},
                                           {u"NRPROCESSOFILIAL"_s, process == 0 ? number : process},
                                           {u"NMATIVIDADEFILIAL"_s, name},
                                           {u"CDPERIENTR"_s, periodicity.isNull() ? QVariant() : QVariant(periodicity)},
                                           {u"NRORDENAATIVIDADE"_s, 1.0}})})));
    if (expected.isEmpty()) {
        QVERIFY2(reply.ok, qPrintable(reply.error));
        QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM ATIVIDADEFILIAL"_s), 1);
        return;
    }
    QVERIFY2(refusedAs(reply, expected), qPrintable(refusalOf(reply)));
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM ATIVIDADEFILIAL"_s), 0);
}

// ----- responsible operators ----------------------------------------------------------

void TestRdmProcessoUnidade::operatorsRoundTrip()
{
    auto client = m_env.login();
    QVERIFY(client);
    const double number = newProcess(*client, u"Processo"_s);
    const qint64 task = m_env.insertTask(qint64(number), u"Tarefa"_s, u"DI"_s, 1);
    const QList<FieldDef> of = Fields::operadores();
    RpcReply reply =
        client->call(u"SetOperadores"_s, packetArg(inserted(of, {
                                                                    makeRow(of, {{u"NRRESPATIVFILIAL"_s, -1.0},
                                                                                 {u"NRATIVIDADEFILIAL"_s, double(task)},
                                                                                 {u"CDOPERADOR"_s, u"MARIA"_s},
                                                                                 {u"NMOPERADOR"_s, u"Maria Souza"_s},
                                                                                 {u"CDGRUPOPER"_s, QString()},
                                                                                 {u"DSGRUPOPER"_s, QString()},
                                                                                 {u"IDEXECUTA"_s, u"S"_s},
                                                                                 {u"IDVALIDA"_s, u"N"_s},
                                                                                 {u"CDOPERATU"_s, u"SUPERVISOR"_s},
                                                                                 {u"NRPROCESSOFILIAL"_s, number}}),
                                                                    makeRow(of, {{u"NRRESPATIVFILIAL"_s, -2.0},
                                                                                 {u"NRATIVIDADEFILIAL"_s, double(task)},
                                                                                 {u"CDGRUPOPER"_s, u"CX"_s},
                                                                                 {u"IDEXECUTA"_s, u"N"_s},
                                                                                 {u"IDVALIDA"_s, u"S"_s},
                                                                                 {u"NRPROCESSOFILIAL"_s, number}}),
                                                                })));
    QVERIFY2(reply.ok, qPrintable(reply.error));

    DataPacket rows = dataOf(client->call(u"GetOperadores"_s, {double(task)}));
    QCOMPARE(rows.fields, of);
    QCOMPARE(rows.rows.size(), 2);
    QVERIFY(valueOf(rows, 0, u"NRRESPATIVFILIAL"_s).toDouble() > 0);
    QCOMPARE(valueOf(rows, 0, u"CDOPERADOR"_s).toString(), u"MARIA"_s);
    QCOMPARE(valueOf(rows, 0, u"NMOPERADOR"_s).toString(), u"Maria Souza"_s);
    QVERIFY(valueOf(rows, 0, u"CDGRUPOPER"_s).isNull());
    QCOMPARE(valueOf(rows, 1, u"CDGRUPOPER"_s).toString(), u"CX"_s);
    QCOMPARE(valueOf(rows, 1, u"DSGRUPOPER"_s).toString(), u"Caixas"_s);
    QVERIFY(valueOf(rows, 1, u"CDOPERADOR"_s).isNull());
    QCOMPARE(valueOf(rows, 1, u"IDVALIDA"_s).toString(), u"S"_s);
    QCOMPARE(valueOf(rows, 1, u"NRPROCESSOFILIAL"_s).toDouble(), number);
    QCOMPARE(valueOf(rows, 1, u"NRATIVIDADEFILIAL"_s).toDouble(), double(task));

    // Toggle a flag, then delete the group row.
    reply = client->call(
        u"SetOperadores"_s,
        packetArg(modified(of, rows.rows.at(0), withValues(of, rows.rows.at(0), {{u"IDVALIDA"_s, u"S"_s}}))));
    QVERIFY2(reply.ok, qPrintable(reply.error));
    reply = client->call(u"SetOperadores"_s, packetArg(deleted(of, rows.rows.at(1))));
    QVERIFY2(reply.ok, qPrintable(reply.error));
    rows = dataOf(client->call(u"GetOperadores"_s, {double(task)}));
    QCOMPARE(rows.rows.size(), 1);
    QCOMPARE(valueOf(rows, 0, u"IDVALIDA"_s).toString(), u"S"_s);
}

void TestRdmProcessoUnidade::operatorRules_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("op");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("executes");
    QTest::addColumn<double>("task"); // 0: the test's task
    QTest::addColumn<QString>("expected");
    for (const QString &engine : {u"sqlite"_s, u"postgresql"_s}) {
        engineRow(engine, "neither operator nor group") << u"  "_s << QString() << u"S"_s << 0.0 << u"CdOpGrupopNull"_s;
        engineRow(engine, "unknown operator") << u"NINGUEM"_s << QString() << u"S"_s << 0.0 << u"CdOperadorInv"_s;
        engineRow(engine, "operator in other case") << u"maria"_s << QString() << u"S"_s << 0.0 << u"CdOperadorInv"_s;
        engineRow(engine, "unknown group") << QString() << u"ZZ"_s << u"S"_s << 0.0 << u"CdGrupoperInv"_s;
        engineRow(engine, "repeated operator") << u"SUPERVISOR"_s << QString() << u"S"_s << 0.0 << u"CdOperadorJaCad"_s;
        engineRow(engine, "repeated group") << QString() << u"ES"_s << u"S"_s << 0.0 << u"CdGrupoperJaCad"_s;
        engineRow(engine, "operator and group") << u"MARIA"_s << u"CX"_s << u"S"_s << 0.0 << u"!não os dois"_s;
        engineRow(engine, "flag not S or N") << u"MARIA"_s << QString() << u"s"_s << 0.0 << u"!\"S\" ou \"N\""_s;
        engineRow(engine, "temporary task key") << u"MARIA"_s << QString() << u"S"_s << -1.0 << u"!não existe"_s;
        engineRow(engine, "operator accepted") << u"MARIA"_s << QString() << u"N"_s << 0.0 << QString();
        engineRow(engine, "group accepted") << QString() << u"CX"_s << u"S"_s << 0.0 << QString();
    }
}

void TestRdmProcessoUnidade::operatorRules()
{
    QFETCH(QString, op);
    QFETCH(QString, group);
    QFETCH(QString, executes);
    QFETCH(double, task);
    QFETCH(QString, expected);
    auto client = m_env.login();
    QVERIFY(client);
    double number = 0;
    const qint64 stored = taskOfSupervisor(*client, &number);
    m_env.insertResponsible(qint64(number), stored, {}, u"ES"_s);
    const QList<FieldDef> of = Fields::operadores();
    const RpcReply reply =
        client->call(u"SetOperadores"_s,
                     packetArg(inserted(of, {makeRow(of, {{u"NRRESPATIVFILIAL"_s, -3.0},
                                                          {u"NRATIVIDADEFILIAL"_s, task == 0 ? double(stored) : task},
                                                          {u"CDOPERADOR"_s, op},
                                                          {u"CDGRUPOPER"_s, group},
                                                          {u"IDEXECUTA"_s, executes},
                                                          {u"IDVALIDA"_s, u"N"_s},
                                                          {u"NRPROCESSOFILIAL"_s, number}})})));
    if (expected.isEmpty()) {
        QVERIFY2(reply.ok, qPrintable(reply.error));
        QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM RESPATIVFILIAL"_s), 3);
        return;
    }
    QVERIFY2(refusedAs(reply, expected), qPrintable(refusalOf(reply)));
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM RESPATIVFILIAL"_s), 2);
}

// One delta of several responsibles is checked row by row in its order,
// against what the rows before it changed.
void TestRdmProcessoUnidade::responsiblesInOneDelta_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QStringList>("steps"); // "-CODE" deletes the stored one, "+CODE" inserts
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("count");
    for (const QString &engine : {u"sqlite"_s, u"postgresql"_s}) {
        engineRow(engine, "removed then added again")
            << QStringList{u"+MARIA"_s, u"-SUPERVISOR"_s, u"+SUPERVISOR"_s} << QString() << 2;
        engineRow(engine, "added twice") << QStringList{u"+MARIA"_s, u"+MARIA"_s} << u"CdOperadorJaCad"_s << 1;
        engineRow(engine, "several accepted") << QStringList{u"+MARIA"_s, u"+GERENTE"_s} << QString() << 3;
        engineRow(engine, "stored one added")
            << QStringList{u"+MARIA"_s, u"+SUPERVISOR"_s} << u"CdOperadorJaCad"_s << 1;
    }
}

void TestRdmProcessoUnidade::responsiblesInOneDelta()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, expected);
    QFETCH(int, count);
    auto client = m_env.login();
    QVERIFY(client);
    double number = 0;
    const qint64 task = taskOfSupervisor(*client, &number);
    const QList<FieldDef> of = Fields::operadores();
    const DataPacket stored = dataOf(client->call(u"GetOperadores"_s, {double(task)}));
    QCOMPARE(stored.rows.size(), 1);
    DeltaPacket delta;
    delta.fields = of;
    double temporary = -1;
    for (const QString &step : std::as_const(steps)) {
        if (step.startsWith(u'-')) {
            delta.entries.append({ChangeKind::Deleted, stored.rows.at(0), {}});
            continue;
        }
        delta.entries.append({ChangeKind::Inserted,
                              {},
                              makeRow(of, {{u"NRRESPATIVFILIAL"_s, temporary--},
                                           {u"NRATIVIDADEFILIAL"_s, double(task)},
                                           {u"CDOPERADOR"_s, step.mid(1)},
                                           {u"IDEXECUTA"_s, u"S"_s},
                                           {u"IDVALIDA"_s, u"N"_s},
                                           {u"NRPROCESSOFILIAL"_s, number}})});
    }
    const RpcReply reply = client->call(u"SetOperadores"_s, packetArg(delta));
    if (expected.isEmpty()) {
        QVERIFY2(reply.ok, qPrintable(reply.error));
    } else {
        QCOMPARE(refusalOf(reply), Catalogue::text(expected));
    }
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM RESPATIVFILIAL"_s), count);
}

// ----- arguments -------------------------------------------------------------------------

void TestRdmProcessoUnidade::badArguments_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QCborArray>("args");
    QTest::addColumn<QString>("expected");
    // A save is bounded before it is decoded: its bytes, then its rows (Saves::Limits).
    const QList<FieldDef> tf = Fields::tarefas();
    DeltaPacket tooManyRows{tf, {}};
    for (int i = 0; i <= Saves::Limits().maxDeltaRows; ++i) {
        tooManyRows.entries.append({ChangeKind::Deleted, makeRow(tf, {{u"NRATIVIDADEFILIAL"_s, 1.0 + i}}), {}});
    }
    const QCborArray rows = packetArg(tooManyRows);
    const QCborArray bytes{QCborValue(QByteArray(Saves::Limits().maxDeltaBytes + 1, '\0'))};
    for (const QString &engine : {u"sqlite"_s, u"postgresql"_s}) {
        engineRow(engine, "delta of too many rows")
            << u"SetTarefas"_s << rows << u"SetTarefas: o pacote de alterações traz mais de 10000 linhas"_s;
        engineRow(engine, "delta of too many bytes")
            << u"SetOperadores"_s << bytes << u"tem 16777217 bytes, acima do limite de 16777216 bytes"_s;
        engineRow(engine, "unknown method") << u"ApagaTudo"_s << QCborArray{} << u"Método desconhecido"_s;
        engineRow(engine, "method in other case") << u"getprocessos"_s << QCborArray{} << u"Método desconhecido"_s;
        engineRow(engine, "argument too many") << u"GetProcessos"_s << QCborArray{1.0} << u"espera 0"_s;
        engineRow(engine, "argument missing") << u"GetTarefas"_s << QCborArray{} << u"espera 1"_s;
        engineRow(engine, "save with an argument too many")
            << u"SetOperadores"_s << QCborArray{QCborValue(QByteArray("x")), 1.0} << u"espera 1"_s;
        engineRow(engine, "text for a number") << u"GetTarefas"_s << QCborArray{u"1"_s} << u"deve ser um número"_s;
        engineRow(engine, "fraction for a key") << u"GetOperadores"_s << QCborArray{1.5} << u"número inteiro"_s;
        engineRow(engine, "number for a packet") << u"SetProcessos"_s << QCborArray{1.0} << u"pacote"_s;
        engineRow(engine, "garbage packet")
            << u"SetTarefas"_s << QCborArray{QCborValue(QByteArray("\xff\x00garbage", 9))}
            << u"Pacote de alterações inválido"_s;
        engineRow(engine, "data packet for a delta")
            << u"SetOperadores"_s << QCborArray{QCborValue(DataPacket{Fields::operadores(), {}}.encode())}
            << u"Pacote de alterações inválido"_s;
        engineRow(engine, "number for a text key") << u"GetAtividades"_s << QCborArray{12.0} << u"deve ser um texto"_s;
        engineRow(engine, "text key with letters")
            << u"SetAtividades"_s << QCborArray{u"12a"_s} << u"número inteiro escrito em texto"_s;
        engineRow(engine, "text key with decimals")
            << u"GetVerifTarefas"_s << QCborArray{u"1"_s, u"2.0"_s} << u"número inteiro escrito em texto"_s;
        engineRow(engine, "report of a process that does not exist")
            << u"GetRelatorioProcessos"_s << QCborArray{123456.0} << u"O processo 123456 não existe"_s;
        engineRow(engine, "report without its process") << u"GetRelatorioProcessos"_s << QCborArray{} << u"espera 1"_s;
        engineRow(engine, "redefine for someone else")
            << u"RedefinirAtividadesDia"_s << QCborArray{u"1"_s, u"MARIA"_s} << u"não é o operador conectado"_s;
    }
}

void TestRdmProcessoUnidade::badArguments()
{
    QFETCH(QString, method);
    QFETCH(QCborArray, args);
    QFETCH(QString, expected);
    auto client = m_env.login();
    QVERIFY(client);
    const RpcReply reply = client->call(method, args);
    QVERIFY2(refusalOf(reply).contains(expected), qPrintable(refusalOf(reply)));
    // The session goes on serving.
    QVERIFY(client->call(u"GetDataServidor"_s).ok);
}

// A delta is decoded an entry at a time and its frame let go once parsed:
// the server's memory for a save of many small rows stays near the packet's
// own size (it was eleven times it, as a list of rows of QVariants).
void TestRdmProcessoUnidade::deltaHeldNearItsSize()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer keeps freed memory aside: the peak would not be the server's own");
#endif
    QFile status(u"/proc/self/status"_s);
    QFile peak(u"/proc/self/clear_refs"_s);
    if (!status.exists() || !peak.open(QIODevice::WriteOnly)) {
        QSKIP("needs /proc/self/status and clear_refs (Linux)");
    }
    const auto kilobytes = [&status](const char *key) {
        status.open(QIODevice::ReadOnly);
        const QList<QByteArray> lines = status.readAll().split('\n');
        status.close();
        for (const QByteArray &line : lines) {
            if (line.startsWith(key)) {
                return line.mid(qstrlen(key)).trimmed().split(' ').value(0).toDouble();
            }
        }
        return 0.0;
    };
    QString why;
    QVERIFY2(m_env.start(u"sqlite"_s, &why), qPrintable(why));
    m_env.state().saveLimits.maxDeltaRows = 200'000; // past the default, to weigh many rows
    const QList<FieldDef> tf = Fields::tarefas();
    // Refused at its first row, a task nobody has: only the decoding weighs.
    DeltaPacket delta{tf, {{ChangeKind::Deleted, makeRow(tf, {{u"NRATIVIDADEFILIAL"_s, 987654.0}}), {}}}};
    for (int i = 0; i < 100'000; ++i) {
        delta.entries.append({ChangeKind::Inserted,
                              {},
                              makeRow(tf, {{u"NRATIVIDADEFILIAL"_s, -1.0 - i},
                                           {u"NRPROCESSOFILIAL"_s, 1.0},
                                           {u"NMATIVIDADEFILIAL"_s, u"Tarefa %1"_s.arg(i)},
                                           {u"CDPERIENTR"_s, u"DI"_s},
                                           {u"NRORDENAATIVIDADE"_s, 1.0 + i}})});
    }
    const double wire = double(delta.encode().size());
    const QByteArray frame = RpcWire::callFrame(1, u"SetTarefas"_s, packetArg(delta));
    delta = DeltaPacket();
    // The frame goes straight from here to the kernel, so the peak is the server's.
    QTcpSocket socket;
    socket.connectToHost(u"127.0.0.1"_s, m_env.port());
    QVERIFY(socket.waitForConnected(5000));
    socket.write(RpcWire::loginFrame(RdmProcessoUnidade::serverName, u"SUPERVISOR"_s, u"senha"_s));
    FrameDecoder decoder;
    const auto next = [&] {
        QByteArray payload;
        while (decoder.next(&payload) != FrameDecoder::Status::Frame && socket.waitForReadyRead(callTimeoutMs)) {
            decoder.feed(socket.readAll());
        }
        return RpcWire::parse(payload);
    };
    QVERIFY(next().ok);
    const double before = kilobytes("VmRSS:") * 1024;
    peak.write("5"); // the peak starts again from here
    peak.flush();
    for (qsizetype sent = 0; sent < frame.size();) {
        const auto n = ::send(int(socket.socketDescriptor()), frame.constData() + sent, size_t(frame.size() - sent), 0);
        if (n > 0) {
            sent += n;
        } else {
            QVERIFY(errno == EAGAIN || errno == EINTR);
            pollfd out{int(socket.socketDescriptor()), POLLOUT, 0};
            ::poll(&out, 1, 1000);
        }
    }
    const RpcMessage reply = next();
    const double grown = kilobytes("VmHWM:") * 1024 - before;
    QVERIFY2(!reply.ok && reply.error.contains(u"excluído por outro usuário"_s), qPrintable(reply.error));
    // The frame and the message's copy of the packet while it is parsed;
    // then that copy, the reader's bytes and the entry at hand.
    QVERIFY2(grown < 2.6 * wire, qPrintable(u"%1 MB for a delta of %2 MB"_s.arg(grown / 1e6).arg(wire / 1e6)));
    qInfo("a delta of %.1f MB took the server's memory %.2f times its size at the peak", wire / 1e6, grown / wire);
}

// ----- concurrency ----------------------------------------------------------------

void TestRdmProcessoUnidade::concurrentWriters()
{
    constexpr int clients = 6;
    constexpr int each = 8;
    std::atomic<int> failures{0};
    QString firstError;
    QMutex errorLock;
    QList<QThread *> threads;
    for (int c = 0; c < clients; ++c) {
        threads << QThread::create([&, c] {
            Client client;
            QString error;
            if (!client.open(m_env.port(), c % 2 ? u"MARIA"_s : u"SUPERVISOR"_s, c % 2 ? u"segredo"_s : u"senha"_s,
                             &error)) {
                ++failures;
                QMutexLocker lock(&errorLock);
                firstError = error;
                return;
            }
            const QList<FieldDef> f = Fields::processos();
            for (int i = 0; i < each; ++i) {
                const RpcReply reply =
                    client.call(u"SetProcessos"_s,
                                packetArg(inserted(f, {makeRow(f, {{u"NMPROCESSOFILIAL"_s, u"P%1-%2"_s.arg(c).arg(i)},
                                                                   {u"DTINIVIGENCIA"_s, today() + 1}})})));
                if (!reply.ok) {
                    ++failures;
                    QMutexLocker lock(&errorLock);
                    firstError = reply.error;
                }
            }
        });
    }
    for (QThread *t : threads) {
        t->start();
    }
    for (QThread *t : threads) {
        QVERIFY(t->wait(120'000));
        delete t;
    }
    QVERIFY2(failures.load() == 0, qPrintable(firstError));
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM PROCESSOFILIAL"_s), clients * each);
}

// The largest save one unit may send holds SQLite's write lock for less than
// the busy timeout: another unit's saves meanwhile wait for it, and succeed.
void TestRdmProcessoUnidade::longSaveDoesNotFailOthers()
{
    auto big = m_env.login();
    QVERIFY(big);
    const double process = newProcess(*big, u"Processo grande"_s);
    const QList<FieldDef> tf = Fields::tarefas();
    QList<Row> tasks;
    for (int i = 0; i < Saves::Limits().maxDeltaRows; ++i) {
        tasks.append(makeRow(tf, {{u"NRATIVIDADEFILIAL"_s, -1.0 - i},
                                  {u"NRPROCESSOFILIAL"_s, process},
                                  {u"NMATIVIDADEFILIAL"_s, u"Tarefa %1"_s.arg(i)},
                                  {u"CDPERIENTR"_s, u"DI"_s},
                                  {u"DSATIVIDADEFILIAL"_s, QString(200, u'x')}}));
    }
    const QCborArray args = packetArg(inserted(tf, tasks));
    std::atomic<bool> saving = true;
    QStringList failures;
    qint64 longestWait = 0;
    int saves = 0;
    QThread *other = QThread::create([&] {
        Client client;
        QString error;
        if (!client.open(m_env.port(), u"GERENTE"_s, u"senha"_s, &error)) {
            failures << error;
            return;
        }
        const QList<FieldDef> f = Fields::processos();
        while (saving) {
            QElapsedTimer wait;
            wait.start();
            const RpcReply reply = client.call(
                u"SetProcessos"_s, packetArg(inserted(f, {makeRow(f, {{u"NMPROCESSOFILIAL"_s, u"Norte"_s},
                                                                      {u"DTINIVIGENCIA"_s, today() + 1}})})));
            longestWait = qMax(longestWait, wait.elapsed());
            ++saves;
            if (!reply.ok) {
                failures << reply.error;
            }
        }
    });
    other->start();
    QElapsedTimer clock;
    clock.start();
    const RpcReply reply = big->call(u"SetTarefas"_s, args);
    const qint64 took = clock.elapsed();
    saving = false;
    QVERIFY(other->wait(60'000));
    delete other;
    QVERIFY2(reply.ok, qPrintable(reply.error));
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u'\n')));
    QVERIFY(saves > 0);
    qInfo("a save of %d tasks took %lld ms; %d saves of another unit meanwhile, the longest waited %lld ms",
          int(tasks.size()), took, saves, longestWait);
}

// A write lock held past SQLite's busy timeout (another program's, a disk
// that stalls) is told in words, not as "database is locked".
void TestRdmProcessoUnidade::busyDatabaseIsSaidSo()
{
    QString why;
    QVERIFY2(m_env.start(u"sqlite"_s, &why, [](DatabaseConfig &config) { config.busyTimeoutMs = 300; }),
             qPrintable(why));
    auto client = m_env.login();
    QVERIFY(client);
    QVERIFY(client->call(u"GetDataServidor"_s).ok); // today is generated: the next call only saves
    Sql::exec(m_env.db(), u"BEGIN IMMEDIATE"_s);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"falha em SetProcessos .*ocupado"_s));
    const QList<FieldDef> f = Fields::processos();
    const RpcReply reply =
        client->call(u"SetProcessos"_s, packetArg(inserted(f, {makeRow(f, {{u"NMPROCESSOFILIAL"_s, u"Espera"_s},
                                                                           {u"DTINIVIGENCIA"_s, today() + 1}})})));
    Sql::exec(m_env.db(), u"ROLLBACK"_s);
    QCOMPARE(reply.error,
             u"O banco de dados está ocupado com a gravação de outra sessão e não ficou livre a tempo; nada "
             "foi gravado. Tente de novo em instantes."_s);
    QVERIFY(newProcess(*client, u"Depois"_s) > 0);
}

void TestRdmProcessoUnidade::malformedPeersDoNotDisturbOthers()
{
    auto client = m_env.login();
    QVERIFY(client);
    const double number = newProcess(*client, u"Processo"_s);

    // An oversize length, a frame of garbage, a truncated frame: each peer
    // is answered or dropped, and the logged-in client goes on.
    const QList<QByteArray> attacks = {
        QByteArray::fromHex("ffffffff"),
        QByteArray::fromHex("00000004") + QByteArray("\xff\xfe\xfd\xfc", 4),
        QByteArray::fromHex("00001000") + QByteArray(100, 'x'),
    };
    QList<QTcpSocket *> peers;
    for (const QByteArray &bytes : attacks) {
        auto *peer = new QTcpSocket(this);
        peer->connectToHost(QHostAddress::LocalHost, m_env.port());
        QVERIFY(peer->waitForConnected(5000));
        peer->write(bytes);
        QVERIFY(peer->waitForBytesWritten(5000));
        peers << peer;
    }
    for (int i = 0; i < 3; ++i) {
        const DataPacket tasks = tasksOf(*client, number);
        QCOMPARE(tasks.fields, Fields::tarefas());
    }
    // The two complete faults get an answer or a closed connection.
    for (int i = 0; i < 2; ++i) {
        QTcpSocket *peer = peers.at(i);
        QTRY_VERIFY_WITH_TIMEOUT(peer->bytesAvailable() > 0 || peer->state() != QAbstractSocket::ConnectedState
                                     || peer->waitForReadyRead(100),
                                 15'000);
    }
    qDeleteAll(peers);
    QVERIFY(client->call(u"GetDataServidor"_s).ok);
}

// ----- the generated large unit -------------------------------------------------

void TestRdmProcessoUnidade::largeUnit()
{
    const Admin::LargeUnit made = Admin::loadLargeUnit(m_env.db(), u"0009"_s, 3, 4, 2, u"senha"_s, testCost);
    QCOMPARE(made.processes, 3);
    QCOMPARE(made.tasks, 12);
    QCOMPARE(made.responsibles, 24);
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM PROCESSOFILIAL WHERE CDUNIDADE = '0009'"_s), 3);
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM ATIVIDADEFILIAL t JOIN PROCESSOFILIAL p ON p.NRPROCESSOFILIAL = "
                         "t.NRPROCESSOFILIAL WHERE p.CDUNIDADE = '0009'"_s),
             12);
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM RESPATIVFILIAL r JOIN PROCESSOFILIAL p ON p.NRPROCESSOFILIAL = "
                         "r.NRPROCESSOFILIAL WHERE p.CDUNIDADE = '0009'"_s),
             24);
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM OPERADOR WHERE CDUNIDADE = '0009'"_s), 2);
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM GRUPOPEROPER WHERE CDGRUPOPER = ?"_s, {made.group}), 2);
    // The seeded groups keep their codes.
    QVERIFY(made.group != u"CX"_s && made.group != u"ES"_s);

    // The screen's calls, as the unit's supervisor, see all of it.
    auto client = m_env.login(made.firstOperator);
    QVERIFY(client);
    const DataPacket processes = dataOf(client->call(u"GetProcessos"_s));
    QCOMPARE(processes.rows.size(), 3);
    for (int p = 0; p < 3; ++p) {
        const DataPacket tasks = tasksOf(*client, valueOf(processes, p, u"NRPROCESSOFILIAL"_s).toDouble());
        QCOMPARE(tasks.rows.size(), 4);
        for (int t = 0; t < 4; ++t) {
            QCOMPARE(valueOf(tasks, t, u"NRORDENAATIVIDADE"_s).toInt(), t + 1);
            QCOMPARE(valueOf(tasks, t, u"NMATIVIDADEFILIAL"_s).toString(),
                     u"Tarefa %1 do processo %2"_s.arg(t + 1, 2, 10, QChar(u'0')).arg(p + 1, 4, 10, QChar(u'0')));
        }
        // Each task: its group, then one of the unit's operators.
        const DataPacket responsibles =
            dataOf(client->call(u"GetOperadores"_s, {valueOf(tasks, 0, u"NRATIVIDADEFILIAL"_s).toDouble()}));
        QCOMPARE(responsibles.rows.size(), 2);
        QCOMPARE(valueOf(responsibles, 0, u"CDGRUPOPER"_s).toString(), made.group);
        QVERIFY(valueOf(responsibles, 0, u"CDOPERADOR"_s).isNull());
        QVERIFY(valueOf(responsibles, 1, u"CDOPERADOR"_s).toString().startsWith(u"OP0009_"_s));
    }
    // The report: the unit, then each process followed by its tasks in
    // order, each followed by its responsibles.
    const DataPacket report = dataOf(client->call(u"GetRelatorioProcessos"_s, {0.0}));
    QString kinds;
    for (qsizetype i = 0; i < report.rows.size(); ++i) {
        kinds += valueOf(report, i, u"TPLINHA"_s).toString();
    }
    QCOMPARE(kinds, u"U"_s + (u"P"_s + u"TRR"_s.repeated(4)).repeated(3));
    QCOMPARE(valueOf(report, 0, u"NMUNIDADE"_s).toString(), u"Unidade 0009 (grande)"_s);
    QCOMPARE(valueOf(report, 2, u"NMATIVIDADEFILIAL"_s).toString(), u"Tarefa 01 do processo 0001"_s);
    QCOMPARE(valueOf(report, 3, u"DSGRUPOPER"_s).toString(), u"Equipe da unidade 0009"_s);
    QCOMPARE(valueOf(report, 11, u"NMATIVIDADEFILIAL"_s).toString(), u"Tarefa 04 do processo 0001"_s);
    QCOMPARE(valueOf(report, 14, u"NMPROCESSOFILIAL"_s).toString(), u"Processo 0002 da unidade 0009"_s);
    const double second = valueOf(processes, 1, u"NRPROCESSOFILIAL"_s).toDouble();
    QCOMPARE(dataOf(client->call(u"GetRelatorioProcessos"_s, {second})).rows.size(), 1 + 13);

    // Once is enough: a second run over the same unit writes nothing.
    QVERIFY_THROWS_EXCEPTION(EDatabaseError,
                             Admin::loadLargeUnit(m_env.db(), u"0009"_s, 1, 1, 1, u"senha"_s, testCost));
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM PROCESSOFILIAL WHERE CDUNIDADE = '0009'"_s), 3);

    // Sizes and texts out of range are refused before anything is written.
    for (const auto &[processCount, taskCount, responsibleCount] :
         {std::tuple{0, 1, 1}, std::tuple{1, 0, 1}, std::tuple{1, 1, 0}, std::tuple{1, 1, 100}}) {
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, Admin::loadLargeUnit(m_env.db(), u"0010"_s, processCount, taskCount,
                                                                      responsibleCount, u"senha"_s, testCost));
    }
    QVERIFY_THROWS_EXCEPTION(EDatabaseError,
                             Admin::loadLargeUnit(m_env.db(), u"00100"_s, 1, 1, 1, u"senha"_s, testCost));
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, Admin::loadLargeUnit(m_env.db(), u"0010"_s, 1, 1, 1, QString(), testCost));
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM UNIDADE WHERE CDUNIDADE = '0010'"_s), 0);

    // Another large unit has a group of its own; with more operators than
    // one task takes, each task's operators are still all different, they
    // take turns from task to task, and every tenth process ends.
    const Admin::LargeUnit other = Admin::loadLargeUnit(m_env.db(), u"0010"_s, 10, 2, 4, u"senha"_s, testCost);
    QVERIFY(other.group != made.group);
    QCOMPARE(other.firstOperator, u"OP0010_01"_s);
    QCOMPARE(other.lastOperator, u"OP0010_04"_s);
    QCOMPARE(m_env.count(
                 u"SELECT COUNT(*) FROM (SELECT r.NRATIVIDADEFILIAL FROM RESPATIVFILIAL r JOIN PROCESSOFILIAL p "
                 "ON p.NRPROCESSOFILIAL = r.NRPROCESSOFILIAL WHERE p.CDUNIDADE = '0010' GROUP BY r.NRATIVIDADEFILIAL "
                 "HAVING COUNT(DISTINCT r.CDOPERADOR) = 3 AND COUNT(r.CDGRUPOPER) = 1) x"_s),
             20);
    QCOMPARE(m_env.count(u"SELECT COUNT(DISTINCT r.CDOPERADOR) FROM RESPATIVFILIAL r JOIN PROCESSOFILIAL p "
                         "ON p.NRPROCESSOFILIAL = r.NRPROCESSOFILIAL WHERE p.CDUNIDADE = '0010'"_s),
             4);
    QCOMPARE(
        m_env.count(u"SELECT COUNT(*) FROM PROCESSOFILIAL WHERE CDUNIDADE = '0010' AND DTFINVIGENCIA IS NOT NULL"_s),
        1);
    auto supervisor = m_env.login(other.firstOperator);
    QVERIFY(supervisor);
    QCOMPARE(dataOf(supervisor->call(u"GetProcessos"_s)).rows.size(), 10);
}

QTEST_GUILESS_MAIN(TestRdmProcessoUnidade)
#include "tst_rdmprocessounidade.moc"
