#pragma once

#include <QString>

#include <memory>

class QSettings;
struct HostOptions;

// The host's remembered settings: a site-wide file an installation provides
// ($XDG_CONFIG_DIRS, /etc/xdg by default: pru/pru_host.conf) and each user's
// own ($XDG_CONFIG_HOME, ~/.config by default: pru/pru_host.conf); the command
// line wins over both.
//
//   [server]  address=host:port  tls=true  ca=/etc/pru/ca.crt  fingerprint=<SHA-256>
//             replaces=host:port (user's file: the site address the user's choice replaced)
//   [lookup]  connection=engine=postgresql host=db1 database=pru user=pru_lookup password=...
//   [login]   operator=MARIA     (written by the host: the last operator)
//   [tokens]  (written by the host: DeviceToken)   [pins] (written by the host: ServerTrust)
//
// The server is the site file's, unless the user chose another one in the
// login dialog while the site said what it still says; its TLS settings come
// from the same file as the address, since a pin belongs to the server it was
// given for. The lookup connection is the user's, else the site's.
namespace HostSettings {

QString userFile();
QString siteFile();

// The user's own file (the one the host writes).
std::unique_ptr<QSettings> open();

// Fills *options from the site file and user (before the command line is
// read over them). False with *error naming the file when a stored value is
// malformed.
bool load(const QSettings &user, HostOptions *options, QString *error);

// Remembers the operator of a successful login, never the password. A
// server chosen in the dialog is remembered with the site address it
// replaced; choosing the site's own again forgets the choice.
void rememberLogin(QSettings &user, const QString &host, int port, const QString &operatorCode, bool chosenInDialog);

// Where a person sets the lookup connection, in words, for messages.
QString lookupHint(const QSettings &settings);
// Said in the login dialog when no lookup connection is set, to the person logging in.
QString noLookupNotice();

} // namespace HostSettings
