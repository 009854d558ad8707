#pragma once

#include <QDeadlineTimer>
#include <QHash>
#include <QString>

#include <array>
#include <mutex>

#include "PasswordHash.h"

// The logins this server checked in full lately. A host logs in once and
// then every screen it opens logs in again with the same operator and
// password; each of those would otherwise pay the slow hash (about 70 ms
// and 64 MiB). A password that matched its stored hash is remembered as a
// keyed BLAKE2b digest of the password and that stored hash, under a key
// made at random when the server starts and kept only in its memory: a
// changed password (a new stored hash) or a wrong one never matches, and
// the digests are no use without the server's memory. Each entry lasts
// rememberMs from its full check; at most capacity operators are kept.
class RecentLogins
{
public:
    static constexpr qint64 defaultRememberMs = 12 * 3600 * 1000; // a working day: a full check at least daily
    static constexpr int defaultCapacity = 4096;

    explicit RecentLogins(qint64 rememberMs = defaultRememberMs, int capacity = defaultCapacity);
    ~RecentLogins();
    RecentLogins(const RecentLogins &) = delete;
    RecentLogins &operator=(const RecentLogins &) = delete;

    // True when this operator's password matched stored in a full check
    // within rememberMs.
    bool matches(const QString &operatorCode, const QString &password, const PasswordHash::Stored &stored);
    // After a full check that matched.
    void remember(const QString &operatorCode, const QString &password, const PasswordHash::Stored &stored);

private:
    using Digest = std::array<unsigned char, 32>;
    struct Entry
    {
        Digest digest{};
        QDeadlineTimer expires;
    };
    Digest digestOf(const QString &operatorCode, const QString &password, const PasswordHash::Stored &stored) const;
    void dropOldest();

    const qint64 m_rememberMs;
    const int m_capacity;
    std::array<unsigned char, 32> m_key{};
    std::mutex m_mutex;
    QHash<QString, Entry> m_entries;
};
