// Browsing and editing, driven through the real grids and toolbar buttons:
// which commands and grids are available, and what each command does on the
// grid that holds the focus.

#include <QAction>
#include <QLineEdit>
#include <QtTest>

#include "ModalDialogs.h"
#include "ScreenTestCase.h"
#include "TButtonFlat.h"
#include "TDBNavigator.h"
#include "TMessages.h"
#include "TfrmProcessoUnidade.h"

using namespace Qt::StringLiterals;

class TestEditMode : public ScreenTestCase
{
    Q_OBJECT

private slots:
    void enteringAGridReturnsToBrowsing_data();
    void enteringAGridReturnsToBrowsing();
    void outsideTheGridsNothingIsSwitched();
    void emptyRecordSetAllowsOnlyIncludeAndVerify_data();
    void emptyRecordSetAllowsOnlyIncludeAndVerify();
    void redefineOnlyOnProcessGridForSituationN();
    void whileOneGridEditsTheOthersAreDisabled();
    void orderingButtonsFollowTheTaskGrid();
    void deleteAsksByGrid_data();
    void deleteAsksByGrid();
    void deletingAnOperatorSavesAtOnceAndKeepsTheTask();
    void cancelUndoesTheTypedRowThenAsks_data();
    void cancelUndoesTheTypedRowThenAsks();
    void confirmWithNothingPendingReloadsOnly();
    void confirmingOperatorsKeepsTheTask();
    void confirmingANewProcessStandsOnIt();

private:
    bool enter(TDBGrid *grid);
    void setSituation(int recNo, const QString &situation);
};

// Moves the focus into a grid as a click or Tab would; false when it did not get there.
bool TestEditMode::enter(TDBGrid *target)
{
    // The user comes from some other control of the screen (a small edit
    // box the test adds), as a click or Tab would bring him.
    auto *elsewhere = screen()->findChild<QLineEdit *>(u"testElsewhere"_s);
    if (!elsewhere) {
        elsewhere = new QLineEdit(screen());
        elsewhere->setObjectName(u"testElsewhere"_s);
        elsewhere->setGeometry(0, 0, 4, 4);
        elsewhere->show();
    }
    elsewhere->setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents();
    target->setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents();
    return screen()->currentGrid() == target && target->hasFocus();
}

void TestEditMode::setSituation(int recNo, const QString &situation)
{
    const double process = screen()->cdsProcessos->valueAt(recNo - 1, 0).toDouble();
    sql(u"UPDATE PROCESSOFILIAL SET IDSITUACAO = ? WHERE NRPROCESSOFILIAL = ?"_s, {situation, qint64(process)});
}

void TestEditMode::enteringAGridReturnsToBrowsing_data()
{
    QTest::addColumn<QString>("gridName");
    QTest::addColumn<QStringList>("othersName");
    QTest::newRow("processes") << u"dbgPadrao"_s << QStringList({u"dbgTarefas"_s, u"dbgOperadores"_s});
    QTest::newRow("tasks") << u"dbgTarefas"_s << QStringList({u"dbgPadrao"_s, u"dbgOperadores"_s});
    QTest::newRow("operators") << u"dbgOperadores"_s << QStringList({u"dbgPadrao"_s, u"dbgTarefas"_s});
}

