// The tasks of a process as a person works them in the host window: new
// tasks, the periodicity typed or chosen, deletes checked against the day's
// activities, the ordering buttons, what the grid paints and the observation
// dialog; against the real server and the real lookup database.

#include <QTextEdit>
#include <QtTest>

#include "ModalDialogs.h"
#include "ScreenImage.h"
#include "ScreenTestCase.h"
#include "TADOIBQuery.h"
#include "TButtonFlat.h"
#include "TField.h"
#include "TfrmObs.h"

using namespace Qt::StringLiterals;

namespace {
enum Column { Ordem, Descricao, Tela, Modulo, Periodicidade, Obs };
}

class TestTarefas : public ScreenTestCase
{
    Q_OBJECT

private slots:
    void newTaskNumbers_data();
    void newTaskNumbers();
    void newTaskStored_data();
    void newTaskStored();
    void silentWithoutProcesses_data();
    void silentWithoutProcesses();
    void deleteChecksActivities_data();
    void deleteChecksActivities();
    void ordering_data();
    void ordering();
    void newUnsavedTaskMoves();
    void periodicityFromSearchList_data();
    void periodicityFromSearchList();
    void codeOnlyInTheCellTheUserIsIn();
    void observationIconInEveryRow();
    void observationDialog_data();
    void observationDialog();

private:
    QStringList taskNames() const;
    QString shownText(int row, int column) const;
    TField *task(const char *name) const { return screen()->cdsTarefas->FieldByName(QString::fromLatin1(name)); }
};

QStringList TestTarefas::taskNames() const
{
    QStringList names;
    TClientDataSet *tasks = screen()->cdsTarefas;
    for (int row = 0; row < tasks->rowCount(); ++row) {
        names << tasks->displayTextAt(row, task("NMATIVIDADEFILIAL"));
    }
    return names;
}

// What the grid paints as the cell's text.
QString TestTarefas::shownText(int row, int column) const
{
    QAbstractItemModel *model = screen()->dbgTarefas->model();
    return model->data(model->index(row, column), Qt::DisplayRole).toString();
}

// ---------------------------------------------------------------------------

void TestTarefas::newTaskNumbers_data()
{
    QTest::addColumn<QString>("process");
    QTest::addColumn<double>("order");
    QTest::addColumn<double>("firstKey");
    QTest::newRow("first task of a process") << u"Sem tarefas"_s << 1.0 << -1.0;
    QTest::newRow("orders 1, 2, 5") << u"Abertura da loja"_s << 6.0 << -4.0;
}

void TestTarefas::newTaskNumbers()
{
    QFETCH(QString, process);
    QFETCH(double, order);
    QFETCH(double, firstKey);
    sql(u"UPDATE ATIVIDADEFILIAL SET NRORDENAATIVIDADE = 5 WHERE NMATIVIDADEFILIAL = 'Verificar validade dos perecíveis'"_s);
    sql(u"INSERT INTO PROCESSOFILIAL (CDUNIDADE, NMPROCESSOFILIAL, DTINIVIGENCIA, CDOPERATU, IDSITUACAO) "
        "VALUES ('0001', 'Sem tarefas', 1, 'SUPERVISOR', 'S')"_s);
    openInHost();
    selectProcess(process);
    ScreenInHost::click(screen()->sbtIncluir);
    QCOMPARE(screen()->cdsTarefas->State(), TDataSetState::dsInsert);
    QCOMPARE(task("NRORDENAATIVIDADE")->AsFloat(), order);
    QCOMPARE(task("NRATIVIDADEFILIAL")->AsFloat(), firstKey);
    QCOMPARE(screen()->cdsOperadores->RecordCount(), 0);

    // Insert at the keyboard posts the typed row; the next one counts it.
    ScreenInHost::clickCell(screen()->dbgTarefas, screen()->cdsTarefas->currentRow(), Descricao);
    m_host->type(u"Primeira"_s);
    m_host->key(Qt::Key_Tab);
    m_host->key(Qt::Key_Insert);
    QCOMPARE(screen()->cdsTarefas->State(), TDataSetState::dsInsert);
    QCOMPARE(task("NRATIVIDADEFILIAL")->AsFloat(), firstKey - 1);
    QCOMPARE(task("NRORDENAATIVIDADE")->AsFloat(), order + 1);
}

