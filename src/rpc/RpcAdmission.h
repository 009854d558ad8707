#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QWaitCondition>
#include <QString>

#include <atomic>

#include "RpcServer.h"
#include "rpc_export.h"

// Who may log in, shared by every session of one server. Logged-in sessions
// have a capacity of their own (Limits::maxSessions, and per operator and per
// address), which connections that never log in cannot take. Refused logins
// slow down the next attempts for the same operator code, address and network
// prefix, with a growing delay, whichever connection they come through; a
// host that presents the device token of an earlier login is not slowed down
// by anyone else's failures.
class RPC_EXPORT RpcAdmission
{
public:
    // Where one connection stands; changed only by compare-and-swap, so a
    // connection is either evicted before it logs in or logged in, never both.
    // Checking: a login arrived and is being checked; such a connection is
    // not evicted, so a burst of clients from one address does not evict its own.
    enum Phase : int { Pending, Checking, LoggedIn, Evicted };

    RpcAdmission(const RpcServer::Limits &limits, QByteArray tokenKey = {});

    // A successful login asks for a seat: false (why set) when every seat is
    // taken (all of them, or the operator's, or the address's) or the
    // connection was evicted meanwhile.
    bool admit(std::atomic<int> &phase, const QString &operatorCode, const QString &address, QString *why);
    // Frees the seat of a connection that ends logged in.
    void leave(std::atomic<int> &phase, const QString &operatorCode, const QString &address);
    int loggedInCount() const { return m_loggedIn.load(); }

    // One password check, from before it starts until its outcome is known.
    struct Attempt
    {
        QString operatorCode;
        QString address;
        QString prefix;
        QString token;
        bool trusted = false; // a valid token of this operator
        bool reserved = false; // counted as a failure in advance
    };
    // Decides whether a password may be checked now. Without a valid token
    // the attempt takes one of the failures still allowed before the delay,
    // under one lock, so that concurrent guesses cannot all pass it: past
    // them it waits for the checks under way to end. Returns the
    // milliseconds still to wait (nothing reserved), or 0.
    qint64 begin(Attempt *attempt, const QString &operatorCode, const QString &address, const QString &token);
    // The check refused the password: the failure stays counted. Returns how
    // many in a row the address has, or the device token for a trusted
    // attempt (0 when the table of them is full and it was not counted).
    int failed(const Attempt &attempt);
    // The check could not be made (busy, database fault): nothing is counted.
    void undo(const Attempt &attempt);
    // The password was right; returns a new device token for the host.
    QString succeeded(const Attempt &attempt);

    // Memory of the calls in flight, out of Limits::memoryBudgetBytes: false
    // (nothing taken) when the bytes asked do not fit now.
    bool reserveBytes(qint64 bytes);
    void releaseBytes(qint64 bytes) { m_bytesInFlight -= bytes; }
    qint64 bytesInFlight() const { return m_bytesInFlight.load(); }

    // /24 of an IPv4 address, /64 of an IPv6 one, as text.
    static QString prefixOf(const QString &address);

private:
    struct Failures
    {
        int count = 0;
        qint64 lastMs = 0;
        int inFlight = 0; // checks under way, each of which may still fail
    };
    qint64 delayFor(int count, int before) const;
    qint64 waitOf(const QHash<QString, Failures> &table, const QString &key, int before, qint64 now) const;
    void record(QHash<QString, Failures> &table, const QString &key, qint64 now);
    // A check starts (+1) or ends (-1) under key.
    void fly(QHash<QString, Failures> &table, const QString &key, int delta);
    void land(const Attempt &attempt, bool failure); // a reserved check ended
    bool full(const QHash<QString, Failures> &table, const QString &key, int before) const;
    void prune(QHash<QString, Failures> &table, qint64 now);
    QString tokenFor(const QString &operatorCode, qint64 issuedSecs) const;
    bool tokenValid(const QString &token, const QString &operatorCode) const;

    const RpcServer::Limits m_limits;
    const QByteArray m_tokenKey;
    std::atomic<int> m_loggedIn = 0;
    std::atomic<qint64> m_bytesInFlight = 0;
    QMutex m_mutex;
    QWaitCondition m_settled; // a check under way ended
    QElapsedTimer m_clock;
    QHash<QString, Failures> m_operators;
    QHash<QString, Failures> m_addresses;
    QHash<QString, Failures> m_prefixes;
    QHash<QString, Failures> m_tokens; // wrong passwords given with a valid token
    QHash<QString, int> m_sessionsOfOperator;
    QHash<QString, int> m_sessionsOfAddress;
};
