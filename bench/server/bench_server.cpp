// Where a call's time goes against what it cannot avoid, each printed as a
// ratio measured in this one run on this machine:
//  1. GetTarefas (50 tasks) and GetOperadores (4 rows) as the screen sees
//     them, from the call to the record set filled and its grid told, against
//     a bare round trip of the same bytes plus the same SELECT run directly
//     through the same driver, reading every column;
//  2. GetTarefas calls per second with 1, 8 and 32 clients against as many
//     threads running that SELECT directly, each on its own connection;
//  3. saving one process with 20 tasks and 100 responsibles as the screen
//     does (three deltas) against the same inserts in one transaction.
// SQLite always; PostgreSQL too when PRU_TEST_PG names a server (a throwaway
// database is created there and dropped).

#include <QApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "Admin.h"
#include "BareRoundTrip.h"
#include "Database.h"
#include "Fields.h"
#include "FrameworkServices.h"
#include "GridDefinitions.h"
#include "Packet.h"
#include "RdmProcessoUnidade.h"
#include "KeptModules.h"
#include "RecordSetDefinitions.h"
#include "RpcClient.h"
#include "RpcServer.h"
#include "ServerClock.h"
#include "Sql.h"
#include "TClientDataSet.h"
#include "TDBGrid.h"
#include "TDataSource.h"
#include "TField.h"
#include "TNetConnection.h"

using namespace Qt::StringLiterals;

namespace {

constexpr int taskCount = 50;
constexpr int operatorsPerTask = 4;
constexpr int operatorCount = 5; // the save gives each new task five responsibles
constexpr int savedTasks = 20;
constexpr int timeoutMs = 30'000;

void print(const QString &text)
{
    std::fputs(qPrintable(text + u'\n'), stdout);
    std::fflush(stdout);
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

double microsOf(const std::function<void()> &work, int runs)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < runs; ++i) {
        work();
    }
    return double(timer.nsecsElapsed()) / 1000.0 / runs;
}

struct Seeded
{
    qint64 process = 0;
    qint64 task = 0;
};

Seeded seed(QSqlDatabase &db)
{
    Database::migrate(db);
    Admin::addUnit(db, u"0001"_s, u"Loja"_s);
    // Cheap hashes: the benchmark measures calls, not logins.
    for (int i = 0; i < operatorCount; ++i) {
        Admin::addOperator(db, u"OP%1"_s.arg(i), u"Operador %1"_s.arg(i), u"0001"_s, u"senha"_s,
                           PasswordHash::Cost::minimal());
    }
    TransactionGuard guard(db);
    Sql::exec(db, u"INSERT INTO PERIENTR (CDPERIENTR, NMPERIENTR, IDTIPODIA) VALUES ('DI', 'Diária', 'D')"_s);
    Seeded s;
    s.process = Sql::insertReturningKey(
        db,
        u"INSERT INTO PROCESSOFILIAL (CDUNIDADE, NMPROCESSOFILIAL, DTINIVIGENCIA, CDOPERATU, DTATUALIZACAO) "
        "VALUES ('0001', 'Processo de medida', ?, 'OP0', ?) RETURNING NRPROCESSOFILIAL"_s,
        {ServerClock::todayDays(), ServerClock::nowDays()});
    for (int t = 1; t <= taskCount; ++t) {
        const qint64 task = Sql::insertReturningKey(
            db,
            u"INSERT INTO ATIVIDADEFILIAL (NRPROCESSOFILIAL, NMATIVIDADEFILIAL, CDTELAATIVIDADE, CDMODULOATIVIDADE, CDPERIENTR, "
            "DSATIVIDADEFILIAL, NRORDENAATIVIDADE, CDOPERATU) VALUES (?, ?, 'TELA0001', 'MOD', 'DI', ?, ?, 'OP0') RETURNING NRATIVIDADEFILIAL"_s,
            {s.process, u"Tarefa número %1 do processo de medida"_s.arg(t),
             u"Observação da tarefa %1"_s.arg(t).repeated(5), t});
        for (int o = 0; o < operatorsPerTask; ++o) {
            Sql::insertReturningKey(
                db,
                u"INSERT INTO RESPATIVFILIAL (NRATIVIDADEFILIAL, NRPROCESSOFILIAL, CDOPERADOR, IDEXECUTA, IDVALIDA, CDOPERATU) "
                "VALUES (?, ?, ?, 'S', 'N', 'OP0') RETURNING NRRESPATIVFILIAL"_s,
                {task, s.process, u"OP%1"_s.arg(o)});
        }
        if (t == 1) {
            s.task = task;
        }
    }
    guard.commit();
    return s;
}