void TestTarefas::newTaskStored_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("screenCode");
    QTest::addColumn<QString>("module");
    QTest::addColumn<QString>("periodicity");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("storedModule");
    QTest::addColumn<QString>("storedName");
    QTest::newRow("module upper-cased, screen as typed")
        << u"Nova"_s << u"tela01"_s << u"abc"_s << u"SG"_s << QString() << u"ABC"_s << u"Semanal - segunda"_s;
    QTest::newRow("blank module and periodicity")
        << u"Nova"_s << u"T1"_s << QString() << QString() << QString() << QString() << QString();
    QTest::newRow("unknown periodicity") << u"Nova"_s << u"T1"_s << u"X"_s << u"XX"_s
                                         << u"Código de periodicidade informado não encontrado"_s << QString()
                                         << QString();
    QTest::newRow("periodicity run only on request")
        << u"Nova"_s << u"T1"_s << u"X"_s << u"RQ"_s << u"Código de periodicidade informado não encontrado"_s
        << QString() << QString();
    QTest::newRow("blank description") << u"  "_s << u"T1"_s << u"X"_s << u"DI"_s << u"Informe a descrição da tarefa."_s
                                       << QString() << QString();
}

void TestTarefas::newTaskStored()
{
    QFETCH(QString, description);
    QFETCH(QString, screenCode);
    QFETCH(QString, module);
    QFETCH(QString, periodicity);
    QFETCH(QString, error);
    QFETCH(QString, storedModule);
    QFETCH(QString, storedName);
    openInHost();
    const auto sentModule = watchSentField(*m_server, u"SetTarefas"_s, u"CDMODULOATIVIDADE"_s);
    selectProcess(u"Fechamento do caixa"_s);
    ScreenInHost::click(screen()->sbtIncluir);
    // One refusal at most: on leaving the periodicity cell or at Confirm.
    ModalDialogs::answerNext(u"OK"_s);
    for (const QString &text : {description, screenCode, module, periodicity}) {
        m_host->type(text);
        m_host->key(Qt::Key_Tab);
    }
    if (ModalDialogs::pendingAnswers() > 0) {
        ScreenInHost::click(screen()->sbtConfirmar);
    }
    ModalDialogs::clearAnswers();
    QStringList errors;
    for (const DialogRecord &shown : ModalDialogs::shown()) {
        errors << shown.text;
    }
    const QVariant stored = scalar(u"SELECT COUNT(*) FROM ATIVIDADEFILIAL WHERE NMATIVIDADEFILIAL = 'Nova'"_s);
    if (!error.isEmpty()) {
        QCOMPARE(errors, QStringList{error});
        QCOMPARE(stored.toInt(), 0);
        QVERIFY(screen()->isEditing());
        QCOMPARE(screen()->cdsTarefas->State(), TDataSetState::dsInsert);
        return;
    }
    QCOMPARE(errors, QStringList());
    QCOMPARE(stored.toInt(), 1);
    QCOMPARE(*sentModule, QStringList{storedModule}); // upper-cased by the screen's post
    QVERIFY(!screen()->isEditing());
    const QString where = u" FROM ATIVIDADEFILIAL WHERE NMATIVIDADEFILIAL = 'Nova'"_s;
    QCOMPARE(scalar(u"SELECT COALESCE(CDMODULOATIVIDADE, '')"_s + where).toString(), storedModule);
    QCOMPARE(scalar(u"SELECT CDTELAATIVIDADE"_s + where).toString(), screenCode);
    QCOMPARE(scalar(u"SELECT COALESCE(CDPERIENTR, '')"_s + where).toString(), periodicity);
    QCOMPARE(scalar(u"SELECT CDOPERATU"_s + where).toString(), u"SUPERVISOR"_s);
    screen()->cdsTarefas->Locate(u"NMATIVIDADEFILIAL"_s, u"Nova"_s);
    QCOMPARE(task("NMPERIENTR")->AsString(), storedName);
}

