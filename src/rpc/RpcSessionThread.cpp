#include "RpcSessionThread.h"

#include <QSslSocket>

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cstddef>

#include "RpcConnection.h"
#include "RpcLog.h"

using namespace Qt::StringLiterals;

RpcSessionThread::RpcSessionThread(qintptr socketDescriptor, SessionHandlerFactory factory,
                                   const RpcServer::Limits &limits, const QSslConfiguration &tls,
                                   std::shared_ptr<RpcAdmission> admission)
    : m_socketDescriptor(socketDescriptor)
    , m_factory(std::move(factory))
    , m_limits(limits)
    , m_tls(tls)
    , m_admission(std::move(admission))
{
    m_accepted.start();
}

void RpcSessionThread::requestStop()
{
    Stop none = Stop::None;
    m_stop.compare_exchange_strong(none, Stop::Server);
    quit();
}

bool RpcSessionThread::evict()
{
    int pending = RpcAdmission::Pending;
    if (!m_phase.compare_exchange_strong(pending, RpcAdmission::Evicted)) {
        return false;
    }
    Stop none = Stop::None;
    m_stop.compare_exchange_strong(none, Stop::Evicted);
    quit();
    return true;
}

bool RpcSessionThread::isSilent() const
{
    if (!m_accepted.hasExpired(m_limits.silentAfterMs) || m_phase.load() != RpcAdmission::Pending) {
        return false;
    }
    // Silent is having sent nothing at all, as the kernel counts it: a login
    // read but not yet being checked (its thread busy or starved) is not, and
    // the login and frame time limits govern whoever sent a byte.
    tcp_info info{};
    socklen_t length = sizeof(info);
    if (::getsockopt(int(m_socketDescriptor), IPPROTO_TCP, TCP_INFO, &info, &length) == 0
        && length >= offsetof(tcp_info, tcpi_bytes_received) + sizeof(info.tcpi_bytes_received)) {
        return info.tcpi_bytes_received == 0;
    }
    // A kernel without that count: what waits unread.
    int queued = 0;
    return ::ioctl(int(m_socketDescriptor), FIONREAD, &queued) != 0 || queued == 0;
}

void RpcSessionThread::run()
{
    // A QSslSocket without encryption started is a plain TCP socket, so one
    // type serves both; RpcConnection starts TLS when the server has it.
    QSslSocket socket;
    if (!socket.setSocketDescriptor(m_socketDescriptor)) {
        qCWarning(lcRpc) << "cannot take over an accepted connection:" << socket.errorString();
        return;
    }
    // Request and reply are single writes; do not let Nagle hold them back.
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // Declared after the socket: the handler goes before the socket does.
    RpcConnection connection(&socket, m_factory, m_limits);
    connection.setTls(m_tls);
    connection.setAdmission(m_admission.get(), &m_phase, [this] { emit loggedIn(); });
    if (m_stop == Stop::None) {
        connection.start();
        exec();
    }
    switch (m_stop.load()) {
    case Stop::None:
        connection.finish({});
        break;
    case Stop::Server:
        connection.finish(u"O servidor de aplicação foi encerrado."_s);
        break;
    case Stop::Evicted:
        connection.finish(
            u"O servidor de aplicação encerrou esta conexão por excesso de conexões sem login; tente de novo."_s);
        break;
    }
    m_admission->leave(m_phase, connection.loggedInOperator(), connection.peer());
}
