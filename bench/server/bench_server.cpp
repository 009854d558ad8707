// Latency of GetTarefas (a process of 50 tasks) and GetOperadores through the
// real server on loopback, as a ratio to the same SELECT run directly on the
// same database in this program; then calls per second with 1, 8 and 32
// concurrent clients. SQLite always; PostgreSQL too when PRU_TEST_PG names a
// server (a throwaway database is created there and dropped).

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>

#include "Admin.h"
#include "Database.h"
#include "Fields.h"
#include "Packet.h"
#include "RdmProcessoUnidade.h"
#include "RpcClient.h"
#include "RpcServer.h"
#include "ServerClock.h"
#include "Sql.h"

using namespace Qt::StringLiterals;

namespace {

constexpr int taskCount = 50;
constexpr int operatorsPerTask = 4;
constexpr int timeoutMs = 30'000;

void print(const QString &text)
{
    std::fputs(qPrintable(text + u'\n'), stdout);
    std::fflush(stdout);
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
    for (int i = 0; i < operatorsPerTask; ++i) {
        Admin::addOperator(db, u"OP%1"_s.arg(i), u"Operador %1"_s.arg(i), u"0001"_s, u"senha"_s, PasswordHash::Cost::minimal());
    }
    TransactionGuard guard(db);
    Sql::exec(db, u"INSERT INTO PERIENTR (CDPERIENTR, NMPERIENTR, IDTIPODIA) VALUES ('DI', 'Diária', 'D')"_s);
    Seeded s;
    s.process = Sql::insertReturningKey(db,
        u"INSERT INTO PROCESSOFILIAL (CDUNIDADE, NMPROCESSOFILIAL, DTINIVIGENCIA, CDOPERATU, DTATUALIZACAO) "
        "VALUES ('0001', 'Processo de medida', ?, 'OP0', ?) RETURNING NRPROCESSOFILIAL"_s,
        {ServerClock::todayDays(), ServerClock::nowDays()});
    for (int t = 1; t <= taskCount; ++t) {
        const qint64 task = Sql::insertReturningKey(db,
            u"INSERT INTO ATIVIDADEFILIAL (NRPROCESSOFILIAL, NMATIVIDADEFILIAL, CDTELAATIVIDADE, CDMODULOATIVIDADE, CDPERIENTR, "
            "DSATIVIDADEFILIAL, NRORDENAATIVIDADE, CDOPERATU) VALUES (?, ?, 'TELA0001', 'MOD', 'DI', ?, ?, 'OP0') RETURNING NRATIVIDADEFILIAL"_s,
            {s.process, u"Tarefa número %1 do processo de medida"_s.arg(t), u"Observação da tarefa %1"_s.arg(t).repeated(5), t});
        for (int o = 0; o < operatorsPerTask; ++o) {
            Sql::insertReturningKey(db,
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

// Mean microseconds per run of the SELECT, reading every row and value.
double directMicros(QSqlDatabase &db, const QString &text, qint64 key, int runs)
{
    // Prepared once, as a program that runs it often would.
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(text);
    QElapsedTimer timer;
    timer.start();
    qint64 sink = 0;
    for (int i = 0; i < runs; ++i) {
        Sql::rerun(query, text, {key});
        const int columns = query.record().count();
        while (query.next()) {
            for (int c = 0; c < columns; ++c) {
                sink += query.value(c).isNull() ? 0 : 1;
            }
        }
        query.finish();
    }
    if (sink < 0) {
        print(u"?"_s);
    }
    return double(timer.nsecsElapsed()) / 1000.0 / runs;
}

double rpcMicros(RpcClient &client, const QString &method, double key, int runs, int expectedRows)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < runs; ++i) {
        const RpcReply reply = client.call(method, {key}, timeoutMs);
        if (!reply.ok) {
            print(u"  %1 falhou: %2"_s.arg(method, reply.error));
            return -1;
        }
        if (i == 0 && DataPacket::decode(reply.value.toByteArray()).rows.size() != expectedRows) {
            print(u"  %1: número de linhas inesperado"_s.arg(method));
            return -1;
        }
    }
    return double(timer.nsecsElapsed()) / 1000.0 / runs;
}

double callsPerSecond(quint16 port, int clients, double process, int seconds)
{
    std::atomic<qint64> calls{0};
    std::atomic<int> failures{0};
    std::atomic<bool> go{false};
    std::atomic<bool> stop{false};
    std::atomic<int> ready{0};
    QList<QThread *> threads;
    for (int c = 0; c < clients; ++c) {
        threads << QThread::create([&, c] {
            RpcClient client;
            QString error;
            const bool open = client.open(u"127.0.0.1"_s, port, RdmProcessoUnidade::serverName,
                                          u"OP%1"_s.arg(c % operatorsPerTask), u"senha"_s, timeoutMs, &error);
            ++ready;
            if (!open) {
                ++failures;
                return;
            }
            while (!go.load()) {
                QThread::usleep(100);
            }
            while (!stop.load()) {
                if (client.call(u"GetTarefas"_s, {process}, timeoutMs).ok) {
                    ++calls;
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
    return double(calls.load()) / elapsed;
}

void benchmark(const QString &engineName, const DatabaseConfig &config)
{
    print(u"== %1"_s.arg(engineName));
    ScopedConnection direct(config, u"bench-direct"_s);
    const Seeded s = seed(direct.db());
    auto state = std::make_shared<ServerState>(config);
    RpcServer server(RdmProcessoUnidade::factory(state));
    QString error;
    if (!server.listen(QHostAddress::LocalHost, 0, &error)) {
        print(u"  listen: "_s + error);
        return;
    }
    RpcClient client;
    if (!client.open(u"127.0.0.1"_s, server.port(), RdmProcessoUnidade::serverName, u"OP0"_s, u"senha"_s, timeoutMs, &error)) {
        print(u"  login: "_s + error);
        return;
    }
    // Warm both paths first (connections, statements, the day's generation).
    rpcMicros(client, u"GetTarefas"_s, double(s.process), 50, taskCount);
    directMicros(direct.db(), Fields::selectTarefas, s.process, 50);

    // Rounds alternate the two paths, and the median round is reported, so
    // that the noise of a shared machine hits both alike.
    const int rounds = 7;
    const int runs = 150;
    auto median = [](QList<double> values) {
        std::sort(values.begin(), values.end());
        return values.at(values.size() / 2);
    };
    QList<double> tasksDirect, tasksRpc, opsDirect, opsRpc, ratioTasks, ratioOps;
    for (int r = 0; r < rounds; ++r) {
        tasksDirect << directMicros(direct.db(), Fields::selectTarefas, s.process, runs);
        tasksRpc << rpcMicros(client, u"GetTarefas"_s, double(s.process), runs, taskCount);
        opsDirect << directMicros(direct.db(), Fields::selectOperadores, s.task, runs);
        opsRpc << rpcMicros(client, u"GetOperadores"_s, double(s.task), runs, operatorsPerTask);
        ratioTasks << tasksRpc.last() / tasksDirect.last();
        ratioOps << opsRpc.last() / opsDirect.last();
    }
    print(u"  GetTarefas (%1 tarefas):   %2 us por chamada; SELECT direto %3 us; razão %4"_s.arg(taskCount)
              .arg(median(tasksRpc), 0, 'f', 1).arg(median(tasksDirect), 0, 'f', 1).arg(median(ratioTasks), 0, 'f', 2));
    print(u"  GetOperadores (%1 linhas): %2 us por chamada; SELECT direto %3 us; razão %4"_s.arg(operatorsPerTask)
              .arg(median(opsRpc), 0, 'f', 1).arg(median(opsDirect), 0, 'f', 1).arg(median(ratioOps), 0, 'f', 2));
    client.close();
    double single = 0;
    for (int clients : {1, 8, 32}) {
        const double rate = callsPerSecond(server.port(), clients, double(s.process), 3);
        if (clients == 1) {
            single = rate;
        }
        print(u"  %1 cliente(s) simultâneo(s): %2 chamadas GetTarefas/s (razão a 1 cliente: %3)"_s.arg(clients, 2)
                  .arg(rate, 0, 'f', 0).arg(single > 0 ? rate / single : 0, 0, 'f', 2));
    }
    server.close();
}

}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
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
            options = options.contains(dbname) ? options.replace(dbname, u"dbname="_s + name) : options + u" dbname="_s + name;
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
