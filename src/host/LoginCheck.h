#pragma once

#include <QString>

#include "RpcClient.h"

// What a successful login tells the host.
struct LoginResult
{
    bool ok = false;
    QString error;
    QString unitName;
    QString operatorName;
    QString token; // the device token the server gave this login
};

// Checks the operator and password with the application server by opening
// (and closing) a session with the given remote module.
LoginResult checkLogin(const QString &host, int port, const QString &operatorCode, const QString &password,
                       const QString &remoteModule, const RpcSecurity &security = {}, int timeoutMs = 15000);