void TestTarefas::silentWithoutProcesses_data()
{
    QTest::addColumn<bool>("typing");
    QTest::addColumn<QString>("gridName");
    QTest::newRow("include button") << false << u"dbgTarefas"_s;
    QTest::newRow("typing into the empty grid") << true << u"dbgTarefas"_s;
    // Without a task there is no responsible either.
    QTest::newRow("responsible, include button") << false << u"dbgOperadores"_s;
    QTest::newRow("responsible, typing") << true << u"dbgOperadores"_s;
}

void TestTarefas::silentWithoutProcesses()
{
    QFETCH(bool, typing);
    QFETCH(QString, gridName);
    m_server->login(u"NOVATO"_s);
    openInHost();
    QCOMPARE(screen()->cdsProcessos->RecordCount(), 0);
    auto *grid = screen()->findChild<TDBGrid *>(gridName);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->viewport()->rect().center());
    QCOMPARE(screen()->currentGrid(), grid);
    ModalDialogs::clearShown();
    if (typing) {
        m_host->type(u"x"_s);
    } else {
        ScreenInHost::click(screen()->sbtIncluir);
    }
    QCOMPARE(grid->dataSet()->State(), TDataSetState::dsBrowse);
    QCOMPARE(ModalDialogs::shown().size(), 0);
    QVERIFY(!screen()->isEditing());
    if (gridName == u"dbgTarefas"_s) {
        // Nor does the periodicity's ellipsis (Ctrl+Enter) open a list.
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                          QPoint(grid->columnViewportPosition(Periodicidade) + 10, 8));
        QCOMPARE(grid->SelectedIndex(), int(Periodicidade));
        m_host->key(Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(ModalDialogs::shown().size(), 0);
    }
}

void TestTarefas::deleteChecksActivities_data()
{
    QTest::addColumn<QString>("process");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("error");
    const QString executed = u"A tarefa não pode ser excluída. A mesma possui atividades que já foram executadas."_s;
    const QString ended = u"Processo já encerrado não pode ser alterado."_s;
    QTest::newRow("executed activity") << u"Abertura da loja"_s << QString() << executed;
    QTest::newRow("unexecuted activities") << u"Fechamento do caixa"_s << QString() << QString();
    QTest::newRow("concluded by someone, no date")
        << u"Fechamento do caixa"_s << u"UPDATE ATIVIDADEDIA SET CDOPERCONCL = 'MARIA'"_s << QString();
    QTest::newRow("concluded on a date, by nobody")
        << u"Fechamento do caixa"_s << u"UPDATE ATIVIDADEDIA SET DTCONCLUSAO = 1"_s << QString();
    QTest::newRow("no activities, ended process") << u"Campanha de inverno"_s << QString() << QString();
    QTest::newRow("unexecuted activity, ended process")
        << u"Campanha de inverno"_s
        << u"INSERT INTO ATIVIDADEDIA (NRPROCESSOFILIAL, NRATIVIDADEFILIAL, DTATIVIDADE) "
           "SELECT NRPROCESSOFILIAL, NRATIVIDADEFILIAL, 1 FROM ATIVIDADEFILIAL WHERE NMATIVIDADEFILIAL = 'Montar vitrine da campanha'"_s
        << ended;
}

