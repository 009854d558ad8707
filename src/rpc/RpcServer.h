#pragma once

#include <QCborArray>
#include <QCborValue>
#include <QHostAddress>
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
    struct LoginResult
    {
        bool ok = false;
        QString error;        // why the login was refused
        QString unitName;     // told back to the client
        QString operatorName;
    };
    // serverName is the remote module the client asked for.
    virtual LoginResult login(const QString &serverName, const QString &operatorCode, const QString &password) = 0;
    // Runs one method after a successful login. Throws EDatabaseError (or any
    // std::exception) to send a failure reply with its message.
    virtual QCborValue call(const QString &method, const QCborArray &args) = 0;
};

using SessionHandlerFactory = std::function<std::unique_ptr<SessionHandler>()>;

// TCP server: each connection runs in a thread of its own with its own handler.
class RPC_EXPORT RpcServer
{
public:
    explicit RpcServer(SessionHandlerFactory factory);
    ~RpcServer();
    // Starts listening (port 0 picks a free one); returns false and sets *error.
    bool listen(const QHostAddress &address, quint16 port, QString *error);
    quint16 port() const;
    void close(); // stops listening and ends every session, waiting for their threads

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
