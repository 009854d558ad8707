#pragma once

#include <QString>

#include "RpcClient.h"
#include "ServerTrust.h"

// What a successful login tells the host.
struct LoginResult
{
    bool ok = false;
    QString error;
    QString unitName;
    QString operatorName;
    QString token; // the device token the server gave this login
    RpcSecurity security; // how the server was trusted: the session's connections do the same
};

// Checks the operator and password with the application server by opening
// (and closing) a session with the given remote module. A server that
// security does not say how to trust is trusted by the pin remembered for it
// (ServerTrust); with none, a certificate that cannot be verified is put to
// ask, and pinned when it says yes, before the password is sent. A pinned
// server that shows another certificate is refused without a question.
LoginResult checkLogin(const QString &host, int port, const QString &operatorCode, const QString &password,
                       const QString &remoteModule, const RpcSecurity &security = {}, int timeoutMs = 15000,
                       const ServerTrust::Question &ask = {});
