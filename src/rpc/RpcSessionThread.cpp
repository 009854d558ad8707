#include "RpcSessionThread.h"

#include <QTcpSocket>

#include "RpcConnection.h"
#include "RpcLog.h"

RpcSessionThread::RpcSessionThread(qintptr socketDescriptor, SessionHandlerFactory factory,
                                   const RpcServer::Limits &limits)
    : m_socketDescriptor(socketDescriptor)
    , m_factory(std::move(factory))
    , m_limits(limits)
{
}

void RpcSessionThread::requestStop()
{
    m_stopRequested = true;
    quit();
}

void RpcSessionThread::run()
{
    QTcpSocket socket;
    if (!socket.setSocketDescriptor(m_socketDescriptor)) {
        qCWarning(lcRpc) << "cannot take over an accepted connection:" << socket.errorString();
        return;
    }
    // Request and reply are single writes; do not let Nagle hold them back.
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // Declared after the socket: the handler goes before the socket does.
    RpcConnection connection(&socket, m_factory, m_limits);
    if (!m_stopRequested) {
        connection.start();
        exec();
    }
    connection.finish(m_stopRequested);
}
