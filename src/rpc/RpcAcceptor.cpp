#include "RpcAcceptor.h"

#include <QTcpSocket>

#include "Frame.h"
#include "RpcLog.h"
#include "RpcSessionThread.h"

using namespace Qt::StringLiterals;

RpcAcceptor::RpcAcceptor(SessionHandlerFactory factory, const RpcServer::Limits &limits)
    : m_factory(std::move(factory))
    , m_limits(limits)
{
}

RpcAcceptor::~RpcAcceptor()
{
    stopSessions();
}

void RpcAcceptor::incomingConnection(qintptr socketDescriptor)
{
    if (m_sessions.size() >= m_limits.maxSessions) {
        refuse(socketDescriptor, u"O servidor de aplicação atingiu o limite de %1 sessões simultâneas; tente mais tarde."_s
                                     .arg(m_limits.maxSessions));
        return;
    }
    auto *session = new RpcSessionThread(socketDescriptor, m_factory, m_limits);
    m_sessions.append(session);
    // Queued to this thread: the session's thread has ended its work by then.
    connect(session, &QThread::finished, this, [this, session] {
        if (m_sessions.removeOne(session)) {
            session->wait();
            delete session;
        }
    });
    session->start();
}

void RpcAcceptor::refuse(qintptr socketDescriptor, const QString &why)
{
    qCWarning(lcRpc) << "connection refused:" << why;
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        return;
    }
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->write(RpcWire::errorFrame(why));
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
    }
}

void RpcAcceptor::stopSessions()
{
    const QList<RpcSessionThread *> sessions = std::exchange(m_sessions, {});
    // Ask all first, so that they wind down side by side.
    for (RpcSessionThread *session : sessions) {
        session->requestStop();
    }
    for (RpcSessionThread *session : sessions) {
        session->wait();
        delete session;
    }
}
