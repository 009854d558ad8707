#include "RpcAdmission.h"

#include "Packet.h"

using namespace Qt::StringLiterals;

namespace {
// A run of failures is forgotten after this long without another one.
constexpr qint64 forgetAfterMs = 15 * 60 * 1000;
// Bounds the memory a flood of made-up operator codes can take.
constexpr qsizetype maxTracked = 10'000;
} // namespace

RpcAdmission::RpcAdmission(const RpcServer::Limits &limits)
    : m_limits(limits)
{
    m_clock.start();
}

bool RpcAdmission::admit(std::atomic<int> &phase, QString *why)
{
    int seats = m_loggedIn.load();
    do {
        if (seats >= m_limits.maxSessions) {
            *why = u"O servidor de aplicação atingiu o limite de %1 sessões simultâneas; tente mais tarde."_s.arg(
                m_limits.maxSessions);
            return false;
        }
    } while (!m_loggedIn.compare_exchange_weak(seats, seats + 1));
    int expected = Checking;
    if (!phase.compare_exchange_strong(expected, LoggedIn)) {
        --m_loggedIn;
        *why = u"O servidor de aplicação encerrou esta conexão por excesso de conexões sem login; tente de novo."_s;
        return false;
    }
    return true;
}

void RpcAdmission::leave(std::atomic<int> &phase)
{
    int expected = LoggedIn;
    if (phase.compare_exchange_strong(expected, Evicted)) {
        --m_loggedIn;
    }
}

qint64 RpcAdmission::delayFor(int count) const
{
    if (count < m_limits.failedLoginsBeforeDelay) {
        return 0;
    }
    const int doublings = qMin(count - m_limits.failedLoginsBeforeDelay, 20);
    return qMin<qint64>(qint64(m_limits.failedLoginDelayMs) << doublings, m_limits.maxFailedLoginDelayMs);
}

qint64 RpcAdmission::waitOf(const QHash<QString, Failures> &table, const QString &key, qint64 now) const
{
    const auto it = table.constFind(key);
    if (it == table.constEnd()) {
        return 0;
    }
    return qMax<qint64>(0, it->lastMs + delayFor(it->count) - now);
}

qint64 RpcAdmission::loginWaitMs(const QString &operatorCode, const QString &address)
{
    const QMutexLocker lock(&m_mutex);
    const qint64 now = m_clock.elapsed();
    return qMax(waitOf(m_operators, leftCharacters(operatorCode, 64), now), waitOf(m_addresses, address, now));
}

void RpcAdmission::record(QHash<QString, Failures> &table, const QString &key, qint64 now)
{
    auto it = table.find(key);
    if (it == table.end()) {
        if (table.size() >= maxTracked) {
            prune(table, now);
            if (table.size() >= maxTracked) {
                return;
            }
        }
        it = table.insert(key, {});
    } else if (now - it->lastMs > forgetAfterMs) {
        it->count = 0;
    }
    ++it->count;
    it->lastMs = now;
}

void RpcAdmission::prune(QHash<QString, Failures> &table, qint64 now)
{
    table.removeIf([now](const auto &entry) { return now - entry.value().lastMs > forgetAfterMs; });
}

int RpcAdmission::loginFailed(const QString &operatorCode, const QString &address)
{
    const QMutexLocker lock(&m_mutex);
    const qint64 now = m_clock.elapsed();
    record(m_operators, leftCharacters(operatorCode, 64), now);
    record(m_addresses, address, now);
    return m_addresses.value(address).count;
}

void RpcAdmission::loginSucceeded(const QString &operatorCode, const QString &address)
{
    const QMutexLocker lock(&m_mutex);
    m_operators.remove(leftCharacters(operatorCode, 64));
    m_addresses.remove(address);
}