void TestEditMode::enteringAGridReturnsToBrowsing()
{
    QFETCH(QString, gridName);
    QFETCH(QStringList, othersName);
    TfrmProcessoUnidade *screen = openAlone();
    TDBGrid *target = grid(gridName);
    QVERIFY(enter(target));

    screen->sbtAlterar->click();
    QCOMPARE(target->dataSet()->State(), TDataSetState::dsEdit);
    QVERIFY(screen->sbtConfirmar->isEnabled());
    QVERIFY(screen->sbtCancelar->isEnabled());
    QVERIFY(!screen->sbtIncluir->isEnabled());
    for (const QString &other : othersName) {
        QVERIFY2(!grid(other)->isEnabled(), qPrintable(other));
    }

    // Coming back into the grid returns to browsing and re-evaluates all.
    QVERIFY(enter(target));
    QVERIFY(!screen->isEditing());
    QVERIFY(!screen->mnuConfirmar->isEnabled());
    QVERIFY(!screen->mnuCancelar->isEnabled());
    QVERIFY(screen->mnuIncluir->isEnabled());
    QVERIFY(screen->mnuAlterar->isEnabled());
    QVERIFY(screen->mnuExcluir->isEnabled());
    QVERIFY(screen->mnuProcurar->isEnabled());
    QVERIFY(screen->mnuVerificar->isEnabled());
    QVERIFY(!screen->mnuImprimir->isEnabled());
    QVERIFY(!screen->mnuVisualizar->isEnabled());
    const QList<std::pair<QAction *, TButtonFlat *>> mirrors = {
        {screen->mnuConfirmar, screen->sbtConfirmar}, {screen->mnuCancelar, screen->sbtCancelar},
        {screen->mnuIncluir, screen->sbtIncluir},     {screen->mnuAlterar, screen->sbtAlterar},
        {screen->mnuExcluir, screen->sbtExcluir},     {screen->mnuProcurar, screen->sbtProcurar},
        {screen->mnuVerificar, screen->sbtVerificar}, {screen->mnuImprimir, screen->sbtImprimir},
        {screen->mnuRedefinir, screen->sbtRedefinir}};
    for (const auto &[action, button] : mirrors) {
        QCOMPARE(button->isEnabled(), action->isEnabled());
    }
    for (const QString &other : othersName) {
        QVERIFY(grid(other)->isEnabled());
    }
    target->dataSet()->Cancel();
}

void TestEditMode::outsideTheGridsNothingIsSwitched()
{
    TfrmProcessoUnidade *screen = openAlone();
    QVERIFY(enter(screen->dbgTarefas));
    auto *elsewhere = screen->findChild<QLineEdit *>(u"testElsewhere"_s);
    elsewhere->setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents();
    QCOMPARE(screen->currentGrid(), nullptr);
    // Habilita leaves every state as it was...
    const bool include = screen->sbtIncluir->isEnabled();
    screen->Habilita(true);
    QCOMPARE(screen->sbtIncluir->isEnabled(), include);
    QVERIFY(!screen->isEditing());
    // ...and a command says why it does nothing, touching no record set.
    ModalDialogs::clearShown();
    ModalDialogs::answerNext(u"OK"_s);
    screen->sbtIncluir->click();
    QCOMPARE(ModalDialogs::shown().size(), 1);
    QCOMPARE(ModalDialogs::shown().first().kind, DialogKind::Error);
    for (TClientDataSet *records : {screen->cdsProcessos, screen->cdsTarefas, screen->cdsOperadores}) {
        QCOMPARE(records->State(), TDataSetState::dsBrowse);
        QCOMPARE(records->ChangeCount(), 0);
    }
}

void TestEditMode::emptyRecordSetAllowsOnlyIncludeAndVerify_data()
{
    QTest::addColumn<QString>("gridName");
    QTest::newRow("processes") << u"dbgPadrao"_s;
    QTest::newRow("tasks") << u"dbgTarefas"_s;
    QTest::newRow("operators") << u"dbgOperadores"_s;
}

void TestEditMode::emptyRecordSetAllowsOnlyIncludeAndVerify()
{
    QFETCH(QString, gridName);
    m_server->login(u"NOVATO"_s);
    TfrmProcessoUnidade *screen = openAlone();
    QVERIFY(enter(grid(gridName)));
    QVERIFY(screen->sbtIncluir->isEnabled());
    QVERIFY(screen->sbtVerificar->isEnabled());
    QVERIFY(!screen->sbtAlterar->isEnabled());
    QVERIFY(!screen->sbtExcluir->isEnabled());
    QVERIFY(!screen->sbtProcurar->isEnabled());
    QVERIFY(!screen->sbtConfirmar->isEnabled());
    QVERIFY(!screen->sbtCancelar->isEnabled());
    QVERIFY(!screen->sbtRedefinir->isEnabled());
    QVERIFY(!screen->sbtTarefaUp->isEnabled());
    QVERIFY(!screen->sbtTarefaDown->isEnabled());
}

