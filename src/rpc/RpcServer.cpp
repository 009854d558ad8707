#include "RpcServer.h"

#include "RpcAcceptorThread.h"
#include "RpcLog.h"

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcRpc, "pru.rpc", QtWarningMsg)

QString loggable(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0) || u == 0x2028 || u == 0x2029 || u == u'\\') {
            out += u < 0x100 ? u"\\x%1"_s.arg(uint(u), 2, 16, u'0') : u"\\u%1"_s.arg(uint(u), 4, 16, u'0');
        } else {
            out += c;
        }
    }
    return out;
}

RpcServer::RpcServer(SessionHandlerFactory factory)
    : m_factory(std::move(factory))
{
}

RpcServer::~RpcServer()
{
    close();
}

bool RpcServer::listen(const QHostAddress &address, quint16 port, QString *error)
{
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
