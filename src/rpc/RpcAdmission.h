#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QString>

#include <atomic>

#include "RpcServer.h"
#include "rpc_export.h"

// Who may log in, shared by every session of one server. Logged-in sessions
// have a capacity of their own (Limits::maxSessions), which connections that
// never log in cannot take. Refused logins slow down the next attempts for the
// same operator code and for the same address, with a growing delay, whichever
// connection they come through.
class RPC_EXPORT RpcAdmission
{
public:
    // Where one connection stands; changed only by compare-and-swap, so a
    // connection is either evicted before it logs in or logged in, never both.
    // Checking: a login arrived and is being checked; such a connection is
    // not evicted, so a burst of clients from one address does not evict its own.
    enum Phase : int { Pending, Checking, LoggedIn, Evicted };

    explicit RpcAdmission(const RpcServer::Limits &limits);

    // A successful login asks for a seat: false (why set) when every one of
    // the maxSessions seats is taken or the connection was evicted meanwhile.
    bool admit(std::atomic<int> &phase, QString *why);
    // Frees the seat of a connection that ends logged in.
    void leave(std::atomic<int> &phase);
    int loggedInCount() const { return m_loggedIn.load(); }

    // Milliseconds the operator or the address must still wait before a
    // password is checked again; 0 when free.
    qint64 loginWaitMs(const QString &operatorCode, const QString &address);
    // Records a refused login; returns how many in a row the address has.
    int loginFailed(const QString &operatorCode, const QString &address);
    void loginSucceeded(const QString &operatorCode, const QString &address);

private:
    struct Failures
    {
        int count = 0;
        qint64 lastMs = 0;
    };
    qint64 delayFor(int count) const;
    qint64 waitOf(const QHash<QString, Failures> &table, const QString &key, qint64 now) const;
    void record(QHash<QString, Failures> &table, const QString &key, qint64 now);
    void prune(QHash<QString, Failures> &table, qint64 now);

    const RpcServer::Limits m_limits;
    std::atomic<int> m_loggedIn = 0;
    QMutex m_mutex;
    QElapsedTimer m_clock;
    QHash<QString, Failures> m_operators;
    QHash<QString, Failures> m_addresses;
};
