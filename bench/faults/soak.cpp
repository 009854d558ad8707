// pru_soak: many clients of mixed reads and saves against the real pru_server
// process for a long time. Prints, per interval, each method's calls, errors
// and p50/p99 latency, and the server's resident memory at the start and the
// end.
//
//   pru_soak [--seconds N] [--clients N] [--interval N] [--engine sqlite|pg|all] [--server PATH]
//
// Exit code 0 only when no call failed and the memory grew by less than 10%
// between the end of the warm-up (first interval) and the end.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <random>
#include <vector>

#include "Workload.h"

using namespace Qt::StringLiterals;
using namespace Workload;

namespace {

// Six reads in ten; the saves go through whole scenarios, each ending with
// its process deleted, so the database stays the same size.
void runClient(int client, quint16 port, StatsSink *sink, std::atomic<int> *ready, std::atomic<bool> *stop,
               std::atomic<int> *faults)
{
    // The connection lives and dies in this thread, as its socket must.
    Client connection(sink);
    QString error;
    if (!connection.open(port, operatorCode(client), 30'000, &error)) {
        print(u"  login %1: %2"_s.arg(client).arg(error));
        ++*faults;
        ++*ready;
        return;
    }
    ++*ready;
    std::mt19937 random(quint32(client + 1));
    int serial = 0;
    Scenario scenario(QString(), true);
    bool idle = true;
    while (!stop->load()) {
        if (random() % 10 < 6) {
            if (randomRead(connection, random, idle ? 0 : scenario.processKey(), idle ? 0 : scenario.taskKey())
                != Client::Outcome::Ok) {
                ++*faults;
            }
            continue;
        }
        if (idle) {
            scenario = Scenario(u"S%1.%2 "_s.arg(client).arg(++serial), true);
            idle = false;
        }
        if (scenario.step(connection) != Client::Outcome::Ok) {
            ++*faults;
            if (!scenario.refusal().isEmpty()) {
                print(u"  ! "_s + scenario.refusal());
            }
        }
        idle = scenario.finished();
    }
}

QString row(const QString &method, const MethodStats &s)
{
    return u"    %1 %2 chamadas  %3 erros  p50 %4 ms  p99 %5 ms"_s.arg(method, -23)
        .arg(s.calls, 7)
        .arg(s.errors, 3)
        .arg(percentile(s.micros, 0.50) / 1000.0, 7, 'f', 2)
        .arg(percentile(s.micros, 0.99) / 1000.0, 7, 'f', 2);
}

bool soak(const QString &engine, const QString &program, int seconds, int clients, int interval)
{
    QTemporaryDir folder;
    Scratch scratch(engine, folder.path());
    scratch.seed();
    ServerProcess server(program, scratch.serverArguments(), folder.filePath(u"pru.port"_s));
    QString error;
    if (!server.start(&error)) {
        print(u"  "_s + error);
        return false;
    }
    const qint64 rssLaunch = server.residentKiB();
    std::atomic<bool> stop{false};
    std::atomic<int> faults{0};
    std::atomic<int> ready{0};
    std::vector<StatsSink> sinks(clients);
    QList<QThread *> threads;
    for (int c = 0; c < clients; ++c) {
        threads << QThread::create(runClient, c, server.port(), &sinks[c], &ready, &stop, &faults);
        threads.last()->start();
    }
    QElapsedTimer logins;
    logins.start();
    while (ready.load() < clients && logins.elapsed() < 60'000) {
        QThread::msleep(5);
    }
    const qint64 rssStart = server.residentKiB();
    print(u"  memória residente do servidor: %1 KiB ao partir, %2 KiB com %3 clientes conectados"_s.arg(rssLaunch)
              .arg(rssStart)
              .arg(clients));
    QElapsedTimer timer;
    timer.start();
    Stats total;
    qint64 rssWarm = 0;
    qint64 rssEnd = 0;
    for (int at = interval; at <= seconds; at += interval) {
        // Bounded by the clock: the last interval ends at the set time.
        while (timer.elapsed() < qint64(at) * 1000) {
            QThread::msleep(50);
        }
        // Measured while every client is still connected, the end included.
        const qint64 rss = server.residentKiB();
        if (at + interval > seconds) {
            stop = true;
            for (QThread *thread : threads) {
                thread->wait(60'000);
            }
        }
        Stats window;
        for (StatsSink &sink : sinks) {
            merge(window, sink.take());
        }
        merge(total, window);
        if (rssWarm == 0) {
            rssWarm = rss;
        }
        rssEnd = rss;
        qint64 calls = 0;
        for (const MethodStats &s : std::as_const(window)) {
            calls += s.calls;
        }
        print(u"  [%1 s] %2 chamadas (%3/s), memória %4 KiB"_s.arg(at, 4).arg(calls).arg(calls / interval).arg(rss));
        QStringList methods = window.keys();
        methods.sort();
        for (const QString &method : std::as_const(methods)) {
            print(row(method, window.value(method)));
        }
    }
    qDeleteAll(threads);
    const qint64 rssAfter = server.residentKiB();
    server.stop();
    qint64 calls = 0;
    qint64 errors = 0;
    print(u"  total em %1 s:"_s.arg(seconds));
    QStringList methods = total.keys();
    methods.sort();
    for (const QString &method : std::as_const(methods)) {
        calls += total.value(method).calls;
        errors += total.value(method).errors;
        print(row(method, total.value(method)));
    }
    const double growth = rssWarm > 0 ? 100.0 * double(rssEnd - rssWarm) / double(rssWarm) : 0;
    print(
        u"  %1 chamadas, %2 erros; memória residente: %3 KiB após o aquecimento, %4 KiB no fim (%5%6%), %7 KiB depois que os clientes saíram"_s
            .arg(calls)
            .arg(errors)
            .arg(rssWarm)
            .arg(rssEnd)
            .arg(growth >= 0 ? u"+"_s : QString())
            .arg(growth, 0, 'f', 1)
            .arg(rssAfter));
    return errors == 0 && faults.load() == 0 && calls > 0 && growth < 10.0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(u"Carga contínua de leituras e gravações sobre o servidor de aplicação."_s);
    parser.addHelpOption();
    parser.addOptions({
        {u"seconds"_s, u"Duração por banco (padrão 600)."_s, u"n"_s, u"600"_s},
        {u"clients"_s, u"Clientes simultâneos (padrão 32)."_s, u"n"_s, u"32"_s},
        {u"interval"_s, u"Segundos entre relatórios (padrão 60)."_s, u"n"_s, u"60"_s},
        {u"engine"_s, u"sqlite, pg ou all (padrão: all; pg só com PRU_TEST_PG)."_s, u"banco"_s, u"all"_s},
        {u"server"_s, u"Programa pru_server (padrão: ao lado deste)."_s, u"arquivo"_s},
    });
    parser.process(app);
    const int seconds = qBound(1, parser.value(u"seconds"_s).toInt(), 7 * 24 * 3600);
    const int clients = qBound(1, parser.value(u"clients"_s).toInt(), 200);
    const int interval = qBound(1, parser.value(u"interval"_s).toInt(), seconds);
    const QString program = Workload::serverProgram(parser.value(u"server"_s));
    const QStringList engineNames = engines(parser.value(u"engine"_s));
    bool sound = true;
    for (const QString &name : engineNames) {
        print(u"== %1: %2 clientes por %3 s"_s.arg(name).arg(clients).arg(seconds));
        try {
            sound = soak(name, program, seconds, clients, interval) && sound;
        } catch (const EDatabaseError &e) {
            print(u"  falha: "_s + e.message());
            sound = false;
        }
    }
    print(sound ? u"== nenhuma falha"_s : u"== FALHOU"_s);
    return sound ? 0 : 1;
}
