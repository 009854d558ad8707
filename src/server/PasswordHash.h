#pragma once

#include <QByteArray>
#include <QString>

// Passwords are kept as salted PBKDF2-HMAC-SHA256 hashes; checking one takes
// long on purpose, so a stolen table is slow to attack.
namespace PasswordHash {
inline constexpr int defaultIterations = 120'000;
inline constexpr int saltBytes = 16;
inline constexpr int hashBytes = 32;

struct Stored
{
    QByteArray salt;   // raw bytes
    QByteArray hash;   // raw bytes
    int iterations = defaultIterations;
};

QByteArray pbkdf2Sha256(const QByteArray &password, const QByteArray &salt, int iterations, int length);
Stored make(const QString &password, int iterations = defaultIterations);
// Constant-time comparison of the derived key with the stored one.
bool verify(const QString &password, const Stored &stored);
bool constantTimeEquals(const QByteArray &a, const QByteArray &b);
}