// One run of the SELECT through the driver, prepared once as a program that
// runs it often would, reading every row and value.
class DirectSelect
{
public:
    DirectSelect(QSqlDatabase &db, const QString &text)
        : m_text(text)
        , m_query(db)
    {
        m_query.setForwardOnly(true);
        m_query.prepare(text);
    }
    void run(qint64 key)
    {
        Sql::rerun(m_query, m_text, {key});
        const int columns = m_query.record().count();
        while (m_query.next()) {
            for (int c = 0; c < columns; ++c) {
                m_sink += m_query.value(c).isNull() ? 0 : 1;
            }
        }
        m_query.finish();
    }

private:
    QString m_text;
    QSqlQuery m_query;
    qint64 m_sink = 0;
};

// A level of the screen: its record set and its grid, each built from its
// definition as the screen builds them, filled from the server through the
// screen's connection.
struct ScreenLevel
{
    ScreenLevel(const QString &name, const QString &gridName)
    {
        cds.setObjectName(name);
        RecordSetDefinitions::apply(&cds, name);
        source.setDataSet(&cds);
        grid.setDataSource(&source);
        GridDefinitions::apply(&grid, gridName);
    }
    void load(TNetConnection &net, const QString &method, double key)
    {
        const RpcReply reply = net.AppServer()->call(method, QCborArray{key});
        cds.SetData(reply.packet());
    }
    TClientDataSet cds;
    TDataSource source;
    TDBGrid grid;
};

struct Latency
{
    QString label;
    QString method;
    QString recordSet;
    QString grid;
    QString select;
    qint64 key = 0;
    int rows = 0;
    QList<double> screen, call, bare, direct, ratio;
};

void measureLatency(QSqlDatabase &db, TNetConnection &net, RpcClient &client, QList<Latency> &calls)
{
    struct Paths
    {
        std::unique_ptr<ScreenLevel> level;
        qsizetype requestBytes = 0;
        qsizetype replyBytes = 0;
        std::unique_ptr<DirectSelect> direct;
    };
    BareEchoServer echo;
    BareRoundTrip bareTrip(echo.port());
    std::vector<Paths> paths;
    for (Latency &call : calls) {
        Paths p;
        p.level = std::make_unique<ScreenLevel>(call.recordSet, call.grid);
        p.level->load(net, call.method, double(call.key));
        if (p.level->cds.RecordCount() != call.rows) {
            print(u"  %1: %2 linhas, esperadas %3"_s.arg(call.method).arg(p.level->cds.RecordCount()).arg(call.rows));
        }
        // The same bytes each way as the real call.
        const RpcReply reply = client.call(call.method, {double(call.key)}, timeoutMs);
        p.requestBytes = BareRoundTrip::callBytes(call.method, {double(call.key)});
        p.replyBytes = BareRoundTrip::replyBytes(reply.value);
        p.direct = std::make_unique<DirectSelect>(db, call.select);
        paths.push_back(std::move(p));
    }
    // Rounds alternate the paths, and the median round is reported, so that
    // the noise of a shared machine hits all alike. The first round warms.
    // BENCH_ROUNDS=100 gives a profiler time to look.
    const int rounds =
        qEnvironmentVariableIsSet("BENCH_ROUNDS") ? qMax(2, qEnvironmentVariableIntValue("BENCH_ROUNDS")) : 8;
    const int runs = 150;
    for (int r = 0; r < rounds; ++r) {
        for (qsizetype i = 0; i < calls.size(); ++i) {
            Latency &call = calls[i];
            Paths &p = paths[i];
            // Each run takes one of each in turn: a loopback trip costs far
            // more when a core must wake from idle, and taken side by side
            // the four paths meet the machine in the same state.
            double screen = 0, callOnly = 0, bare = 0, direct = 0;
            for (int k = 0; k < runs; ++k) {
                screen += microsOf([&] { p.level->load(net, call.method, double(call.key)); }, 1);
                callOnly += microsOf([&] { client.call(call.method, {double(call.key)}, timeoutMs); }, 1);
                bare += bareTrip.meanMicros(p.requestBytes, p.replyBytes, 1);
                direct += microsOf([&] { p.direct->run(call.key); }, 1);
            }
            screen /= runs;
            callOnly /= runs;
            bare /= runs;
            direct /= runs;
            if (r == 0) {
                continue;
            }
            call.screen << screen;
            call.call << callOnly;
            call.bare << bare;
            call.direct << direct;
            call.ratio << screen / (bare + direct);
        }
    }
}

