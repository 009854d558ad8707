#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "RdmProcessoUnidade.h"

// A session's database connection outlives the session: opening one costs
// a PostgreSQL backend, its login and the statements prepared again (about
// 4 ms on the same machine, more across a network), and every screen a host
// opens is a new session. A Qt connection can only be used in the thread
// that opened it, so the thread is kept with it: a SessionWorker is a
// thread holding one remote module (RdmProcessoUnidade, with its
// connection and prepared statements), and a logged-in session runs every
// call there. One session holds one worker at a time, so each session still
// has a database connection of its own.
class SessionWorker
{
public:
    SessionWorker(std::shared_ptr<ServerState> state, int idleCloseMs);
    ~SessionWorker();
    SessionWorker(const SessionWorker &) = delete;
    SessionWorker &operator=(const SessionWorker &) = delete;

    // Runs work on the worker's module, in its thread, and waits for it;
    // what work throws is thrown here.
    void run(const std::function<void(RdmProcessoUnidade &)> &work);
    // Kept unused: past idleCloseMs the module and its connection close.
    void setKept(bool kept);

private:
    void loop();

    const std::shared_ptr<ServerState> m_state;
    const int m_idleCloseMs;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    const std::function<void(RdmProcessoUnidade &)> *m_work = nullptr;
    std::exception_ptr m_error;
    bool m_kept = false;
    bool m_stop = false;
    std::thread m_thread; // last: started once the rest is set
};

// The server's workers not in use, for the next sessions to take.
class SessionWorkers
{
public:
    static constexpr int defaultMaxKept = 8;
    static constexpr int defaultIdleCloseMs = 60'000;

    explicit SessionWorkers(std::shared_ptr<ServerState> state, int maxKept = defaultMaxKept,
                            int idleCloseMs = defaultIdleCloseMs);
    ~SessionWorkers();

    // The worker used last (its connection the likeliest to be open), or a new one.
    std::unique_ptr<SessionWorker> take();
    // Kept for the next session, or let go past maxKept.
    void giveBack(std::unique_ptr<SessionWorker> worker);
    // The server's handler of each connection. On PostgreSQL it logs in,
    // then runs its calls on a worker taken from one SessionWorkers; on
    // SQLite it is a remote module of its own.
    static SessionHandlerFactory factory(std::shared_ptr<ServerState> state);

private:
    const std::shared_ptr<ServerState> m_state;
    const int m_maxKept;
    const int m_idleCloseMs;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<SessionWorker>> m_kept;
};