void TestEditMode::redefineOnlyOnProcessGridForSituationN()
{
    TfrmProcessoUnidade *screen = openAlone();
    setSituation(2, u"N"_s);
    setSituation(3, u"n"_s);
    QVERIFY(enter(screen->dbgPadrao));
    screen->sbtVerificar->click();
    QCOMPARE(screen->cdsProcessos->RecNo(), 1);
    QVERIFY(!screen->sbtRedefinir->isEnabled());

    // The availability follows the row in browsing mode.
    QTest::keyClick(screen->dbgPadrao, Qt::Key_Down);
    QCOMPARE(screen->cdsProcessos->RecNo(), 2);
    QVERIFY(screen->mnuRedefinir->isEnabled());
    QVERIFY(screen->sbtRedefinir->isEnabled());
    QTest::keyClick(screen->dbgPadrao, Qt::Key_Down);
    QCOMPARE(screen->cdsProcessos->RecNo(), 3);
    QVERIFY(!screen->mnuRedefinir->isEnabled()); // only an upper-case N
    QTest::keyClick(screen->dbgPadrao, Qt::Key_Up);
    QVERIFY(screen->sbtRedefinir->isEnabled());

    // Never from the lower grids, nor while editing.
    QVERIFY(enter(screen->dbgTarefas));
    QVERIFY(!screen->sbtRedefinir->isEnabled());
    QVERIFY(enter(screen->dbgOperadores));
    QVERIFY(!screen->mnuRedefinir->isEnabled());
    QVERIFY(enter(screen->dbgPadrao));
    QVERIFY(screen->sbtRedefinir->isEnabled());
    screen->sbtAlterar->click();
    QVERIFY(!screen->sbtRedefinir->isEnabled());
    QVERIFY(!screen->mnuRedefinir->isEnabled());
    screen->sbtCancelar->click();
    QVERIFY(screen->sbtRedefinir->isEnabled());
}

void TestEditMode::whileOneGridEditsTheOthersAreDisabled()
{
    TfrmProcessoUnidade *screen = openAlone();
    QVERIFY(enter(screen->dbgPadrao));
    QVERIFY(screen->dbgTarefas->Options().testFlag(dgAlwaysShowSelection));
    screen->sbtAlterar->click();
    QVERIFY(screen->dbgPadrao->isEnabled());
    QVERIFY(!screen->dbgTarefas->isEnabled());
    QVERIFY(!screen->dbgOperadores->isEnabled());
    // While a process is edited the task grid shows no selected row.
    QVERIFY(!screen->dbgTarefas->Options().testFlag(dgAlwaysShowSelection));
    QVERIFY(!screen->navPadrao->isEnabled());
    screen->sbtCancelar->click();
    QCOMPARE(screen->cdsProcessos->State(), TDataSetState::dsBrowse);
    QVERIFY(!screen->isEditing());
    QVERIFY(screen->dbgTarefas->isEnabled());
    QVERIFY(screen->dbgOperadores->isEnabled());
    QVERIFY(screen->dbgTarefas->Options().testFlag(dgAlwaysShowSelection));
    QVERIFY(screen->navPadrao->isEnabled());

    QVERIFY(enter(screen->dbgTarefas));
    screen->sbtAlterar->click();
    QVERIFY(!screen->dbgPadrao->isEnabled());
    QVERIFY(!screen->dbgOperadores->isEnabled());
    QVERIFY(screen->dbgTarefas->isEnabled());
    QVERIFY(screen->dbgTarefas->Options().testFlag(dgAlwaysShowSelection));
    screen->sbtCancelar->click();
    QVERIFY(screen->dbgPadrao->isEnabled());
}

