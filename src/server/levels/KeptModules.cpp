#include "KeptModules.h"

#include "Exceptions.h"

namespace {

// One connection's handler: the login is checked in the connection's thread
// with no database connection; once it is in, the session takes a module for
// its calls and gives it back when the connection ends.
class KeptModuleSession : public SessionHandler
{
public:
    KeptModuleSession(std::shared_ptr<ServerState> state, std::shared_ptr<KeptModules> kept)
        : m_state(std::move(state))
        , m_kept(std::move(kept))
    { }
    ~KeptModuleSession() override { release(); }

    LoginResult login(const LoginRequest &request) override
    {
        release();
        RdmProcessoUnidade::Identity who;
        const LoginResult result = RdmProcessoUnidade::checkLogin(*m_state, request, &who);
        if (result.ok) {
            m_module = m_kept->take();
            m_module->begin(who);
        }
        return result;
    }

    QCborValue call(const QString &method, const QCborArray &args) override
    {
        if (!m_module) {
            throw EDatabaseError(RdmProcessoUnidade::notLoggedInText(method));
        }
        return m_module->call(method, args);
    }

private:
    void release()
    {
        if (m_module) {
            m_module->end();
            m_kept->giveBack(std::move(m_module));
        }
    }

    const std::shared_ptr<ServerState> m_state;
    const std::shared_ptr<KeptModules> m_kept;
    std::unique_ptr<RdmProcessoUnidade> m_module;
};

} // namespace

KeptModules::KeptModules(std::shared_ptr<ServerState> state, int maxKept, int idleCloseMs)
    : m_state(std::move(state))
    , m_maxKept(maxKept)
    , m_idleClose(idleCloseMs)
    , m_closer([this] { closeIdle(); })
{ }

KeptModules::~KeptModules()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_closer.join();
    for (Kept &kept : m_kept) {
        kept.module->enterThread();
    }
}

std::unique_ptr<RdmProcessoUnidade> KeptModules::take()
{
    std::unique_ptr<RdmProcessoUnidade> module;
    {
        const std::lock_guard lock(m_mutex);
        if (!m_kept.empty()) {
            module = std::move(m_kept.back().module);
            m_kept.pop_back();
            m_state->keptModules = int(m_kept.size());
        }
    }
    if (!module) {
        return std::make_unique<RdmProcessoUnidade>(m_state);
    }
    module->enterThread();
    return module;
}

void KeptModules::giveBack(std::unique_ptr<RdmProcessoUnidade> module)
{
    {
        const std::lock_guard lock(m_mutex);
        if (!m_stop && qsizetype(m_kept.size()) < m_maxKept) {
            module->leaveThread();
            m_kept.push_back({std::move(module), std::chrono::steady_clock::now()});
            m_state->keptModules = int(m_kept.size());
            return;
        }
    }
    // Past the kept ones: closed here, in the thread that used it.
}

void KeptModules::closeIdle()
{
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        // The oldest waits at the front: it is the first to be too old.
        const auto due =
            m_kept.empty() ? std::chrono::steady_clock::now() + m_idleClose : m_kept.front().since + m_idleClose;
        m_wake.wait_until(lock, due);
        std::vector<std::unique_ptr<RdmProcessoUnidade>> closing;
        const auto now = std::chrono::steady_clock::now();
        while (!m_kept.empty() && now - m_kept.front().since >= m_idleClose) {
            closing.push_back(std::move(m_kept.front().module));
            m_kept.erase(m_kept.begin());
        }
        m_state->keptModules = int(m_kept.size());
        lock.unlock();
        for (auto &module : closing) {
            module->enterThread();
            module.reset(); // its database connection closes
        }
        lock.lock();
    }
}

SessionHandlerFactory KeptModules::factory(std::shared_ptr<ServerState> state)
{
    auto kept = std::make_shared<KeptModules>(state);
    return
        [state, kept]() -> std::unique_ptr<SessionHandler> { return std::make_unique<KeptModuleSession>(state, kept); };
}
