#include "ServerMain.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QSaveFile>
#include <QSettings>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslCipher>
#include <QSslKey>
#include <QSslSocket>
#include <QTextStream>

#include "Activities.h"
#include "Admin.h"
#include "Database.h"
#include "DateTime.h"
#include "RdmProcessoUnidade.h"
#include "KeptModules.h"
#include "ReferenceCommands.h"
#include "RpcClient.h"
#include "RpcServer.h"
#include "SchemaCheck.h"
#include "ServiceAccount.h"
#include "ServerClock.h"
#include "ServerLog.h"
#include "SignalWatcher.h"
#include "TerminalPassword.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

using namespace Qt::StringLiterals;

namespace {

constexpr quint16 defaultPort = 8787;

struct Settings
{
    QHostAddress address = QHostAddress::LocalHost;
    QString addressText = u"127.0.0.1"_s;
    quint16 port = defaultPort;
    DatabaseConfig database;
    QString portFile;
    QString certificateFile;
    QString keyFile;
    bool allowPlain = false;
};

// Whether the private key in PEM is the one the certificate was issued for.
bool keyMatchesCertificate(const QSslCertificate &certificate, const QByteArray &keyPem)
{
    const QByteArray der = certificate.toDer();
    const auto *bytes = reinterpret_cast<const unsigned char *>(der.constData());
    X509 *x509 = d2i_X509(nullptr, &bytes, long(der.size()));
    BIO *bio = BIO_new_mem_buf(keyPem.constData(), int(keyPem.size()));
    // No passphrase is ever asked for: Qt already read this key without one.
    pem_password_cb *noPassphrase = [](char *, int, int, void *) { return 0; };
    EVP_PKEY *key = bio ? PEM_read_bio_PrivateKey(bio, nullptr, noPassphrase, nullptr) : nullptr;
    const bool matches = x509 && key && X509_check_private_key(x509, key) == 1;
    EVP_PKEY_free(key);
    BIO_free(bio);
    X509_free(x509);
    ERR_clear_error();
    return matches;
}

// TLS 1.3's suites, and of TLS 1.2's only those with forward secrecy (ECDHE)
// and authenticated encryption (GCM, ChaCha20-Poly1305): no CBC, no SHA-1
// MACs, no RSA key exchange.
QList<QSslCipher> strongCiphers()
{
    QList<QSslCipher> strong;
    for (const QSslCipher &cipher : QSslConfiguration::supportedCiphers()) {
        const QString encryption = cipher.encryptionMethod();
        const bool aead = encryption.contains(u"GCM"_s) || encryption.contains(u"CHACHA20"_s);
        if (cipher.protocol() == QSsl::TlsV1_3 || (cipher.keyExchangeMethod().startsWith(u"ECDH"_s) && aead)) {
            strong << cipher;
        }
    }
    return strong;
}

// The certificate and key the server answers TLS with; a null configuration
// when none is given.
QSslConfiguration tlsConfiguration(const Settings &settings)
{
    if (settings.certificateFile.isEmpty() && settings.keyFile.isEmpty()) {
        return {};
    }
    if (settings.certificateFile.isEmpty() || settings.keyFile.isEmpty()) {
        throw EDatabaseError(u"Para TLS informe --tls-cert e --tls-key juntos."_s);
    }
    if (!QSslSocket::supportsSsl()) {
        throw EDatabaseError(u"Este computador não tem a biblioteca de criptografia (OpenSSL) de que o TLS precisa."_s);
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(settings.certificateFile, QSsl::Pem);
    if (chain.isEmpty()) {
        throw EDatabaseError(
            u"Certificado TLS ilegível ou ausente: %1 (esperado PEM)."_s.arg(settings.certificateFile));
    }
    QFile keyFile(settings.keyFile);
    if (!keyFile.open(QIODevice::ReadOnly)) {
        throw EDatabaseError(u"Chave TLS ilegível: %1 (%2)."_s.arg(settings.keyFile, keyFile.errorString()));
    }
    const QByteArray pem = keyFile.readAll();
    QSslKey key;
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Ec, QSsl::Rsa}) {
        key = QSslKey(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull()) {
            break;
        }
    }
    if (key.isNull()) {
        throw EDatabaseError(u"Chave TLS ilegível: %1 (esperada uma chave privada EC ou RSA em PEM, sem senha)."_s.arg(
            settings.keyFile));
    }
    if (!keyMatchesCertificate(chain.first(), pem)) {
        throw EDatabaseError(
            u"A chave TLS %1 não pertence ao certificado %2: cada conexão falharia no handshake."_s.arg(
                settings.keyFile, settings.certificateFile));
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone); // clients log in with a password, not a certificate
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setCiphers(strongCiphers());
    return configuration;
}