// Calls per second, each of `clients` threads doing work(thread) in a loop.
double perSecond(int clients, int seconds, const std::function<std::function<bool()>(int)> &makeWorker)
{
    std::atomic<qint64> done{0};
    std::atomic<int> failures{0};
    std::atomic<bool> go{false};
    std::atomic<bool> stop{false};
    std::atomic<int> ready{0};
    QList<QThread *> threads;
    for (int c = 0; c < clients; ++c) {
        threads << QThread::create([&, c] {
            std::function<bool()> work;
            try {
                work = makeWorker(c);
            } catch (...) { }
            ++ready;
            if (!work) {
                ++failures;
                return;
            }
            while (!go.load()) {
                QThread::usleep(100);
            }
            while (!stop.load()) {
                if (work()) {
                    ++done;
                } else {
                    ++failures;
                }
            }
        });
        threads.last()->start();
    }
    while (ready.load() < clients) {
        QThread::msleep(5);
    }
    QElapsedTimer timer;
    timer.start();
    go = true;
    QThread::sleep(seconds);
    stop = true;
    const double elapsed = double(timer.nsecsElapsed()) / 1e9;
    for (QThread *t : threads) {
        t->wait();
        delete t;
    }
    if (failures.load() > 0) {
        print(u"  %1 falhas"_s.arg(failures.load()));
    }
    return double(done.load()) / elapsed;
}

void measureThroughput(const DatabaseConfig &config, quint16 port, qint64 process)
{
    for (int clients : {1, 8, 32}) {
        const double rpc = perSecond(clients, 3, [&](int c) -> std::function<bool()> {
            auto client = std::make_shared<RpcClient>();
            QString error;
            if (!client->open(u"127.0.0.1"_s, port, RdmProcessoUnidade::serverName, u"OP%1"_s.arg(c % operatorCount),
                              u"senha"_s, timeoutMs, &error)) {
                return {};
            }
            return [client, process] { return client->call(u"GetTarefas"_s, {double(process)}, timeoutMs).ok; };
        });
        const double raw = perSecond(clients, 3, [&](int c) -> std::function<bool()> {
            // Opened and used in the thread that runs it, as the server does.
            struct Raw
            {
                std::unique_ptr<ScopedConnection> connection;
                std::unique_ptr<DirectSelect> select;
            };
            auto own = std::make_shared<Raw>();
            own->connection = std::make_unique<ScopedConnection>(config, u"bench-raw-%1"_s.arg(c));
            own->select = std::make_unique<DirectSelect>(own->connection->db(), Fields::selectTarefas);
            return [own, process] {
                own->select->run(process);
                return true;
            };
        });
        print(u"  %1 cliente(s): GetTarefas %2/s; SELECT direto em %1 conexão(ões) %3/s; razão %4 (meta ≥ 0,60)"_s
                  .arg(clients, 2)
                  .arg(rpc, 0, 'f', 0)
                  .arg(raw, 0, 'f', 0)
                  .arg(rpc / raw, 0, 'f', 2));
    }
}

