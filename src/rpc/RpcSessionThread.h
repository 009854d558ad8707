#pragma once

#include <QThread>

#include <atomic>

#include "RpcServer.h"

// The thread of one accepted connection: the socket, the protocol state and
// the session handler are created, used and destroyed in it, which is what a
// handler holding a database connection needs.
class RpcSessionThread : public QThread
{
    Q_OBJECT

public:
    RpcSessionThread(qintptr socketDescriptor, SessionHandlerFactory factory, const RpcServer::Limits &limits);

    // Asks the session to end (from any thread); a call in progress finishes first.
    void requestStop();

protected:
    void run() override;

private:
    qintptr m_socketDescriptor;
    SessionHandlerFactory m_factory;
    RpcServer::Limits m_limits;
    std::atomic<bool> m_stopRequested = false;
};
