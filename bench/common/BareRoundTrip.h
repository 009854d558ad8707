#pragma once

// The floor under a call to the application server: a plain TCP echo on
// loopback that answers each request with as many bytes as the real reply
// has, without decoding, dispatch or database. A benchmark sizes it from the
// real call (callBytes, replyBytes) and sets the real call's time against it.

#include <QCborArray>
#include <QCborValue>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

// Listens on 127.0.0.1 (a free port) in a thread of its own; each connection
// gets a thread that answers its requests until the peer closes.
class BareEchoServer
{
public:
    BareEchoServer();
    ~BareEchoServer();
    BareEchoServer(const BareEchoServer &) = delete;
    BareEchoServer &operator=(const BareEchoServer &) = delete;

    bool isListening() const { return m_listener >= 0; }
    quint16 port() const { return m_port; }

private:
    void acceptLoop();
    static void serve(int connection);
    // Answers requests until the peer closes or sends a size no frame has.
    static void answer(int connection);

    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptor;
    std::vector<std::thread> m_sessions;
    std::vector<int> m_connections;
};

// One connection to a BareEchoServer. A request is requestBytes long (the
// first eight carry its length and the reply's, as a frame header would);
// the reply is replyBytes long. Both at least eight.
class BareRoundTrip
{
public:
    explicit BareRoundTrip(quint16 port);
    ~BareRoundTrip();
    BareRoundTrip(const BareRoundTrip &) = delete;
    BareRoundTrip &operator=(const BareRoundTrip &) = delete;

    bool isOpen() const { return m_socket >= 0; }
    // One request and its whole reply; false when the connection failed.
    bool run(qsizetype requestBytes, qsizetype replyBytes);
    // Mean microseconds per round trip over trips of them; negative on failure.
    double meanMicros(qsizetype requestBytes, qsizetype replyBytes, int trips);

    // The bytes a call and its answer take on the wire, frames included.
    static qsizetype callBytes(const QString &method, const QCborArray &args);
    static qsizetype replyBytes(const QCborValue &value);

private:
    int m_socket = -1;
    std::vector<char> m_request;
    std::vector<char> m_reply;
};
