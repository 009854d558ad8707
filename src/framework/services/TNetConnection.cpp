#include "TNetConnection.h"

#include <QCborValue>

#include "Exceptions.h"
#include "FrameworkServices.h"
#include "RpcClient.h"
#include "FieldValue.h"

using namespace Qt::StringLiterals;

namespace {
QCborValue toCbor(const QVariant &v)
{
    if (!v.isValid() || v.isNull()) {
        return QCborValue(QCborValue::Null);
    }
    if (FieldValue::isNumeric(v)) {
        return QCborValue(v.toDouble());
    }
    switch (v.metaType().id()) {
    case QMetaType::QString:
        return QCborValue(v.toString());
    case QMetaType::QByteArray:
        return QCborValue(v.toByteArray());
    case QMetaType::Bool:
        return QCborValue(v.toBool());
    default:
        break;
    }
    throw EDatabaseError(
        u"Tipo de argumento não suportado numa chamada ao servidor: %1"_s.arg(QString::fromLatin1(v.typeName())));
}

QCborArray toCbor(const QVariantList &args)
{
    QCborArray array;
    for (const QVariant &v : args) {
        array.append(toCbor(v));
    }
    return array;
}
} // namespace

RpcReply TAppServer::call(const QString &method, const QVariantList &args)
{
    return m_connection->callRemote(method, toCbor(args));
}

void TAppServer::post(const QString &method, const QVariantList &args)
{
    m_connection->postRemote(method, toCbor(args));
}

RpcReply TAppServer::call(const QString &method, const QCborArray &args)
{
    return m_connection->callRemote(method, args);
}

TNetConnection::TNetConnection(QObject *parent)
    : QObject(parent)
{ }

TNetConnection::~TNetConnection() = default;

void TNetConnection::postRemote(const QString &method, const QCborArray &args)
{
    if (RpcClient *client = m_client ? m_client.get() : m_opening.get()) {
        client->post(method, args);
    }
}

bool TNetConnection::Connected() const
{
    return m_client && m_client->isOpen();
}

std::unique_ptr<RpcClient> TNetConnection::startConnecting()
{
    if (BeforeConnect) {
        BeforeConnect(this);
    }
    if (m_host.isEmpty() || m_port <= 0 || m_port > 65535) {
        throw EDatabaseError(u"Endereço do servidor de aplicação não informado (%1:%2)."_s.arg(m_host).arg(m_port));
    }
    auto client = std::make_unique<RpcClient>();
    QString error;
    const SessionInfo s = session();
    client->setSecurity(s.security);
    client->setDeviceToken(s.deviceToken);
    if (!client->startOpen(m_host, quint16(m_port), m_serverName, s.operatorCode, s.password, m_timeoutMs, &error)) {
        failConnecting(error);
    }
    return client;
}

void TNetConnection::failConnecting(const QString &error) const
{
    throw EDatabaseError(
        u"Não foi possível conectar ao servidor de aplicação %1:%2 (%3): %4"_s.arg(m_host).arg(m_port).arg(m_serverName,
                                                                                                           error));
}

void TNetConnection::connectAhead()
{
    if (Connected() || m_opening || !m_aheadFailure.isEmpty()) {
        return;
    }
    try {
        m_opening = startConnecting();
    } catch (const EDatabaseError &e) {
        // Reported by setConnected(true), without trying once more: a server
        // that does not answer is waited for once.
        m_aheadFailure = e.message();
    } catch (...) {
        // Anything else (from BeforeConnect) comes again when setConnected runs it.
    }
}

void TNetConnection::setConnected(bool connected)
{
    if (connected) {
        if (Connected()) {
            return;
        }
        if (const QString failure = std::exchange(m_aheadFailure, {}); !failure.isEmpty()) {
            throw EDatabaseError(failure);
        }
        std::unique_ptr<RpcClient> client = m_opening ? std::move(m_opening) : startConnecting();
        QString error;
        if (!client->finishOpen(&error)) {
            failConnecting(error);
        }
        m_client = std::move(client);
        m_dropped = false;
        emit connectedChanged(true);
        if (AfterConnect) {
            AfterConnect(this);
        }
        return;
    }
    m_dropped = false;
    m_opening.reset();
    m_aheadFailure.clear();
    if (!m_client) {
        return;
    }
    m_client->close();
    m_client.reset();
    emit connectedChanged(false);
    if (AfterDisconnect) {
        AfterDisconnect(this);
    }
}

QString TNetConnection::unitName() const
{
    return m_client ? m_client->unitName() : QString();
}

QString TNetConnection::operatorName() const
{
    return m_client ? m_client->operatorName() : QString();
}

RpcReply TNetConnection::callRemote(const QString &method, const QCborArray &args)
{
    RpcReply reply;
    if (m_client && !m_client->isOpen()) {
        // The server dropped the connection (stopped, restarted, killed): the
        // next call connects again, so a change the screen kept can still be saved.
        m_client.reset();
        m_dropped = true;
        emit connectedChanged(false);
    }
    QString notConnected;
    if (m_dropped) {
        try {
            setConnected(true);
        } catch (const EDatabaseError &e) {
            notConnected = e.message();
        }
    } else if (!Connected()) {
        notConnected =
            u"Sem conexão com o servidor de aplicação %1:%2; a chamada %3 não foi feita."_s.arg(m_host).arg(m_port).arg(
                method);
    }
    if (!notConnected.isEmpty()) {
        reply = RpcReply::failure(notConnected);
        reply.method = method;
    } else {
        // Whatever the call throws reaches the caller as a failed reply, so
        // the reply check shows it like any other failure.
        try {
            reply = m_client->call(method, args, m_timeoutMs);
        } catch (...) {
            reply = RpcReply::failure(currentExceptionMessage());
        }
    }
    if (!reply.ok && m_throwException) {
        throw EDatabaseError(reply.error);
    }
    return reply;
}
