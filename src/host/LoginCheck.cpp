#include "LoginCheck.h"

#include "DeviceToken.h"
#include "RpcClient.h"

using namespace Qt::StringLiterals;

LoginResult checkLogin(const QString &host, int port, const QString &operatorCode, const QString &password,
                       const QString &remoteModule, const RpcSecurity &security, int timeoutMs,
                       const ServerTrust::Question &ask)
{
    LoginResult result;
    if (host.isEmpty() || port <= 0 || port > 65535) {
        result.error = u"Informe o endereço do servidor (máquina:porta)."_s;
        return result;
    }
    if (operatorCode.trimmed().isEmpty()) {
        result.error = u"Informe o operador."_s;
        return result;
    }
    bool remembered = false;
    result.security = ServerTrust::securityFor(security, host, port, &remembered);
    RpcClient client;
    client.setDeviceToken(DeviceToken::load(host, port, operatorCode));
    QString error;
    const auto open = [&] {
        client.setSecurity(result.security);
        return client.open(host, quint16(port), remoteModule, operatorCode, password, timeoutMs, &error);
    };
    bool opened = open();
    if (!opened && !client.refusedFingerprint().isEmpty()) {
        // Nothing was sent: the handshake stopped at the certificate.
        if (remembered) {
            result.error = ServerTrust::changedCertificateText(host, port, client.refusedFingerprint());
            return result;
        }
        if (result.security.caFile.isEmpty() && result.security.fingerprint.isEmpty()) {
            const ServerTrust::UnknownCertificate unknown{host, port, client.refusedFingerprint(), error};
            if (!ask) {
                result.error = ServerTrust::untrustedText(unknown, false);
                return result;
            }
            if (!ask(unknown)) {
                result.error = ServerTrust::untrustedText(unknown, true);
                return result;
            }
            ServerTrust::remember(host, port, unknown.fingerprint);
            result.security.fingerprint = unknown.fingerprint;
            opened = open(); // a certificate changed meanwhile is refused by the pin
        }
    }
    if (!opened) {
        result.error = u"Não foi possível entrar no servidor %1:%2: %3"_s.arg(host).arg(port).arg(error);
        return result;
    }
    result.ok = true;
    result.unitName = client.unitName();
    result.operatorName = client.operatorName();
    result.token = client.deviceToken();
    DeviceToken::save(host, port, operatorCode, result.token);
    client.close();
    return result;
}
