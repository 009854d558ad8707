#pragma once

#include <QCborArray>
#include <QObject>
#include <QString>
#include <QVariantList>

#include <functional>
#include <memory>

#include "RpcReply.h"
#include "framework_export.h"

class RpcClient;
class TNetConnection;

// The remote object of a connection: calls by method name with positional
// arguments. Arguments: numbers (int/double), texts, packets (QByteArray from
// GetData/GetDelta, sent as a CBOR byte string), null (invalid QVariant).
class FRAMEWORK_EXPORT TAppServer
{
public:
    explicit TAppServer(TNetConnection *connection)
        : m_connection(connection)
    { }
    RpcReply call(const QString &method, const QVariantList &args = {});
    RpcReply call(const QString &method, const QCborArray &args);
    // Sends the call now and goes on; the next call() of the same method with
    // the same arguments takes the server's answer (see RpcClient::post).
    // Nothing happens without a connection, open or being opened.
    void post(const QString &method, const QVariantList &args = {});

private:
    TNetConnection *m_connection;
};

// Connection to a remote data module on the application server.
// Connecting runs BeforeConnect (where the screen sets Host and Port), then
// logs in with the session's operator and password (setSession).
class FRAMEWORK_EXPORT TNetConnection : public QObject
{
    Q_OBJECT
public:
    explicit TNetConnection(QObject *parent = nullptr);
    ~TNetConnection() override;

    QString ServerName() const { return m_serverName; }
    void setServerName(const QString &name) { m_serverName = name; }
    QString Host() const { return m_host; }
    void setHost(const QString &host) { m_host = host; }
    int Port() const { return m_port; }
    void setPort(int port) { m_port = port; }

    // Time limit of connecting and of each call, in milliseconds (default 30 s).
    int Timeout() const { return m_timeoutMs; }
    void setTimeout(int ms) { m_timeoutMs = ms; }

    // true: a failure reply is thrown at the call as EDatabaseError.
    // false: every call gives its reply back, failures included, for
    // CheckResultServ to judge. Connecting throws EDatabaseError either way.
    bool ThrowException() const { return m_throwException; }
    void setThrowException(bool value) { m_throwException = value; }

    // False once disconnected or once the server dropped the connection.
    bool Connected() const;
    // true: BeforeConnect, then connect and log in (throws EDatabaseError
    // with the reason on failure). false: closes; nothing when not connected.
    void setConnected(bool connected);
    void Open() { setConnected(true); }
    // Starts connecting (BeforeConnect, the connection, the login sent)
    // without waiting for the server's answer, so that the server logs in
    // while the caller builds what it needs; setConnected(true) then waits
    // for the answer and fails as it would have. A failure here is kept for
    // setConnected(true) to report; nothing is thrown.
    void connectAhead();
    void Close() { setConnected(false); }

    // What the server told at login.
    QString unitName() const;
    QString operatorName() const;

    TAppServer *AppServer() { return &m_appServer; }

    std::function<void(QObject *sender)> BeforeConnect;
    std::function<void(QObject *sender)> AfterConnect;
    std::function<void(QObject *sender)> AfterDisconnect;

signals:
    void connectedChanged(bool connected);

private:
    friend class TAppServer;
    RpcReply callRemote(const QString &method, const QCborArray &args);
    // Posts on the open client, or on the one whose login is on its way.
    void postRemote(const QString &method, const QCborArray &args);
    // BeforeConnect and the first half of the login (throws EDatabaseError).
    std::unique_ptr<RpcClient> startConnecting();
    [[noreturn]] void failConnecting(const QString &error) const;

    QString m_serverName;
    QString m_host;
    int m_port = 0;
    int m_timeoutMs = 30000;
    bool m_throwException = true;
    std::unique_ptr<RpcClient> m_client;
    // After connectAhead: the client whose login is on its way, or why
    // connecting failed.
    std::unique_ptr<RpcClient> m_opening;
    QString m_aheadFailure;
    // Set when the server dropped a connection this object had opened; the
    // next call connects again. A Close() by the caller clears it.
    bool m_dropped = false;
    TAppServer m_appServer{this};
};