void TestTarefas::deleteChecksActivities()
{
    QFETCH(QString, process);
    QFETCH(QString, setup);
    QFETCH(QString, error);
    if (!setup.isEmpty()) {
        sql(setup);
    }
    openInHost();
    selectProcess(process);
    const QString name = task("NMATIVIDADEFILIAL")->AsString();
    const int rows = screen()->cdsTarefas->RecordCount();
    m_server->clearCalls();
    ModalDialogs::clearShown();
    ModalDialogs::answerNext(u"Sim"_s);
    ModalDialogs::answerNext(u"OK"_s);
    ScreenInHost::click(screen()->sbtExcluir);
    ModalDialogs::clearAnswers();
    QCOMPARE(m_server->calls().value(0), u"GetVerifTarefas"_s);
    const int stored = scalar(u"SELECT COUNT(*) FROM ATIVIDADEFILIAL WHERE NMATIVIDADEFILIAL = ?"_s, {name}).toInt();
    if (error.isEmpty()) {
        QCOMPARE(ModalDialogs::shown().size(), 1); // the question only
        QCOMPARE(stored, 0);
        // Saved at once, then read back from the server.
        const QStringList calls = m_server->calls();
        QVERIFY2(calls.contains(u"SetTarefas"_s)
                     && calls.lastIndexOf(u"GetProcessos"_s) > calls.indexOf(u"SetTarefas"_s),
                 qPrintable(calls.join(u' ')));
        QCOMPARE(screen()->cdsTarefas->RecordCount(), rows - 1);
        QVERIFY(!taskNames().contains(name));
    } else {
        QCOMPARE(ModalDialogs::shown().size(), 2);
        QCOMPARE(ModalDialogs::shown().at(1).text, error);
        QVERIFY(!m_server->calls().contains(u"SetTarefas"_s));
        QCOMPARE(stored, 1);
        QCOMPARE(screen()->cdsTarefas->RecordCount(), rows);
    }
    QVERIFY(!screen()->isEditing());
}

void TestTarefas::ordering_data()
{
    QTest::addColumn<QString>("process");
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("up");
    QTest::addColumn<int>("presses");
    QTest::addColumn<QList<int>>("expected"); // first tasks' positions after the moves
    QTest::addColumn<bool>("editing");
    QTest::addColumn<QString>("typed"); // left in the Módulo cell's editor before the press
    QTest::newRow("last up") << u"Abertura da loja"_s << 2 << true << 1 << QList<int>{0, 2, 1} << true << QString();
    QTest::newRow("first up") << u"Abertura da loja"_s << 0 << true << 1 << QList<int>{0, 1, 2} << true << QString();
    QTest::newRow("last down") << u"Abertura da loja"_s << 2 << false << 1 << QList<int>{0, 1, 2} << true << QString();
    QTest::newRow("top down three times")
        << u"Controle de estoque"_s << 0 << false << 3 << QList<int>{1, 2, 3, 0} << true << QString();
    QTest::newRow("one task") << u"Campanha de inverno"_s << 0 << true << 1 << QList<int>{0} << false << QString();
    QTest::newRow("typed module, down") << u"Controle de estoque"_s << 1 << false << 1 << QList<int>{0, 2, 1, 3} << true
                                        << u"abc"_s;
    QTest::newRow("typed module, up") << u"Abertura da loja"_s << 2 << true << 1 << QList<int>{0, 2, 1} << true
                                      << u"xy"_s;
}