// Configuration file first, command line over it.
Settings readSettings(const QCommandLineParser &parser)
{
    Settings settings;
    QString address = settings.addressText;
    QString port;
    QString sqlite;
    QString pg;
    if (parser.isSet(u"config"_s)) {
        const QString file = parser.value(u"config"_s);
        if (!QFileInfo::exists(file)) {
            throw EDatabaseError(u"Arquivo de configuração não encontrado: %1"_s.arg(file));
        }
        QSettings ini(file, QSettings::IniFormat);
        if (ini.status() != QSettings::NoError) {
            throw EDatabaseError(u"Arquivo de configuração ilegível: %1"_s.arg(file));
        }
        address = ini.value(u"server/address"_s, address).toString();
        port = ini.value(u"server/port"_s).toString();
        sqlite = ini.value(u"database/sqlite"_s).toString();
        pg = ini.value(u"database/postgresql"_s).toString();
        settings.certificateFile = ini.value(u"tls/certificate"_s).toString();
        settings.keyFile = ini.value(u"tls/key"_s).toString();
        settings.allowPlain = ini.value(u"server/allowPlain"_s, false).toBool();
    }
    if (parser.isSet(u"tls-cert"_s)) {
        settings.certificateFile = parser.value(u"tls-cert"_s);
    }
    if (parser.isSet(u"tls-key"_s)) {
        settings.keyFile = parser.value(u"tls-key"_s);
    }
    if (parser.isSet(u"allow-plain"_s)) {
        settings.allowPlain = true;
    }
    if (parser.isSet(u"address"_s)) {
        address = parser.value(u"address"_s);
    }
    if (parser.isSet(u"port"_s)) {
        port = parser.value(u"port"_s);
    }
    if (parser.isSet(u"sqlite"_s)) {
        sqlite = parser.value(u"sqlite"_s);
        pg.clear();
    }
    if (parser.isSet(u"pg"_s)) {
        pg = parser.value(u"pg"_s);
        if (pg.contains(u"password"_s, Qt::CaseInsensitive)) {
            qCWarning(lcServer).noquote()
                << u"aviso: a senha dada em --pg fica visível a outros usuários deste computador; ponha-a no arquivo "
                   "de configuração ([database] postgresql=) ou em PGPASSWORD."_s;
        }
    }
    if (parser.isSet(u"sqlite"_s) && parser.isSet(u"pg"_s)) {
        throw EDatabaseError(u"Informe --sqlite ou --pg, não ambos."_s);
    }
    if (!settings.address.setAddress(address)) {
        if (address == u"localhost"_s) {
            settings.address = QHostAddress::LocalHost;
        } else {
            throw EDatabaseError(u"Endereço inválido: %1"_s.arg(address));
        }
    }
    settings.addressText = address;
    if (!port.isEmpty()) {
        bool ok = false;
        const uint value = port.toUInt(&ok);
        if (!ok || value > 65535) {
            throw EDatabaseError(u"Porta inválida: %1"_s.arg(port));
        }
        settings.port = quint16(value);
    }
    settings.portFile = parser.value(u"port-file"_s);
    if (!pg.isEmpty()) {
        settings.database = DatabaseConfig::postgres(pg);
    } else if (!sqlite.isEmpty()) {
        settings.database = DatabaseConfig::sqlite(sqlite);
    }
    return settings;
}

