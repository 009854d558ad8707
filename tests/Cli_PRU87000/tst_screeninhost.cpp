// The screen in the real host window, used with the mouse and the keyboard:
// toolbar buttons clicked, text typed into the grids, answers given to the
// questions as a person gives them.

#include <QAction>
#include <QPointer>
#include <QtTest>

#include "ModalDialogs.h"
#include "ScreenTestCase.h"
#include "TButtonFlat.h"
#include "TField.h"

using namespace Qt::StringLiterals;

class TestScreenInHost : public ScreenTestCase
{
    Q_OBJECT

private slots:
    void newProcessConfirmedByMouseIsStored();
    void cancelByMouseDropsTheNewRow_data();
    void cancelByMouseDropsTheNewRow();
    void includeByMouseStartsInTheFocusedGrid_data();
    void includeByMouseStartsInTheFocusedGrid();
    void deleteByMouseAsksThenDeletes();
    void cancelDropsAFieldsRefusedText();
    void selectionShowsWhereCommandsAct_data();
    void selectionShowsWhereCommandsAct();
    void closingAsksWhileChangesWait_data();
    void closingAsksWhileChangesWait();
    void ctrlDeleteDeletesNothing_data();
    void ctrlDeleteDeletesNothing();
    void downPaintsEachGridOnce();

private:
    void initScreenTest() override { openInHost(); }
    int storedProcesses(const QString &name) const
    {
        return scalar(u"SELECT COUNT(*) FROM PROCESSOFILIAL WHERE NMPROCESSOFILIAL = ?"_s, {name}).toInt();
    }
};

void TestScreenInHost::newProcessConfirmedByMouseIsStored()
{
    TfrmProcessoUnidade *screen = m_host->screen;
    ScreenInHost::clickCell(screen->dbgPadrao, 0, 0);
    ScreenInHost::click(screen->sbtIncluir);
    QCOMPARE(screen->cdsProcessos->State(), TDataSetState::dsInsert);
    m_host->type(u"Inventario mensal"_s);
    QVERIFY(screen->sbtConfirmar->isEnabled());
    // The press leaves the focus where the user typed: no grid is left or entered.
    QWidget *typing = QApplication::focusWidget();
    int focusMoves = 0;
    const auto watch = connect(qApp, &QApplication::focusChanged, [&focusMoves] { ++focusMoves; });
    QTest::mousePress(screen->sbtConfirmar, Qt::LeftButton, {}, screen->sbtConfirmar->rect().center());
    disconnect(watch);
    QCOMPARE(focusMoves, 0);
    QCOMPARE(QApplication::focusWidget(), typing);
    QVERIFY(screen->sbtConfirmar->isEnabled());
    QTest::mouseRelease(screen->sbtConfirmar, Qt::LeftButton, {}, screen->sbtConfirmar->rect().center());
    QCoreApplication::processEvents();
    QCOMPARE(screen->cdsProcessos->State(), TDataSetState::dsBrowse);
    QCOMPARE(storedProcesses(u"Inventario mensal"_s), 1);
    QCOMPARE(screen->cdsProcessos->FieldByName(u"NMPROCESSOFILIAL"_s)->AsString(), u"Inventario mensal"_s);
    QVERIFY(!screen->isEditing());
    QVERIFY(!screen->sbtConfirmar->isEnabled());
}

void TestScreenInHost::cancelByMouseDropsTheNewRow_data()
{
    QTest::addColumn<QString>("gridName");
    QTest::newRow("process") << u"dbgPadrao"_s;
    QTest::newRow("task") << u"dbgTarefas"_s;
    QTest::newRow("responsible") << u"dbgOperadores"_s;
}

