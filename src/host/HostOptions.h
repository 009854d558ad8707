#pragma once

#include <QString>
#include <QStringList>

#include "RpcClient.h"

// What the host was told: its settings files (HostSettings), then its command line.
struct HostOptions
{
    QString serverHost; // --server host:port
    int serverPort = 0;
    QString operatorCode; // --operator
    QString password; // --password-file, PRU_PASSWORD, or --password (seen by every local user)
    bool passwordGiven = false; // a remembered server and operator alone do not log in
    QStringList warnings; // what the command line should not have said, for standard error
    QStringList open; // --open <module path or screen code>, in order
    QString lookupDb; // --lookup-db <connection options>, or from --database <SQLite file>
    QString screenshot; // --screenshot <file.png>: save the main window and exit
    QString loginModule; // --login-module: the remote module a login opens a session with
    QStringList modulePath; // --module-dir: where screen codes are looked up (besides the defaults)
    // How the application server is trusted: --tls (the system's CAs),
    // --server-ca <PEM file>, --server-fingerprint <SHA-256>; plain TCP without any,
    // beyond this machine only with --allow-plain or [server] allowPlain=true.
    // A --server other than the files' goes without the files' trust.
    RpcSecurity serverSecurity;

    bool hasCredentials() const
    {
        return !serverHost.isEmpty() && serverPort > 0 && !operatorCode.isEmpty() && passwordGiven;
    }
};

// Parses host:port. False with *error set when it is not one.
bool parseServerAddress(const QString &text, QString *host, int *port, QString *error);

// Parses the command line over what *options holds; false with *error set on a bad option.
bool parseHostOptions(const QStringList &arguments, HostOptions *options, QString *error);