void TestEditMode::orderingButtonsFollowTheTaskGrid()
{
    TfrmProcessoUnidade *screen = openAlone();
    QVERIFY(enter(screen->dbgPadrao));
    QVERIFY(!screen->sbtTarefaUp->isEnabled());
    QVERIFY(!screen->sbtTarefaDown->isEnabled());
    QVERIFY(enter(screen->dbgTarefas));
    QVERIFY(screen->sbtTarefaUp->isEnabled());
    QVERIFY(screen->sbtTarefaDown->isEnabled());

    // Editing mode plays no part: a posted edit keeps them available.
    screen->sbtAlterar->click();
    screen->cdsTarefas->FieldByName(u"NMATIVIDADEFILIAL"_s)->setAsString(u"Conferir fundo de troco"_s);
    screen->cdsTarefas->Post();
    QVERIFY(screen->isEditing());
    QVERIFY(screen->sbtTarefaUp->isEnabled());

    ModalDialogs::answerNext(u"Sim"_s);
    screen->sbtCancelar->click();
    QVERIFY(!screen->isEditing());

    // A task row left in edit and the grid entered again: not in browse, no ordering.
    screen->sbtAlterar->click();
    QCOMPARE(screen->cdsTarefas->State(), TDataSetState::dsEdit);
    QVERIFY(enter(screen->dbgTarefas));
    QVERIFY(!screen->sbtTarefaUp->isEnabled());
    QVERIFY(!screen->sbtTarefaDown->isEnabled());
    screen->cdsTarefas->Cancel();

    QVERIFY(enter(screen->dbgOperadores));
    QVERIFY(!screen->sbtTarefaUp->isEnabled());
}

void TestEditMode::deleteAsksByGrid_data()
{
    QTest::addColumn<QString>("gridName");
    QTest::addColumn<QString>("key");
    QTest::newRow("processes") << u"dbgPadrao"_s << u"ExclProcesso"_s;
    QTest::newRow("tasks") << u"dbgTarefas"_s << u"Excl"_s;
    QTest::newRow("operators") << u"dbgOperadores"_s << u"Excl"_s;
}

void TestEditMode::deleteAsksByGrid()
{
    QFETCH(QString, gridName);
    QFETCH(QString, key);
    TfrmProcessoUnidade *screen = openAlone();
    TDBGrid *target = grid(gridName);
    QVERIFY(enter(target));
    const int rows = target->dataSet()->RecordCount();
    m_server->clearCalls();
    ModalDialogs::clearShown();
    ModalDialogs::answerNext(u"Não"_s);
    screen->sbtExcluir->click();
    const QList<DialogRecord> shown = ModalDialogs::shown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().kind, DialogKind::Message);
    QCOMPARE(shown.first().type, mtConfirmation);
    QCOMPARE(shown.first().text, screen->msgPadrao->Msg(key));
    QCOMPARE(target->dataSet()->RecordCount(), rows);
    QCOMPARE(m_server->calls(), QStringList());
}

void TestEditMode::deletingAnOperatorSavesAtOnceAndKeepsTheTask()
{
    TfrmProcessoUnidade *screen = openAlone();
    QVERIFY(enter(screen->dbgTarefas));
    QTest::keyClick(screen->dbgTarefas, Qt::Key_Down);
    const double task = screen->cdsTarefas->FieldByName(u"NRATIVIDADEFILIAL"_s)->AsFloat();
    QVERIFY(enter(screen->dbgOperadores));
    const int rows = screen->cdsOperadores->RecordCount();
    QVERIFY(rows > 0);
    m_server->clearCalls();
    ModalDialogs::answerNext(u"Sim"_s);
    screen->sbtExcluir->click();
    QCOMPARE(m_server->calls().first(), u"SetOperadores"_s);
    QVERIFY(m_server->calls().contains(u"GetProcessos"_s));
    QCOMPARE(screen->cdsTarefas->FieldByName(u"NRATIVIDADEFILIAL"_s)->AsFloat(), task);
    QCOMPARE(screen->cdsOperadores->RecordCount(), rows - 1);
    QCOMPARE(screen->cdsOperadores->ChangeCount(), 0);
    QVERIFY(!screen->isEditing());
    QVERIFY(bool(screen->cdsTarefas->AfterScroll));
}

