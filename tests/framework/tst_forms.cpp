#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPainter>
#include <QTest>

#include <stdexcept>

#include "FrameworkServices.h"
#include "FrameworkTestData.h"
#include "TButtonFlat.h"
#include "TDBGrid.h"
#include "TDBNavigator.h"
#include "TMessages.h"
#include "TfrmPadraoGrid.h"

namespace {
QStringList g_log;

// A screen as a module builds one: its own record set in the base grid, its
// own handlers in place of the base ones.
class Screen : public TfrmPadraoGrid
{
public:
    explicit Screen(bool failInCreate = false)
        : m_failInCreate(failInCreate)
    {
        cdsPessoas = new TClientDataSet(this);
        cdsPessoas->setObjectName(u"cdsPessoas"_s);
        definePeople(*cdsPessoas);
    }
    ~Screen() override { g_log << u"~Screen"_s; }

    void FormCreate(QObject *sender) override
    {
        TfrmPadraoGrid::FormCreate(sender);
        g_log << u"FormCreate"_s;
        if (m_failInCreate) {
            throw std::runtime_error("sem servidor");
        }
        cdsPessoas->SetData(people(3));
        dtsPadrao->setDataSet(cdsPessoas);
        setNavigatorField(u"NOME"_s);
    }
    void FormDestroy(QObject *sender) override
    {
        g_log << u"FormDestroy %1"_s.arg(cdsPessoas->objectName());
        TfrmPadraoGrid::FormDestroy(sender);
    }
    void sbtIncluirClick(QObject *sender) override { g_log << u"Incluir %1"_s.arg(sender->objectName()); }
    void sbtConfirmarClick(QObject *) override
    {
        g_log << u"Confirmar %1"_s.arg(cdsPessoas->FieldByName(u"NOME"_s)->AsString());
    }
    void dbgPadraoEnter(QObject *) override { g_log << u"Enter"_s; }
    void LocalCacheChanged(const QStringList &tables) override { g_log << u"cache %1"_s.arg(tables.join(u',')); }

    TClientDataSet *cdsPessoas = nullptr;

private:
    bool m_failInCreate;
};
} // namespace

