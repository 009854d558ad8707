#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "RdmProcessoUnidade.h"

// A session's remote module, with its database connection and prepared
// statements, outlives the session: every screen a host opens is a new
// session, and opening a PostgreSQL connection with its statements cost
// about 4 ms of each opening (more across a network). A module given back
// lets go of its thread; the next session's thread takes it on and uses it
// directly. Up to maxKept wait; one unused for idleCloseMs is closed.
class KeptModules
{
public:
    static constexpr int defaultMaxKept = 8;
    static constexpr int defaultIdleCloseMs = 60'000;

    explicit KeptModules(std::shared_ptr<ServerState> state, int maxKept = defaultMaxKept,
                         int idleCloseMs = defaultIdleCloseMs);
    ~KeptModules();
    KeptModules(const KeptModules &) = delete;
    KeptModules &operator=(const KeptModules &) = delete;

    // The module given back last (its connection the likeliest to be alive),
    // or a new one; in the calling thread either way.
    std::unique_ptr<RdmProcessoUnidade> take();
    // From the thread that used it, once its session ended: kept, or closed
    // here past maxKept.
    void giveBack(std::unique_ptr<RdmProcessoUnidade> module);

    // The server's handler of each connection: logs in, then takes a module.
    static SessionHandlerFactory factory(std::shared_ptr<ServerState> state);

private:
    struct Kept
    {
        std::unique_ptr<RdmProcessoUnidade> module;
        std::chrono::steady_clock::time_point since;
    };
    void closeIdle(); // the thread that closes what waited too long

    const std::shared_ptr<ServerState> m_state;
    const int m_maxKept;
    const std::chrono::milliseconds m_idleClose;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<Kept> m_kept;
    bool m_stop = false;
    std::thread m_closer; // last: started once the rest is set
};
