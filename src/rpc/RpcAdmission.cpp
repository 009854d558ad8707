#include "RpcAdmission.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

#include "Packet.h"

using namespace Qt::StringLiterals;

namespace {
// A run of failures is forgotten after this long without another one.
constexpr qint64 forgetAfterMs = 15 * 60 * 1000;
// Bounds the memory a flood of made-up operator codes can take.
constexpr qsizetype maxTracked = 10'000;

QByteArray randomKey()
{
    QByteArray key(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(key.data()), key.size() / 4);
    return key;
}

void countSession(QHash<QString, int> &table, const QString &key, int delta)
{
    auto it = table.find(key);
    if (it == table.end()) {
        if (delta > 0) {
            table.insert(key, delta);
        }
        return;
    }
    *it += delta;
    if (*it <= 0) {
        table.erase(it);
    }
}
} // namespace

RpcAdmission::RpcAdmission(const RpcServer::Limits &limits, QByteArray tokenKey)
    : m_limits(limits)
    , m_tokenKey(tokenKey.isEmpty() ? randomKey() : std::move(tokenKey))
{
    m_clock.start();
}

bool RpcAdmission::admit(std::atomic<int> &phase, const QString &operatorCode, const QString &address, QString *why)
{
    const QMutexLocker lock(&m_mutex);
    if (m_loggedIn.load() >= m_limits.maxSessions) {
        *why = u"O servidor de aplicação atingiu o limite de %1 sessões simultâneas; tente mais tarde."_s.arg(
            m_limits.maxSessions);
        return false;
    }
    if (m_sessionsOfOperator.value(operatorCode) >= m_limits.maxSessionsPerOperator) {
        *why =
            u"O operador já tem %1 sessões abertas neste servidor de aplicação, o limite; feche uma delas e tente de novo."_s
                .arg(m_limits.maxSessionsPerOperator);
        return false;
    }
    if (m_sessionsOfAddress.value(address) >= m_limits.maxSessionsPerAddress) {
        *why =
            u"Este computador já tem %1 sessões abertas neste servidor de aplicação, o limite; feche uma delas e tente de novo."_s
                .arg(m_limits.maxSessionsPerAddress);
        return false;
    }
    int expected = Checking;
    if (!phase.compare_exchange_strong(expected, LoggedIn)) {
        *why = u"O servidor de aplicação encerrou esta conexão por excesso de conexões sem login; tente de novo."_s;
        return false;
    }
    ++m_loggedIn;
    countSession(m_sessionsOfOperator, operatorCode, 1);
    countSession(m_sessionsOfAddress, address, 1);
    return true;
}

void RpcAdmission::leave(std::atomic<int> &phase, const QString &operatorCode, const QString &address)
{
    int expected = LoggedIn;
    if (phase.compare_exchange_strong(expected, Evicted)) {
        const QMutexLocker lock(&m_mutex);
        --m_loggedIn;
        countSession(m_sessionsOfOperator, operatorCode, -1);
        countSession(m_sessionsOfAddress, address, -1);
    }
}

bool RpcAdmission::reserveBytes(qint64 bytes)
{
    qint64 held = m_bytesInFlight.load();
    do {
        if (held + bytes > m_limits.memoryBudgetBytes) {
            return false;
        }
    } while (!m_bytesInFlight.compare_exchange_weak(held, held + bytes));
    return true;
}

QString RpcAdmission::prefixOf(const QString &address)
{
    const QHostAddress host(address);
    bool isV4 = false;
    const quint32 v4 = host.toIPv4Address(&isV4);
    if (isV4) {
        return QHostAddress(v4 & 0xFFFFFF00u).toString() + u"/24"_s;
    }
    if (host.protocol() == QAbstractSocket::IPv6Protocol) {
        Q_IPV6ADDR bytes = host.toIPv6Address();
        std::fill(std::begin(bytes.c) + 8, std::end(bytes.c), quint8(0));
        return QHostAddress(bytes).toString() + u"/64"_s;
    }
    return address;
}

qint64 RpcAdmission::delayFor(int count, int before) const
{
    if (count < before) {
        return 0;
    }
    const int doublings = qMin(count - before, 20);
    return qMin<qint64>(qint64(m_limits.failedLoginDelayMs) << doublings, m_limits.maxFailedLoginDelayMs);
}

