#pragma once

#include <QByteArray>
#include <QTcpSocket>

#include <atomic>
#include <thread>

// The floor any call over loopback stands on: a thread that answers each
// request of a known size with a reply of a known size, through the same
// kind of socket the application uses, with nothing decoded and nothing run.
class BareRoundTrip
{
public:
    // replyBytes empty: the request itself is sent back.
    BareRoundTrip(qsizetype requestBytes, QByteArray reply = {});
    ~BareRoundTrip();
    BareRoundTrip(const BareRoundTrip &) = delete;
    BareRoundTrip &operator=(const BareRoundTrip &) = delete;

    // Microseconds of one blocking round trip of `request` (requestBytes long).
    double once(const QByteArray &request);
    // Mean microseconds over runs round trips.
    double mean(const QByteArray &request, int runs);

private:
    qsizetype m_requestBytes;
    QByteArray m_reply;
    std::thread m_thread;
    std::atomic<quint16> m_port = 0;
    QTcpSocket m_socket;
};
