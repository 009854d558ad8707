#pragma once

#include <QList>
#include <QTcpServer>

#include "RpcServer.h"

class RpcSessionThread;

// The listening socket. Hands every accepted connection, as a bare socket
// descriptor, to a session thread of its own, and keeps track of those
// threads so that stopping the server can wait for every one of them.
class RpcAcceptor : public QTcpServer
{
    Q_OBJECT

public:
    RpcAcceptor(SessionHandlerFactory factory, const RpcServer::Limits &limits);
    ~RpcAcceptor() override;

    // Ends every session and waits for its thread.
    void stopSessions();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void refuse(qintptr socketDescriptor, const QString &why);

    SessionHandlerFactory m_factory;
    RpcServer::Limits m_limits;
    QList<RpcSessionThread *> m_sessions;
};
