#pragma once

#include <QString>

#include <memory>

class QSettings;
struct HostOptions;

// The host's remembered settings: a site-wide file an installation provides
// (/etc/xdg/pru/pru_host.conf) under each user's own
// (~/.config/pru/pru_host.conf); the user's file wins key by key, and the
// command line wins over both.
//
//   [server]  address=host:port  tls=true  ca=/etc/pru/ca.crt  fingerprint=<SHA-256>
//   [lookup]  connection=engine=postgresql host=db1 database=pru user=pru_lookup password=...
//   [login]   operator=MARIA     (written by the host: the last server and operator)
namespace HostSettings {

// The user's settings with the site file as fallback.
std::unique_ptr<QSettings> open();

// Fills *options from the settings (before the command line is read over
// them). False with *error set when a stored value is malformed.
bool load(const QSettings &settings, HostOptions *options, QString *error);

// Remembers the server and operator of a successful login; never the password.
void rememberLogin(QSettings &settings, const QString &host, int port, const QString &operatorCode);

// Where a person sets the lookup connection, in words, for messages.
QString lookupHint(const QSettings &settings);

} // namespace HostSettings