// A password on a command line shows in every local user's process list;
// standard input and the environment keep it to this user.
QString givenPassword(const QCommandLineParser &parser, const QString &prompt)
{
    if (parser.isSet(u"password"_s)) {
        qCWarning(lcServer).noquote() << u"aviso: a senha dada em --password fica visível a outros usuários deste "
                                         "computador; prefira a entrada padrão (sem --password) ou PRU_PASSWORD."_s;
        return parser.value(u"password"_s);
    }
    if (qEnvironmentVariableIsSet("PRU_PASSWORD")) {
        return qEnvironmentVariable("PRU_PASSWORD");
    }
    return TerminalPassword::read(prompt);
}

QDate parseDay(const QString &text)
{
    if (text.isEmpty() || text == u"hoje"_s || text == u"today"_s) {
        return ServerClock::today();
    }
    const QDate date = QDate::fromString(text, Qt::ISODate);
    if (!date.isValid()) {
        throw EDatabaseError(u"Data inválida (use AAAA-MM-DD): %1"_s.arg(text));
    }
    return date;
}

int countOption(const QCommandLineParser &parser, const QString &name, int fallback)
{
    if (!parser.isSet(name)) {
        return fallback;
    }
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok) {
        throw EDatabaseError(u"Número inválido em --%1: %2"_s.arg(name, parser.value(name)));
    }
    return value;
}

int runAdmin(const QCommandLineParser &parser, const Settings &settings)
{
    ScopedConnection connection(settings.database, u"admin"_s);
    QSqlDatabase &db = connection.db();
    QTextStream out(stdout);
    if (parser.isSet(u"create-db"_s)) {
        const int before = Database::schemaVersion(db);
        Admin::createDatabase(db);
        out << u"Banco de dados na versão %1 (antes: %2): %3\n"_s.arg(Database::latestVersion())
                   .arg(before)
                   .arg(settings.database.describe());
    }
    if (parser.isSet(u"demo"_s)) {
        Admin::loadDemo(db);
        out << u"Dados de demonstração carregados. Operador SUPERVISOR, senha \"senha\".\n"_s;
    }
    Database::migrate(db);
    if (parser.isSet(u"add-unit"_s)) {
        Admin::addUnit(db, parser.value(u"add-unit"_s), parser.value(u"name"_s));
        out << u"Unidade %1 gravada.\n"_s.arg(parser.value(u"add-unit"_s));
    }
    if (parser.isSet(u"add-operator"_s)) {
        const QString password =
            givenPassword(parser, u"Senha do operador %1: "_s.arg(parser.value(u"add-operator"_s)));
        Admin::addOperator(db, parser.value(u"add-operator"_s), parser.value(u"name"_s), parser.value(u"unit"_s),
                           password);
        out << u"Operador %1 gravado.\n"_s.arg(parser.value(u"add-operator"_s));
    }
    if (ReferenceCommands::requested(parser)) {
        ReferenceCommands::run(parser, db, out);
    }
    if (parser.isSet(u"large-unit"_s)) {
        const QString unit = parser.value(u"large-unit"_s);
        const QString password = givenPassword(parser, u"Senha dos operadores da unidade %1: "_s.arg(unit));
        const Admin::LargeUnit made = Admin::loadLargeUnit(db, unit, countOption(parser, u"processes"_s, 1000),
                                                           countOption(parser, u"tasks"_s, 20),
                                                           countOption(parser, u"responsibles"_s, 5), password);
        out << u"Unidade %1 gerada: %2 processos, %3 tarefas, %4 responsáveis; operadores %5 a %6 (supervisor %5), grupo %7.\n"_s
                   .arg(unit)
                   .arg(made.processes)
                   .arg(made.tasks)
                   .arg(made.responsibles)
                   .arg(made.firstOperator, made.lastOperator, made.group);
    }
    if (parser.isSet(u"generate-day"_s)) {
        const QDate day = parseDay(parser.value(u"generate-day"_s));
        const int created = Activities::generateDay(db, day);
        if (created < 0) {
            out << u"O dia %1 já tinha sido gerado; nada foi criado.\n"_s.arg(day.toString(Qt::ISODate));
        } else {
            out << u"Dia %1 gerado: %2 atividades.\n"_s.arg(day.toString(Qt::ISODate)).arg(created);
        }
    }
    if (parser.isSet(u"mark-executed"_s)) {
        bool ok = false;
        const qint64 number = parser.value(u"mark-executed"_s).toLongLong(&ok);
        if (!ok) {
            throw EDatabaseError(u"Número de atividade inválido: %1"_s.arg(parser.value(u"mark-executed"_s)));
        }
        const QString op = parser.isSet(u"operator"_s) ? parser.value(u"operator"_s) : u"SUPERVISOR"_s;
        Admin::markExecuted(db, number, op, ServerClock::nowDays());
        out << u"Atividade %1 executada por %2.\n"_s.arg(number).arg(op);
    }
    if (parser.isSet(u"list-activities"_s)) {
        const QDate day = parseDay(parser.value(u"list-activities"_s));
        const QList<Admin::Occurrence> list = Admin::occurrences(db, day);
        out << u"Atividades de %1:\n"_s.arg(day.toString(Qt::ISODate));
        for (const Admin::Occurrence &o : list) {
            const QString state =
                o.concludedAt > 0 && !o.concludedBy.trimmed().isEmpty() ? u"executada por %1 em %2"_s.arg(
                    o.concludedBy, DateTime::toQDateTime(o.concludedAt).toString(u"dd/MM/yyyy HH:mm"_s))
                                                                        : u"pendente"_s;
            out << u"%1\tunidade %2\tprocesso %3 (%4)\ttarefa %5 (%6)\t%7\n"_s.arg(o.number)
                       .arg(o.unit)
                       .arg(o.process)
                       .arg(o.processName)
                       .arg(o.task)
                       .arg(o.taskName, state);
        }
    }
    return 0;
}

