#include "PasswordHash.h"

#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

namespace PasswordHash {

QByteArray pbkdf2Sha256(const QByteArray &password, const QByteArray &salt, int iterations, int length)
{
    QByteArray out;
    if (iterations < 1 || length < 1) {
        return out;
    }
    QMessageAuthenticationCode mac(QCryptographicHash::Sha256, password);
    for (quint32 block = 1; out.size() < length; ++block) {
        QByteArray u = salt;
        u.append(char(block >> 24)).append(char(block >> 16)).append(char(block >> 8)).append(char(block));
        mac.reset();
        mac.addData(u);
        u = mac.result();
        QByteArray t = u;
        for (int i = 1; i < iterations; ++i) {
            mac.reset();
            mac.addData(u);
            u = mac.result();
            for (qsizetype j = 0; j < t.size(); ++j) {
                t[j] = char(t.at(j) ^ u.at(j));
            }
        }
        out.append(t);
    }
    out.truncate(length);
    return out;
}

Stored make(const QString &password, int iterations)
{
    Stored stored;
    stored.iterations = iterations;
    stored.salt.resize(saltBytes);
    QRandomGenerator::system()->generate(stored.salt.begin(), stored.salt.end());
    stored.hash = pbkdf2Sha256(password.toUtf8(), stored.salt, iterations, hashBytes);
    return stored;
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

bool verify(const QString &password, const Stored &stored)
{
    if (stored.iterations < 1 || stored.hash.isEmpty()) {
        return false;
    }
    const QByteArray derived = pbkdf2Sha256(password.toUtf8(), stored.salt, stored.iterations, int(stored.hash.size()));
    return constantTimeEquals(derived, stored.hash);
}

}
