#pragma once

#include <QString>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Database.h"
#include "PasswordHash.h"
#include "RecentLogins.h"

// Where every password of one server is checked: a few worker threads, each
// with a database connection of its own, shared by all connections that have
// not logged in, so that such a connection holds no database connection.
// Checks wait in a bounded queue: a host with a valid device token goes
// first, then the anonymous ones in arrival order, at an overall rate; a
// check that would wait past maxWaitMs is refused at once as busy.
class LoginGate
{
public:
    struct Settings
    {
        int workers = 4; // password checks at once, each a database connection
        int anonymousPerSecond = 10; // checks of hosts without a token, all together
        int maxWaitMs = 3'000; // a check that would wait longer is refused as busy
        int maxQueued = 48; // checks waiting, all kinds together
        qint64 rememberMs = RecentLogins::defaultRememberMs; // a full check spares the slow hash this long
    };
    struct Verdict
    {
        enum Kind { Ok, Refused, Busy, Fault } kind = Refused;
        QString error; // Refused: a text of our own, when not the usual one
        QString operatorName;
        QString unit;
        QString unitName;
    };

    LoginGate(DatabaseConfig config, Settings settings);
    ~LoginGate();
    LoginGate(const LoginGate &) = delete;
    LoginGate &operator=(const LoginGate &) = delete;

    // Blocks the calling thread until the check is done or refused.
    Verdict check(const QString &operatorCode, const QString &password, bool trusted);
    // Database connections the workers hold now.
    int connectionsHeld() const;
    // Slow hashes run since start (a login matched by RecentLogins runs none).
    int slowChecks() const;

private:
    struct Job;
    struct Worker;
    void run(Worker *worker);
    std::shared_ptr<Job> take(std::unique_lock<std::mutex> &lock);
    // True when the verdict is in; false when the job waits for its hash.
    bool process(Worker *worker, Job &job);
    bool lookUp(Worker *worker, Job &job);
    static bool accept(Job &job);
    QSqlDatabase &connection(Worker *worker); // opened in the worker's thread at first use
    void rehash(Worker *worker, const Job &job);
    qint64 hashWaitMs(std::size_t ahead) const;

    const DatabaseConfig m_config;
    const Settings m_settings;
    mutable std::mutex m_mutex;
    std::condition_variable m_work;
    std::condition_variable m_done;
    std::deque<std::shared_ptr<Job>> m_trusted;
    std::deque<std::shared_ptr<Job>> m_lookups;
    std::deque<std::shared_ptr<Job>> m_hashes;
    qint64 m_nextAnonymousMs = 0;
    double m_hashMs = 150; // moving average of one check, for the estimates
    int m_connections = 0;
    int m_slowChecks = 0;
    bool m_stop = false;
    RecentLogins m_recent;
    std::vector<std::unique_ptr<Worker>> m_workers;
};