// For programs that start the server: "<address> <port>" and a newline,
// written whole or not at all once the server listens.
void writePortFile(const QString &path, const QString &address, quint16 port)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        throw EDatabaseError(u"não foi possível gravar o arquivo de porta %1: %2"_s.arg(path, file.errorString()));
    }
    file.write(u"%1 %2\n"_s.arg(address).arg(port).toUtf8());
    if (!file.commit()) {
        throw EDatabaseError(u"não foi possível gravar o arquivo de porta %1: %2"_s.arg(path, file.errorString()));
    }
}

// Passwords travel in the login: in plain TCP only where nobody else can
// listen, unless the administrator says the network is protected otherwise.
void requireSafeListening(const Settings &settings, const QSslConfiguration &tls)
{
    if (tls.isNull() && !settings.address.isLoopback() && !settings.allowPlain) {
        throw EDatabaseError(
            u"sem TLS o servidor só escuta num endereço local (127.0.0.0/8 ou ::1); para %1 informe "
            "--tls-cert e --tls-key (pru-make-cert, ou scripts/make-cert.sh, gera um par), ou --allow-plain se a rede "
            "já for protegida de outra forma"_s.arg(settings.addressText));
    }
}

// Run as root (sudo ... --check-config), the files are also tried as the
// service's own user, who is the one that reads them at the start.
void requireServiceAccess(const Settings &settings, const QString &configFile, QTextStream &out)
{
    QStringList files;
    for (const QString &file : {configFile, settings.certificateFile, settings.keyFile}) {
        if (!file.isEmpty()) {
            files << file;
        }
    }
    QStringList folders;
    if (settings.database.engine == DatabaseConfig::Engine::SQLite) {
        folders << QFileInfo(settings.database.sqliteFile).absolutePath();
        for (const QString &file :
             {settings.database.sqliteFile, Database::credentialsFile(settings.database.sqliteFile)}) {
            if (QFileInfo::exists(file)) {
                folders << file;
            }
        }
    }
    const QString user = ServiceAccount::serviceUser;
    bool checked = false;
    const QStringList problems = ServiceAccount::unreachable(user, files, folders, &checked);
    if (!problems.isEmpty()) {
        throw EDatabaseError(
            u"o usuário %1, com que o serviço roda, não consegue %2"_s.arg(user, problems.join(u"; "_s)));
    }
    if (checked) {
        out << u"o usuário %1 do serviço lê %2%3\n"_s.arg(
            user, files.join(u", "_s), folders.isEmpty() ? QString() : u" e grava em "_s + folders.join(u", "_s));
    }
}

