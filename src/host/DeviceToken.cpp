#include "DeviceToken.h"

#include <QCryptographicHash>
#include <QSettings>

using namespace Qt::StringLiterals;

namespace {
QSettings *store = nullptr;

// One key per server and operator, free of the characters QSettings gives a meaning.
QString keyOf(const QString &host, int port, const QString &operatorCode)
{
    const QByteArray name = u"%1:%2/%3"_s.arg(host.toLower()).arg(port).arg(operatorCode).toUtf8();
    return u"tokens/"_s
           + QString::fromLatin1(QCryptographicHash::hash(name, QCryptographicHash::Sha256).toHex().left(32));
}
} // namespace

void DeviceToken::setStore(QSettings *settings)
{
    store = settings;
}

QString DeviceToken::load(const QString &host, int port, const QString &operatorCode)
{
    return store ? store->value(keyOf(host, port, operatorCode)).toString() : QString();
}

void DeviceToken::save(const QString &host, int port, const QString &operatorCode, const QString &token)
{
    if (store && !token.isEmpty()) {
        store->setValue(keyOf(host, port, operatorCode), token);
        store->sync();
    }
}
