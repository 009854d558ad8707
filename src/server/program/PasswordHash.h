#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>

// Passwords are kept as Argon2id hashes made by libsodium; checking one takes
// time and memory on purpose, so a stolen table is slow to attack. Hashes of
// earlier versions (PBKDF2-HMAC-SHA256) are still checked, and replaced by an
// Argon2id hash at the operator's next successful login.
namespace PasswordHash {
// The earlier PBKDF2 form, read from old rows only.
inline constexpr int legacyIterations = 120'000;
inline constexpr int saltBytes = 16;
inline constexpr int hashBytes = 32;

// Argon2id's work (passes) and memory (bytes) per hash.
struct Cost
{
    unsigned long long passes = 0;
    std::size_t memoryBytes = 0;
    // What the server stores: libsodium's interactive limits (64 MiB, 2 passes).
    static Cost interactive();
    // The least libsodium allows: for tests and benchmarks, never for a site.
    static Cost minimal();
};

// One row of OPERADORSENHA. Argon2id: hash holds libsodium's encoded string
// ("$argon2id$v=19$m=...,t=...,p=...$salt$hash", which names its own
// parameters), salt is empty and iterations 0. PBKDF2: raw salt and key.
struct Stored
{
    QByteArray salt;
    QByteArray hash;
    int iterations = 0;

    bool isArgon2id() const;
    // The columns DSSALT, DSHASH, NRITERACOES as the database keeps them.
    static Stored fromColumns(const QString &salt, const QString &hash, int iterations);
    QString saltColumn() const;
    QString hashColumn() const;
};

// A new Argon2id hash with a random salt of its own.
Stored make(const QString &password, const Cost &cost = Cost::interactive());
// A hash in the earlier PBKDF2 form, as old databases hold them.
Stored makeLegacy(const QString &password, int iterations = legacyIterations);
// Checks a password against either form; a malformed row never matches.
bool verify(const QString &password, const Stored &stored);
// True for a hash in the earlier form, to be replaced at the next login.
bool needsRehash(const Stored &stored);

// Starts libsodium once; throws EServerFailure when it cannot.
void requireSodium();
// PBKDF2-HMAC-SHA256 through OpenSSL's libcrypto.
QByteArray pbkdf2Sha256(const QByteArray &password, const QByteArray &salt, int iterations, int length);
bool constantTimeEquals(const QByteArray &a, const QByteArray &b);
} // namespace PasswordHash