// What a start would refuse, said without opening the database or the port:
// for a site checking its configuration file before it restarts the service.
int checkConfig(const Settings &settings, const QString &configFile)
{
    const QSslConfiguration tls = tlsConfiguration(settings);
    requireSafeListening(settings, tls);
    QTextStream out(stdout);
    requireServiceAccess(settings, configFile, out);
    if (settings.database.engine == DatabaseConfig::Engine::SQLite) {
        const QFileInfo file(settings.database.sqliteFile);
        if (file.isRelative()) {
            out << u"aviso: o arquivo SQLite %1 é relativo à pasta de trabalho; prefira um caminho completo "
                   "(/var/lib/pru/pru87000.sqlite)\n"_s.arg(settings.database.sqliteFile);
        } else if (!file.dir().exists()) {
            out << u"aviso: a pasta %1 do banco SQLite ainda não existe (o pacote a cria em /var/lib/pru)\n"_s.arg(
                file.dir().path());
        }
    }
    out << u"configuração aceita: %1:%2, %3, %4\n"_s.arg(settings.addressText)
               .arg(settings.port)
               .arg(settings.database.describe(), tls.isNull() ? u"sem TLS"_s : u"TLS"_s);
    return 0;
}

int serve(QCoreApplication &app, const Settings &settings)
{
    auto state = std::make_shared<ServerState>(settings.database);
    {
        // Created or migrated on the first start; today's activities are
        // generated before the first client arrives.
        ScopedConnection connection(settings.database, u"startup"_s);
        Database::migrate(connection.db());
        SchemaCheck::require(connection.db());
        Activities::ensureToday(connection.db(), state->lastGeneratedDay);
    }
    RpcServer server(KeptModules::factory(state));
    const QSslConfiguration tls = tlsConfiguration(settings);
    requireSafeListening(settings, tls);
    server.setTls(tls);
    QString error;
    if (!server.listen(settings.address, settings.port, &error)) {
        throw EDatabaseError(
            u"não foi possível escutar em %1:%2: %3"_s.arg(settings.addressText).arg(settings.port).arg(error));
    }
    if (!settings.portFile.isEmpty()) {
        writePortFile(settings.portFile, settings.addressText, server.port());
    }
    const QString security = tls.isNull() ? u"sem TLS"_s
                                          : u"TLS, certificado SHA-256 %1"_s.arg(RpcSecurity::formatFingerprint(
                                              tls.localCertificate().digest(QCryptographicHash::Sha256)));
    qCInfo(lcServer).noquote() << u"iniciado: %1 versão %2 em %3:%4, %5, %6"_s
                                      .arg(RdmProcessoUnidade::serverName, QCoreApplication::applicationVersion(),
                                           settings.addressText)
                                      .arg(server.port())
                                      .arg(settings.database.describe(), security);
    SignalWatcher watcher;
    int stopSignal = 0;
    QObject::connect(&watcher, &SignalWatcher::stopRequested, &app, [&app, &stopSignal](int number) {
        stopSignal = number;
        app.quit();
    });
    const int rc = app.exec();
    server.close();
    if (!settings.portFile.isEmpty()) {
        // A file left behind would send the next reader to a closed port.
        QFile::remove(settings.portFile);
    }
    qCInfo(lcServer).noquote() << u"encerrado (sinal %1)"_s.arg(stopSignal);
    return rc;
}

} // namespace