void TestTarefas::ordering()
{
    QFETCH(QString, process);
    QFETCH(int, row);
    QFETCH(bool, up);
    QFETCH(int, presses);
    QFETCH(QList<int>, expected);
    QFETCH(bool, editing);
    QFETCH(QString, typed);
    sql(u"UPDATE ATIVIDADEFILIAL SET NRORDENAATIVIDADE = 5 WHERE NMATIVIDADEFILIAL = 'Verificar validade dos perecíveis'"_s);
    openInHost();
    selectProcess(process);
    ScreenInHost::clickCell(screen()->dbgTarefas, row, typed.isEmpty() ? Descricao : Modulo);
    if (!typed.isEmpty()) {
        m_host->key(Qt::Key_F2);
        m_host->key(Qt::Key_A, Qt::ControlModifier);
        m_host->type(typed); // no Enter: the text is still in the editor
        QVERIFY(screen()->dbgTarefas->EditorMode());
    }
    const QStringList before = taskNames();
    QList<double> orders;
    for (int i = 0; i < before.size(); ++i) {
        orders << screen()->cdsTarefas->valueAt(i, task("NRORDENAATIVIDADE")->Index()).toDouble();
    }
    const QString moved = before.at(row);
    m_server->clearCalls();
    TButtonFlat *button = up ? screen()->sbtTarefaUp : screen()->sbtTarefaDown;
    for (int i = 0; i < presses; ++i) {
        QVERIFY(button->isEnabled());
        ScreenInHost::click(button);
    }
    QStringList after;
    for (int position : expected) {
        after << before.at(position);
    }
    QCOMPARE(taskNames(), after);
    QCOMPARE(task("NMATIVIDADEFILIAL")->AsString(), moved);
    // The numbers present are only exchanged, never renumbered.
    for (int i = 0; i < after.size(); ++i) {
        QCOMPARE(screen()->cdsTarefas->valueAt(i, task("NRORDENAATIVIDADE")->Index()).toDouble(), orders.at(i));
    }
    QCOMPARE(screen()->isEditing(), editing);
    QVERIFY(!m_server->calls().contains(u"GetOperadores"_s));
    if (!editing) {
        return;
    }
    ScreenInHost::click(screen()->sbtConfirmar);
    for (int i = 0; i < after.size(); ++i) {
        QCOMPARE(scalar(u"SELECT NRORDENAATIVIDADE FROM ATIVIDADEFILIAL WHERE NMATIVIDADEFILIAL = ?"_s, {after.at(i)})
                     .toDouble(),
                 orders.at(i));
    }
    if (!typed.isEmpty()) {
        // The typed module went with its row, upper-cased as any post does.
        QCOMPARE(
            scalar(u"SELECT CDMODULOATIVIDADE FROM ATIVIDADEFILIAL WHERE NMATIVIDADEFILIAL = ?"_s, {moved}).toString(),
            typed.toUpper());
    }
}

void TestTarefas::newUnsavedTaskMoves()
{
    openInHost();
    selectProcess(u"Abertura da loja"_s);
    const QStringList before = taskNames();
    ScreenInHost::click(screen()->sbtIncluir);
    m_host->type(u"Nova"_s);
    m_host->key(Qt::Key_Tab);
    m_host->type(u"t1"_s); // still in the screen cell's editor
    // The press posts the new row first, then finds it again by its temporary key.
    ScreenInHost::click(screen()->sbtTarefaUp);
    QCOMPARE(taskNames(), (QStringList{before.at(0), before.at(1), u"Nova"_s, before.at(2)}));
    QCOMPARE(task("NRATIVIDADEFILIAL")->AsFloat(), -4.0);
    QCOMPARE(task("NRORDENAATIVIDADE")->AsFloat(), 3.0);
    QCOMPARE(screen()->cdsTarefas->State(), TDataSetState::dsBrowse);
    ScreenInHost::click(screen()->sbtConfirmar);
    QCOMPARE(scalar(u"SELECT NRORDENAATIVIDADE FROM ATIVIDADEFILIAL WHERE NMATIVIDADEFILIAL = 'Nova'"_s).toInt(), 3);
    QCOMPARE(scalar(u"SELECT CDTELAATIVIDADE FROM ATIVIDADEFILIAL WHERE NMATIVIDADEFILIAL = 'Nova'"_s).toString(),
             u"t1"_s);
}

void TestTarefas::periodicityFromSearchList_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("name");
    QTest::newRow("chosen") << u"OK"_s << u"SG"_s << u"Semanal - segunda"_s;
    QTest::newRow("closed") << u"Cancelar"_s << u"DI"_s << u"Diária"_s;
    // The real list, Enter on its first row: the keyboard comes back to the grid.
    QTest::newRow("chosen at the keyboard") << u"Enter"_s << u"DI"_s << u"Diária"_s;
}

