// The module as the host sees it: the exported names, one screen however
// often it is opened, a new one after the old one is gone, and a failed
// opening that leaves nothing behind.

#include <QLibrary>
#include <QPointer>
#include <QtTest>

#include "ModalDialogs.h"
#include "PRU87000.h"
#include "ScreenTestCase.h"
#include "TfrmProcessoUnidade.h"

using namespace Qt::StringLiterals;

class TestPackage : public ScreenTestCase
{
    Q_OBJECT

private slots:
    void exportsResolveByPlainName();
    void nothingExistsBeforeTheFirstOpening();
    void iniProcTwiceCreatesOneScreen();
    void closedScreenIsCreatedAgain();
    void failedOpeningLeavesNothing();

private:
    // The screen the module opened goes as the module's own.
    void cleanupScreenTest() override { delete frmProcessoUnidade; }
};

void TestPackage::exportsResolveByPlainName()
{
    QLibrary module(QStringLiteral(PRU_MODULE_FILE));
    module.setLoadHints(QLibrary::ResolveAllSymbolsHint);
    QVERIFY2(module.load(), qPrintable(module.errorString()));
    QCOMPARE(reinterpret_cast<void *>(module.resolve("IniProc")), reinterpret_cast<void *>(&IniProc));
    QCOMPARE(reinterpret_cast<void *>(module.resolve("CriaProcessoUnidade")),
             reinterpret_cast<void *>(&CriaProcessoUnidade));
    QCOMPARE(reinterpret_cast<void *>(module.resolve("boIdCriado")), reinterpret_cast<void *>(&boIdCriado));
    QCOMPARE(reinterpret_cast<void *>(module.resolve("frmProcessoUnidade")),
             reinterpret_cast<void *>(&frmProcessoUnidade));
    QCOMPARE(reinterpret_cast<void *>(module.resolve("CriaObs")), reinterpret_cast<void *>(&CriaObs));
    QCOMPARE(reinterpret_cast<void *>(module.resolve("frmObs")), reinterpret_cast<void *>(&frmObs));
    QCOMPARE(reinterpret_cast<void *>(module.resolve("txt")), reinterpret_cast<void *>(&txt));
    // Only the module's own names leave it.
    QVERIFY(!module.resolve("_ZN19TfrmProcessoUnidade10FormCreateEP7QObject"));
}

void TestPackage::nothingExistsBeforeTheFirstOpening()
{
    QVERIFY(!boIdCriado);
    QVERIFY(!frmProcessoUnidade);
}

namespace {
// Notes the cursor each time the screen being built gets a component.
class CursorWhileBuilding : public QObject
{
public:
    QList<Qt::CursorShape> shapes;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ChildAdded && watched->objectName() == "frmProcessoUnidade"_L1) {
            const QCursor *cursor = QGuiApplication::overrideCursor();
            shapes << (cursor ? cursor->shape() : Qt::ArrowCursor);
        }
        return false;
    }
};
} // namespace

void TestPackage::iniProcTwiceCreatesOneScreen()
{
    CursorWhileBuilding building;
    qApp->installEventFilter(&building);
    IniProc();
    qApp->removeEventFilter(&building);
    // The hourglass from the first component on, before any call to the server.
    QVERIFY(!building.shapes.isEmpty());
    QCOMPARE(building.shapes.count(Qt::WaitCursor), building.shapes.size());
    QVERIFY(boIdCriado);
    QPointer<TfrmProcessoUnidade> first = frmProcessoUnidade;
    QVERIFY(first);
    QVERIFY(first->isVisible());
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(m_server->count(u"GetProcessos"_s), 1);

    IniProc();
    QCOMPARE(frmProcessoUnidade, first.data());
    QVERIFY(boIdCriado);
    QVERIFY(!QGuiApplication::overrideCursor());
    // Showing again reloads nothing.
    QCOMPARE(m_server->count(u"GetProcessos"_s), 1);
    QCOMPARE(QApplication::topLevelWidgets().count(first.data()), 1);
}

void TestPackage::closedScreenIsCreatedAgain()
{
    CriaProcessoUnidade();
    QPointer<TfrmProcessoUnidade> first = frmProcessoUnidade;
    QVERIFY(first);
    first->close();
    QTRY_VERIFY(first.isNull());
    QVERIFY(!frmProcessoUnidade);
    QVERIFY(!boIdCriado);

    CriaProcessoUnidade();
    QVERIFY(frmProcessoUnidade);
    QVERIFY(boIdCriado);
    QVERIFY(frmProcessoUnidade->cdsProcessos->RecordCount() > 0);
    QCOMPARE(m_server->count(u"GetProcessos"_s), 2);
}

void TestPackage::failedOpeningLeavesNothing()
{
    m_server->stop();
    const int widgets = int(QApplication::topLevelWidgets().size());
    ModalDialogs::answerNext(u"OK"_s);
    IniProc();
    // The error was shown, with the cursor back to normal, and nothing stays.
    const QList<DialogRecord> shown = ModalDialogs::shown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().kind, DialogKind::Error);
    QVERIFY(!shown.first().text.isEmpty());
    QVERIFY(!QGuiApplication::overrideCursor());
    QVERIFY(!boIdCriado);
    QVERIFY(!frmProcessoUnidade);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(int(QApplication::topLevelWidgets().size()), widgets);

    // With the server back the next opening builds the screen.
    m_server->start();
    m_server->login(u"SUPERVISOR"_s);
    IniProc();
    QVERIFY(boIdCriado);
    QVERIFY(frmProcessoUnidade);
}

QTEST_MAIN(TestPackage)
#include "tst_package.moc"
