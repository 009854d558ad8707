#pragma once

#include <QObject>
#include <QTimer>

#include <memory>

#include "Frame.h"
#include "RpcServer.h"

class QTcpSocket;

// The protocol of one accepted connection, on the server side. Lives in the
// session's thread and is driven by the socket's readyRead: it cuts frames,
// answers the login and the calls through the session's handler, and turns
// every failure, bad input included, into a failure reply or a closed
// connection. Nothing a client sends ends up as an exception outside it.
class RpcConnection : public QObject
{
    Q_OBJECT

public:
    RpcConnection(QTcpSocket *socket, SessionHandlerFactory factory, const RpcServer::Limits &limits);
    ~RpcConnection() override;

    // Creates the handler (in the calling thread) and starts serving.
    void start();
    // Ends the connection after the event loop stopped; tells the client why
    // when the server is the one shutting down.
    void finish(bool serverStopping);

private:
    void onReadyRead();
    void handlePayload(const QByteArray &payload);
    void handleLogin(const RpcMessage &message);
    void handleCall(const RpcMessage &message);
    QByteArray invoke(const RpcMessage &call);
    void send(const QByteArray &frame);
    void closeAfterSending(const QByteArray &frame);
    void endSession();

    QTcpSocket *m_socket;
    SessionHandlerFactory m_factory;
    RpcServer::Limits m_limits;
    std::unique_ptr<SessionHandler> m_handler;
    FrameDecoder m_decoder;
    QTimer m_loginTimer;
    QTimer m_frameTimer;
    QTimer m_closeTimer;
    bool m_loggedIn = false;
    bool m_closing = false;
    int m_failedLogins = 0;
};