void TestTarefas::periodicityFromSearchList()
{
    QFETCH(QString, button);
    QFETCH(QString, code);
    QFETCH(QString, name);
    openInHost();
    selectProcess(u"Abertura da loja"_s);
    TDBGrid *grid = screen()->dbgTarefas;
    ScreenInHost::clickCell(grid, 0, Periodicidade);
    // The ellipsis stands at the right end of the cell; the list has no 'R' periodicity: DI DU FM M1 SG TQ.
    const QRect cell = grid->cellRect(0, Periodicidade);
    ModalDialogs::clearShown();
    const bool byKeyboard = button == u"Enter"_s;
    if (byKeyboard) {
        pressInNextDialog(Qt::Key_Return);
    } else {
        ModalDialogs::answerNext(DialogAnswer{button, 4, {}, {}, {}});
    }
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, QPoint(cell.right() - 4, cell.center().y()));
    QCOMPARE(ModalDialogs::shown().size(), 1);
    QCOMPARE(ModalDialogs::shown().at(0).kind, DialogKind::Search);
    QCOMPARE(screen()->qryVdPeridiocidade->RecordCount(), 6);
    QCOMPARE(task("CDPERIENTR")->AsString(), code);
    QCOMPARE(task("NMPERIENTR")->AsString(), name);
    const bool chosen = button != u"Cancelar"_s;
    QCOMPARE(screen()->cdsTarefas->State(), chosen ? TDataSetState::dsEdit : TDataSetState::dsBrowse);
    QCOMPARE(screen()->isEditing(), chosen);
    if (byKeyboard) {
        // An arrow key posts the row and moves on.
        QCoreApplication::processEvents(); // the window system's activation, as it comes
        QVERIFY(grid->Focused());
        m_host->key(Qt::Key_Down);
        QCOMPARE(screen()->cdsTarefas->State(), TDataSetState::dsBrowse);
        QCOMPARE(screen()->cdsTarefas->currentRow(), 1);
    }
}

void TestTarefas::codeOnlyInTheCellTheUserIsIn()
{
    openInHost();
    selectProcess(u"Abertura da loja"_s);
    TDBGrid *grid = screen()->dbgTarefas;
    ScreenInHost::clickCell(grid, 2, Periodicidade);
    QCOMPARE(shownText(2, Periodicidade), u"DU"_s);
    QCOMPARE(shownText(0, Periodicidade), u"Diária"_s);
    QCOMPARE(shownText(1, Periodicidade), u"Diária"_s);
    // Another column of the same row: the name.
    ScreenInHost::clickCell(grid, 2, Tela);
    QCOMPARE(shownText(2, Periodicidade), u"Dias úteis"_s);
    // Back in the cell, then the focus in another grid: the name again.
    ScreenInHost::clickCell(grid, 2, Periodicidade);
    QCOMPARE(shownText(2, Periodicidade), u"DU"_s);
    ScreenInHost::clickCell(screen()->dbgOperadores, 0, 0);
    QCOMPARE(shownText(2, Periodicidade), u"Dias úteis"_s);
    // Typed and left: the code is validated and stored as the table holds it.
    ScreenInHost::clickCell(grid, 1, Periodicidade);
    m_host->type(u"TQ"_s);
    m_host->key(Qt::Key_Tab);
    QCOMPARE(screen()->cdsTarefas->State(), TDataSetState::dsEdit);
    QCOMPARE(task("NMPERIENTR")->AsString(), u"Terças e quintas"_s);
    QCOMPARE(shownText(1, Periodicidade), u"Terças e quintas"_s);
    QVERIFY(!grid->Options().testFlag(dgEditing)); // the "?" column is never typed in
    m_host->key(Qt::Key_Left);
    QVERIFY(grid->Options().testFlag(dgEditing));
}