void TestEditMode::cancelUndoesTheTypedRowThenAsks_data()
{
    QTest::addColumn<QString>("gridName");
    QTest::addColumn<QString>("field"); // changed in two rows
    QTest::addColumn<QString>("reload");
    QTest::newRow("processes") << u"dbgPadrao"_s << u"NMPROCESSOFILIAL"_s << u"GetProcessos"_s;
    QTest::newRow("tasks") << u"dbgTarefas"_s << u"NMATIVIDADEFILIAL"_s << u"GetTarefas"_s;
    QTest::newRow("responsibles") << u"dbgOperadores"_s << u"IDVALIDA"_s << u"GetOperadores"_s;
}

void TestEditMode::cancelUndoesTheTypedRowThenAsks()
{
    QFETCH(QString, gridName);
    QFETCH(QString, field);
    QFETCH(QString, reload);
    TfrmProcessoUnidade *screen = openAlone();
    auto *grid = screen->findChild<TDBGrid *>(gridName);
    QVERIFY(enter(grid));
    TClientDataSet *level = grid->dataSet();
    const int rows = level->RecordCount();
    QVERIFY(rows >= 2);
    const QString firstValue = level->FieldByName(field)->AsString();

    // A new row alone: one Cancel removes it, without a question, and browsing returns.
    screen->sbtIncluir->click();
    QCOMPARE(level->State(), TDataSetState::dsInsert);
    QVERIFY(screen->isEditing());
    ModalDialogs::clearShown();
    screen->sbtCancelar->click();
    QCOMPARE(ModalDialogs::shown().size(), 0);
    QCOMPARE(level->RecordCount(), rows);
    QVERIFY(!screen->isEditing());
    QVERIFY(!screen->sbtCancelar->isEnabled());

    // With a posted change pending the first Cancel keeps editing...
    screen->sbtAlterar->click();
    level->FieldByName(field)->setAsString(u"S"_s);
    level->Post();
    // Typing into another row starts its edit (Include and Alter are off now).
    level->Next();
    level->Edit();
    level->FieldByName(field)->setAsString(u"N"_s);
    screen->sbtCancelar->click();
    QCOMPARE(level->State(), TDataSetState::dsBrowse);
    QCOMPARE(level->ChangeCount(), 1);
    QVERIFY(screen->isEditing());
    QCOMPARE(ModalDialogs::shown().size(), 0);

    // ...and the second asks; "Não" keeps the change...
    ModalDialogs::answerNext(u"Não"_s);
    screen->sbtCancelar->click();
    QCOMPARE(ModalDialogs::shown().size(), 1);
    QCOMPARE(ModalDialogs::shown().last().text, screen->BaseMessages()->Msg(u"Canc"_s));
    QCOMPARE(level->ChangeCount(), 1);
    QVERIFY(screen->isEditing());

    // ...and "Sim" reloads the level from the server and browses again.
    m_server->clearCalls();
    ModalDialogs::answerNext(u"Sim"_s);
    screen->sbtCancelar->click();
    QCOMPARE(m_server->calls().first(), reload);
    QCOMPARE(level->ChangeCount(), 0);
    QVERIFY(level->Locate(field, firstValue));
    QVERIFY(!screen->isEditing());
    QVERIFY(screen->dbgPadrao->isEnabled());
}

