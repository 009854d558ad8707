#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTimer>

#include <memory>

#include "RpcAdmission.h"
#include "RpcServer.h"

class RpcSessionThread;

// The listening socket. Hands every accepted connection, as a bare socket
// descriptor, to a session thread of its own, and keeps track of those
// threads so that stopping the server can wait for every one of them.
// Connections that have not logged in sit in seats of their own, a few per
// address; a newcomer that finds them full takes the seat of the oldest.
class RpcAcceptor : public QTcpServer
{
    Q_OBJECT

public:
    RpcAcceptor(SessionHandlerFactory factory, const RpcServer::Limits &limits, const QSslConfiguration &tls,
                const QByteArray &tokenKey);
    ~RpcAcceptor() override;

    // Ends every session and waits for its thread.
    void stopSessions();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    struct Pending
    {
        RpcSessionThread *session;
        QHostAddress address;
    };
    void refuse(qintptr socketDescriptor, const QString &why);
    // Closes the oldest silent connections past their seats, per address and
    // in all; arriving: leaves a seat for a newcomer from that address.
    void trimSilent(const QHostAddress *arriving);
    // Closes the oldest pending connection (of address, when given; silent
    // ones only, when asked); false when none could be.
    bool evictOldest(const QHostAddress *address, bool silentOnly);
    void forgetPending(RpcSessionThread *session);

    SessionHandlerFactory m_factory;
    RpcServer::Limits m_limits;
    QSslConfiguration m_tls;
    std::shared_ptr<RpcAdmission> m_admission;
    QList<RpcSessionThread *> m_sessions;
    QList<Pending> m_pending; // oldest first
    QTimer m_sweep;
};
