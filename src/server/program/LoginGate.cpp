#include "LoginGate.h"

#include <QElapsedTimer>
#include <QSqlQuery>

#include "Exceptions.h"
#include "RpcLog.h"
#include "Secret.h"
#include "ServerClock.h"
#include "Packet.h"
#include "ServerLog.h"
#include "Sql.h"

using namespace Qt::StringLiterals;

namespace {
qint64 nowMs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer c;
        c.start();
        return c;
    }();
    return clock.elapsed();
}
} // namespace

struct LoginGate::Job
{
    QString operatorCode;
    QString password;
    bool trusted = false;
    bool lookedUp = false;
    bool abandoned = false;
    bool done = false;
    PasswordHash::Stored stored;
    Verdict verdict;
};

struct LoginGate::Worker
{
    std::thread thread;
    QString connectionName;
    QSqlDatabase db;
};

LoginGate::LoginGate(DatabaseConfig config, Settings settings)
    : m_config(std::move(config))
    , m_settings(settings)
    , m_recent(settings.rememberMs)
{
    for (int i = 0; i < qMax(1, m_settings.workers); ++i) {
        auto worker = std::make_unique<Worker>();
        Worker *w = worker.get();
        worker->thread = std::thread([this, w] { run(w); });
        m_workers.push_back(std::move(worker));
    }
}

LoginGate::~LoginGate()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_work.notify_all();
    for (auto &worker : m_workers) {
        worker->thread.join();
    }
}

int LoginGate::connectionsHeld() const
{
    const std::lock_guard lock(m_mutex);
    return m_connections;
}

int LoginGate::slowChecks() const
{
    const std::lock_guard lock(m_mutex);
    return m_slowChecks;
}

// How long a new anonymous hash would wait behind those queued: the workers'
// pace and the overall rate, whichever is slower.
qint64 LoginGate::hashWaitMs(std::size_t ahead) const
{
    const double byWorkers = double(ahead + 1) * m_hashMs / m_settings.workers;
    const double byRate =
        double(ahead) * 1000.0 / m_settings.anonymousPerSecond + double(qMax<qint64>(0, m_nextAnonymousMs - nowMs()));
    return qint64(qMax(byWorkers, byRate));
}