void TestEditMode::confirmWithNothingPendingReloadsOnly()
{
    TfrmProcessoUnidade *screen = openAlone();
    QVERIFY(enter(screen->dbgPadrao));
    screen->cdsProcessos->setRecNo(2);
    const double process = screen->cdsProcessos->FieldByName(u"NRPROCESSOFILIAL"_s)->AsFloat();
    screen->Habilita(true);
    QVERIFY(screen->sbtConfirmar->isEnabled());
    m_server->clearCalls();
    screen->sbtConfirmar->click();
    QCOMPARE(m_server->calls(), QStringList({u"GetProcessos"_s, u"GetTarefas"_s, u"GetOperadores"_s}));
    QCOMPARE(screen->cdsProcessos->FieldByName(u"NRPROCESSOFILIAL"_s)->AsFloat(), process);
    QVERIFY(!screen->isEditing());
}

void TestEditMode::confirmingOperatorsKeepsTheTask()
{
    TfrmProcessoUnidade *screen = openAlone();
    QVERIFY(enter(screen->dbgTarefas));
    QTest::keyClick(screen->dbgTarefas, Qt::Key_Down);
    QTest::keyClick(screen->dbgTarefas, Qt::Key_Down);
    QCOMPARE(screen->cdsTarefas->RecNo(), 3);
    const double task = screen->cdsTarefas->FieldByName(u"NRATIVIDADEFILIAL"_s)->AsFloat();
    QVERIFY(enter(screen->dbgOperadores));
    const double responsible = screen->cdsOperadores->FieldByName(u"NRRESPATIVFILIAL"_s)->AsFloat();
    const QString flag = screen->cdsOperadores->FieldByName(u"IDVALIDA"_s)->AsString();
    const QString toggled = flag == "S"_L1 ? u"N"_s : u"S"_s;
    screen->sbtAlterar->click();
    screen->cdsOperadores->FieldByName(u"IDVALIDA"_s)->setAsString(toggled);
    m_server->clearCalls();
    screen->sbtConfirmar->click();
    QCOMPARE(m_server->calls().first(), u"SetOperadores"_s);
    QCOMPARE(screen->cdsTarefas->FieldByName(u"NRATIVIDADEFILIAL"_s)->AsFloat(), task);
    QVERIFY(screen->cdsOperadores->Locate(u"NRRESPATIVFILIAL"_s, responsible));
    QCOMPARE(screen->cdsOperadores->FieldByName(u"IDVALIDA"_s)->AsString(), toggled);
    QCOMPARE(screen->cdsOperadores->ChangeCount(), 0);
    QVERIFY(!screen->isEditing());
    QVERIFY(bool(screen->cdsTarefas->AfterScroll));
}

void TestEditMode::confirmingANewProcessStandsOnIt()
{
    TfrmProcessoUnidade *screen = openAlone();
    QVERIFY(enter(screen->dbgPadrao));
    const int processes = screen->cdsProcessos->RecordCount();
    screen->sbtIncluir->click();
    QCOMPARE(screen->cdsProcessos->State(), TDataSetState::dsInsert);
    QVERIFY(screen->cdsTarefas->IsEmpty());
    screen->cdsProcessos->FieldByName(u"NMPROCESSOFILIAL"_s)->setAsString(u"Inventário de fim de ano"_s);
    m_server->clearCalls();
    screen->sbtConfirmar->click();
    QCOMPARE(m_server->calls().first(), u"SetProcessos"_s);
    QCOMPARE(screen->cdsProcessos->RecordCount(), processes + 1);
    QCOMPARE(screen->cdsProcessos->FieldByName(u"NMPROCESSOFILIAL"_s)->AsString(), u"Inventário de fim de ano"_s);
    QVERIFY(!screen->cdsProcessos->FieldByName(u"NRPROCESSOFILIAL"_s)->IsNull());
    QVERIFY(!screen->isEditing());
}

QTEST_MAIN(TestEditMode)
#include "tst_editmode.moc"
