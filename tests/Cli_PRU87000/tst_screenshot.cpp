// The host's picture of its main window with this screen open (its
// --screenshot option), read back for the geometry the screen keeps.

#include <QHeaderView>
#include <QProcess>
#include <QtTest>

#include "ScreenPicture.h"
#include "ScreenTestServer.h"
#include "TfrmProcessoUnidade.h"

using namespace Qt::StringLiterals;

class TestScreenshot : public QObject
{
    Q_OBJECT

private slots:
    void hostPictureKeepsTheLayout();
};

void TestScreenshot::hostPictureKeepsTheLayout()
{
    ScreenTestServer server;
    QTemporaryDir dir;
    const QString png = dir.filePath(u"PRU87000.png"_s);
    QProcess host;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    // Settings of the test's own: neither the tester's files nor /etc/xdg.
    environment.insert(u"XDG_CONFIG_HOME"_s, dir.filePath(u"config"_s));
    environment.insert(u"XDG_CONFIG_DIRS"_s, dir.filePath(u"site"_s));
    host.setProcessEnvironment(environment);
    host.start(QStringLiteral(PRU_HOST_FILE),
               {u"--server"_s, u"127.0.0.1:%1"_s.arg(server.port()), u"--operator"_s, u"SUPERVISOR"_s, u"--password"_s,
                u"senha"_s, u"--database"_s, server.databaseFile(), u"--open"_s, u"PRU87000"_s, u"--screenshot"_s,
                png});
    QVERIFY(host.waitForStarted(10000));
    // The server answers from its own threads while this loop spins.
    QTRY_VERIFY_WITH_TIMEOUT(host.state() == QProcess::NotRunning, 120000);
    const QString output = QString::fromLocal8Bit(host.readAllStandardOutput() + host.readAllStandardError());
    QVERIFY2(host.exitStatus() == QProcess::NormalExit && host.exitCode() == 0, qPrintable(output));
    QVERIFY(server.count(u"GetProcessos"_s) == 1);

    const QImage picture(png);
    QVERIFY2(!picture.isNull(), qPrintable(output));

    // The same widgets in this process tell the style's frames and title heights.
    TfrmProcessoUnidade look;
    look.show();
    QVERIFY(QTest::qWaitForWindowExposed(&look));
    const int inset = 1 + 2 + look.dbgOperadores->frameWidth();
    const ScreenPictureGeometry g =
        measureScreenPicture(picture, look.dbgOperadores->palette().color(QPalette::ToolTipBase),
                             look.palette().color(QPalette::Window), inset,
                             {look.dbgPadrao->palette().color(QPalette::Base), look.dbgPadrao->frameWidth(),
                              look.dbgPadrao->horizontalHeader()->height()});
    QVERIFY2(g.problem.isEmpty(), qPrintable(g.problem));
    QCOMPARE(g.screenRight - g.screenLeft + 1, 846);
    QCOMPARE(g.screenRight - g.operatorsLeft + 1, 408);
    QCOMPARE(g.processHeight, 192);
    QVERIFY(g.lineAboveStrip);
    QVERIFY(g.stripBlankRows > 0);
    QVERIFY2(g.tasksInkLeft >= 8 && g.tasksInkLeft <= 10, qPrintable(QString::number(g.tasksInkLeft)));
    QVERIFY2(g.operatorsInkLeft >= 400 && g.operatorsInkLeft <= 402, qPrintable(QString::number(g.operatorsInkLeft)));
    // The lower panels reach down to the screen's navigator bar.
    QCOMPARE(g.lowerBottom - g.lowerTop + 1, look.panTarefas->height());
}

QTEST_MAIN(TestScreenshot)
#include "tst_screenshot.moc"
