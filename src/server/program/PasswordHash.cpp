#include "PasswordHash.h"

#include <QRandomGenerator>
#include <QSemaphore>

#include <openssl/evp.h>
#include <sodium.h>

#include <stdexcept>

#include "Database.h"
#include "Secret.h"

using namespace Qt::StringLiterals;

namespace {

const QByteArray argon2idPrefix = QByteArrayLiteral("$argon2id$");

// Each Argon2id hash holds its memory (64 MiB) while it runs: a burst of
// logins waits here instead of running the machine out of memory.
QSemaphore &hashSlots()
{
    static QSemaphore hashing(4);
    return hashing;
}

// The UTF-8 copy of a password, zeroed however the hash ends.
struct Wiped
{
    QByteArray &bytes;
    ~Wiped() { Secret::wipe(bytes); }
};

} // namespace

namespace PasswordHash {

void requireSodium()
{
    static const bool ready = sodium_init() >= 0;
    if (!ready) {
        throw EServerFailure(u"A biblioteca de senhas (libsodium) não pôde ser iniciada."_s);
    }
}

Cost Cost::interactive()
{
    return {crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE};
}

Cost Cost::minimal()
{
    return {crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN};
}

bool Stored::isArgon2id() const
{
    return hash.startsWith(argon2idPrefix);
}

Stored Stored::fromColumns(const QString &salt, const QString &hash, int iterations)
{
    Stored stored;
    if (hash.startsWith(QLatin1StringView(argon2idPrefix))) {
        stored.hash = hash.toLatin1();
        return stored;
    }
    stored.salt = QByteArray::fromBase64(salt.toLatin1());
    stored.hash = QByteArray::fromBase64(hash.toLatin1());
    stored.iterations = iterations;
    return stored;
}

QString Stored::saltColumn() const
{
    return isArgon2id() ? u""_s : QString::fromLatin1(salt.toBase64()); // empty, not null: the column is NOT NULL
}

QString Stored::hashColumn() const
{
    return isArgon2id() ? QString::fromLatin1(hash) : QString::fromLatin1(hash.toBase64());
}

Stored make(const QString &password, const Cost &cost)
{
    requireSodium();
    QByteArray utf8 = password.toUtf8();
    const Wiped wiped{utf8};
    char encoded[crypto_pwhash_STRBYTES];
    hashSlots().acquire();
    const QSemaphoreReleaser slot(hashSlots());
    if (crypto_pwhash_str_alg(encoded, utf8.constData(), quint64(utf8.size()), cost.passes, cost.memoryBytes,
                              crypto_pwhash_ALG_ARGON2ID13)
        != 0) {
        throw EServerFailure(u"Memória insuficiente para gerar o hash da senha."_s);
    }
    Stored stored;
    stored.hash = QByteArray(encoded);
    return stored;
}

Stored makeLegacy(const QString &password, int iterations)
{
    Stored stored;
    stored.iterations = iterations;
    stored.salt.resize(saltBytes);
    QRandomGenerator::system()->generate(stored.salt.begin(), stored.salt.end());
    QByteArray utf8 = password.toUtf8();
    const Wiped wiped{utf8};
    stored.hash = pbkdf2Sha256(utf8, stored.salt, iterations, hashBytes);
    return stored;
}

bool verify(const QString &password, const Stored &stored)
{
    QByteArray utf8 = password.toUtf8();
    const Wiped wiped{utf8};
    if (stored.isArgon2id()) {
        requireSodium();
        const QByteArray encoded = stored.hash.left(crypto_pwhash_STRBYTES - 1); // NUL-terminated below
        hashSlots().acquire();
        const QSemaphoreReleaser slot(hashSlots());
        return crypto_pwhash_str_verify(encoded.constData(), utf8.constData(), quint64(utf8.size())) == 0;
    }
    if (stored.iterations < 1 || stored.hash.isEmpty() || stored.hash.size() > 64) {
        return false;
    }
    const QByteArray derived = pbkdf2Sha256(utf8, stored.salt, stored.iterations, int(stored.hash.size()));
    return constantTimeEquals(derived, stored.hash);
}

bool needsRehash(const Stored &stored)
{
    return !stored.isArgon2id();
}

QByteArray pbkdf2Sha256(const QByteArray &password, const QByteArray &salt, int iterations, int length)
{
    QByteArray out;
    if (iterations < 1 || length < 1) {
        return out;
    }
    out.resize(length);
    if (PKCS5_PBKDF2_HMAC(password.constData(), int(password.size()),
                          reinterpret_cast<const unsigned char *>(salt.constData()), int(salt.size()), iterations,
                          EVP_sha256(), length, reinterpret_cast<unsigned char *>(out.data()))
        != 1) {
        return {};
    }
    return out;
}

bool constantTimeEquals(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size()) {
        return false;
    }
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i) {
        diff |= static_cast<unsigned char>(a.at(i) ^ b.at(i));
    }
    return diff == 0;
}

} // namespace PasswordHash
