#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

#include "RpcClient.h"

class QSettings;

// The certificates this host was told to trust on first contact, kept in the
// user's settings ([pins], one line per server: HOST:PORT=fingerprint) and
// used from then on for that server when nothing else says how to trust it.
namespace ServerTrust {

// Where pins are kept from now on; none (nothing kept) until set.
void setStore(QSettings *settings);
QByteArray pin(const QString &host, int port);
void remember(const QString &host, int port, const QByteArray &fingerprint);

// How to trust host:port: as given when it names a CA or a pin, otherwise
// with the pin remembered for that server (*remembered then true).
RpcSecurity securityFor(const RpcSecurity &given, const QString &host, int port, bool *remembered = nullptr);

// A certificate this host does not know yet, shown to the person logging in.
struct UnknownCertificate
{
    QString host;
    int port = 0;
    QByteArray fingerprint; // SHA-256
    QString problem; // why it could not be verified, in the TLS library's words
};
// Answers whether to trust it (pin it); the password is sent only after a yes.
using Question = std::function<bool(const UnknownCertificate &)>;

// The refusal when a pinned server shows another certificate: never a question.
QString changedCertificateText(const QString &host, int port, const QByteArray &received);
// The refusal when no one could be asked (or the person said no).
QString untrustedText(const UnknownCertificate &certificate, bool asked);

} // namespace ServerTrust
