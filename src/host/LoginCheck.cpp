#include "LoginCheck.h"

#include "DeviceToken.h"
#include "RpcClient.h"

using namespace Qt::StringLiterals;

LoginResult checkLogin(const QString &host, int port, const QString &operatorCode, const QString &password,
                       const QString &remoteModule, const RpcSecurity &security, int timeoutMs)
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
    RpcClient client;
    client.setSecurity(security);
    client.setDeviceToken(DeviceToken::load(host, port, operatorCode));
    QString error;
    if (!client.open(host, quint16(port), remoteModule, operatorCode, password, timeoutMs, &error)) {
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
