#pragma once

// What the crash and soak programs share: the real pru_server as a child
// process (announced through its port file), a seeded database on SQLite or
// PostgreSQL, and a client that saves deltas of every level through the real
// wire protocol, keeping a model of what it believes is stored so that the
// database can be checked against it afterwards.

#include <QElapsedTimer>
#include <QHash>
#include <QMap>
#include <QMutex>
#include <QProcess>
#include <QStringList>

#include <functional>
#include <memory>
#include <random>

#include "Database.h"
#include "Packet.h"
#include "RpcClient.h"

namespace Workload {

inline constexpr int operatorCount = 8;
QString operatorCode(int client);

void print(const QString &text);
// The engines an --engine option names: sqlite, pg or all (pg only when
// PRU_TEST_PG is set).
QStringList engines(const QString &option);
// The pru_server to start: the option's, or the one beside this program.
QString serverProgram(const QString &option);

// A throwaway database: a file in a temporary folder, or a database created on
// the PostgreSQL server named by PRU_TEST_PG and dropped at the end.
class Scratch
{
public:
    Scratch(const QString &engine, const QString &folder);
    ~Scratch();
    const DatabaseConfig &config() const { return m_config; }
    // The options that make pru_server use this database.
    QStringList serverArguments() const;
    // Schema, one unit, the operators (cheap hashes: logins are not measured),
    // a group and two periodicities.
    void seed();

private:
    DatabaseConfig m_config;
    QString m_pgAdmin;
    QString m_pgName;
};

// pru_server as a separate process, told to announce its port in a file.
class ServerProcess
{
public:
    ServerProcess(QString program, QStringList databaseArguments, QString portFile);
    ~ServerProcess();
    // Starts and waits (up to 30 s) for the port file; false when it never came.
    bool start(QString *error);
    // Starts without waiting for the port file (a kill during start-up).
    void startOnly();
    void kill(); // SIGKILL, then reaps it
    void stop(); // SIGTERM, the clean stop
    quint16 port() const { return m_port; }
    qint64 pid() const;
    qint64 residentKiB() const;
    QString output() const; // what it printed since the last call

private:
    QString logFile() const { return m_portFile + QStringLiteral(".log"); }

    QString m_program;
    QStringList m_arguments;
    QString m_portFile;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    mutable qint64 m_outputRead = 0;
};

// What one scenario believes is stored: its process, the process's tasks by
// name, each with its note, periodicity and responsibles.
struct TreeModel
{
    QString process; // empty: no process
    struct Task
    {
        QString note;
        QString periodicity;
        QStringList responsibles; // "CODE/EXEC/VALID", sorted
    };
    QMap<QString, Task> tasks;
    QString canonical() const;
};

// Reads what the database holds under a scenario's prefix; counts in
// *duplicates the processes that share the prefix beyond the first.
TreeModel readTree(QSqlDatabase &db, const QString &prefix, int *duplicates);

// Per method: call count, failures and latencies (microseconds).
struct MethodStats
{
    qint64 calls = 0;
    qint64 errors = 0;
    QList<qint32> micros;
};
using Stats = QHash<QString, MethodStats>;
void merge(Stats &into, const Stats &from);
qint32 percentile(QList<qint32> values, double p);

// Where a client's timings go; read by another thread while the client runs.
class StatsSink
{
public:
    void add(const QString &method, bool ok, qint32 micros);
    // Hands over the statistics gathered since the last take.
    Stats take();

private:
    QMutex m_mutex;
    Stats m_stats;
};

// One client's connection, used in the thread that opened it; every call is
// timed into its sink.
class Client
{
public:
    enum class Outcome { Ok, Lost, Refused };

    explicit Client(StatsSink *sink = nullptr)
        : m_sink(sink ? sink : &m_ownSink)
    { }

    bool open(quint16 port, const QString &operatorCode, int timeoutMs, QString *error);
    RpcReply call(const QString &method, const QCborArray &args);
    Outcome outcome(const RpcReply &reply) const;
    const QString &operatorCode() const { return m_operator; }
    bool isOpen() const { return m_rpc.isOpen(); }

private:
    RpcClient m_rpc;
    QString m_operator;
    int m_timeoutMs = 30'000;
    StatsSink m_ownSink;
    StatsSink *m_sink;
};

// A process with tasks and responsibles, built, edited and (optionally)
// deleted one delta at a time, as the screen saves each level. Every delta
// the server acknowledges moves the model on; a delta cut by a lost
// connection leaves two states the database may hold, before and after.
class Scenario
{
public:
    Scenario(QString prefix, bool deleteAtEnd);

    // Runs the next step. Finished once every step ran or a call failed.
    Client::Outcome step(Client &client);
    bool finished() const { return m_finished; }
    bool uncertain() const { return m_uncertain; }
    int deltasSent() const { return m_deltas; }
    QString refusal() const { return m_refusal; }
    const QString &prefix() const { return m_prefix; }
    const TreeModel &model() const { return m_model; }
    // The state the model would have reached had the cut delta been stored.
    const TreeModel &pending() const { return m_pending; }
    // Keys to read back: the process (0 before it exists) and one of its tasks (0 when none).
    qint64 processKey() const { return m_process; }
    qint64 taskKey() const { return m_taskKeys.isEmpty() ? 0 : m_taskKeys.cbegin().value(); }

private:
    Client::Outcome save(Client &client, const QString &method, const DeltaPacket &delta, const TreeModel &after,
                         double *key = nullptr);
    Client::Outcome saveTasks(Client &client, const DeltaPacket &delta, const TreeModel &after);
    Client::Outcome readFailed(Client &client);
    // The scenario's process as GetProcessos gives it; empty when gone.
    bool readProcess(Client &client, Row *row) const;
    bool reloadTasks(Client &client);
    bool reloadResponsibles(Client &client, qint64 task, QList<Row> *rows);
    Client::Outcome fail(Client::Outcome outcome);

    QString m_prefix;
    bool m_deleteAtEnd;
    int m_step = 0;
    int m_deltas = 0;
    bool m_finished = false;
    bool m_uncertain = false;
    QString m_refusal;
    TreeModel m_model;
    TreeModel m_pending;
    qint64 m_process = 0;
    QList<Row> m_tasks; // as last read, in the server's field order
    QHash<QString, qint64> m_taskKeys;
    QList<Row> m_firstResponsibles;
};

// One of the reads the screen makes, of the given process and task when
// known (0: any key, and a task that does not exist for the activities).
Client::Outcome randomRead(Client &client, std::mt19937 &random, qint64 process, qint64 task);

// Situations that disagree with today's occurrences, and occurrences that
// point at a task of another process.
struct ActivityCheck
{
    int processes = 0;
    int disagreeing = 0;
    int strayOccurrences = 0;
};
ActivityCheck checkActivities(QSqlDatabase &db);

// Primary keys held twice in any table of the levels (never expected).
int duplicatedKeys(QSqlDatabase &db);

} // namespace Workload
