#include "SessionWorkers.h"

#include <chrono>

#include "Exceptions.h"

namespace {

// One connection's handler: the login is checked here, in the connection's
// thread and with no database connection; once it is in, a worker is taken
// for the session's calls and given back when the connection ends.
class PooledSession : public SessionHandler
{
public:
    PooledSession(std::shared_ptr<ServerState> state, std::shared_ptr<SessionWorkers> workers)
        : m_state(std::move(state))
        , m_workers(std::move(workers))
    { }
    ~PooledSession() override { release(); }

    LoginResult login(const LoginRequest &request) override
    {
        release();
        RdmProcessoUnidade::Identity who;
        const LoginResult result = RdmProcessoUnidade::checkLogin(*m_state, request, &who);
        if (result.ok) {
            std::unique_ptr<SessionWorker> worker = m_workers->take();
            worker->run([&who](RdmProcessoUnidade &module) { module.begin(who); });
            m_worker = std::move(worker);
        }
        return result;
    }

    QCborValue call(const QString &method, const QCborArray &args) override
    {
        if (!m_worker) {
            throw EDatabaseError(RdmProcessoUnidade::notLoggedInText(method));
        }
        QCborValue value;
        m_worker->run([&](RdmProcessoUnidade &module) { value = module.call(method, args); });
        return value;
    }

private:
    void release()
    {
        if (m_worker) {
            m_workers->giveBack(std::move(m_worker));
        }
    }

    const std::shared_ptr<ServerState> m_state;
    const std::shared_ptr<SessionWorkers> m_workers;
    std::unique_ptr<SessionWorker> m_worker;
};

} // namespace

SessionWorker::SessionWorker(std::shared_ptr<ServerState> state, int idleCloseMs)
    : m_state(std::move(state))
    , m_idleCloseMs(idleCloseMs)
    , m_thread([this] { loop(); })
{ }

SessionWorker::~SessionWorker()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void SessionWorker::run(const std::function<void(RdmProcessoUnidade &)> &work)
{
    std::unique_lock lock(m_mutex);
    m_work = &work;
    m_error = nullptr;
    m_wake.notify_one();
    m_done.wait(lock, [this] { return !m_work; });
    if (m_error) {
        std::rethrow_exception(std::exchange(m_error, nullptr));
    }
}

void SessionWorker::setKept(bool kept)
{
    {
        const std::lock_guard lock(m_mutex);
        m_kept = kept;
    }
    m_wake.notify_one();
}

void SessionWorker::loop()
{
    // Made, used and destroyed in this thread, as its connection must be.
    std::unique_ptr<RdmProcessoUnidade> module;
    std::unique_lock lock(m_mutex);
    for (;;) {
        const auto ready = [this] { return m_stop || m_work; };
        if (m_kept && module) {
            if (!m_wake.wait_for(lock, std::chrono::milliseconds(m_idleCloseMs), ready)) {
                if (m_kept) {
                    module.reset(); // the database connection closes
                }
                continue;
            }
        } else {
            m_wake.wait(lock, ready);
        }
        if (m_stop) {
            break;
        }
        const auto *work = m_work;
        lock.unlock();
        std::exception_ptr error;
        try {
            if (!module) {
                module = std::make_unique<RdmProcessoUnidade>(m_state);
            }
            (*work)(*module);
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        m_error = error;
        m_work = nullptr;
        m_done.notify_one();
    }
    lock.unlock();
    module.reset();
}

SessionWorkers::SessionWorkers(std::shared_ptr<ServerState> state, int maxKept, int idleCloseMs)
    : m_state(std::move(state))
    , m_maxKept(maxKept)
    , m_idleCloseMs(idleCloseMs)
{ }

SessionWorkers::~SessionWorkers() = default;

std::unique_ptr<SessionWorker> SessionWorkers::take()
{
    {
        const std::lock_guard lock(m_mutex);
        if (!m_kept.empty()) {
            std::unique_ptr<SessionWorker> worker = std::move(m_kept.back());
            m_kept.pop_back();
            m_state->keptWorkers = int(m_kept.size());
            worker->setKept(false);
            return worker;
        }
    }
    return std::make_unique<SessionWorker>(m_state, m_idleCloseMs);
}

void SessionWorkers::giveBack(std::unique_ptr<SessionWorker> worker)
{
    // Nothing of the session stays on its module but the connection and statements.
    worker->run([](RdmProcessoUnidade &module) { module.end(); });
    worker->setKept(true);
    {
        const std::lock_guard lock(m_mutex);
        if (qsizetype(m_kept.size()) < m_maxKept) {
            m_kept.push_back(std::move(worker));
            m_state->keptWorkers = int(m_kept.size());
            return;
        }
    }
    // Past the kept ones: the worker's thread ends here, with its connection.
}

SessionHandlerFactory SessionWorkers::factory(std::shared_ptr<ServerState> state)
{
    // An SQLite connection opens in a third of a millisecond, less than the
    // hop to a worker costs over a session's calls: its sessions keep their
    // module in their own thread and open their own connection.
    if (state->config.engine == DatabaseConfig::Engine::SQLite) {
        return [state]() -> std::unique_ptr<SessionHandler> { return std::make_unique<RdmProcessoUnidade>(state); };
    }
    auto workers = std::make_shared<SessionWorkers>(state);
    return [state, workers]() -> std::unique_ptr<SessionHandler> {
        return std::make_unique<PooledSession>(state, workers);
    };
}
