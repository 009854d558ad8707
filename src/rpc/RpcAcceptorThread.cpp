#include "RpcAcceptorThread.h"

#include "RpcAcceptor.h"

RpcAcceptorThread::RpcAcceptorThread(SessionHandlerFactory factory, const RpcServer::Limits &limits,
                                     const QSslConfiguration &tls, const QHostAddress &address, quint16 port,
                                     const QByteArray &tokenKey)
    : m_factory(std::move(factory))
    , m_limits(limits)
    , m_tls(tls)
    , m_tokenKey(tokenKey)
    , m_address(address)
    , m_port(port)
{ }

bool RpcAcceptorThread::startListening(QString *error)
{
    start();
    m_ready.acquire(); // released by run() once listen() answered
    if (!m_listening) {
        wait();
        if (error) {
            *error = m_error;
        }
        return false;
    }
    return true;
}

void RpcAcceptorThread::run()
{
    RpcAcceptor acceptor(m_factory, m_limits, m_tls, m_tokenKey);
    // A deep queue of accepted connections: under a flood of connections a
    // short one drops a real host's SYN, which its system retries only after
    // 1 s, 3 s, 7 s ...
    acceptor.setListenBacklogSize(1024);
    m_listening = acceptor.listen(m_address, m_port);
    if (!m_listening) {
        m_error = acceptor.errorString();
        m_ready.release();
        return;
    }
    m_port = acceptor.serverPort();
    m_ready.release();
    // A quit() that came before exec() still ends it at once.
    exec();
    acceptor.close();
    acceptor.stopSessions();
}
