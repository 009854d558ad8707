#include "RpcAcceptor.h"

#include <QHash>
#include <QTcpSocket>

#include <sys/socket.h>

#include "RpcWire.h"
#include "RpcLog.h"
#include "RpcSessionThread.h"

using namespace Qt::StringLiterals;

namespace {

QHostAddress peerOf(qintptr socketDescriptor)
{
    sockaddr_storage storage{};
    socklen_t length = sizeof(storage);
    if (::getpeername(int(socketDescriptor), reinterpret_cast<sockaddr *>(&storage), &length) != 0) {
        return {};
    }
    QHostAddress address(reinterpret_cast<const sockaddr *>(&storage));
    // An IPv4 peer on a dual-stack socket counts as its IPv4 address.
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : address;
}

} // namespace

RpcAcceptor::RpcAcceptor(SessionHandlerFactory factory, const RpcServer::Limits &limits, const QSslConfiguration &tls,
                         const QByteArray &tokenKey)
    : m_factory(std::move(factory))
    , m_limits(limits)
    , m_tls(tls)
    , m_admission(std::make_shared<RpcAdmission>(limits, tokenKey))
{
    // Connections turn silent without anyone arriving: the seats are kept
    // to their limits between newcomers too.
    m_sweep.setInterval(qMax(100, limits.silentAfterMs));
    connect(&m_sweep, &QTimer::timeout, this, [this] { trimSilent(nullptr); });
    m_sweep.start();
}

RpcAcceptor::~RpcAcceptor()
{
    stopSessions();
}

void RpcAcceptor::incomingConnection(qintptr socketDescriptor)
{
    // Evicted connections take a moment to wind down; past this many threads
    // a newcomer is turned away at once instead of adding another.
    const qsizetype maxThreads = qsizetype(m_limits.maxSessions) + 2 * qsizetype(m_limits.maxPendingLogins);
    if (m_sessions.size() >= maxThreads) {
        refuse(socketDescriptor,
               u"O servidor de aplicação atingiu o limite de %1 sessões simultâneas; tente mais tarde."_s.arg(
                   m_limits.maxSessions));
        return;
    }
    const QHostAddress address = peerOf(socketDescriptor);
    trimSilent(&address);
    // Connections that keep sending logins are not silent, yet must not
    // hold every seat either: past twice the seats the oldest one whose
    // password is not being checked gives way (checks are bounded by the
    // server's queue of password checks, which refuses at once when full).
    if (m_pending.size() >= 2 * qsizetype(m_limits.maxPendingLogins) && !evictOldest(nullptr, false)) {
        refuse(socketDescriptor,
               u"O servidor de aplicação encerrou esta conexão por excesso de conexões sem login; tente de novo."_s);
        return;
    }
    auto *session = new RpcSessionThread(socketDescriptor, m_factory, m_limits, m_tls, m_admission);
    m_sessions.append(session);
    m_pending.append({session, address});
    connect(session, &RpcSessionThread::loggedIn, this, [this, session] { forgetPending(session); });
    // Queued to this thread: the session's thread has ended its work by then.
    connect(session, &QThread::finished, this, [this, session] {
        forgetPending(session);
        if (m_sessions.removeOne(session)) {
            session->wait();
            delete session;
        }
    });
    session->start();
}

void RpcAcceptor::trimSilent(const QHostAddress *arriving)
{
    // Only silent connections count and give way: one whose login is on its
    // way or being checked keeps its seat (the thread cap bounds them).
    QHash<QHostAddress, qsizetype> fromAddress;
    qsizetype silent = 0;
    for (const Pending &p : std::as_const(m_pending)) {
        if (p.session->isSilent()) {
            ++silent;
            ++fromAddress[p.address];
        }
    }
    const qsizetype newcomer = arriving ? 1 : 0;
    for (auto it = fromAddress.begin(); it != fromAddress.end(); ++it) {
        const qsizetype seat = arriving && it.key() == *arriving ? 1 : 0;
        while (it.value() + seat > m_limits.maxPendingPerAddress && evictOldest(&it.key(), true)) {
            --it.value();
            --silent;
        }
    }
    while (silent + newcomer > m_limits.maxPendingLogins && evictOldest(nullptr, true)) {
        --silent;
    }
}

bool RpcAcceptor::evictOldest(const QHostAddress *address, bool silentOnly)
{
    for (qsizetype i = 0; i < m_pending.size();) {
        const Pending pending = m_pending.at(i);
        if ((address && pending.address != *address) || (silentOnly && !pending.session->isSilent())) {
            ++i;
            continue;
        }
        m_pending.removeAt(i);
        if (pending.session->evict()) {
            qCInfo(lcRpc).noquote() << u"conexão sem login de %1 encerrada para dar lugar a outra"_s.arg(
                pending.address.toString());
            return true;
        }
        // It logged in meanwhile: it keeps its seat; try the next one.
    }
    return false;
}

void RpcAcceptor::forgetPending(RpcSessionThread *session)
{
    m_pending.removeIf([session](const Pending &p) { return p.session == session; });
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
    m_pending.clear();
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