// One process with savedTasks tasks, each with operatorCount responsibles,
// saved as the screen saves them: process, then tasks, then responsibles.
double screenSave(TNetConnection &net)
{
    QElapsedTimer timer;
    qint64 spent = 0;
    auto save = [&](TClientDataSet &cds, const QString &method) {
        const QByteArray delta = cds.GetDelta();
        timer.start();
        const RpcReply reply = net.AppServer()->call(method, QCborArray{delta});
        spent += timer.nsecsElapsed();
        cds.MergeChangeLog();
        return reply;
    };
    const double today = ServerClock::todayDays();
    TClientDataSet processes;
    RecordSetDefinitions::apply(&processes, u"cdsProcessos"_s);
    processes.CreateDataSet();
    processes.Append();
    processes.FieldByName(u"NMPROCESSOFILIAL"_s)->setAsString(u"Processo gravado pela medida"_s);
    processes.FieldByName(u"DTINIVIGENCIA"_s)->setAsDateTime(today);
    processes.Post();
    const double process = save(processes, u"SetProcessos"_s).number();

    TClientDataSet tasks;
    RecordSetDefinitions::apply(&tasks, u"cdsTarefas"_s);
    tasks.CreateDataSet();
    for (int t = 1; t <= savedTasks; ++t) {
        tasks.Append();
        tasks.FieldByName(u"NRPROCESSOFILIAL"_s)->setAsFloat(process);
        tasks.FieldByName(u"NMATIVIDADEFILIAL"_s)->setAsString(u"Tarefa gravada %1"_s.arg(t));
        tasks.FieldByName(u"CDPERIENTR"_s)->setAsString(u"DI"_s);
        tasks.FieldByName(u"NRORDENAATIVIDADE"_s)->setAsFloat(t);
        tasks.Post();
    }
    save(tasks, u"SetTarefas"_s);

    // The keys the server gave the tasks, as the screen reads them back.
    TClientDataSet saved;
    RecordSetDefinitions::apply(&saved, u"cdsTarefas"_s);
    saved.SetData(net.AppServer()->call(u"GetTarefas"_s, QCborArray{process}).packet());
    TClientDataSet responsibles;
    RecordSetDefinitions::apply(&responsibles, u"cdsOperadores"_s);
    responsibles.CreateDataSet();
    for (saved.First(); !saved.Eof(); saved.Next()) {
        for (int o = 0; o < operatorCount; ++o) {
            responsibles.Append();
            responsibles.FieldByName(u"NRATIVIDADEFILIAL"_s)
                ->setAsFloat(saved.FieldByName(u"NRATIVIDADEFILIAL"_s)->AsFloat());
            responsibles.FieldByName(u"NRPROCESSOFILIAL"_s)->setAsFloat(process);
            responsibles.FieldByName(u"CDOPERADOR"_s)->setAsString(u"OP%1"_s.arg(o));
            responsibles.FieldByName(u"IDEXECUTA"_s)->setAsString(u"S"_s);
            responsibles.FieldByName(u"IDVALIDA"_s)->setAsString(u"N"_s);
            responsibles.Post();
        }
    }
    save(responsibles, u"SetOperadores"_s);
    return double(spent) / 1000.0;
}