void TestScreenInHost::cancelByMouseDropsTheNewRow()
{
    QFETCH(QString, gridName);
    TfrmProcessoUnidade *screen = m_host->screen;
    auto *grid = screen->findChild<TDBGrid *>(gridName);
    ScreenInHost::clickCell(grid, 0, 0);
    // What each level shows for the row the cursor comes back to.
    const QList<int> before{screen->cdsProcessos->RecordCount(), screen->cdsTarefas->RecordCount(),
                            screen->cdsOperadores->RecordCount(), screen->cdsVdOperadores->RecordCount()};
    ScreenInHost::click(screen->sbtIncluir);
    m_host->type(u"Nunca gravado"_s);
    ModalDialogs::clearShown();
    ScreenInHost::click(screen->sbtCancelar);
    QCOMPARE(grid->dataSet()->State(), TDataSetState::dsBrowse);
    // The cursor is back on a row: the levels below it are loaded again.
    QCOMPARE((QList<int>{screen->cdsProcessos->RecordCount(), screen->cdsTarefas->RecordCount(),
                         screen->cdsOperadores->RecordCount(), screen->cdsVdOperadores->RecordCount()}),
             before);
    QCOMPARE(ModalDialogs::shown().size(), 0);
    QVERIFY(!screen->isEditing());
    QCOMPARE(storedProcesses(u"Nunca gravado"_s), 0);
    if (grid == screen->dbgPadrao) {
        // A new task then takes the order after the process's last one.
        TClientDataSet *tasks = screen->cdsTarefas;
        double last = 0;
        for (int row = 0; row < tasks->rowCount(); ++row) {
            last = qMax(last, tasks->valueAt(row, tasks->FieldByName(u"NRORDENAATIVIDADE"_s)->Index()).toDouble());
        }
        QVERIFY(last > 0);
        ScreenInHost::clickCell(screen->dbgTarefas, 0, 1);
        ScreenInHost::click(screen->sbtIncluir);
        QCOMPARE(tasks->FieldByName(u"NRORDENAATIVIDADE"_s)->AsFloat(), last + 1);
        ScreenInHost::click(screen->sbtCancelar);
    }
}

void TestScreenInHost::includeByMouseStartsInTheFocusedGrid_data()
{
    QTest::addColumn<QString>("gridName");
    QTest::newRow("processes") << u"dbgPadrao"_s;
    QTest::newRow("tasks") << u"dbgTarefas"_s;
    QTest::newRow("operators") << u"dbgOperadores"_s;
}

void TestScreenInHost::includeByMouseStartsInTheFocusedGrid()
{
    QFETCH(QString, gridName);
    TfrmProcessoUnidade *screen = m_host->screen;
    auto *grid = screen->findChild<TDBGrid *>(gridName);
    ScreenInHost::clickCell(grid, 0, 0);
    QCOMPARE(screen->currentGrid(), grid);
    ScreenInHost::click(screen->sbtIncluir);
    QCOMPARE(grid->dataSet()->State(), TDataSetState::dsInsert);
    // The toolbar shows editing, and only the grid being typed in is enabled.
    QVERIFY(screen->sbtConfirmar->isEnabled());
    QVERIFY(screen->sbtCancelar->isEnabled());
    QVERIFY(!screen->sbtIncluir->isEnabled());
    for (TDBGrid *each : {screen->dbgPadrao, screen->dbgTarefas, screen->dbgOperadores}) {
        QCOMPARE(each->isEnabled(), each == grid);
    }
    ScreenInHost::click(screen->sbtCancelar);
    QCOMPARE(grid->dataSet()->State(), TDataSetState::dsBrowse);
}

void TestScreenInHost::deleteByMouseAsksThenDeletes()
{
    TfrmProcessoUnidade *screen = m_host->screen;
    ScreenInHost::clickCell(screen->dbgOperadores, 0, 0);
    const int rows = screen->cdsOperadores->RecordCount();
    QVERIFY(rows > 0);

    ModalDialogs::clearShown();
    ModalDialogs::answerNext(u"Não"_s);
    ScreenInHost::click(screen->sbtExcluir);
    QCOMPARE(ModalDialogs::shown().size(), 1);
    QCOMPARE(screen->cdsOperadores->RecordCount(), rows);

    m_server->clearCalls();
    ModalDialogs::answerNext(u"Sim"_s);
    ScreenInHost::click(screen->sbtExcluir);
    QCOMPARE(m_server->calls().value(0), u"SetOperadores"_s);
    QCOMPARE(screen->cdsOperadores->RecordCount(), rows - 1);
}

