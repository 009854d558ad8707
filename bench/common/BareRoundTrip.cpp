#include "BareRoundTrip.h"

#include <QElapsedTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "RpcWire.h"

namespace {

constexpr qsizetype headerBytes = 8;

// Runs a send or a receive until all size bytes went through it.
template <typename Transfer>
bool whole(char *data, size_t size, Transfer transfer)
{
    while (size > 0) {
        const ssize_t done = transfer(data, size);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            return false;
        }
        data += done;
        size -= size_t(done);
    }
    return true;
}

bool sendAll(int socket, const char *data, size_t size)
{
    return whole(const_cast<char *>(data), size,
                 [socket](char *from, size_t n) { return ::send(socket, from, n, MSG_NOSIGNAL); });
}

bool receiveAll(int socket, char *data, size_t size)
{
    return whole(data, size, [socket](char *to, size_t n) { return ::recv(socket, to, n, 0); });
}

void putWord(char *to, quint32 value)
{
    const quint32 big = htonl(value);
    std::memcpy(to, &big, sizeof big);
}

quint32 word(const char *from)
{
    quint32 big = 0;
    std::memcpy(&big, from, sizeof big);
    return ntohl(big);
}

// Small messages leave at once, as the real client and server send them.
void noDelay(int socket)
{
    const int on = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

} // namespace

BareEchoServer::BareEchoServer()
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) {
        return;
    }
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(listener, 64) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        ::close(listener);
        return;
    }
    m_listener = listener;
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] { acceptLoop(); });
}

BareEchoServer::~BareEchoServer()
{
    m_stopping = true;
    if (m_listener >= 0) {
        // Wakes the blocked accept.
        ::shutdown(m_listener, SHUT_RDWR);
    }
    if (m_acceptor.joinable()) {
        m_acceptor.join();
    }
    for (const int connection : m_connections) {
        ::shutdown(connection, SHUT_RDWR);
    }
    for (std::thread &session : m_sessions) {
        session.join();
    }
    for (const int connection : m_connections) {
        ::close(connection);
    }
    if (m_listener >= 0) {
        ::close(m_listener);
    }
}

void BareEchoServer::acceptLoop()
{
    while (!m_stopping.load()) {
        const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (m_stopping.load()) {
            ::close(connection);
            return;
        }
        noDelay(connection);
        m_connections.push_back(connection);
        m_sessions.emplace_back([connection] { serve(connection); });
    }
}

void BareEchoServer::serve(int connection)
{
    answer(connection);
    // The peer learns at once that this connection is over; the server
    // closes it when it stops.
    ::shutdown(connection, SHUT_RDWR);
}

void BareEchoServer::answer(int connection)
{
    std::vector<char> request;
    std::vector<char> reply;
    char header[headerBytes];
    while (receiveAll(connection, header, sizeof header)) {
        const quint32 requestSize = word(header);
        const quint32 replySize = word(header + 4);
        if (requestSize < headerBytes || replySize < headerBytes || requestSize > Frame::maxPayloadBytes
            || replySize > Frame::maxPayloadBytes) {
            return;
        }
        request.resize(requestSize - headerBytes);
        if (!receiveAll(connection, request.data(), request.size())) {
            return;
        }
        if (reply.size() != replySize) {
            reply.assign(replySize, 'r');
        }
        if (!sendAll(connection, reply.data(), reply.size())) {
            return;
        }
    }
}

BareRoundTrip::BareRoundTrip(quint16 port)
{
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0) {
        return;
    }
    const sockaddr_in address = loopback(port);
    if (::connect(socket, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(socket);
        return;
    }
    noDelay(socket);
    m_socket = socket;
}

BareRoundTrip::~BareRoundTrip()
{
    if (m_socket >= 0) {
        ::close(m_socket);
    }
}

bool BareRoundTrip::run(qsizetype requestBytes, qsizetype replyBytes)
{
    if (m_socket < 0) {
        return false;
    }
    requestBytes = std::max(requestBytes, headerBytes);
    replyBytes = std::max(replyBytes, headerBytes);
    if (m_request.size() != size_t(requestBytes)) {
        m_request.assign(size_t(requestBytes), 'q');
    }
    putWord(m_request.data(), quint32(requestBytes));
    putWord(m_request.data() + 4, quint32(replyBytes));
    m_reply.resize(size_t(replyBytes));
    if (!sendAll(m_socket, m_request.data(), m_request.size())
        || !receiveAll(m_socket, m_reply.data(), m_reply.size())) {
        ::close(m_socket);
        m_socket = -1;
        return false;
    }
    return true;
}

double BareRoundTrip::meanMicros(qsizetype requestBytes, qsizetype replyBytes, int trips)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < trips; ++i) {
        if (!run(requestBytes, replyBytes)) {
            return -1;
        }
    }
    return double(timer.nsecsElapsed()) / 1000.0 / std::max(1, trips);
}

qsizetype BareRoundTrip::callBytes(const QString &method, const QCborArray &args)
{
    return RpcWire::callFrame(1, method, args).size();
}

qsizetype BareRoundTrip::replyBytes(const QCborValue &value)
{
    return RpcWire::replyFrame(1, value).size();
}