// The same rows inserted directly in one transaction, each INSERT prepared
// once and run again with new values.
double directSave(QSqlDatabase &db)
{
    QElapsedTimer timer;
    timer.start();
    TransactionGuard guard(db);
    struct Insert
    {
        Insert(QSqlDatabase &db, const QString &insert)
            : text(insert)
            , query(db)
        {
            query.setForwardOnly(true);
            query.prepare(insert);
        }
        qint64 run(const QVariantList &values)
        {
            Sql::rerun(query, text, values);
            query.next();
            const qint64 key = query.value(0).toLongLong();
            query.finish();
            return key;
        }
        QString text;
        QSqlQuery query;
    };
    Insert processes(
        db, u"INSERT INTO PROCESSOFILIAL (CDUNIDADE, NMPROCESSOFILIAL, DTINIVIGENCIA, CDOPERATU, DTATUALIZACAO, "
            "IDSITUACAO) VALUES ('0001', ?, ?, 'OP0', ?, 'S') RETURNING NRPROCESSOFILIAL"_s);
    Insert tasks(
        db,
        u"INSERT INTO ATIVIDADEFILIAL (NRPROCESSOFILIAL, NMATIVIDADEFILIAL, CDPERIENTR, NRORDENAATIVIDADE, CDOPERATU, "
        "DTATUALIZACAO) VALUES (?, ?, 'DI', ?, 'OP0', ?) RETURNING NRATIVIDADEFILIAL"_s);
    Insert responsibles(
        db, u"INSERT INTO RESPATIVFILIAL (NRATIVIDADEFILIAL, NRPROCESSOFILIAL, CDOPERADOR, IDEXECUTA, IDVALIDA, "
            "CDOPERATU, DTATUALIZACAO) VALUES (?, ?, ?, 'S', 'N', 'OP0', ?) RETURNING NRRESPATIVFILIAL"_s);
    const double now = ServerClock::nowDays();
    const qint64 process = processes.run({u"Processo gravado direto"_s, ServerClock::todayDays(), now});
    for (int t = 1; t <= savedTasks; ++t) {
        const qint64 task = tasks.run({process, u"Tarefa gravada %1"_s.arg(t), t, now});
        for (int o = 0; o < operatorCount; ++o) {
            responsibles.run({task, process, u"OP%1"_s.arg(o), now});
        }
    }
    guard.commit();
    return double(timer.nsecsElapsed()) / 1000.0;
}

// BENCH_PART=latency, throughput or save runs only that part, so that a
// profiler sees one thing at a time.
bool runs(const char *part)
{
    const QByteArray only = qgetenv("BENCH_PART");
    return only.isEmpty() || only == part;
}