void TestScreenInHost::cancelDropsAFieldsRefusedText()
{
    TfrmProcessoUnidade *screen = m_host->screen;
    const int processes = screen->cdsProcessos->RecordCount();
    const int endColumn = 2; // the end of validity
    QCOMPARE(screen->dbgPadrao->Columns()->Items(endColumn)->FieldName(), u"DTFINVIGENCIA"_s);
    ScreenInHost::clickCell(screen->dbgPadrao, 0, 0);
    ScreenInHost::click(screen->sbtIncluir);
    m_host->type(u"Com data errada"_s);
    m_host->key(Qt::Key_Tab);
    m_host->key(Qt::Key_Tab);
    QCOMPARE(screen->dbgPadrao->SelectedField()->FieldName(), u"DTFINVIGENCIA"_s);
    m_host->type(u"99999999"_s);
    QVERIFY(screen->dbgPadrao->EditorMode());

    ModalDialogs::clearShown();
    ScreenInHost::click(screen->sbtCancelar);
    QCOMPARE(ModalDialogs::shown().size(), 0);
    QVERIFY(!screen->dbgPadrao->EditorMode());
    QCOMPARE(screen->cdsProcessos->State(), TDataSetState::dsBrowse);
    QCOMPARE(screen->cdsProcessos->RecordCount(), processes);
    QVERIFY(!screen->isEditing());
}

void TestScreenInHost::selectionShowsWhereCommandsAct_data()
{
    QTest::addColumn<QString>("gridName");
    QTest::addColumn<QStringList>("selected"); // the grids whose current cell shows the selection colour
    QTest::newRow("processes") << u"dbgPadrao"_s << QStringList{u"dbgPadrao"_s, u"dbgTarefas"_s};
    QTest::newRow("tasks") << u"dbgTarefas"_s << QStringList{u"dbgTarefas"_s};
    QTest::newRow("operators") << u"dbgOperadores"_s << QStringList{u"dbgTarefas"_s, u"dbgOperadores"_s};
}

void TestScreenInHost::selectionShowsWhereCommandsAct()
{
    QFETCH(QString, gridName);
    QFETCH(QStringList, selected);
    TfrmProcessoUnidade *screen = m_host->screen;
    ScreenInHost::clickCell(screen->findChild<TDBGrid *>(gridName), 0, 1);
    QStringList shown;
    for (TDBGrid *grid : {screen->dbgPadrao, screen->dbgTarefas, screen->dbgOperadores}) {
        const QRect cell = grid->cellRect(grid->currentIndex().row(), grid->currentIndex().column());
        const QImage shot = grid->viewport()->grab(cell).toImage();
        const QPalette &palette = grid->palette();
        // Selected: most of the cell near the selection colour (the style shades
        // a focused selection a little; text and focus frame aside).
        const QColor highlight = palette.color(QPalette::Active, QPalette::Highlight);
        int highlighted = 0;
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                const QColor pixel = shot.pixelColor(x, y);
                highlighted += qAbs(pixel.red() - highlight.red()) + qAbs(pixel.green() - highlight.green())
                                   + qAbs(pixel.blue() - highlight.blue())
                               < 24;
            }
        }
        if (highlighted * 2 > shot.width() * shot.height()) {
            shown << grid->objectName();
        }
    }
    QCOMPARE(shown, selected);
}

void TestScreenInHost::closingAsksWhileChangesWait_data()
{
    QTest::addColumn<QString>("route");
    QTest::addColumn<QString>("answer"); // empty: nothing pending, no question
    QTest::newRow("toolbar, nothing pending") << u"Fechar"_s << QString();
    QTest::newRow("toolbar, kept") << u"Fechar"_s << u"Não"_s;
    QTest::newRow("window frame, dropped") << u"frame"_s << u"Sim"_s;
    QTest::newRow("window frame, kept") << u"frame"_s << u"Não"_s;
    QTest::newRow("host quits, kept") << u"Sair"_s << u"Não"_s;
    QTest::newRow("host quits, dropped") << u"Sair"_s << u"Sim"_s;
}

