#include "RecentLogins.h"

#include <sodium.h>

#include "Secret.h"

RecentLogins::RecentLogins(qint64 rememberMs, int capacity)
    : m_rememberMs(rememberMs)
    , m_capacity(qMax(1, capacity))
{
    PasswordHash::requireSodium();
    randombytes_buf(m_key.data(), m_key.size());
}

RecentLogins::~RecentLogins()
{
    sodium_memzero(m_key.data(), m_key.size());
}

RecentLogins::Digest RecentLogins::digestOf(const QString &operatorCode, const QString &password,
                                            const PasswordHash::Stored &stored) const
{
    static_assert(sizeof(Digest) >= crypto_generichash_BYTES_MIN && sizeof(Digest) <= crypto_generichash_BYTES_MAX);
    static_assert(sizeof(m_key) >= crypto_generichash_KEYBYTES_MIN && sizeof(m_key) <= crypto_generichash_KEYBYTES_MAX);
    QByteArray secret = password.toUtf8();
    const QByteArray code = operatorCode.toUtf8();
    crypto_generichash_state state;
    crypto_generichash_init(&state, m_key.data(), m_key.size(), sizeof(Digest));
    // Each part with its length first, so that no two different logins give the same bytes.
    const auto part = [&state](const QByteArray &bytes) {
        const quint64 size = quint64(bytes.size());
        crypto_generichash_update(&state, reinterpret_cast<const unsigned char *>(&size), sizeof size);
        crypto_generichash_update(&state, reinterpret_cast<const unsigned char *>(bytes.constData()),
                                  quint64(bytes.size()));
    };
    part(code);
    part(secret);
    part(stored.hash);
    part(stored.salt);
    part(QByteArray::number(stored.iterations));
    Digest digest{};
    crypto_generichash_final(&state, digest.data(), digest.size());
    sodium_memzero(&state, sizeof state);
    Secret::wipe(secret);
    return digest;
}

bool RecentLogins::matches(const QString &operatorCode, const QString &password, const PasswordHash::Stored &stored)
{
    const Digest digest = digestOf(operatorCode, password, stored);
    const std::lock_guard lock(m_mutex);
    const auto found = m_entries.constFind(operatorCode);
    return found != m_entries.constEnd() && !found->expires.hasExpired()
           && sodium_memcmp(found->digest.data(), digest.data(), digest.size()) == 0;
}

void RecentLogins::remember(const QString &operatorCode, const QString &password, const PasswordHash::Stored &stored)
{
    if (m_rememberMs <= 0) {
        return;
    }
    const Entry entry{digestOf(operatorCode, password, stored), QDeadlineTimer(m_rememberMs)};
    const std::lock_guard lock(m_mutex);
    if (!m_entries.contains(operatorCode) && m_entries.size() >= m_capacity) {
        dropOldest();
    }
    m_entries.insert(operatorCode, entry);
}

// Called with the lock held and the table full: the entry that ends first
// goes (a full table is a rare thing, so the scan is cheap enough).
void RecentLogins::dropOldest()
{
    auto oldest = m_entries.begin();
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->expires.deadline() < oldest->expires.deadline()) {
            oldest = it;
        }
    }
    m_entries.erase(oldest);
}