void TestTarefas::observationIconInEveryRow()
{
    openInHost();
    selectProcess(u"Abertura da loja"_s);
    TDBGrid *grid = screen()->dbgTarefas;
    const QImage icon = screen()->imgObs->Picture();
    // An icon pixel that is not the see-through olive.
    QPoint probe(-1, -1);
    for (int y = 0; y < icon.height() && probe.x() < 0; ++y) {
        for (int x = 0; x < icon.width(); ++x) {
            if (icon.pixelColor(x, y) != QColor(128, 128, 0)) {
                probe = QPoint(x, y);
                break;
            }
        }
    }
    QVERIFY(probe.x() >= 0);
    const QImage shot = grid->viewport()->grab().toImage();
    const qreal ratio = shot.devicePixelRatio();
    for (int row = 0; row < grid->model()->rowCount(); ++row) {
        const QRect cell = grid->cellRect(row, Obs);
        const QPoint at(cell.left() + (cell.width() - icon.width()) / 2 + probe.x(), cell.top() + probe.y());
        QCOMPARE(shot.pixelColor(at * ratio), icon.pixelColor(probe));
    }
}

void TestTarefas::observationDialog_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("typed"); // replaces the whole text; empty = nothing typed
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("expected");
    const QString note = u"Linha 1\r\n  Linha 2  \n\n\tfim "_s;
    QTest::newRow("closed without confirming") << int(Obs) << u"Cancelar"_s << u"outra"_s << note << note;
    QTest::newRow("confirmed unchanged") << int(Obs) << u"OK"_s << QString() << note << note;
    QTest::newRow("confirmed changed") << int(Obs) << u"OK"_s << u"Nova obs"_s << note << u"Nova obs"_s;
    QTest::newRow("case only") << int(Obs) << u"OK"_s << u"ABC"_s << u"abc"_s << u"ABC"_s;
    QTest::newRow("over the limit") << int(Obs) << u"OK"_s << QString(4010, u'x') << u"abc"_s << QString(4000, u'x');
    QTest::newRow("another column") << int(Descricao) << u"OK"_s << u"nunca"_s << note << note;
}

void TestTarefas::observationDialog()
{
    QFETCH(int, column);
    QFETCH(QString, button);
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    QFETCH(QString, expected);
    sql(u"UPDATE ATIVIDADEFILIAL SET DSATIVIDADEFILIAL = ? WHERE NMATIVIDADEFILIAL = 'Ligar sistemas e balanças'"_s,
        {stored});
    openInHost();
    selectProcess(u"Abertura da loja"_s);
    TDBGrid *grid = screen()->dbgTarefas;
    ScreenInHost::clickCell(grid, 1, column);
    QString given;
    ModalDialogs::clearShown();
    ModalDialogs::answerNext(DialogAnswer{button, -1, {}, {}, [&](QDialog *dialog) {
                                              auto *editor = dialog->findChild<QTextEdit *>(u"rctObservacao"_s);
                                              given = editor->toPlainText();
                                              if (!typed.isEmpty()) {
                                                  editor->selectAll();
                                                  editor->insertPlainText(typed); // as a paste does
                                              }
                                          }});
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, grid->cellRect(1, column).center());
    QCoreApplication::processEvents();
    const bool opened = column == Obs;
    QCOMPARE(ModalDialogs::shown().size(), opened ? 1 : 0);
    ModalDialogs::clearAnswers();
    QCOMPARE(task("DSATIVIDADEFILIAL")->AsString(), expected);
    const bool changed = expected != stored;
    QCOMPARE(screen()->cdsTarefas->State(), changed ? TDataSetState::dsEdit : TDataSetState::dsBrowse);
    QCOMPARE(screen()->isEditing(), changed);
    if (opened) {
        QCOMPARE(given, QString(stored).replace(u"\r\n"_s, u"\n"_s));
    }
    if (changed) {
        // Cancel gives the old observation back.
        ScreenInHost::click(screen()->sbtCancelar);
        QCOMPARE(task("DSATIVIDADEFILIAL")->AsString(), stored);
    }
}

QTEST_MAIN(TestTarefas)
#include "tst_tarefas.moc"
