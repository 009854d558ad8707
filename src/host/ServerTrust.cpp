#include "ServerTrust.h"

#include <QSettings>

using namespace Qt::StringLiterals;

namespace {
QSettings *store = nullptr;

QString keyOf(const QString &host, int port)
{
    const QString address =
        host.contains(u':') ? u"[%1]:%2"_s.arg(host.toLower()).arg(port) : u"%1:%2"_s.arg(host.toLower()).arg(port);
    return u"pins/"_s + address;
}
} // namespace

namespace ServerTrust {

void setStore(QSettings *settings)
{
    store = settings;
}

QByteArray pin(const QString &host, int port)
{
    QByteArray fingerprint;
    if (store && RpcSecurity::parseFingerprint(store->value(keyOf(host, port)).toString(), &fingerprint)) {
        return fingerprint;
    }
    return {};
}

void remember(const QString &host, int port, const QByteArray &fingerprint)
{
    if (store && !fingerprint.isEmpty() && pin(host, port) != fingerprint) {
        store->setValue(keyOf(host, port), RpcSecurity::formatFingerprint(fingerprint));
        store->sync();
    }
}

RpcSecurity securityFor(const RpcSecurity &given, const QString &host, int port, bool *remembered)
{
    RpcSecurity security = given;
    bool found = false;
    if (given.caFile.isEmpty() && given.fingerprint.isEmpty()) {
        security.fingerprint = pin(host, port);
        found = !security.fingerprint.isEmpty();
    }
    if (remembered) {
        *remembered = found;
    }
    return security;
}

QString changedCertificateText(const QString &host, int port, const QByteArray &received)
{
    return u"O certificado do servidor %1:%2 mudou desde que este computador passou a confiar nele (guardada a "
           "impressão digital %3, recebida %4): pode ser outro computador se passando pelo servidor, e nada foi "
           "enviado. Se o administrador trocou o certificado, confira com ele a nova impressão digital e apague a "
           "linha deste servidor em [pins] no arquivo %5."_s.arg(
               host, QString::number(port), RpcSecurity::formatFingerprint(pin(host, port)),
               RpcSecurity::formatFingerprint(received), store ? store->fileName() : QString());
}

QString untrustedText(const UnknownCertificate &certificate, bool asked)
{
    const QString fingerprint = RpcSecurity::formatFingerprint(certificate.fingerprint);
    if (asked) {
        return u"O certificado do servidor %1:%2 (impressão digital %3) não foi aceito; a senha não foi enviada."_s.arg(
            certificate.host, QString::number(certificate.port), fingerprint);
    }
    return u"%1 Confira com o administrador a impressão digital %2 e informe-a com --server-fingerprint."_s.arg(
        certificate.problem, fingerprint);
}

} // namespace ServerTrust
