#include "HostOptions.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>

#include "Secret.h"

using namespace Qt::StringLiterals;

bool parseServerAddress(const QString &text, QString *host, int *port, QString *error)
{
    const QString t = text.trimmed();
    const qsizetype colon = t.lastIndexOf(u':');
    if (colon <= 0 || colon == t.size() - 1) {
        *error = u"Endereço do servidor inválido: \"%1\" (use máquina:porta, por exemplo 127.0.0.1:8123)."_s.arg(t);
        return false;
    }
    bool ok = false;
    const int p = t.mid(colon + 1).toInt(&ok);
    if (!ok || p <= 0 || p > 65535) {
        *error = u"Porta do servidor inválida: \"%1\" (de 1 a 65535)."_s.arg(t.mid(colon + 1));
        return false;
    }
    QString h = t.left(colon);
    if (h.startsWith(u'[') && h.endsWith(u']')) {
        h = h.mid(1, h.size() - 2); // [::1]:8123
    }
    *host = h;
    *port = p;
    return true;
}

bool parseHostOptions(const QStringList &arguments, HostOptions *options, QString *error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(u"Aplicação hospedeira das telas do sistema."_s);
    parser.addHelpOption();
    const QCommandLineOption server(u"server"_s, u"Servidor de aplicação (máquina:porta)."_s, u"host:port"_s);
    const QCommandLineOption op(u"operator"_s, u"Código do operador."_s, u"code"_s);
    const QCommandLineOption password(
        u"password"_s, u"Senha do operador (visível a outros usuários; prefira --password-file ou PRU_PASSWORD)."_s,
        u"password"_s);
    const QCommandLineOption passwordFile(u"password-file"_s, u"Arquivo cuja primeira linha é a senha do operador."_s,
                                          u"file"_s);
    const QCommandLineOption open(u"open"_s, u"Abre uma tela ao iniciar: caminho do módulo ou código (PRU87000)."_s,
                                  u"module"_s);
    const QCommandLineOption lookup(u"lookup-db"_s, u"Conexão do banco de consultas."_s, u"options"_s);
    const QCommandLineOption database(u"database"_s, u"Arquivo SQLite do banco de consultas (atalho de --lookup-db)."_s,
                                      u"file"_s);
    const QCommandLineOption shot(u"screenshot"_s, u"Salva a imagem da janela principal em PNG e encerra."_s,
                                  u"file.png"_s);
    const QCommandLineOption loginModule(u"login-module"_s, u"Módulo remoto usado para validar o login."_s, u"name"_s,
                                         u"PRU87000.rdmProcessoUnidade"_s);
    const QCommandLineOption moduleDir(u"module-dir"_s, u"Pasta onde procurar os módulos das telas."_s, u"dir"_s);
    const QCommandLineOption tls(u"tls"_s, u"Conecta ao servidor de aplicação com TLS (certificados do sistema)."_s);
    const QCommandLineOption ca(
        u"server-ca"_s, u"Certificados (PEM) em que confiar para o servidor de aplicação; implica TLS."_s, u"file"_s);
    const QCommandLineOption fingerprint(
        u"server-fingerprint"_s, u"Impressão digital SHA-256 do certificado do servidor de aplicação; implica TLS."_s,
        u"sha256"_s);
    const QCommandLineOption allowPlain(
        u"allow-plain"_s,
        u"Aceita conectar sem TLS a um servidor fora desta máquina (a senha passa sem criptografia)."_s);
    parser.addOptions({server, op, password, passwordFile, open, lookup, database, shot, loginModule, moduleDir, tls,
                       ca, fingerprint, allowPlain});
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return false;
    }
    if (parser.isSet(u"help"_s)) {
        *error = parser.helpText();
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error = u"Argumento desconhecido: %1"_s.arg(parser.positionalArguments().join(u' '));
        return false;
    }
    if (parser.isSet(server)) {
        const QString fileHost = options->serverHost;
        const int filePort = options->serverPort;
        if (!parseServerAddress(parser.value(server), &options->serverHost, &options->serverPort, error)) {
            return false;
        }
        // A pin belongs to the server it was given for: another server goes
        // without the files' trust, with what this command line says of it.
        if (options->serverHost != fileHost || options->serverPort != filePort) {
            options->serverSecurity = options->serverSecurity.forAnotherServer();
        }
    }
    // What the settings filled in stays unless the command line says otherwise.
    if (parser.isSet(op)) {
        options->operatorCode = parser.value(op);
    }
    // A password on the command line shows in every local user's process
    // list: a file or the environment keep it to this user.
    if (parser.isSet(passwordFile)) {
        QFile file(parser.value(passwordFile));
        if (!file.open(QIODevice::ReadOnly)) {
            *error = u"Não foi possível ler o arquivo de senha %1: %2"_s.arg(file.fileName(), file.errorString());
            return false;
        }
        QByteArray line = file.readLine(4096);
        options->password = QString::fromUtf8(line).remove(u'\n').remove(u'\r');
        Secret::wipe(line);
        options->passwordGiven = true;
    } else if (parser.isSet(password)) {
        options->password = parser.value(password);
        options->passwordGiven = true;
        options->warnings << u"Aviso: a senha dada em --password fica visível a outros usuários deste computador; "
                             "prefira --password-file ou a variável PRU_PASSWORD."_s;
    } else if (qEnvironmentVariableIsSet("PRU_PASSWORD")) {
        options->password = qEnvironmentVariable("PRU_PASSWORD");
        options->passwordGiven = true;
    }
    options->open = parser.values(open);
    if (parser.isSet(lookup)) {
        options->lookupDb = parser.value(lookup);
    } else if (parser.isSet(database)) {
        options->lookupDb = u"QSQLITE:"_s + QFileInfo(parser.value(database)).absoluteFilePath();
    }
    options->screenshot = parser.value(shot);
    options->loginModule = parser.value(loginModule);
    options->modulePath = parser.values(moduleDir);
    if (parser.isSet(allowPlain)) {
        options->serverSecurity.allowPlain = true;
    }
    if (parser.isSet(tls)) {
        options->serverSecurity.tls = true;
    }
    if (parser.isSet(ca)) {
        options->serverSecurity.caFile = parser.value(ca);
    }
    if (parser.isSet(fingerprint)
        && !RpcSecurity::parseFingerprint(parser.value(fingerprint), &options->serverSecurity.fingerprint)) {
        *error =
            u"Impressão digital inválida: \"%1\" (use os 64 dígitos hexadecimais do SHA-256, com ou sem ':')."_s.arg(
                parser.value(fingerprint));
        return false;
    }
    return true;
}
