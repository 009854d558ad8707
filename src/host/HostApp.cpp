#include "HostApp.h"
#include "DeviceToken.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSettings>
#include <QTimer>

#include <cstdio>

#include "FrameworkServices.h"
#include "Guard.h"
#include "HostMainWindow.h"
#include "HostOptions.h"
#include "HostSettings.h"
#include "LoginDialog.h"
#include "ServerTrust.h"
#include "TrustDialog.h"

using namespace Qt::StringLiterals;

namespace {
void printLine(FILE *stream, const QString &text)
{
    std::fputs(qUtf8Printable(text + u'\n'), stream);
    std::fflush(stream);
}

// Lets every queued event, layout and paint run: the picture shows the
// screen as a person would see it once it settled.
void settle(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}
} // namespace

int runHost(QApplication &app, const QStringList &arguments)
{
    Q_UNUSED(app)
    QApplication::setApplicationDisplayName(u"Sistema da Unidade"_s);
    HostOptions options;
    QString error;
    const std::unique_ptr<QSettings> settings = HostSettings::open();
    const bool settingsRead = HostSettings::load(*settings, &options, &error);
    const HostOptions fromFiles = options;
    if (!parseHostOptions(arguments, &options, &error)) {
        const bool help = arguments.contains(u"--help"_s) || arguments.contains(u"-h"_s);
        printLine(help ? stdout : stderr, error);
        return help ? 0 : 2;
    }
    for (const QString &warning : std::as_const(options.warnings)) {
        printLine(stderr, warning);
    }
    const bool batch = !options.screenshot.isEmpty();
    if (!settingsRead) {
        // A pin or address that cannot be read is not quietly dropped: the
        // person fixes the file first.
        printLine(stderr, error);
        if (!batch) {
            showError(error);
        }
        return 2;
    }
    if (batch) {
        // No one to answer a box: errors go to the terminal.
        setErrorDisplay([](const QString &text, QWidget *) { printLine(stderr, u"Erro: "_s + text); });
    }
    setLookupDatabaseOptions(options.lookupDb);
    setLookupDatabaseHint(HostSettings::lookupHint(*settings));

    HostMainWindow window;
    setMainWindow(&window);
    setChildWindowPresenter([&window](QWidget *child) { window.presentChild(child); });
    window.modules().setSearchPath(options.modulePath);

    // The user's file keeps tokens and pins while this run lasts, whichever way it ends.
    struct Stores
    {
        explicit Stores(QSettings *settings)
        {
            DeviceToken::setStore(settings);
            ServerTrust::setStore(settings);
        }
        ~Stores()
        {
            DeviceToken::setStore(nullptr);
            ServerTrust::setStore(nullptr);
        }
        Q_DISABLE_COPY_MOVE(Stores)
    } stores(settings.get());
    LoginResult login;
    bool chosenInDialog = false;
    QString host = options.serverHost;
    int port = options.serverPort;
    QString operatorCode = options.operatorCode;
    QString password = options.password;
    if (options.hasCredentials()) {
        // No one to ask in batch mode: a certificate not known yet is refused.
        login = checkLogin(
            host, port, operatorCode, password, options.loginModule, options.serverSecurity, 15000,
            batch ? ServerTrust::Question()
                  : [](const ServerTrust::UnknownCertificate &certificate) { return TrustDialog::ask(certificate); });
    } else if (batch) {
        printLine(stderr,
                  u"--screenshot precisa de --server, --operator e a senha (--password-file ou PRU_PASSWORD)."_s);
        return 2;
    }
    if (!login.ok) {
        if (batch) {
            printLine(stderr, login.error);
            return 1;
        }
        LoginDialog dialog(options.loginModule);
        const QString shown = host.isEmpty() ? QString() : u"%1:%2"_s.arg(host).arg(port);
        dialog.setSecurity(options.serverSecurity, shown);
        dialog.setServer(shown);
        if (options.lookupDb.isEmpty()) {
            dialog.setNotice(HostSettings::noLookupNotice());
        }
        dialog.setOperator(operatorCode);
        dialog.setMessage(login.error);
        if (dialog.exec() != QDialog::Accepted) {
            return 0;
        }
        login = dialog.result();
        chosenInDialog = u"%1:%2"_s.arg(dialog.host()).arg(dialog.port()) != shown;
        host = dialog.host();
        port = dialog.port();
        operatorCode = dialog.operatorCode();
        password = dialog.password();
    }
    HostSettings::rememberLogin(*settings, host, port, operatorCode, chosenInDialog);
    // A pin the files do not hold for this server (--server-fingerprint) is
    // remembered once it let the login in.
    const bool filesServer = host == fromFiles.serverHost && port == fromFiles.serverPort;
    if (login.security.fingerprint != (filesServer ? fromFiles.serverSecurity.fingerprint : QByteArray())) {
        ServerTrust::remember(host, port, login.security.fingerprint);
    }
    setSession({operatorCode, password, host, port, login.security, login.token});
    window.setSessionText(u"Operador: %1 (%2)   Unidade: %3   Servidor: %4:%5"_s
                              .arg(operatorCode, login.operatorName, login.unitName, host)
                              .arg(port));
    window.show();

    int openFailures = 0;
    for (const QString &screen : std::as_const(options.open)) {
        if (!window.openScreen(screen)) {
            ++openFailures;
        }
    }

    if (batch) {
        settle(600);
        QString path = options.screenshot;
        const QImage image = window.grab().toImage();
        const bool saved = image.save(path, "PNG");
        if (!saved) {
            printLine(stderr, u"Não foi possível salvar a imagem em %1"_s.arg(path));
        } else {
            printLine(stdout,
                      u"Imagem da janela principal salva em %1 (%2x%3)"_s.arg(QFileInfo(path).absoluteFilePath())
                          .arg(image.width())
                          .arg(image.height()));
        }
        window.close(); // screens run their own clean-up
        settle(50);
        return saved && openFailures == 0 ? 0 : 1;
    }
    return QApplication::exec();
}
