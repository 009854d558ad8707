#pragma once

#include <QString>

class QSettings;

// The device tokens the server gives this host at each successful login, kept
// in the user's settings per server and operator ([tokens]) and presented at
// the next login, so that someone else's failed logins do not lock this
// desktop's operator out.
namespace DeviceToken {
// Where tokens are kept from now on; none (nothing kept) until set.
void setStore(QSettings *settings);
QString load(const QString &host, int port, const QString &operatorCode);
void save(const QString &host, int port, const QString &operatorCode, const QString &token);
} // namespace DeviceToken
