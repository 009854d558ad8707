#pragma once

#include <QDeadlineTimer>
#include <QTcpSocket>

#include <optional>

#include "RpcWire.h"

// A client that writes whatever bytes a test gives it and reads what the
// server answers, frame by frame, with blocking waits and a time limit.
class RawPeer
{
public:
    // from: a loopback source address of the client's own (127.x.y.z).
    bool connectTo(quint16 port, const QString &from = {})
    {
        if (!from.isEmpty() && !m_socket.bind(QHostAddress(from))) {
            return false;
        }
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        return m_socket.waitForConnected(5000);
    }

    void send(const QByteArray &bytes)
    {
        m_socket.write(bytes);
        while (m_socket.bytesToWrite() > 0 && m_socket.waitForBytesWritten(5000)) { }
    }

    // The next frame the server sends, parsed; nothing when the connection
    // closed or nothing came in time.
    std::optional<RpcMessage> read(int timeoutMs = 5000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        QByteArray payload;
        for (;;) {
            const FrameDecoder::Status status = m_decoder.next(&payload);
            if (status == FrameDecoder::Status::Frame) {
                return RpcWire::parse(payload);
            }
            if (status == FrameDecoder::Status::Error) {
                return std::nullopt;
            }
            if (m_socket.bytesAvailable() > 0) {
                m_decoder.feed(m_socket.readAll());
                continue;
            }
            if (m_socket.state() != QAbstractSocket::ConnectedState || deadline.hasExpired()) {
                return std::nullopt;
            }
            m_socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        }
    }

    // True once the server closed the connection (within the time limit).
    bool waitClosed(int timeoutMs = 5000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (m_socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
            m_socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
            m_socket.readAll();
        }
        return m_socket.state() != QAbstractSocket::ConnectedState;
    }

    bool isConnected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    void disconnect() { m_socket.abort(); }

    bool login(const QString &operatorCode = QStringLiteral("op"), const QString &password = QStringLiteral("secret"),
               const QString &token = {}, QString *error = nullptr)
    {
        send(RpcWire::loginFrame(QStringLiteral("PRU87000.rdmProcessoUnidade"), operatorCode, password, token));
        const auto reply = read();
        if (error) {
            *error = reply ? reply->error : QStringLiteral("no reply");
        }
        return reply && reply->kind == RpcMessage::Kind::LoginReply && reply->ok;
    }

private:
    QTcpSocket m_socket;
    FrameDecoder m_decoder;
};

// A CBOR value wrapped in a frame, however wrong it is as a message.
inline QByteArray frameOf(const QCborValue &value)
{
    return Frame::wrap(value.toCbor());
}