namespace ServerMain {

int run(QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Servidor de aplicação de \"Processos da Unidade\" (PRU87000.rdmProcessoUnidade).\n"
        "Sem comandos de administração, serve os clientes até receber SIGINT ou SIGTERM."_s);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {{u"c"_s, u"config"_s},
         u"Arquivo de configuração (INI: [server] address, port, allowPlain; [database] sqlite, postgresql; [tls] certificate, key)."_s,
         u"arquivo"_s},
        {u"address"_s, u"Endereço de escuta (padrão 127.0.0.1)."_s, u"endereço"_s},
        {u"port"_s, u"Porta de escuta (padrão 8787; 0 escolhe uma livre)."_s, u"porta"_s},
        {u"port-file"_s,
         u"Ao começar a escutar, grava \"endereço porta\" nesse arquivo (para programas); apagado ao encerrar."_s,
         u"arquivo"_s},
        {u"tls-cert"_s, u"Certificado TLS do servidor (PEM); com --tls-key, toda conexão é criptografada."_s,
         u"arquivo"_s},
        {u"tls-key"_s, u"Chave privada do certificado TLS (PEM, sem senha)."_s, u"arquivo"_s},
        {u"allow-plain"_s, u"Aceita TCP sem criptografia num endereço que não é o local (só em rede já protegida)."_s},
        {u"sqlite"_s, u"Arquivo SQLite (padrão pru87000.sqlite)."_s, u"arquivo"_s},
        {u"pg"_s, u"Banco PostgreSQL: \"host=... port=... user=... dbname=... password=...\"."_s, u"opções"_s},
        {u"check-config"_s,
         u"Lê a configuração e as opções, diz se o servidor as aceita e termina (sem abrir o banco nem a porta)."_s},
        {u"create-db"_s, u"Cria o banco de dados ou o migra para a última versão e termina."_s},
        {u"demo"_s, u"Carrega os dados de demonstração e termina."_s},
        {u"add-unit"_s, u"Inclui ou altera uma unidade (com --name) e termina."_s, u"código"_s},
        {u"add-operator"_s,
         u"Inclui ou altera um operador (com --name, --unit e --password; sem --password lê a senha da entrada padrão) e termina."_s,
         u"código"_s},
        {u"large-unit"_s,
         u"Gera uma unidade grande para medidas (com --processes, --tasks e --responsibles; senha dos "
         "operadores em --password ou na entrada padrão) e termina."_s,
         u"código"_s},
        {u"processes"_s, u"Processos da unidade grande (padrão 1000)."_s, u"número"_s},
        {u"tasks"_s, u"Tarefas de cada processo da unidade grande (padrão 20)."_s, u"número"_s},
        {u"responsibles"_s, u"Responsáveis de cada tarefa da unidade grande (padrão 5: um grupo e operadores)."_s,
         u"número"_s},
        {u"name"_s, u"Nome, para --add-unit, --add-operator, --add-group e --add-periodicity."_s, u"nome"_s},
        {u"unit"_s, u"Unidade, para --add-operator."_s, u"código"_s},
        {u"password"_s, u"Senha, para --add-operator e --large-unit."_s, u"senha"_s},
        {u"generate-day"_s, u"Gera as atividades de um dia (AAAA-MM-DD ou \"hoje\") e termina."_s, u"data"_s},
        {u"mark-executed"_s, u"Marca uma atividade (NRATIVIDADEDIA) como executada (com --operator) e termina."_s,
         u"número"_s},
        {u"operator"_s,
         u"Operador: o que executou, para --mark-executed (padrão SUPERVISOR); o membro, para --add-member e --remove-member."_s,
         u"código"_s},
        {u"list-activities"_s, u"Lista as atividades de um dia (AAAA-MM-DD ou \"hoje\") e termina."_s, u"data"_s},
    });
    parser.addOptions(ReferenceCommands::options());
    parser.process(app);
    ServerLog::installProgramHandler();
    if (!parser.positionalArguments().isEmpty()) {
        qCCritical(lcServer).noquote() << u"falha: argumento inesperado: %1"_s.arg(
            parser.positionalArguments().join(u' '));
        return 2;
    }
    const bool admin = parser.isSet(u"create-db"_s) || parser.isSet(u"demo"_s) || parser.isSet(u"add-unit"_s)
                       || parser.isSet(u"add-operator"_s) || parser.isSet(u"large-unit"_s)
                       || parser.isSet(u"generate-day"_s) || parser.isSet(u"mark-executed"_s)
                       || parser.isSet(u"list-activities"_s) || ReferenceCommands::requested(parser);
    try {
        const Settings settings = readSettings(parser);
        if (parser.isSet(u"check-config"_s)) {
            return checkConfig(settings, parser.value(u"config"_s));
        }
        if (admin) {
            return runAdmin(parser, settings);
        }
        return serve(app, settings);
    } catch (...) {
        qCCritical(lcServer).noquote() << u"falha: %1"_s.arg(currentExceptionMessage());
        return 1;
    }
}

} // namespace ServerMain