LoginGate::Verdict LoginGate::check(const QString &operatorCode, const QString &password, bool trusted)
{
    auto job = std::make_shared<Job>();
    job->operatorCode = operatorCode;
    job->password = password;
    job->trusted = trusted;
    std::unique_lock lock(m_mutex);
    const std::size_t queued = m_trusted.size() + m_lookups.size() + m_hashes.size();
    const bool busy = queued >= std::size_t(m_settings.maxQueued)
                      || (trusted ? double(m_trusted.size() + 1) * m_hashMs / m_settings.workers > m_settings.maxWaitMs
                                  : hashWaitMs(m_hashes.size() + m_lookups.size()) > m_settings.maxWaitMs);
    if (busy) {
        return {Verdict::Busy, {}, {}, {}, {}};
    }
    (trusted ? m_trusted : m_lookups).push_back(job);
    m_work.notify_one();
    // Past its wait and two checks of its own the answer is no longer awaited.
    const auto deadline = std::chrono::steady_clock::now()
                          + std::chrono::milliseconds(m_settings.maxWaitMs + qint64(4 * m_hashMs) + 2'000);
    if (!m_done.wait_until(lock, deadline, [&] { return job->done; })) {
        job->abandoned = true;
        return {Verdict::Busy, {}, {}, {}, {}};
    }
    return job->verdict;
}

std::shared_ptr<LoginGate::Job> LoginGate::take(std::unique_lock<std::mutex> &lock)
{
    for (;;) {
        if (m_stop) {
            return {};
        }
        auto pop = [](std::deque<std::shared_ptr<Job>> &queue) {
            auto job = std::move(queue.front());
            queue.pop_front();
            return job;
        };
        if (!m_trusted.empty()) {
            return pop(m_trusted);
        }
        if (!m_lookups.empty()) {
            return pop(m_lookups);
        }
        const qint64 now = nowMs();
        if (!m_hashes.empty() && now >= m_nextAnonymousMs) {
            m_nextAnonymousMs = qMax(now, m_nextAnonymousMs) + 1000 / qMax(1, m_settings.anonymousPerSecond);
            return pop(m_hashes);
        }
        if (m_hashes.empty()) {
            m_work.wait(lock);
        } else {
            m_work.wait_for(lock, std::chrono::milliseconds(m_nextAnonymousMs - now));
        }
    }
}

void LoginGate::run(Worker *worker)
{
    std::unique_lock lock(m_mutex);
    while (auto job = take(lock)) {
        if (job->abandoned) {
            Secret::wipe(job->password);
            continue;
        }
        lock.unlock();
        const bool decided = process(worker, *job);
        lock.lock();
        if (!decided) {
            // A known operator without a token: its hash waits its turn.
            if (m_hashes.size() >= std::size_t(m_settings.maxQueued)
                || hashWaitMs(m_hashes.size()) > m_settings.maxWaitMs) {
                job->verdict = {Verdict::Busy, {}, {}, {}, {}};
            } else {
                m_hashes.push_back(job);
                m_work.notify_one();
                continue;
            }
        }
        Secret::wipe(job->password); // the caller's copy is zeroed by the caller
        job->done = true;
        m_done.notify_all();
    }
    lock.unlock();
    if (!worker->connectionName.isEmpty()) {
        worker->db = QSqlDatabase();
        Database::remove(worker->connectionName);
    }
}

QSqlDatabase &LoginGate::connection(Worker *worker)
{
    if (worker->connectionName.isEmpty()) {
        const QString name = Database::uniqueConnectionName(u"login"_s);
        worker->db = Database::open(m_config, name);
        worker->connectionName = name;
        const std::lock_guard lock(m_mutex);
        ++m_connections;
    }
    return worker->db;
}

// Reads the operator and its hash; false with the verdict set when that
// already decides (unknown operator, database fault).
bool LoginGate::lookUp(Worker *worker, Job &job)
{
    try {
        QSqlQuery query = Sql::exec(
            connection(worker),
            u"SELECT o.NMOPERADOR, o.CDUNIDADE, u.NMUNIDADE, s.DSSALT, s.DSHASH, s.NRITERACOES FROM OPERADOR o "
            "LEFT JOIN UNIDADE u ON u.CDUNIDADE = o.CDUNIDADE "
            "LEFT JOIN OPERADORSENHA s ON s.CDOPERADOR = o.CDOPERADOR WHERE o.CDOPERADOR = ?"_s,
            {job.operatorCode});
        const bool found = query.next() && !query.value(4).isNull();
        if (found) {
            job.verdict.operatorName = query.value(0).toString();
            job.verdict.unit = query.value(1).toString();
            job.verdict.unitName = query.value(2).toString();
            job.stored = PasswordHash::Stored::fromColumns(query.value(3).toString(), query.value(4).toString(),
                                                           query.value(5).toInt());
        }
        query.finish();
        job.lookedUp = true;
        if (!found) {
            // Operator codes are no secret here (every desktop lists them):
            // an unknown one is refused without the cost of a hash.
            job.verdict.kind = Verdict::Refused;
            return false;
        }
        return true;
    } catch (...) {
        // The anonymous client learns nothing of the database; the log does.
        qCWarning(lcServer).noquote() << u"falha no login de %1: %2"_s.arg(loggable(elidedText(job.operatorCode, 12)),
                                                                           currentExceptionMessage());
        worker->db = QSqlDatabase();
        if (!worker->connectionName.isEmpty()) {
            Database::remove(worker->connectionName);
            worker->connectionName.clear();
            const std::lock_guard lock(m_mutex);
            --m_connections;
        }
        job.verdict.kind = Verdict::Fault;
        return false;
    }
}

bool LoginGate::process(Worker *worker, Job &job)
{
    if (!job.lookedUp) {
        if (!lookUp(worker, job)) {
            return true;
        }
        // The same operator and password as a full check lately: only a
        // wrong or changed password waits for the slow hash (and its pace).
        if (m_recent.matches(job.operatorCode, job.password, job.stored)) {
            return accept(job);
        }
        if (!job.trusted) {
            return false;
        }
    }
    QElapsedTimer took;
    took.start();
    const bool right = PasswordHash::verify(job.password, job.stored);
    {
        const std::lock_guard lock(m_mutex);
        m_hashMs = 0.8 * m_hashMs + 0.2 * double(took.elapsed());
        ++m_slowChecks;
    }
    if (!right) {
        job.verdict.kind = Verdict::Refused;
        return true;
    }
    if (PasswordHash::needsRehash(job.stored)) {
        rehash(worker, job); // the next login checks the new hash in full, and is remembered then
    } else {
        m_recent.remember(job.operatorCode, job.password, job.stored);
    }
    return accept(job);
}

// The password matched: the operator still needs a unit.
bool LoginGate::accept(Job &job)
{
    if (job.verdict.unit.isEmpty()) {
        job.verdict.kind = Verdict::Refused;
        job.verdict.error = u"O operador %1 não está ligado a nenhuma unidade."_s.arg(job.operatorCode);
        return true;
    }
    job.verdict.kind = Verdict::Ok;
    return true;
}

// The password is at hand only now: an earlier form of hash is replaced by
// Argon2id, unless the password changed meanwhile (the old hash is the
// condition). A failure here costs the operator nothing; the next login tries again.
void LoginGate::rehash(Worker *worker, const Job &job)
{
    try {
        const PasswordHash::Stored stored = PasswordHash::make(job.password);
        QSqlQuery update =
            Sql::exec(connection(worker),
                      u"UPDATE OPERADORSENHA SET DSSALT = ?, DSHASH = ?, NRITERACOES = ?, DTATUALIZACAO = ? "
                      "WHERE CDOPERADOR = ? AND DSHASH = ?"_s,
                      {stored.saltColumn(), stored.hashColumn(), stored.iterations, ServerClock::nowDays(),
                       job.operatorCode, job.stored.hashColumn()});
        if (update.numRowsAffected() > 0) {
            qCInfo(lcServer).noquote() << u"senha do operador %1 regravada em Argon2id"_s.arg(
                loggable(job.operatorCode));
        }
    } catch (...) {
        qCWarning(lcServer).noquote() << u"falha ao regravar a senha do operador %1: %2"_s.arg(
            loggable(job.operatorCode), currentExceptionMessage());
    }
}
