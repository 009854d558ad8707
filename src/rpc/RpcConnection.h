#pragma once

#include <QObject>
#include <QSslConfiguration>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

#include "RpcWire.h"
#include "RpcServer.h"

class QSslSocket;
class RpcAdmission;

// The protocol of one accepted connection, on the server side. Lives in the
// session's thread and is driven by the socket's readyRead: it cuts frames,
// answers the login and the calls through the session's handler, and turns
// every failure, bad input included, into a failure reply or a closed
// connection. Nothing a client sends ends up as an exception outside it.
class RpcConnection : public QObject
{
    Q_OBJECT

public:
    RpcConnection(QSslSocket *socket, SessionHandlerFactory factory, const RpcServer::Limits &limits);
    ~RpcConnection() override;

    // Before start(): a configuration with a local certificate makes the
    // connection TLS.
    void setTls(const QSslConfiguration &configuration) { m_tls = configuration; }
    // Before start(): the server's admission, this connection's phase in it,
    // and what to run once a login was admitted.
    void setAdmission(RpcAdmission *admission, std::atomic<int> *phase, std::function<void()> onLoggedIn);

    // Creates the handler (in the calling thread) and starts serving.
    void start();
    // Ends the connection after the event loop stopped; tells the client
    // why (unless it was told already) when why is not empty.
    void finish(const QString &why);
    // The operator of a connection that logged in (its seat), else empty.
    QString loggedInOperator() const { return m_loggedIn ? m_operator : QString(); }
    QString peer() const { return m_peer; }

private:
    void onFirstBytes();
    void onReadyRead();
    void readFrames();
    bool admitFrame(quint32 length, QString *why);
    void releaseFrame();
    // Lets the payload go once it is parsed, before the call runs.
    void handlePayload(QByteArray &payload);
    // Zeroes the password once it is checked.
    void handleLogin(RpcMessage &message);
    void refuseLogin(QString why);
    void answerLater(const QByteArray &frame, bool close);
    void handleCall(const RpcMessage &message);
    QByteArray invoke(const RpcMessage &call);
    void send(const QByteArray &frame);
    void closeAfterSending(const QByteArray &frame);
    void endSession();

    QSslSocket *m_socket;
    QSslConfiguration m_tls;
    RpcAdmission *m_admission = nullptr;
    std::atomic<int> *m_phase = nullptr;
    std::function<void()> m_onLoggedIn;
    QString m_peer;
    SessionHandlerFactory m_factory;
    RpcServer::Limits m_limits;
    std::unique_ptr<SessionHandler> m_handler;
    FrameDecoder m_decoder;
    QTimer m_loginTimer;
    QTimer m_frameTimer;
    QTimer m_closeTimer;
    QTimer m_answerTimer;
    QByteArray m_heldAnswer;
    bool m_closeAfterAnswer = false;
    QString m_operator;
    qint64 m_heldBytes = 0; // of the memory budget, for the frame being read or handled
    bool m_loggedIn = false;
    bool m_closing = false;
    int m_failedLogins = 0;
};
