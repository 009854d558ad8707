// pru_crash: the application server killed with SIGKILL at random moments
// while clients save deltas of every level through the real wire protocol,
// restarted each time; then every delta is checked to be stored whole or not
// at all, no key held twice, and each process's situation to agree with its
// tasks and today's occurrences.
//
//   pru_crash [--kills N] [--clients N] [--engine sqlite|pg|all] [--seed N] [--server PATH]
//
// PostgreSQL is used when PRU_TEST_PG names a server (a throwaway database is
// created there and dropped). Exit code 0 only when nothing is partial,
// duplicated or out of agreement and no save was refused.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <random>

#include "Workload.h"

using namespace Qt::StringLiterals;
using namespace Workload;

namespace {

struct Totals
{
    int kills = 0;
    int killsDuringStart = 0;
    int deltas = 0;
    int uncertain = 0;
    int uncertainStored = 0;
    int scenarios = 0;
    int partial = 0;
    int duplicated = 0;
    int refused = 0;
    ActivityCheck activities;
    QStringList faults;
};

// One client's work until its connection is lost (the server was killed).
void runClient(int client, int round, quint16 port, QList<Scenario> *scenarios, std::atomic<bool> *stop)
{
    Client connection;
    QString error;
    if (!connection.open(port, operatorCode(client), 10'000, &error)) {
        return;
    }
    std::mt19937 random(quint32(round * 131 + client));
    int serial = 0;
    while (!stop->load()) {
        scenarios->append(Scenario(u"K%1.%2.%3 "_s.arg(client).arg(round).arg(++serial), random() % 2 == 0));
        Scenario &scenario = scenarios->last();
        while (!scenario.finished()) {
            const Client::Outcome outcome = scenario.step(connection);
            if (outcome == Client::Outcome::Lost) {
                return;
            }
        }
    }
}

bool runEngine(const QString &engine, const QString &program, int kills, int clients, quint32 seed, Totals &t)
{
    QTemporaryDir folder;
    Scratch scratch(engine, folder.path());
    scratch.seed();
    ServerProcess server(program, scratch.serverArguments(), folder.filePath(u"pru.port"_s));
    std::mt19937 random(seed);
    QList<QList<Scenario>> scenarios(clients);
    QElapsedTimer elapsed;
    elapsed.start();
    for (int round = 1; round <= kills; ++round) {
        // One kill in ten comes while the server is still starting
        // (migrations, today's occurrences), before it announced its port.
        if (random() % 10 == 0) {
            server.startOnly();
            QThread::msleep(random() % 60);
            server.kill();
            ++t.killsDuringStart;
            ++t.kills;
            continue;
        }
        QString error;
        if (!server.start(&error)) {
            t.faults << u"rodada %1: %2"_s.arg(round).arg(error);
            return false;
        }
        std::atomic<bool> stop{false};
        QList<QThread *> threads;
        for (int c = 0; c < clients; ++c) {
            threads << QThread::create(runClient, c, round, server.port(), &scenarios[c], &stop);
            threads.last()->start();
        }
        QThread::msleep(20 + random() % 400);
        server.kill();
        ++t.kills;
        stop = true;
        for (QThread *thread : threads) {
            if (!thread->wait(60'000)) {
                t.faults << u"rodada %1: um cliente não terminou"_s.arg(round);
            }
            delete thread;
        }
        if (round % 10 == 0) {
            print(u"  %1 mortes em %2 s"_s.arg(round).arg(elapsed.elapsed() / 1000.0, 0, 'f', 1));
        }
    }
    // Once more, cleanly: the server must start on what the kills left.
    QString error;
    if (!server.start(&error)) {
        t.faults << u"reinício final: "_s + error;
        return false;
    }
    server.stop();

    ScopedConnection connection(scratch.config(), u"faults-check"_s);
    QSqlDatabase &db = connection.db();
    for (const QList<Scenario> &list : std::as_const(scenarios)) {
        for (const Scenario &scenario : list) {
            ++t.scenarios;
            t.deltas += scenario.deltasSent();
            if (!scenario.refusal().isEmpty()) {
                ++t.refused;
                t.faults << u"recusado (%1): %2"_s.arg(scenario.prefix(), scenario.refusal());
            }
            int duplicates = 0;
            const QString stored = readTree(db, scenario.prefix(), &duplicates).canonical();
            t.duplicated += duplicates;
            if (stored == scenario.model().canonical()) {
                t.uncertain += scenario.uncertain() ? 1 : 0;
                continue;
            }
            if (scenario.uncertain() && stored == scenario.pending().canonical()) {
                ++t.uncertain;
                ++t.uncertainStored;
                continue;
            }
            ++t.partial;
            t.faults << u"parcial (%1): gravado \"%2\"; esperado \"%3\"%4"_s.arg(
                scenario.prefix(), stored, scenario.model().canonical(),
                scenario.uncertain() ? u" ou \"%1\""_s.arg(scenario.pending().canonical()) : QString());
        }
    }
    t.duplicated += duplicatedKeys(db);
    t.activities = checkActivities(db);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Mata o servidor de aplicação com SIGKILL enquanto clientes gravam, e confere o banco."_s);
    parser.addHelpOption();
    parser.addOptions({
        {u"kills"_s, u"Mortes por banco (padrão 100)."_s, u"n"_s, u"100"_s},
        {u"clients"_s, u"Clientes simultâneos (padrão 4)."_s, u"n"_s, u"4"_s},
        {u"engine"_s, u"sqlite, pg ou all (padrão: all; pg só com PRU_TEST_PG)."_s, u"banco"_s, u"all"_s},
        {u"seed"_s, u"Semente dos momentos aleatórios."_s, u"n"_s, u"1"_s},
        {u"server"_s, u"Programa pru_server (padrão: ao lado deste)."_s, u"arquivo"_s},
    });
    parser.process(app);
    const int kills = qBound(1, parser.value(u"kills"_s).toInt(), 100'000);
    const int clients = qBound(1, parser.value(u"clients"_s).toInt(), 64);
    const QString program = Workload::serverProgram(parser.value(u"server"_s));
    const QStringList engineNames = engines(parser.value(u"engine"_s));
    bool sound = true;
    for (const QString &name : engineNames) {
        print(u"== %1: %2 mortes, %3 clientes"_s.arg(name).arg(kills).arg(clients));
        Totals t;
        QElapsedTimer timer;
        timer.start();
        bool ran = false;
        try {
            ran = runEngine(name, program, kills, clients, parser.value(u"seed"_s).toUInt(), t);
        } catch (const EDatabaseError &e) {
            t.faults << e.message();
        }
        print(u"  mortes: %1 (%2 durante a partida), servidor reiniciado a cada uma; %3 s"_s.arg(t.kills)
                  .arg(t.killsDuringStart)
                  .arg(timer.elapsed() / 1000.0, 0, 'f', 1));
        print(
            u"  deltas enviados: %1 em %2 cenários; cortados pela morte: %3 (%4 gravados inteiros, %5 ausentes inteiros)"_s
                .arg(t.deltas)
                .arg(t.scenarios)
                .arg(t.uncertain)
                .arg(t.uncertainStored)
                .arg(t.uncertain - t.uncertainStored));
        print(
            u"  parciais: %1; chaves duplicadas: %2; recusados: %3"_s.arg(t.partial).arg(t.duplicated).arg(t.refused));
        print(u"  atividades: %1 processos conferidos, %2 em desacordo com as tarefas, %3 ocorrências de outra tarefa"_s
                  .arg(t.activities.processes)
                  .arg(t.activities.disagreeing)
                  .arg(t.activities.strayOccurrences));
        for (const QString &fault : t.faults.mid(0, 20)) {
            print(u"  ! "_s + fault);
        }
        if (!ran || t.partial > 0 || t.duplicated > 0 || t.refused > 0 || t.activities.disagreeing > 0
            || t.activities.strayOccurrences > 0 || !t.faults.isEmpty() || t.deltas == 0) {
            sound = false;
        }
    }
    print(sound ? u"== nenhuma falha"_s : u"== FALHOU"_s);
    return sound ? 0 : 1;
}
