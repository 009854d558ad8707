#include "HostSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include "HostOptions.h"

using namespace Qt::StringLiterals;

namespace HostSettings {

namespace {
const QString relativePath = u"pru/pru_host.conf"_s;

// An INI value with a comma comes back as a list; the text is what was meant.
QString text(const QSettings &settings, const QString &key)
{
    const QVariant value = settings.value(key);
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(u", "_s);
    }
    return value.toString().trimmed();
}

QString addressText(const QString &host, int port)
{
    return host.contains(u':') ? u"[%1]:%2"_s.arg(host).arg(port) : u"%1:%2"_s.arg(host).arg(port);
}

// What one file says about the server, checked, with the file named in errors.
struct FileValues
{
    QString address; // as addressText writes it
    QString host;
    int port = 0;
    RpcSecurity security;
};

bool readServer(const QSettings &settings, FileValues *values, QString *error)
{
    const QString where = u" (em %1)"_s.arg(settings.fileName());
    if (const QString server = text(settings, u"server/address"_s); !server.isEmpty()) {
        if (!parseServerAddress(server, &values->host, &values->port, error)) {
            *error += where;
            return false;
        }
        values->address = addressText(values->host, values->port);
    }
    values->security.tls = settings.value(u"server/tls"_s, false).toBool();
    values->security.caFile = text(settings, u"server/ca"_s);
    values->security.allowPlain = settings.value(u"server/allowPlain"_s, false).toBool();
    if (const QString pin = text(settings, u"server/fingerprint"_s);
        !pin.isEmpty() && !RpcSecurity::parseFingerprint(pin, &values->security.fingerprint)) {
        *error =
            u"Impressão digital inválida: \"%1\" (use os 64 dígitos hexadecimais do SHA-256, com ou sem ':')."_s.arg(
                pin)
            + where;
        return false;
    }
    return true;
}

QSettings siteSettings()
{
    return QSettings(siteFile(), QSettings::IniFormat);
}

QString siteAddress()
{
    FileValues site;
    QString ignored;
    readServer(siteSettings(), &site, &ignored);
    return site.address;
}
} // namespace

QString userFile()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty()) {
        base = QDir::homePath() + u"/.config"_s;
    }
    return QDir(base).filePath(relativePath);
}

QString siteFile()
{
    const QStringList folders = qEnvironmentVariable("XDG_CONFIG_DIRS", u"/etc/xdg"_s).split(u':', Qt::SkipEmptyParts);
    for (const QString &folder : folders) {
        if (QFileInfo::exists(QDir(folder).filePath(relativePath))) {
            return QDir(folder).filePath(relativePath);
        }
    }
    return QDir(folders.value(0, u"/etc/xdg"_s)).filePath(relativePath);
}

std::unique_ptr<QSettings> open()
{
    return std::make_unique<QSettings>(userFile(), QSettings::IniFormat);
}

bool load(const QSettings &user, HostOptions *options, QString *error)
{
    FileValues site;
    FileValues own;
    if (!readServer(siteSettings(), &site, error) || !readServer(user, &own, error)) {
        return false;
    }
    // Moving the server is one change in the site file: a user's own choice
    // stands only while the site still says what it said when it was made.
    const bool usersChoice =
        !own.address.isEmpty() && (site.address.isEmpty() || text(user, u"server/replaces"_s) == site.address);
    const FileValues &server = usersChoice ? own : site;
    options->serverHost = server.host;
    options->serverPort = server.port;
    options->serverSecurity = server.security;
    // Plain TCP beyond this machine where the site or the user says the network is trusted.
    options->serverSecurity.allowPlain = site.security.allowPlain || own.security.allowPlain;
    options->operatorCode = text(user, u"login/operator"_s);
    options->lookupDb = text(user, u"lookup/connection"_s);
    if (options->lookupDb.isEmpty()) {
        options->lookupDb = text(siteSettings(), u"lookup/connection"_s);
    }
    return true;
}

void rememberLogin(QSettings &user, const QString &host, int port, const QString &operatorCode, bool chosenInDialog)
{
    if (chosenInDialog) {
        const QString address = addressText(host, port);
        const QString site = siteAddress();
        if (address == site) {
            user.remove(u"server/address"_s);
            user.remove(u"server/replaces"_s);
        } else {
            user.setValue(u"server/address"_s, address);
            user.setValue(u"server/replaces"_s, site);
        }
    }
    user.setValue(u"login/operator"_s, operatorCode);
    user.sync();
}

QString lookupHint(const QSettings &settings)
{
    return u"Informe a conexão em [lookup] connection no arquivo %1 (deste usuário) ou %2 (de todos), "
           "ou com a opção --lookup-db."_s.arg(settings.fileName(), siteFile());
}

QString noLookupNotice()
{
    return u"Este computador ainda não está configurado para as consultas das telas (periodicidades, operadores e "
           "grupos): você pode entrar, mas os códigos digitados não serão conferidos. Peça ao administrador do "
           "sistema da unidade que configure o banco de consultas deste computador ([lookup] em %1)."_s.arg(siteFile());
}

} // namespace HostSettings