qint64 RpcAdmission::waitOf(const QHash<QString, Failures> &table, const QString &key, int before, qint64 now) const
{
    const auto it = table.constFind(key);
    if (it == table.constEnd() || now - it->lastMs > forgetAfterMs) {
        return 0;
    }
    return qMax<qint64>(0, it->lastMs + delayFor(it->count, before) - now);
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

void RpcAdmission::fly(QHash<QString, Failures> &table, const QString &key, int delta)
{
    auto it = table.find(key);
    if (it == table.end()) {
        if (delta <= 0) {
            return;
        }
        it = table.insert(key, {});
    }
    it->inFlight += delta;
    if (it->inFlight <= 0 && it->count == 0) {
        table.erase(it);
    }
}

// Every failure still allowed before the delay is taken by a check under way.
bool RpcAdmission::full(const QHash<QString, Failures> &table, const QString &key, int before) const
{
    const auto it = table.constFind(key);
    return it != table.constEnd() && it->inFlight > 0 && it->count + it->inFlight >= before;
}

void RpcAdmission::prune(QHash<QString, Failures> &table, qint64 now)
{
    table.removeIf(
        [now](const auto &entry) { return entry.value().inFlight == 0 && now - entry.value().lastMs > forgetAfterMs; });
}

// A token names when it was issued and is signed for one operator: the
// server keeps nothing per token until a wrong password comes with it.
QString RpcAdmission::tokenFor(const QString &operatorCode, qint64 issuedSecs) const
{
    const QByteArray issued = QByteArray::number(issuedSecs);
    const QByteArray mac =
        QMessageAuthenticationCode::hash(operatorCode.toUtf8() + '\n' + issued, m_tokenKey, QCryptographicHash::Sha256);
    return QString::fromLatin1("1." + issued + '.'
                               + mac.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

bool RpcAdmission::tokenValid(const QString &token, const QString &operatorCode) const
{
    const QStringList parts = token.split(u'.');
    if (parts.size() != 3 || parts.at(0) != u"1") {
        return false;
    }
    bool number = false;
    const qint64 issued = parts.at(1).toLongLong(&number);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (!number || issued > now + 60 || now - issued > qint64(m_limits.tokenLifetimeDays) * 86'400) {
        return false;
    }
    const QByteArray expected = tokenFor(operatorCode, issued).toLatin1();
    const QByteArray given = token.toLatin1();
    // Compared in constant time: a forged token learns nothing from the answer's delay.
    if (expected.size() != given.size()) {
        return false;
    }
    unsigned char differ = 0;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        differ |= uchar(expected.at(i) ^ given.at(i));
    }
    return differ == 0;
}

qint64 RpcAdmission::begin(Attempt *attempt, const QString &operatorCode, const QString &address, const QString &token)
{
    attempt->operatorCode = leftCharacters(operatorCode, 64);
    attempt->address = address;
    attempt->prefix = prefixOf(address);
    attempt->token = token;
    const bool signedToken = !token.isEmpty() && tokenValid(token, attempt->operatorCode);
    const QMutexLocker lock(&m_mutex);
    const qint64 now = m_clock.elapsed();
    // A token that came with too many wrong passwords is worth nothing more.
    attempt->trusted = signedToken && waitOf(m_tokens, token, m_limits.failedLoginsBeforeDelay, now) == 0
                       && m_tokens.value(token).count < m_limits.failedLoginsBeforeDelay;
    if (attempt->trusted) {
        return 0;
    }
    const int before = m_limits.failedLoginsBeforeDelay;
    const int prefixBefore = m_limits.failedLoginsBeforePrefixDelay;
    QDeadlineTimer patience(2 * m_limits.failedLoginDelayMs + 5'000);
    for (;;) {
        const qint64 at = m_clock.elapsed();
        const qint64 wait =
            qMax(qMax(waitOf(m_operators, attempt->operatorCode, before, at), waitOf(m_addresses, address, before, at)),
                 waitOf(m_prefixes, attempt->prefix, prefixBefore, at));
        if (wait > 0) {
            return wait;
        }
        if (!full(m_operators, attempt->operatorCode, before) && !full(m_addresses, address, before)
            && !full(m_prefixes, attempt->prefix, prefixBefore)) {
            break;
        }
        if (!m_settled.wait(&m_mutex, patience)) {
            return m_limits.failedLoginDelayMs;
        }
    }
    fly(m_operators, attempt->operatorCode, 1);
    fly(m_addresses, address, 1);
    fly(m_prefixes, attempt->prefix, 1);
    attempt->reserved = true;
    return 0;
}

void RpcAdmission::land(const Attempt &attempt, bool failure)
{
    if (!attempt.reserved) {
        return;
    }
    const qint64 now = m_clock.elapsed();
    fly(m_operators, attempt.operatorCode, -1);
    fly(m_addresses, attempt.address, -1);
    fly(m_prefixes, attempt.prefix, -1);
    if (failure) {
        record(m_operators, attempt.operatorCode, now);
        record(m_addresses, attempt.address, now);
        record(m_prefixes, attempt.prefix, now);
    }
    m_settled.wakeAll();
}

int RpcAdmission::failed(const Attempt &attempt)
{
    const QMutexLocker lock(&m_mutex);
    if (attempt.trusted) {
        record(m_tokens, attempt.token, m_clock.elapsed());
        return m_tokens.value(attempt.token).count;
    }
    land(attempt, true);
    return m_addresses.value(attempt.address).count;
}

void RpcAdmission::undo(const Attempt &attempt)
{
    const QMutexLocker lock(&m_mutex);
    land(attempt, false);
}

QString RpcAdmission::succeeded(const Attempt &attempt)
{
    {
        const QMutexLocker lock(&m_mutex);
        // The operator's run stays: someone else's guesses are not forgiven
        // because the real operator got in.
        land(attempt, false);
        m_addresses.remove(attempt.address);
        m_tokens.remove(attempt.token);
    }
    return tokenFor(attempt.operatorCode, QDateTime::currentSecsSinceEpoch());
}
