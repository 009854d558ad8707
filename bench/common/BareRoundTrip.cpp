#include "BareRoundTrip.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QThread>

using namespace Qt::StringLiterals;

BareRoundTrip::BareRoundTrip(qsizetype requestBytes, QByteArray reply)
    : m_requestBytes(requestBytes)
    , m_reply(std::move(reply))
{
    std::atomic<bool> ready = false;
    m_thread = std::thread([this, &ready] {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        m_port = server.serverPort();
        ready = true;
        if (!server.waitForNewConnection(10'000)) {
            return;
        }
        QTcpSocket *socket = server.nextPendingConnection();
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        qsizetype pending = 0;
        while (socket->state() == QAbstractSocket::ConnectedState) {
            if (!socket->waitForReadyRead(100)) {
                continue;
            }
            const QByteArray got = socket->readAll();
            if (m_reply.isEmpty()) {
                socket->write(got);
            } else {
                // One reply per whole request, as a server answers a frame.
                pending += got.size();
                for (; pending >= m_requestBytes; pending -= m_requestBytes) {
                    socket->write(m_reply);
                }
            }
            socket->flush();
        }
    });
    while (!ready) {
        QThread::msleep(1);
    }
    m_socket.connectToHost(u"127.0.0.1"_s, m_port);
    m_socket.waitForConnected(5'000);
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

BareRoundTrip::~BareRoundTrip()
{
    m_socket.disconnectFromHost();
    if (m_socket.state() != QAbstractSocket::UnconnectedState) {
        m_socket.waitForDisconnected(1'000);
    }
    m_thread.join();
}

double BareRoundTrip::once(const QByteArray &request)
{
    QElapsedTimer clock;
    clock.start();
    m_socket.write(request);
    const qsizetype expected = m_reply.isEmpty() ? request.size() : m_reply.size();
    qsizetype got = 0;
    while (got < expected && (m_socket.bytesAvailable() > 0 || m_socket.waitForReadyRead(5'000))) {
        got += m_socket.readAll().size();
    }
    return double(clock.nsecsElapsed()) / 1000.0;
}

double BareRoundTrip::mean(const QByteArray &request, int runs)
{
    double total = 0;
    for (int i = 0; i < runs; ++i) {
        total += once(request);
    }
    return total / runs;
}