// The base screen: components by name, menu order, two-phase lifecycle,
// handlers by name, commands that keep the focus and the typed text.
class TestForms : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        resetDialogs();
        g_log.clear();
    }

    void componentsByName()
    {
        TfrmPadraoGrid form;
        const QStringList names = {u"sbtIncluir"_s,   u"sbtAlterar"_s,  u"sbtExcluir"_s,   u"sbtProcurar"_s,
                                   u"sbtVerificar"_s, u"sbtCancelar"_s, u"sbtConfirmar"_s, u"sbtImprimir"_s,
                                   u"sbtAjuda"_s,     u"sbtFechar"_s};
        for (const QString &name : names) {
            auto *b = form.findChild<TButtonFlat *>(name);
            QVERIFY2(b, qPrintable(name));
            QCOMPARE(b->focusPolicy(), Qt::NoFocus);
        }
        for (const char *name : {"dbgPadrao", "dtsPadrao", "navPadrao", "lblCodTela", "msgPadrao", "mnuManutencao",
                                 "mnuIncluir", "mnuConfirmar", "mnuImprimir", "mnuVisualizar"}) {
            QVERIFY2(form.findChild<QObject *>(QString::fromLatin1(name)), name);
        }
        QVERIFY(form.BaseMessages()->contains(u"Canc"_s));
        QVERIFY(!form.BaseMessages()->Msg(u"Canc"_s).startsWith(u"Mensagem não cadastrada"_s));
    }

    void twoStateGlyphGivesTheDisabledPicture()
    {
        QPixmap glyph(32, 16);
        glyph.fill(Qt::green);
        {
            QPainter p(&glyph);
            p.fillRect(16, 0, 16, 16, Qt::gray);
            p.fillRect(0, 0, 2, 2, QColor(128, 128, 0)); // olive: transparent
        }
        TButtonFlat button;
        button.setTransparentColor(QColor(128, 128, 0));
        button.setGlyph(glyph, 2);
        QCOMPARE(button.iconSize(), QSize(16, 16));
        const QImage normal = button.icon().pixmap(16, 16, QIcon::Normal).toImage();
        const QImage disabled = button.icon().pixmap(16, 16, QIcon::Disabled).toImage();
        QCOMPARE(normal.pixelColor(8, 8), QColor(Qt::green));
        QCOMPARE(disabled.pixelColor(8, 8), QColor(Qt::gray));
        QCOMPARE(normal.pixelColor(0, 0).alpha(), 0);
    }

    void maintenanceMenuTakesASixthItem()
    {
        TfrmPadraoGrid form;
        const QList<QAction *> items = form.mnuManutencao->actions();
        QCOMPARE(items.at(0), form.mnuIncluir);
        QCOMPARE(items.at(4), form.mnuVerificar);
        auto *mnuRedefinir = new QAction(u"&Redefinir Atividades"_s, &form);
        form.mnuManutencao->insertAction(items.at(5), mnuRedefinir);
        QCOMPARE(form.mnuManutencao->actions().indexOf(mnuRedefinir), 5);
        QVERIFY(!form.mnuImprimir->isEnabled());
        QVERIFY(!form.mnuVisualizar->isEnabled());
        QVERIFY(!form.sbtImprimir->isEnabled());
    }

    void lifecycleRunsTheScreensHandlers()
    {
        auto *screen = TfrmPadraoGrid::create<Screen>();
        QCOMPARE(g_log, QStringList{u"FormCreate"_s});
        QVERIFY(screen->isCreated());
        screen->show();
        QVERIFY(QTest::qWaitForWindowExposed(screen));
        QCOMPARE(screen->navPadrao->shownText(), u"Ana"_s);
        screen->cdsPessoas->Last();
        QCOMPARE(screen->navPadrao->shownText(), u"Carla"_s);
        QPointer<Screen> alive(screen);
        screen->close(); // deletes itself on close
        QTRY_VERIFY(!alive);
        // FormDestroy ran while the screen's own parts still existed, once.
        g_log.removeAll(u"Enter"_s);
        QCOMPARE(g_log, (QStringList{u"FormCreate"_s, u"FormDestroy cdsPessoas"_s, u"~Screen"_s}));
    }

    void failedCreateLeavesNoScreen()
    {
        try {
            TfrmPadraoGrid::create<Screen>(true);
            QFAIL("no exception");
        } catch (const std::runtime_error &) { }
        QCOMPARE(g_log, (QStringList{u"FormCreate"_s, u"~Screen"_s}));
    }

    void commandsKeepTheFocusAndTheTypedText()
    {
        auto *screen = TfrmPadraoGrid::create<Screen>();
        screen->show();
        screen->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(screen));
        screen->dbgPadrao->setFocus();
        QTRY_VERIFY(screen->dbgPadrao->hasFocus());
        QCOMPARE(g_log.count(u"Enter"_s), 1);
        screen->dbgPadrao->setSelectedIndex(1);
        for (const char c : QByteArray("Zilda")) {
            QTest::keyClick(screen->windowHandle(), c);
        }
        QVERIFY(screen->dbgPadrao->EditorMode());
        QTest::mouseClick(screen->sbtConfirmar, Qt::LeftButton);
        // The text still in the cell reached the field before the command ran.
        QCOMPARE(g_log.last(), u"Confirmar Zilda"_s);
        QVERIFY(screen->dbgPadrao->hasFocus());
        QTest::mouseClick(screen->sbtIncluir, Qt::LeftButton);
        QCOMPARE(g_log.last(), u"Incluir sbtIncluir"_s);
        screen->mnuIncluir->trigger();
        QCOMPARE(g_log.last(), u"Incluir mnuIncluir"_s);
        QCOMPARE(g_log.count(u"Enter"_s), 1);
        delete screen; // deleted without a close: its destructor is the last word
    }

    void everyOpenScreenHearsOfChangedTables()
    {
        auto *a = TfrmPadraoGrid::create<Screen>();
        auto *b = TfrmPadraoGrid::create<Screen>();
        g_log.clear();
        AtualizaLocalCache({u"ATIVIDADEFILIAL"_s});
        QCOMPARE(g_log, (QStringList{u"cache ATIVIDADEFILIAL"_s, u"cache ATIVIDADEFILIAL"_s}));
        delete a;
        delete b;
    }

    void closeButtonClosesTheChildWindow()
    {
        QMdiArea area;
        area.resize(900, 600);
        area.show();
        auto *screen = TfrmPadraoGrid::create<Screen>();
        QMdiSubWindow *sub = area.addSubWindow(screen);
        sub->setAttribute(Qt::WA_DeleteOnClose);
        sub->show();
        QVERIFY(QTest::qWaitForWindowExposed(&area));
        QPointer<QMdiSubWindow> subAlive(sub);
        QTest::mouseClick(screen->sbtFechar, Qt::LeftButton);
        QTRY_VERIFY(!subAlive);
        QVERIFY(g_log.contains(u"FormDestroy cdsPessoas"_s));
        QCOMPARE(area.subWindowList().size(), 0);
    }
};

QTEST_MAIN(TestForms)
#include "tst_forms.moc"
