#pragma once

#include <QCborArray>
#include <QDeadlineTimer>
#include <QString>
#include <QTcpSocket>

#include <memory>

#include "RpcWire.h"
#include "RpcReply.h"
#include "rpc_export.h"

// How a client trusts the server. Plain TCP unless one of these is set. With
// a fingerprint, the server certificate's SHA-256 alone decides (a
// self-signed one is fine); otherwise the certificate must chain to the CA
// file (or to the system's CAs with tls alone) and name the host.
struct RPC_EXPORT RpcSecurity
{
    bool tls = false;
    QString caFile; // PEM file of the CA certificates to trust
    QByteArray fingerprint; // SHA-256 of the server certificate, 32 bytes
    // Plain TCP goes to loopback addresses (127.0.0.0/8, ::1, localhost) only,
    // unless this says the network is trusted: the password would travel in clear.
    bool allowPlain = false;

    bool usesTls() const { return tls || !caFile.isEmpty() || !fingerprint.isEmpty(); }
    // For a server these settings were not given for: no trust in any
    // certificate, and allowPlain kept (it is said of the network).
    RpcSecurity forAnotherServer() const
    {
        RpcSecurity other;
        other.allowPlain = allowPlain;
        return other;
    }
    // Reads a fingerprint written as 64 hex digits, with or without ':' between bytes.
    static bool parseFingerprint(const QString &text, QByteArray *fingerprint);
    // "AB:CD:...", as the server's start line and scripts/make-cert.sh print it.
    static QString formatFingerprint(const QByteArray &fingerprint);
};

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
    // Applies to the next open().
    void setSecurity(const RpcSecurity &security) { m_security = security; }

    bool open(const QString &host, quint16 port, const QString &serverName, const QString &operatorCode,
              const QString &password, int timeoutMs, QString *error);
    // open() in two halves, so that the server logs in while the caller does
    // other work: startOpen connects and sends the login, finishOpen waits
    // (until timeoutMs after the start) for its answer. Calls may be posted
    // in between. A failure of either half leaves the client closed.
    bool startOpen(const QString &host, quint16 port, const QString &serverName, const QString &operatorCode,
                   const QString &password, int timeoutMs, QString *error);
    bool finishOpen(QString *error);
    void close();
    bool isOpen() const; // false once the server closed the connection or a call failed on the wire

    // One call by method name with positional arguments. Transport failures
    // (timeout, closed connection, bad frame) come back as a failure reply
    // and leave the client closed.
    RpcReply call(const QString &method, const QCborArray &args, int timeoutMs);
    // Sends a call now without waiting for it: the server answers it while
    // the caller goes on, and the next call() of the same method with the same
    // arguments takes that answer instead of asking again. A call() of
    // anything else first reads and drops what was posted before it (the
    // server answers in order). False when nothing could be sent; the
    // later call() then asks the usual way and reports why it failed.
    bool post(const QString &method, const QCborArray &args);

    // The device token presented at the next login: the server issues one at
    // each successful login (deviceToken() then holds it), and a host that
    // keeps it is not slowed down by anyone else's failed logins.
    void setDeviceToken(const QString &token) { m_deviceToken = token; }
    QString deviceToken() const { return m_deviceToken; }

    // The SHA-256 of the certificate the server presented when the last
    // open() refused it (it does not chain to a trusted CA or name the host,
    // or it is not the pinned one), so that a person may compare it and pin
    // it; empty when no certificate was refused.
    QByteArray refusedFingerprint() const { return m_refusedFingerprint; }

    // What the server told at login.
    QString unitName() const;
    QString operatorName() const;

    // Used when a caller passes a time limit of zero or less.
    static constexpr int defaultTimeoutMs = 30'000;

    // Told, once per answer awaited, when that answer is still out after
    // afterMs: the host shows its busy indicator then, so that a quick call
    // flashes nothing on the screen. Process-wide; null hook for none.
    static void setSlowWaitHook(int afterMs, void (*hook)());

private:
    enum class Outcome { Received, TimedOut, Lost, BadFrame };
    struct Posted
    {
        quint64 id = 0;
        QString method;
        QCborArray args;
        Outcome written = Outcome::Received;
    };
    // Closes and gives why opening failed; false.
    bool openFailed(const QString &why, QString *error);
    RpcReply send(const QString &method, const QCborArray &args, int timeoutMs);
    // A call's frame under the next id (*id), or empty and the failure that
    // keeps it from being sent.
    QByteArray callFrame(const QString &method, const QCborArray &args, quint64 *id, RpcReply *refused);
    // The server's answer to the call with this id, whose frame went out
    // with the outcome written.
    RpcReply receive(quint64 id, const QString &method, Outcome written, const QDeadlineTimer &deadline, int timeoutMs);
    // One frame out (skipped when the connection is gone: a frame that came
    // in meanwhile is still read), then, until the deadline, the next message
    // in; timeoutMs is the limit the failure text names.
    Outcome write(const QByteArray &frame, const QDeadlineTimer &deadline);
    Outcome read(Outcome written, const QDeadlineTimer &deadline, int timeoutMs, RpcMessage *reply, QString *failure);
    Outcome waitForWritten(const QDeadlineTimer &deadline);
    // The limit of the socket's next wait: the call's slow mark when it is
    // still to tell and comes before the deadline. After a wait to that limit
    // ran out, slowMarkPassed() tells whether it was the mark's (the hook has
    // then been told) or the deadline's.
    bool slowMarkFirst(const QDeadlineTimer &deadline) const;
    int waitLimit(const QDeadlineTimer &deadline) const;
    bool slowMarkPassed(const QDeadlineTimer &deadline);
    Outcome waitForFrame(const QDeadlineTimer &deadline, QByteArray *payload);
    QString outcomeText(Outcome outcome, int timeoutMs, const QString &detail) const;
    // Connects (and with TLS, shakes hands and checks the certificate)
    // before a byte of the login is written; empty on success, else why not.
    QString connectTo(const QString &host, quint16 port, const QDeadlineTimer &deadline, int timeoutMs);
    // Makes m_socket a TLS socket or a plain one, as the connection needs.
    void useSocket(bool tls);

    RpcSecurity m_security;
    // A plain socket unless the connection uses TLS: a TLS socket loads the
    // cryptography libraries (about 6 MB resident) even when it never encrypts.
    std::unique_ptr<QTcpSocket> m_socket;
    FrameDecoder m_decoder;
    quint64 m_nextId = 1;
    bool m_loggedIn = false;
    // Between startOpen and finishOpen: the login is out, its answer not read.
    bool m_opening = false;
    Outcome m_loginWritten = Outcome::Received;
    QDeadlineTimer m_openDeadline;
    int m_openTimeoutMs = 0;
    QList<Posted> m_posted; // sent, answers not read yet, oldest first
    // When the call under way tells the slow-wait hook, and whether it has.
    QDeadlineTimer m_slowAt;
    bool m_slowTold = true;
    QString m_unitName;
    QString m_operatorName;
    QString m_deviceToken;
    QByteArray m_refusedFingerprint;
};
