#pragma once

#include <QCborArray>
#include <QCborValue>
#include <QHostAddress>
#include <QSslConfiguration>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include "rpc_export.h"

// What the application plugs into the server: one handler per connection,
// created and used only in that connection's thread.
class RPC_EXPORT SessionHandler
{
public:
    virtual ~SessionHandler() = default;
    struct LoginRequest
    {
        QString server; // the remote module the client asked for
        QString operatorCode;
        QString password;
        QString address; // the client's, as text
        // The client presented a valid device token of this operator: its
        // check goes ahead of anonymous ones.
        bool trusted = false;
    };
    struct LoginResult
    {
        bool ok = false;
        QString error; // why the login was refused
        QString unitName; // told back to the client
        QString operatorName;
        // False for a refusal that says nothing of the password (the server
        // is busy, its database failed): not counted as a failed login.
        bool counts = true;
    };
    // Must not hold a database connection of its own: a connection that has
    // not logged in costs the database nothing. A throw is a refusal that
    // does not count.
    virtual LoginResult login(const LoginRequest &request) = 0;
    // Runs one method after a successful login. Throws EDatabaseError (or any
    // std::exception) to send a failure reply with its message.
    virtual QCborValue call(const QString &method, const QCborArray &args) = 0;
};

using SessionHandlerFactory = std::function<std::unique_ptr<SessionHandler>()>;

class RpcAcceptorThread;

// TCP server: each connection runs in a thread of its own with its own handler.
// The listening socket lives in a thread of the server's own, so the thread
// that owns an RpcServer needs no event loop (an in-process client may block
// it with synchronous calls). The factory is called in each session's thread.
// Use listen() and close() from one thread, never from a handler.
class RPC_EXPORT RpcServer
{
public:
    // Protections against clients that misbehave; see docs/protocol.md.
    struct Limits
    {
        int loginTimeoutMs = 10'000; // a connection must log in within this time
        int incompleteFrameTimeoutMs = 30'000; // a started frame must progress within this time
        int maxFailedLogins = 3; // refused logins before the connection is closed
        int maxSessions = 256; // logged-in sessions served at once; more logins are refused
        // Connections not logged in yet have seats of their own: when they are
        // full, the oldest one is closed for the newcomer, so idle connections
        // can neither take the logged-in seats nor keep an operator out.
        int maxPendingLogins = 32;
        int maxPendingPerAddress = 8;
        // A connection counts as silent (and may give way) only once it has
        // been open this long with nothing sent: hosts behind one address
        // that connect together, or over a slow link, are not taken for idle.
        int silentAfterMs = 1'000;
        // Refused logins per operator code and per address: from this many in
        // a row on, the next password is checked only after a delay that
        // starts here and doubles each time, up to the maximum.
        int failedLoginsBeforeDelay = 3;
        int failedLoginDelayMs = 1'000;
        int maxFailedLoginDelayMs = 30'000;
        // The same per network prefix (/24 IPv4, /64 IPv6), which holds a
        // whole shop: a higher threshold before its delay starts.
        int failedLoginsBeforePrefixDelay = 12;
        // Logged-in sessions of one operator, and from one address.
        int maxSessionsPerOperator = 16;
        int maxSessionsPerAddress = 64;
        // Bytes that the frames being read and handled may claim at once,
        // across all sessions (each frame counts three times its length:
        // the frame, what is decoded from it, its reply).
        qint64 memoryBudgetBytes = qint64(1) << 30;
        // A refused login is answered after this pause (nothing is read meanwhile).
        int loginRefusalDelayMs = 250;
        // A device token is good for this long after it was issued.
        int tokenLifetimeDays = 30;
    };

    explicit RpcServer(SessionHandlerFactory factory);
    ~RpcServer();
    RpcServer(const RpcServer &) = delete;
    RpcServer &operator=(const RpcServer &) = delete;

    // Applies to connections accepted by the next listen().
    void setLimits(const Limits &limits) { m_limits = limits; }
    Limits limits() const { return m_limits; }
    // Applies to the next listen(): a configuration holding the local
    // certificate and private key makes every connection TLS; a plain client
    // is told so and closed. A null configuration (the default) is plain TCP.
    void setTls(const QSslConfiguration &configuration) { m_tls = configuration; }
    // Key of the device tokens (HMAC-SHA256); random per server unless set,
    // so tokens are forgotten when the server restarts.
    void setTokenKey(const QByteArray &key) { m_tokenKey = key; }

    // Starts listening (port 0 picks a free one); returns false and sets *error.
    bool listen(const QHostAddress &address, quint16 port, QString *error);
    bool isListening() const { return m_acceptor != nullptr; }
    quint16 port() const;
    void close(); // stops listening and ends every session, waiting for their threads

private:
    SessionHandlerFactory m_factory;
    Limits m_limits;
    QSslConfiguration m_tls;
    QByteArray m_tokenKey;
    std::unique_ptr<RpcAcceptorThread> m_acceptor;
    quint16 m_port = 0;
};
