#pragma once

#include <QSslConfiguration>
#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <memory>

#include "RpcAdmission.h"
#include "RpcServer.h"

// The thread of one accepted connection: the socket, the protocol state and
// the session handler are created, used and destroyed in it, which is what a
// handler holding a database connection needs.
class RpcSessionThread : public QThread
{
    Q_OBJECT

public:
    RpcSessionThread(qintptr socketDescriptor, SessionHandlerFactory factory, const RpcServer::Limits &limits,
                     const QSslConfiguration &tls, std::shared_ptr<RpcAdmission> admission);

    // Asks the session to end (from any thread); a call in progress finishes first.
    void requestStop();
    // Ends a connection that has not logged in (from any thread), telling the
    // client why; false when it logged in already and keeps its seat.
    bool evict();
    // True while the client has sent nothing at all in the limits'
    // silentAfterMs since it was accepted (from any thread).
    bool isSilent() const;

signals:
    // From the session's thread, once its login was admitted.
    void loggedIn();

protected:
    void run() override;

private:
    enum class Stop : int { None, Server, Evicted };

    qintptr m_socketDescriptor;
    SessionHandlerFactory m_factory;
    RpcServer::Limits m_limits;
    QSslConfiguration m_tls;
    std::shared_ptr<RpcAdmission> m_admission;
    QElapsedTimer m_accepted; // started in the constructor, only read after
    std::atomic<int> m_phase = RpcAdmission::Pending;
    std::atomic<Stop> m_stop = Stop::None;
};
