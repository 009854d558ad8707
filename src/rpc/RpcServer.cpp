#include "RpcServer.h"

#include "RpcAcceptorThread.h"
#include "RpcLog.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcRpc, "pru.rpc", QtWarningMsg)

RpcServer::RpcServer(SessionHandlerFactory factory)
    : m_factory(std::move(factory))
{ }

RpcServer::~RpcServer()
{
    close();
}

bool RpcServer::listen(const QHostAddress &address, quint16 port, QString *error)
{
#if defined(__GLIBC__)
    // Frames, packets and their copies of a megabyte and more are mapped on
    // their own and given back to the system as soon as they are let go. In
    // the heap (where the allocator's moving threshold would put them once
    // one was freed) a small allocation splits the freed frame, and the next
    // copy of the same size takes fresh memory beside it.
    static const bool mapped = mallopt(M_MMAP_THRESHOLD, 1024 * 1024) == 1;
    Q_UNUSED(mapped);
#endif
    if (m_acceptor) {
        if (error) {
            *error = u"O servidor de aplicação já está escutando na porta %1."_s.arg(m_port);
        }
        return false;
    }
    if (!m_factory) {
        if (error) {
            *error = u"O servidor de aplicação não tem como criar sessões."_s;
        }
        return false;
    }
    auto acceptor = std::make_unique<RpcAcceptorThread>(m_factory, m_limits, m_tls, address, port, m_tokenKey);
    QString why;
    if (!acceptor->startListening(&why)) {
        if (error) {
            *error = u"Não foi possível escutar em %1:%2: %3"_s.arg(address.toString()).arg(port).arg(why);
        }
        return false;
    }
    m_port = acceptor->port();
    m_acceptor = std::move(acceptor);
    return true;
}

quint16 RpcServer::port() const
{
    return m_port;
}

void RpcServer::close()
{
    if (!m_acceptor) {
        return;
    }
    m_acceptor->quit();
    m_acceptor->wait();
    m_acceptor.reset();
    m_port = 0;
}
