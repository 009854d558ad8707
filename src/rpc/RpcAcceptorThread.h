#pragma once

#include <QHostAddress>
#include <QSemaphore>
#include <QThread>

#include "RpcServer.h"

// The server's own thread: the listening socket is created, listens and is
// closed in it. quit() stops listening and ends every session.
class RpcAcceptorThread : public QThread
{
    Q_OBJECT

public:
    RpcAcceptorThread(SessionHandlerFactory factory, const RpcServer::Limits &limits, const QSslConfiguration &tls,
                      const QHostAddress &address, quint16 port, const QByteArray &tokenKey);

    // Starts the thread and blocks until it listens or failed to.
    bool startListening(QString *error);
    quint16 port() const { return m_port; }

protected:
    void run() override;

private:
    SessionHandlerFactory m_factory;
    RpcServer::Limits m_limits;
    QSslConfiguration m_tls;
    QByteArray m_tokenKey;
    QHostAddress m_address;
    quint16 m_port;
    bool m_listening = false;
    QString m_error;
    QSemaphore m_ready;
};
