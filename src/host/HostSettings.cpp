#include "HostSettings.h"

#include <QSettings>

#include "HostOptions.h"

using namespace Qt::StringLiterals;

namespace HostSettings {

namespace {
const QString organization = u"pru"_s;
const QString application = u"pru_host"_s;

// An INI value with a comma comes back as a list; the text is what was meant.
QString text(const QSettings &settings, const QString &key)
{
    const QVariant value = settings.value(key);
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(u", "_s);
    }
    return value.toString().trimmed();
}
} // namespace

std::unique_ptr<QSettings> open()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, organization, application);
}

bool load(const QSettings &settings, HostOptions *options, QString *error)
{
    const QString where = u" (em %1)"_s.arg(settings.fileName());
    if (const QString server = text(settings, u"server/address"_s); !server.isEmpty()) {
        if (!parseServerAddress(server, &options->serverHost, &options->serverPort, error)) {
            *error += where;
            return false;
        }
    }
    options->operatorCode = text(settings, u"login/operator"_s);
    options->lookupDb = text(settings, u"lookup/connection"_s);
    options->serverSecurity.tls = settings.value(u"server/tls"_s, false).toBool();
    options->serverSecurity.caFile = text(settings, u"server/ca"_s);
    if (const QString pin = text(settings, u"server/fingerprint"_s); !pin.isEmpty()
        && !RpcSecurity::parseFingerprint(pin, &options->serverSecurity.fingerprint)) {
        *error = u"Impressão digital inválida: \"%1\" (use os 64 dígitos hexadecimais do SHA-256, com ou sem ':')."_s.arg(pin)
            + where;
        return false;
    }
    return true;
}

void rememberLogin(QSettings &settings, const QString &host, int port, const QString &operatorCode)
{
    const QString address = host.contains(u':') ? u"[%1]:%2"_s.arg(host).arg(port) : u"%1:%2"_s.arg(host).arg(port);
    settings.setValue(u"server/address"_s, address);
    settings.setValue(u"login/operator"_s, operatorCode);
    settings.sync();
}

QString lookupHint(const QSettings &settings)
{
    QSettings site(QSettings::NativeFormat, QSettings::SystemScope, organization, application);
    return u"Informe a conexão em [lookup] connection no arquivo %1 (deste usuário) ou %2 (de todos), "
           "ou com a opção --lookup-db."_s.arg(settings.fileName(), site.fileName());
}

} // namespace HostSettings
