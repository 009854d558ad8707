#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLibrary>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSslKey>
#include <QTemporaryDir>
#include <QTimer>
#include <QTemporaryFile>
#include <QTest>

#include "FrameworkServices.h"
#include "Guard.h"
#include "HostMainWindow.h"
#include "Exceptions.h"
#include "HostOptions.h"
#include "HostApp.h"
#include "HostSettings.h"
#include "LookupConnection.h"
#include "LoginCheck.h"
#include "LoginDialog.h"
#include "ModalDialogs.h"
#include "Refusal.h"
#include "RpcServer.h"
#include "ServerTrust.h"
#include "TrustDialog.h"

using namespace Qt::StringLiterals;

namespace {
const QString testRemoteModule = u"Teste.rdmHost"_s;

class LoginHandler : public SessionHandler
{
public:
    static inline std::atomic<int> logins = 0; // logins that reached a server
    LoginResult login(const LoginRequest &request) override
    {
        ++logins;
        const QString &serverName = request.server;
        const QString &op = request.operatorCode;
        const QString &password = request.password;
        if (serverName == testRemoteModule && op == u"op" && password == u"secret") {
            return {true, {}, u"Unidade Teste"_s, u"Operador Teste"_s};
        }
        return {false, u"Operador ou senha inválidos."_s, {}, {}};
    }
    QCborValue call(const QString &, const QCborArray &) override { return {}; }
};

QByteArray fingerprintOf(const QString &certificateFile)
{
    return QSslCertificate::fromPath(certificateFile).value(0).digest(QCryptographicHash::Sha256);
}

// A server with the self-signed certificate of tests/rpc/data.
std::unique_ptr<RpcServer> tlsServer()
{
    const QString data = QStringLiteral(PRU_TEST_DATA_DIR);
    QFile keyFile(data + u"/pru-server.key"_s);
    if (!keyFile.open(QIODevice::ReadOnly)) {
        return {};
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(QSslCertificate::fromPath(data + u"/pru-server.crt"_s));
    tls.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Ec));
    auto server = std::make_unique<RpcServer>([] { return std::make_unique<LoginHandler>(); });
    server->setTls(tls);
    QString error;
    return server->listen(QHostAddress::LocalHost, 0, &error) ? std::move(server) : nullptr;
}

// The host program run on its own, on the offscreen platform.
void startHost(QProcess &host, const QStringList &arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    // The host remembers its logins: in a folder of the test's, not the tester's.
    static QTemporaryDir config;
    env.insert(u"XDG_CONFIG_HOME"_s, config.filePath(u"user"_s));
    env.insert(u"XDG_CONFIG_DIRS"_s, config.filePath(u"site"_s));
    host.setProcessEnvironment(env);
    host.start(QStringLiteral(PRU_HOST_EXE), arguments);
}

} // namespace

