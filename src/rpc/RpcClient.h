#pragma once

#include <QCborArray>
#include <QDeadlineTimer>
#include <QString>
#include <QTcpSocket>

#include "Frame.h"
#include "RpcReply.h"
#include "rpc_export.h"

// Synchronous client of one application server session. Every wait is on the
// socket itself (no nested event loop), bounded by a time limit, so no user
// input is processed while a call runs and a dead server gives a clear error.
class RPC_EXPORT RpcClient
{
public:
    RpcClient();
    ~RpcClient();
    RpcClient(const RpcClient &) = delete;
    RpcClient &operator=(const RpcClient &) = delete;

    // Connects and logs in; the server names the remote module (serverName,
    // e.g. "PRU87000.rdmProcessoUnidade"). Returns false and sets *error.
    bool open(const QString &host, quint16 port, const QString &serverName,
              const QString &operatorCode, const QString &password,
              int timeoutMs, QString *error);
    void close();
    bool isOpen() const; // false once the server closed the connection or a call failed on the wire

    // One call by method name with positional arguments. Transport failures
    // (timeout, closed connection, bad frame) come back as a failure reply
    // and leave the client closed.
    RpcReply call(const QString &method, const QCborArray &args, int timeoutMs);

    // What the server told at login.
    QString unitName() const;
    QString operatorName() const;

    // Used when a caller passes a time limit of zero or less.
    static constexpr int defaultTimeoutMs = 30'000;

private:
    enum class Outcome { Received, TimedOut, Lost, BadFrame };
    RpcReply send(const QString &method, const QCborArray &args, int timeoutMs);
    // Sends one frame and waits, until the deadline, for the next frame from
    // the server; timeoutMs is the limit the failure text names.
    Outcome exchange(const QByteArray &frame, const QDeadlineTimer &deadline, int timeoutMs, RpcMessage *reply,
                     QString *failure);
    Outcome waitForWritten(const QDeadlineTimer &deadline);
    Outcome waitForFrame(const QDeadlineTimer &deadline, QByteArray *payload);
    QString outcomeText(Outcome outcome, int timeoutMs, const QString &detail) const;

    QTcpSocket m_socket;
    FrameDecoder m_decoder;
    quint64 m_nextId = 1;
    bool m_loggedIn = false;
    QString m_unitName;
    QString m_operatorName;
};