void TestScreenInHost::closingAsksWhileChangesWait()
{
    QFETCH(QString, route);
    QFETCH(QString, answer);
    QPointer<TfrmProcessoUnidade> screen = m_host->screen;
    const QString original = screen->cdsProcessos->FieldByName(u"NMPROCESSOFILIAL"_s)->AsString();
    const int stored = storedProcesses(original);
    if (!answer.isEmpty()) {
        // A posted change that no Confirm has sent.
        ScreenInHost::clickCell(screen->dbgPadrao, 0, 0);
        m_host->type(u"Renomeado"_s);
        m_host->key(Qt::Key_Down);
        QCOMPARE(screen->cdsProcessos->ChangeCount(), 1);
        ModalDialogs::answerNext(answer);
    }
    ModalDialogs::clearShown();
    if (route == u"Fechar"_s) {
        ScreenInHost::click(screen->sbtFechar);
    } else if (route == u"frame"_s) {
        m_host->subWindow()->close();
    } else {
        m_host->window()->findChild<QAction *>(u"actSair"_s)->trigger();
    }
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(ModalDialogs::shown().size(), answer.isEmpty() ? 0 : 1);
    if (!answer.isEmpty()) {
        QCOMPARE(ModalDialogs::shown().at(0).text, u"Deseja cancelar as alterações pendentes?"_s);
    }
    const bool kept = answer == u"Não"_s;
    QCOMPARE(!screen.isNull(), kept);
    QCOMPARE(m_host->window()->isVisible(), kept || route != u"Sair"_s);
    if (kept) {
        QCOMPARE(screen->cdsProcessos->ChangeCount(), 1);
        QVERIFY(screen->isEditing());
    }
    QCOMPARE(storedProcesses(original), stored);
}

void TestScreenInHost::ctrlDeleteDeletesNothing_data()
{
    QTest::addColumn<QString>("gridName");
    QTest::addColumn<int>("modifiers");
    for (const char *grid : {"dbgPadrao", "dbgTarefas", "dbgOperadores"}) {
        QTest::addRow("%s ctrl", grid) << QString::fromLatin1(grid) << int(Qt::ControlModifier);
        QTest::addRow("%s ctrl+shift", grid)
            << QString::fromLatin1(grid) << int(Qt::ControlModifier | Qt::ShiftModifier);
    }
}

void TestScreenInHost::ctrlDeleteDeletesNothing()
{
    QFETCH(QString, gridName);
    QFETCH(int, modifiers);
    TfrmProcessoUnidade *screen = m_host->screen;
    auto *grid = screen->findChild<TDBGrid *>(gridName);
    ScreenInHost::clickCell(grid, 0, 0);
    const int rows = grid->dataSet()->RecordCount();
    QVERIFY(rows > 0);
    m_server->clearCalls();
    ModalDialogs::clearShown();
    m_host->key(Qt::Key_Delete, Qt::KeyboardModifiers(modifiers));
    QCOMPARE(grid->dataSet()->RecordCount(), rows);
    QCOMPARE(grid->dataSet()->ChangeCount(), 0);
    QCOMPARE(ModalDialogs::shown().size(), 0);
    QCOMPARE(m_server->calls(), QStringList());
}

// Down in the processes grid: the processes grid, and the tasks and
// responsibles of the new process, are painted once each, their plain cells
// from the kept texts; the host's style gives every child window the icons it
// made once.
void TestScreenInHost::downPaintsEachGridOnce()
{
    TfrmProcessoUnidade *screen = m_host->screen;
    ScreenInHost::clickCell(screen->dbgPadrao, 0, 0);
    QCoreApplication::processEvents();
    const QList<TDBGrid *> grids{screen->dbgPadrao, screen->dbgTarefas, screen->dbgOperadores};
    struct PaintCount : QObject
    {
        QHash<QObject *, int> paints;
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            if (event->type() == QEvent::Paint) {
                ++paints[watched];
            }
            return false;
        }
    } count;
    for (TDBGrid *grid : grids) {
        grid->viewport()->installEventFilter(&count);
        grid->cellTexts().clear();
    }
    const int before = screen->cdsProcessos->RecNo();
    m_host->key(Qt::Key_Down);
    QCoreApplication::processEvents();
    QCOMPARE(screen->cdsProcessos->RecNo(), before + 1);
    for (TDBGrid *grid : grids) {
        QVERIFY2(count.paints.value(grid->viewport()) == 1,
                 qPrintable(u"%1: %2"_s.arg(grid->objectName()).arg(count.paints.value(grid->viewport()))));
        QVERIFY2(grid->cellTexts().size() > 0, qPrintable(grid->objectName()));
    }
    QStyle *style = m_host->subWindow()->style();
    QCOMPARE(style->standardIcon(QStyle::SP_TitleBarMenuButton).cacheKey(),
             style->standardIcon(QStyle::SP_TitleBarMenuButton).cacheKey());
}

QTEST_MAIN(TestScreenInHost)
#include "tst_screeninhost.moc"