// The host's own parts: options, login, modules opened through IniProc, and
// the picture-and-exit mode of the program.
class TestHost : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Settings of the test's own: neither the tester's files nor /etc/xdg.
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.filePath(u"user"_s)));
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(m_config.filePath(u"site"_s)));
        m_server = std::make_unique<RpcServer>([] { return std::make_unique<LoginHandler>(); });
        QString error;
        QVERIFY2(m_server->listen(QHostAddress::LocalHost, 0, &error), qPrintable(error));
    }
    void cleanupTestCase() { m_server.reset(); }
    void init()
    {
        ModalDialogs::clearAnswers();
        ModalDialogs::clearShown();
        m_errors.clear();
        setErrorDisplay([this](const QString &text, QWidget *) { m_errors << text; });
    }

    void serverAddress_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("ip") << u"127.0.0.1:8123"_s << true << u"127.0.0.1"_s << 8123;
        QTest::newRow("name") << u" servidor:80 "_s << true << u"servidor"_s << 80;
        QTest::newRow("ipv6") << u"[::1]:9000"_s << true << u"::1"_s << 9000;
        QTest::newRow("no port") << u"servidor"_s << false << QString() << 0;
        QTest::newRow("empty port") << u"servidor:"_s << false << QString() << 0;
        QTest::newRow("port too big") << u"servidor:70000"_s << false << QString() << 0;
        QTest::newRow("port not a number") << u"servidor:abc"_s << false << QString() << 0;
    }
    void serverAddress()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(QString, host);
        QFETCH(int, port);
        QString h, error;
        int p = 0;
        QCOMPARE(parseServerAddress(text, &h, &p, &error), ok);
        if (ok) {
            QCOMPARE(h, host);
            QCOMPARE(p, port);
        } else {
            QVERIFY(!error.isEmpty());
        }
    }

    void commandLine()
    {
        HostOptions o;
        QString error;
        QVERIFY2(parseHostOptions({u"pru_host"_s, u"--server"_s, u"h:1"_s, u"--operator"_s, u"op"_s, u"--password"_s,
                                   u"s"_s, u"--open"_s, u"PRU87000"_s, u"--lookup-db"_s, u"QSQLITE:/tmp/a.db"_s,
                                   u"--screenshot"_s, u"/tmp/x.png"_s},
                                  &o, &error),
                 qPrintable(error));
        QVERIFY(o.hasCredentials());
        QVERIFY2(o.warnings.value(0).contains(u"visível a outros usuários"_s), "--password is warned about");
        QCOMPARE(o.open, QStringList{u"PRU87000"_s});
        // The password from a file (its first line) or the environment, unwarned.
        QTemporaryFile secret;
        QVERIFY(secret.open() && secret.write("s3nha\nresto\n") > 0 && secret.flush());
        HostOptions fromFile;
        QVERIFY(parseHostOptions({u"pru_host"_s, u"--password-file"_s, secret.fileName()}, &fromFile, &error));
        QCOMPARE(fromFile.password, u"s3nha"_s);
        QVERIFY(fromFile.passwordGiven && fromFile.warnings.isEmpty());
        qputenv("PRU_PASSWORD", "do ambiente");
        HostOptions fromEnvironment;
        QVERIFY(parseHostOptions({u"pru_host"_s}, &fromEnvironment, &error));
        qunsetenv("PRU_PASSWORD");
        QCOMPARE(fromEnvironment.password, u"do ambiente"_s);
        QVERIFY(!parseHostOptions({u"pru_host"_s, u"--password-file"_s, u"/nao/existe"_s}, &o, &error));
        QVERIFY2(error.contains(u"arquivo de senha /nao/existe"_s), qPrintable(error));
        QCOMPARE(o.lookupDb, u"QSQLITE:/tmp/a.db"_s);
        QCOMPARE(o.screenshot, u"/tmp/x.png"_s);
        HostOptions withFile;
        QVERIFY(parseHostOptions({u"pru_host"_s, u"--database"_s, u"/var/pru.sqlite"_s}, &withFile, &error));
        QCOMPARE(withFile.lookupDb, u"QSQLITE:/var/pru.sqlite"_s);
        QVERIFY(!parseHostOptions({u"pru_host"_s, u"--server"_s, u"semporta"_s}, &o, &error));
        QVERIFY(!parseHostOptions({u"pru_host"_s, u"--nada"_s}, &o, &error));
        QVERIFY(!o.serverSecurity.usesTls());
        QVERIFY(!o.serverSecurity.allowPlain);
        QVERIFY(parseHostOptions({u"pru_host"_s, u"--allow-plain"_s}, &o, &error) && o.serverSecurity.allowPlain);

        HostOptions pinned;
        QVERIFY2(parseHostOptions({u"pru_host"_s, u"--server-fingerprint"_s,
                                   u"4a:72:80:72:E4:CC:75:B1:94:6D:14:50:06:84:00:B0:"
                                   "13:A6:8A:D0:80:87:CD:34:D8:B2:FC:A5:D4:42:D3:FC"_s},
                                  &pinned, &error),
                 qPrintable(error));
        QVERIFY(pinned.serverSecurity.usesTls());
        QCOMPARE(pinned.serverSecurity.fingerprint.size(), 32);
        QVERIFY(!parseHostOptions({u"pru_host"_s, u"--server-fingerprint"_s, u"4A:72:80"_s}, &o, &error));
        QVERIFY2(error.contains(u"Impressão digital inválida"_s), qPrintable(error));
    }

    // The login names the mismatch in words, at once, instead of hanging or
    // sending the password to a server that is not the expected one.
    void loginToAServerWithAnotherCertificate()
    {
        const QString data = QStringLiteral(PRU_TEST_DATA_DIR);
        const std::unique_ptr<RpcServer> server = tlsServer();
        QVERIFY(server);
        RpcSecurity other;
        other.fingerprint = fingerprintOf(data + u"/other-server.crt"_s);
        const LoginResult refused =
            checkLogin(u"127.0.0.1"_s, server->port(), u"op"_s, u"secret"_s, testRemoteModule, other);
        QVERIFY2(refusalOf(refused).contains(u"não confere com a impressão digital configurada"_s),
                 qPrintable(refusalOf(refused)));
        RpcSecurity right;
        right.caFile = data + u"/pru-server.crt"_s;
        const LoginResult ok =
            checkLogin(u"127.0.0.1"_s, server->port(), u"op"_s, u"secret"_s, testRemoteModule, right);
        QVERIFY2(ok.ok, qPrintable(ok.error));
    }

    // A certificate not known yet is shown in the dialog, and pinned for its
    // server when the person trusts it; refused, nothing reaches the server.
    // A pinned server with another certificate is refused without a question.
    void trustOnFirstUse_data()
    {
        QTest::addColumn<QString>("storedPin"); // the certificate pinned before, if any
        QTest::addColumn<QString>("button"); // clicked in the dialog; none when no dialog may open
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("message");
        const QString other = QStringLiteral(PRU_TEST_DATA_DIR) + u"/other-server.crt"_s;
        QTest::newRow("trusted") << QString() << u"btnConfiar"_s << true << QString();
        QTest::newRow("not trusted") << QString() << u"btnNaoConfiar"_s << false << u"não foi aceito"_s;
        QTest::newRow("changed certificate") << other << QString() << false << u"mudou desde que"_s;
    }
    void trustOnFirstUse()
    {
        QFETCH(QString, storedPin);
        QFETCH(QString, button);
        QFETCH(bool, ok);
        QFETCH(QString, message);
        QFile::remove(HostSettings::userFile());
        const std::unique_ptr<QSettings> user = HostSettings::open();
        ServerTrust::setStore(user.get());
        const std::unique_ptr<RpcServer> server = tlsServer();
        QVERIFY(server);
        const QString host = u"127.0.0.1"_s;
        if (!storedPin.isEmpty()) {
            ServerTrust::remember(host, server->port(), fingerprintOf(storedPin));
        }
        const QByteArray presented = fingerprintOf(QStringLiteral(PRU_TEST_DATA_DIR) + u"/pru-server.crt"_s);
        QString shown;
        int asked = 0;
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [&] {
            if (auto *dialog = qobject_cast<TrustDialog *>(QApplication::activeModalWidget())) {
                shown = dialog->findChild<QLabel *>(u"lblImpressao"_s)->text();
                QTest::mouseClick(dialog->findChild<QPushButton *>(button), Qt::LeftButton);
            }
        });
        answer.start(20);
        const ServerTrust::Question ask = [&asked](const ServerTrust::UnknownCertificate &certificate) {
            ++asked;
            return TrustDialog::ask(certificate);
        };
        RpcSecurity tls;
        tls.tls = true; // the system's CAs, which do not hold this self-signed certificate
        const int before = LoginHandler::logins;
        const LoginResult first =
            checkLogin(host, server->port(), u"op"_s, u"secret"_s, testRemoteModule, tls, 15000, ask);
        answer.stop();
        QVERIFY2(first.ok == ok && first.error.contains(message), qPrintable(first.error));
        QCOMPARE(asked, button.isEmpty() ? 0 : 1);
        QCOMPARE(LoginHandler::logins - before, ok ? 1 : 0); // the password is sent only once trusted
        if (!button.isEmpty()) {
            // Shown whole, in two lines of 16 bytes.
            QCOMPARE(shown.section(u'\n', 1).replace(u'\n', u':'), RpcSecurity::formatFingerprint(presented));
        }
        const QByteArray pinned = ok ? presented : storedPin.isEmpty() ? QByteArray() : fingerprintOf(storedPin);
        QCOMPARE(ServerTrust::pin(host, server->port()), pinned);
        if (ok) {
            // From then on the pin decides, without a question, for the session's connections too.
            QCOMPARE(first.security.fingerprint, presented);
            const LoginResult again =
                checkLogin(host, server->port(), u"op"_s, u"secret"_s, testRemoteModule, tls, 15000, ask);
            QVERIFY2(again.ok, qPrintable(again.error));
            QCOMPARE(asked, 1);
        }
        ServerTrust::setStore(nullptr);
    }

    void loginIsCheckedWithTheServer()
    {
        const int port = m_server->port();
        LoginResult ok = checkLogin(u"127.0.0.1"_s, port, u"op"_s, u"secret"_s, testRemoteModule);
        QVERIFY2(ok.ok, qPrintable(ok.error));
        QCOMPARE(ok.unitName, u"Unidade Teste"_s);
        LoginResult wrong = checkLogin(u"127.0.0.1"_s, port, u"op"_s, u"errada"_s, testRemoteModule);
        QVERIFY2(refusalOf(wrong).contains(u"Operador ou senha inválidos."_s), qPrintable(refusalOf(wrong)));
        LoginResult noOperator = checkLogin(u"127.0.0.1"_s, port, u" "_s, u"x"_s, testRemoteModule);
        QVERIFY(!noOperator.ok);
    }

    void loginDialogStaysOpenUntilTheServerAccepts()
    {
        LoginDialog dialog(testRemoteModule);
        dialog.setServer(u"semporta"_s);
        dialog.setOperator(u"op"_s);
        dialog.findChild<QLineEdit *>(u"edtSenha"_s)->setText(u"secret"_s);
        dialog.accept();
        QCOMPARE(dialog.result().ok, false);
        QVERIFY(dialog.findChild<QLabel *>(u"lblMensagem"_s)->text().contains(u"inválido"_s));
        QCOMPARE(dialog.QDialog::result(), int(QDialog::Rejected));

        dialog.setServer(u"127.0.0.1:%1"_s.arg(m_server->port()));
        dialog.findChild<QLineEdit *>(u"edtSenha"_s)->setText(u"errada"_s);
        dialog.accept();
        QVERIFY(dialog.findChild<QLabel *>(u"lblMensagem"_s)->text().contains(u"Operador ou senha inválidos."_s));

        dialog.findChild<QLineEdit *>(u"edtSenha"_s)->setText(u"secret"_s);
        dialog.accept();
        QVERIFY(dialog.result().ok);
        QCOMPARE(dialog.QDialog::result(), int(QDialog::Accepted));
        QCOMPARE(dialog.host(), u"127.0.0.1"_s);
        QCOMPARE(dialog.port(), int(m_server->port()));
        QCOMPARE(dialog.result().operatorName, u"Operador Teste"_s);

        // A long refusal is wrapped whole and leaves every field its height.
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.setMessage(
            QStringList(24, u"O certificado do servidor não confere com o pino configurado."_s).join(u' '));
        auto *message = dialog.findChild<QLabel *>(u"lblMensagem"_s);
        QVERIFY2(message->height() >= message->heightForWidth(message->width()),
                 qPrintable(u"%1 < %2"_s.arg(message->height()).arg(message->heightForWidth(message->width()))));
        for (const QLineEdit *field : dialog.findChildren<QLineEdit *>()) {
            QVERIFY2(field->height() >= field->sizeHint().height(), qPrintable(field->objectName()));
        }
    }

    void modulesOpenTheirScreenInTheWorkspace()
    {
        HostMainWindow window;
        setMainWindow(&window);
        setChildWindowPresenter([&window](QWidget *child) { window.presentChild(child); });
        window.modules().setSearchPath({QStringLiteral(PRU_TEST_MODULE_DIR)});
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        const QString path = window.modules().resolve(u"PRUTEST1"_s);
        QVERIFY2(path.endsWith(u"libPRUTEST1.so"_s), qPrintable(path));
        QVERIFY(window.openScreen(u"PRUTEST1"_s));
        QVERIFY(window.openScreen(path)); // by path: the same module, the same screen
        QCOMPARE(window.modules().loadedModules().size(), 1);
        QCOMPARE(window.workspace()->subWindowList().size(), 1);
        QMdiSubWindow *sub = window.workspace()->subWindowList().first();
        QCOMPARE(sub->windowTitle(), u"Tela de Teste"_s);
        QCOMPARE(sub->widget()->objectName(), u"frmTeste"_s);

        QLibrary lib(path);
        QVERIFY(lib.load());
        auto *opened = reinterpret_cast<int *>(lib.resolve("testModuleOpened"));
        QVERIFY(opened);
        QCOMPARE(*opened, 2);

        // Closing the main window closes the screens first.
        window.close();
        QTRY_COMPARE(window.workspace()->subWindowList().size(), 0);
        QVERIFY(m_errors.isEmpty());
        setMainWindow(nullptr);
        setChildWindowPresenter({});
    }

    void moduleFailuresAreClear()
    {
        HostMainWindow window;
        window.modules().setSearchPath({QStringLiteral(PRU_TEST_MODULE_DIR)});
        QVERIFY(!window.openScreen(u"PRU99999"_s));
        QCOMPARE(m_errors.size(), 1);
        QVERIFY2(m_errors.last().contains(u"Módulo não encontrado"_s), qPrintable(m_errors.last()));
        QVERIFY(!window.openScreen(u"PRUTEST2"_s));
        QVERIFY2(m_errors.last().contains(u"IniProc"_s), qPrintable(m_errors.last()));
        QVERIFY(!window.openScreen(u"/nao/existe/libX.so"_s));
        QCOMPARE(m_errors.size(), 3);
    }

    void failingScreenCreationIsShownOnce()
    {
        HostMainWindow window;
        setMainWindow(&window);
        setChildWindowPresenter([&window](QWidget *child) { window.presentChild(child); });
        window.modules().setSearchPath({QStringLiteral(PRU_TEST_MODULE_DIR)});
        qputenv("PRU_TESTMODULE_FAIL", "1");
        QVERIFY(!window.openScreen(u"PRUTEST1"_s));
        qunsetenv("PRU_TESTMODULE_FAIL");
        QCOMPARE(m_errors, QStringList{u"Falha ao criar a tela de teste."_s});
        QCOMPARE(window.workspace()->subWindowList().size(), 0);
        setMainWindow(nullptr);
        setChildWindowPresenter({});
    }

    // Which file's server the host uses, and whose pin goes with it: the
    // site's address wins unless the user chose another in the dialog while
    // the site said what it still says.
    void settingsPrecedence_data()
    {
        QTest::addColumn<QString>("site"); // the site file's address
        QTest::addColumn<QString>("chosen"); // chosen in the dialog (rememberLogin), then
        QTest::addColumn<QString>("siteNow"); // the site file's address at the next start
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("pinned"); // the site's pin in force
        QTest::newRow("site alone") << u"srv1:8787"_s << QString() << u"srv1:8787"_s << u"srv1:8787"_s << true;
        QTest::newRow("user's choice") << u"srv1:8787"_s << u"outro:9000"_s << u"srv1:8787"_s << u"outro:9000"_s
                                       << false;
        QTest::newRow("site moved after the choice")
            << u"srv1:8787"_s << u"outro:9000"_s << u"srv2:8787"_s << u"srv2:8787"_s << true;
        QTest::newRow("site's own chosen again")
            << u"srv1:8787"_s << u"srv1:8787"_s << u"srv2:8787"_s << u"srv2:8787"_s << true;
        QTest::newRow("no site address") << QString() << u"outro:9000"_s << QString() << u"outro:9000"_s << false;
        QTest::newRow("site address set later")
            << QString() << u"outro:9000"_s << u"srv1:8787"_s << u"srv1:8787"_s << true;
    }
    void settingsPrecedence()
    {
        QFETCH(QString, site);
        QFETCH(QString, chosen);
        QFETCH(QString, siteNow);
        QFETCH(QString, expected);
        QFETCH(bool, pinned);
        QFile::remove(HostSettings::userFile());
        const QString pin = u"4A728072E4CC75B1946D1450068400B013A68AD08087CD34D8B2FCA5D442D3FC"_s;
        const QString lookup = u"engine=postgresql host=db1 database=pru user=pru_lookup"_s;
        auto writeSite = [&](const QString &address) {
            QSettings file(HostSettings::siteFile(), QSettings::IniFormat);
            file.clear();
            if (!address.isEmpty()) {
                file.setValue(u"server/address"_s, address);
            }
            file.setValue(u"server/fingerprint"_s, pin);
            file.setValue(u"lookup/connection"_s, lookup);
        };
        writeSite(site);
        QVERIFY(HostSettings::siteFile().startsWith(m_config.path()));
        if (!chosen.isEmpty()) {
            const qsizetype colon = chosen.lastIndexOf(u':');
            HostSettings::rememberLogin(*HostSettings::open(), chosen.left(colon), chosen.mid(colon + 1).toInt(),
                                        u"MARIA"_s, true);
        }
        writeSite(siteNow);
        HostOptions o;
        QString error;
        QVERIFY2(HostSettings::load(*HostSettings::open(), &o, &error), qPrintable(error));
        QCOMPARE(o.serverHost.isEmpty() ? QString() : u"%1:%2"_s.arg(o.serverHost).arg(o.serverPort), expected);
        QCOMPARE(o.serverSecurity.fingerprint.size() == 32, pinned);
        QCOMPARE(o.lookupDb, lookup);
        QCOMPARE(o.operatorCode, chosen.isEmpty() ? QString() : u"MARIA"_s);
        QVERIFY(!o.hasCredentials()); // remembered, but no password: the dialog asks
    }

    // The command line wins over the files, and a pin stays with its server;
    // a bad value is reported with the file that holds it.
    void settingsFromTheCommandLine()
    {
        QFile::remove(HostSettings::userFile());
        {
            QSettings site(HostSettings::siteFile(), QSettings::IniFormat);
            site.clear();
            site.setValue(u"server/address"_s, u"servidor-da-rede:8787"_s);
            site.setValue(u"server/fingerprint"_s,
                          u"4A728072E4CC75B1946D1450068400B013A68AD08087CD34D8B2FCA5D442D3FC"_s);
        }
        HostOptions o;
        QString error;
        QVERIFY2(HostSettings::load(*HostSettings::open(), &o, &error), qPrintable(error));
        QVERIFY(parseHostOptions({u"pru_host"_s, u"--server"_s, u"outro:1"_s, u"--lookup-db"_s, u"QSQLITE:/x.db"_s,
                                  u"--operator"_s, u"MARIA"_s, u"--password"_s, u"p"_s},
                                 &o, &error));
        QCOMPARE(o.serverHost, u"outro"_s);
        QCOMPARE(o.lookupDb, u"QSQLITE:/x.db"_s);
        QVERIFY(o.hasCredentials());
        QVERIFY(!o.serverSecurity.usesTls()); // the site's pin stays with the site's server
        HostOptions withTls;
        QVERIFY(HostSettings::load(*HostSettings::open(), &withTls, &error));
        QVERIFY(parseHostOptions({u"pru_host"_s, u"--server"_s, u"outro:1"_s, u"--tls"_s}, &withTls, &error));
        QVERIFY(withTls.serverSecurity.tls && withTls.serverSecurity.fingerprint.isEmpty());

        for (const QString &file : {HostSettings::siteFile(), HostSettings::userFile()}) {
            QFile::remove(HostSettings::userFile());
            QSettings bad(file, QSettings::IniFormat);
            bad.setValue(u"server/fingerprint"_s, u"4A:72"_s);
            bad.sync();
            HostOptions none;
            QVERIFY(!HostSettings::load(*HostSettings::open(), &none, &error));
            QVERIFY2(error.contains(u"Impressão digital inválida"_s) && error.contains(file), qPrintable(error));
            bad.clear();
        }
    }

    // The real program: a login on the command line remembers the operator,
    // not the server (that run's alone), and never the password; the site's
    // pin does not follow a server named on the command line.
    void hostRemembersTheLastLogin()
    {
        QTemporaryDir dir;
        QProcess host;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        env.insert(u"XDG_CONFIG_HOME"_s, dir.filePath(u"config"_s));
        env.insert(u"XDG_CONFIG_DIRS"_s, dir.filePath(u"site"_s));
        QDir().mkpath(dir.filePath(u"site/pru"_s));
        {
            QSettings site(dir.filePath(u"site/pru/pru_host.conf"_s), QSettings::IniFormat);
            site.setValue(u"server/address"_s, u"servidor-da-rede:8787"_s);
            site.setValue(u"server/fingerprint"_s,
                          u"4A728072E4CC75B1946D1450068400B013A68AD08087CD34D8B2FCA5D442D3FC"_s);
        }
        const auto run = [&](const QStringList &arguments) {
            host.setProcessEnvironment(env);
            host.start(QStringLiteral(PRU_HOST_EXE), arguments
                                                         + QStringList{u"--login-module"_s, testRemoteModule,
                                                                       u"--screenshot"_s, dir.filePath(u"x.png"_s)});
            return host.waitForFinished(60000) && host.exitCode() == 0;
        };
        const QString server = u"127.0.0.1:%1"_s.arg(m_server->port());
        QVERIFY2(run({u"--server"_s, server, u"--operator"_s, u"op"_s, u"--password"_s, u"secret"_s}),
                 host.readAllStandardError().constData());
        QFile file(dir.filePath(u"config/pru/pru_host.conf"_s));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray stored = file.readAll();
        QVERIFY2(stored.contains("operator=op") && !stored.contains("127.0.0.1"), stored.constData());
        QVERIFY(!stored.contains("secret"));
        // Only the server and the password this time: the operator is remembered.
        QVERIFY2(run({u"--server"_s, server, u"--password"_s, u"secret"_s}), host.readAllStandardError().constData());

        // A certificate not known yet is refused when no one can be asked; a
        // pin given on the command line is remembered for its server, and
        // used from then on.
        const std::unique_ptr<RpcServer> tls = tlsServer();
        QVERIFY(tls);
        const QString tlsAddress = u"127.0.0.1:%1"_s.arg(tls->port());
        const QString pin =
            RpcSecurity::formatFingerprint(fingerprintOf(QStringLiteral(PRU_TEST_DATA_DIR) + u"/pru-server.crt"_s));
        QVERIFY(!run({u"--server"_s, tlsAddress, u"--tls"_s, u"--password"_s, u"secret"_s}));
        const QString refused = QString::fromUtf8(host.readAllStandardError());
        QVERIFY2(refused.contains(pin) && refused.contains(u"--server-fingerprint"_s), qPrintable(refused));
        QVERIFY2(run({u"--server"_s, tlsAddress, u"--server-fingerprint"_s, pin, u"--password"_s, u"secret"_s}),
                 host.readAllStandardError().constData());
        QVERIFY2(run({u"--server"_s, tlsAddress, u"--tls"_s, u"--password"_s, u"secret"_s}),
                 host.readAllStandardError().constData());
    }

    // A lookup with no connection set says where to set it, before any driver
    // is asked; the login dialog already tells the person logging in, and whom to ask.
    void missingLookupConnectionSaysWhereToSetIt()
    {
        QFile::remove(HostSettings::userFile());
        QFile::remove(HostSettings::siteFile());
        QString notice;
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [&notice] {
            if (auto *dialog = qobject_cast<LoginDialog *>(QApplication::activeModalWidget())) {
                if (const auto *label = dialog->findChild<QLabel *>(u"lblAviso"_s)) {
                    notice = label->text();
                }
                dialog->reject();
            }
        });
        answer.start(50);
        QCOMPARE(runHost(*qApp, {u"pru_host"_s}), 0);
        answer.stop();
        setMainWindow(nullptr);
        setChildWindowPresenter({});
        QVERIFY2(notice.contains(u"não está configurado para as consultas"_s) && notice.contains(u"administrador"_s),
                 qPrintable(notice));
        const std::unique_ptr<QSettings> settings = HostSettings::open();
        LookupConnection::close();
        setLookupDatabaseOptions({});
        setLookupDatabaseHint(HostSettings::lookupHint(*settings));
        QString message;
        try {
            LookupConnection::database();
        } catch (const EDatabaseError &e) {
            message = e.message();
        }
        setLookupDatabaseHint({});
        QVERIFY2(message.startsWith(u"Banco de consultas não configurado. Informe a conexão em [lookup] connection"_s),
                 qPrintable(message));
        QVERIFY2(message.contains(settings->fileName()) && message.contains(u"--lookup-db"_s), qPrintable(message));
        QVERIFY(!message.contains(u"driver"_s, Qt::CaseInsensitive));
    }

    void screenshotOptionSavesAPicture()
    {
        QTemporaryDir dir;
        const QString png = dir.filePath(u"host.png"_s);
        QProcess host;
        startHost(host, {u"--server"_s, u"127.0.0.1:%1"_s.arg(m_server->port()), u"--operator"_s, u"op"_s,
                         u"--password"_s, u"secret"_s, u"--login-module"_s, testRemoteModule, u"--module-dir"_s,
                         QStringLiteral(PRU_TEST_MODULE_DIR), u"--open"_s, u"PRUTEST1"_s, u"--screenshot"_s, png});
        QVERIFY(host.waitForFinished(60000));
        const QString out = QString::fromUtf8(host.readAllStandardOutput());
        const QString err = QString::fromUtf8(host.readAllStandardError());
        QVERIFY2(host.exitCode() == 0, qPrintable(out + err));
        QVERIFY2(out.contains(png), qPrintable(out));
        QImage image(png);
        QVERIFY(!image.isNull());
        if (qEnvironmentVariableIsSet("PRU_KEEP_SCREENSHOT")) { // to look at it by eye
            image.save(qEnvironmentVariable("PRU_KEEP_SCREENSHOT"));
        }
        QVERIFY(image.width() >= 400 && image.height() >= 250);
        // Not a blank picture: the workspace and the child window differ in colour.
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); y += 7) {
            for (int x = 0; x < image.width(); x += 7) {
                colours.insert(image.pixel(x, y));
            }
        }
        QVERIFY(colours.size() > 3);
    }

    void screenshotWithAWrongPasswordFails()
    {
        QTemporaryDir dir;
        QProcess host;
        startHost(host,
                  {u"--server"_s, u"127.0.0.1:%1"_s.arg(m_server->port()), u"--operator"_s, u"op"_s, u"--password"_s,
                   u"errada"_s, u"--login-module"_s, testRemoteModule, u"--screenshot"_s, dir.filePath(u"x.png"_s)});
        QVERIFY(host.waitForFinished(60000));
        QCOMPARE(host.exitCode(), 1);
        QVERIFY(QString::fromUtf8(host.readAllStandardError()).contains(u"Operador ou senha inválidos."_s));
        QVERIFY(!QFile::exists(dir.filePath(u"x.png"_s)));
    }

private:
    QTemporaryDir m_config;
    std::unique_ptr<RpcServer> m_server;
    QStringList m_errors;
};

QTEST_MAIN(TestHost)
#include "tst_host.moc"