void benchmark(const QString &engineName, const DatabaseConfig &config)
{
    print(u"== %1"_s.arg(engineName));
    ScopedConnection direct(config, u"bench-direct"_s);
    const Seeded s = seed(direct.db());
    auto state = std::make_shared<ServerState>(config);
    RpcServer server(KeptModules::factory(state));
    QString error;
    if (!server.listen(QHostAddress::LocalHost, 0, &error)) {
        print(u"  listen: "_s + error);
        return;
    }
    setSession({u"OP0"_s, u"senha"_s, u"127.0.0.1"_s, server.port(), {}, {}});
    TNetConnection net;
    net.setServerName(RdmProcessoUnidade::serverName);
    net.setHost(u"127.0.0.1"_s);
    net.setPort(server.port());
    RpcClient client;
    try {
        net.Open();
    } catch (const EDatabaseError &e) {
        print(u"  login: "_s + e.message());
        return;
    }
    if (!client.open(u"127.0.0.1"_s, server.port(), RdmProcessoUnidade::serverName, u"OP1"_s, u"senha"_s, timeoutMs,
                     &error)) {
        print(u"  login: "_s + error);
        return;
    }

    QList<Latency> calls = {
        {u"GetTarefas (%1 tarefas)"_s.arg(taskCount),
         u"GetTarefas"_s,
         u"cdsTarefas"_s,
         u"dbgTarefas"_s,
         Fields::selectTarefas,
         s.process,
         taskCount,
         {},
         {},
         {},
         {},
         {}},
        {u"GetOperadores (%1 linhas)"_s.arg(operatorsPerTask),
         u"GetOperadores"_s,
         u"cdsOperadores"_s,
         u"dbgOperadores"_s,
         Fields::selectOperadores,
         s.task,
         operatorsPerTask,
         {},
         {},
         {},
         {},
         {}},
    };
    if (runs("latency")) {
        measureLatency(direct.db(), net, client, calls);
    }
    for (const Latency &call : std::as_const(calls)) {
        if (call.screen.isEmpty()) {
            continue;
        }
        print(
            u"  %1: tela %2 us (a chamada só, sem preencher: %3 us); ida e volta pura %4 us + SELECT direto %5 us; razão %6 (meta ≤ 1,30)"_s
                .arg(call.label)
                .arg(median(call.screen), 0, 'f', 1)
                .arg(median(call.call), 0, 'f', 1)
                .arg(median(call.bare), 0, 'f', 1)
                .arg(median(call.direct), 0, 'f', 1)
                .arg(median(call.ratio), 0, 'f', 2));
    }
    client.close();

    if (runs("throughput")) {
        measureThroughput(config, server.port(), s.process);
    }

    QList<double> screenSaves, directSaves, ratios;
    const int saveRounds =
        runs("save")
            ? (qEnvironmentVariableIsSet("BENCH_ROUNDS") ? qMax(2, qEnvironmentVariableIntValue("BENCH_ROUNDS")) : 6)
            : 0;
    for (int r = 0; r < saveRounds; ++r) {
        const double viaScreen = screenSave(net);
        const double viaDirect = directSave(direct.db());
        if (r == 0) {
            continue; // warms both
        }
        screenSaves << viaScreen;
        directSaves << viaDirect;
        ratios << viaScreen / viaDirect;
    }
    if (saveRounds > 0)
        print(
            u"  Gravar 1 processo, %1 tarefas e %2 responsáveis: tela %3 us; inclusões diretas numa transação %4 us; razão %5 (meta ≤ 2,00)"_s
                .arg(savedTasks)
                .arg(savedTasks * operatorCount)
                .arg(median(screenSaves), 0, 'f', 0)
                .arg(median(directSaves), 0, 'f', 0)
                .arg(median(ratios), 0, 'f', 2));
    net.Close();
    server.close();
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    print(u"bench_server: %1 núcleos"_s.arg(QThread::idealThreadCount()));
    {
        QTemporaryDir dir;
        benchmark(u"SQLite"_s, DatabaseConfig::sqlite(dir.filePath(u"bench.sqlite"_s)));
    }
    const QString pg = qEnvironmentVariable("PRU_TEST_PG");
    if (!pg.isEmpty()) {
        const QString name = u"pru_bench_%1"_s.arg(QCoreApplication::applicationPid());
        try {
            {
                ScopedConnection admin(DatabaseConfig::postgres(pg), u"bench-admin"_s);
                Sql::exec(admin.db(), u"CREATE DATABASE "_s + name);
            }
            QString options = pg;
            static const QRegularExpression dbname(u"dbname=\\S+"_s);
            options = options.contains(dbname) ? options.replace(dbname, u"dbname="_s + name)
                                               : options + u" dbname="_s + name;
            benchmark(u"PostgreSQL"_s, DatabaseConfig::postgres(options));
            ScopedConnection admin(DatabaseConfig::postgres(pg), u"bench-admin"_s);
            Sql::exec(admin.db(), u"DROP DATABASE IF EXISTS %1 WITH (FORCE)"_s.arg(name));
        } catch (const EDatabaseError &e) {
            print(u"PostgreSQL: "_s + e.message());
        }
    } else {
        print(u"(PostgreSQL: defina PRU_TEST_PG para medir também)"_s);
    }
    return 0;
}
