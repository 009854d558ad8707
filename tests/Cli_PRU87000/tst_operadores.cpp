// The responsible operators of a task, used as a person uses them in the host
// window: codes typed into the operator grid and checked against the lookup
// database, search lists opened with the cell's button, flags toggled with
// the mouse and the space bar, rows saved and deleted with the toolbar.

#include <QClipboard>
#include <QLineEdit>
#include <QPainter>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

#include "Database.h"
#include "ModalDialogs.h"
#include "Packet.h"
#include "ScreenIcons.h"
#include "ScreenImage.h"
#include "ScreenTestCase.h"
#include "Sql.h"
#include "TButtonFlat.h"
#include "TField.h"

using namespace Qt::StringLiterals;

namespace {
enum Column { OperatorColumn = 0, GroupColumn = 1, ExecutesColumn = 2, ValidatesColumn = 3 };
const QString firstTask = u"Conferir fundo de troco dos caixas"_s; // holds group CX and SUPERVISOR
} // namespace

class TestOperadores : public ScreenTestCase
{
    Q_OBJECT

private slots:
    void newRowsTakeTemporaryKeysAndRepeatsAreRefused();
    void typedCodeIsCheckedOnLeavingTheCell_data();
    void typedCodeIsCheckedOnLeavingTheCell();
    void postKeepsOneKindByTheSelectedColumn_data();
    void postKeepsOneKindByTheSelectedColumn();
    void rowWithoutOperatorOrGroupIsRefused();
    void deleteIsSavedAtOnceOnTheSameTask();
    void flagsToggleAndAreSaved_data();
    void flagsToggleAndAreSaved();
    void toggleOnEmptyGridStartsARow_data();
    void toggleOnEmptyGridStartsARow();
    void checkBoxesArePaintedInTheFlagCells_data();
    void checkBoxesArePaintedInTheFlagCells();
    void storedRowsKeepTheirCodes_data();
    void storedRowsKeepTheirCodes();
    void searchListOnlyForNewRows_data();
    void searchListOnlyForNewRows();
    void codeCellShowsTheCodeOnlyWhereTheUserIs();

private:
    // The screen in the host window, on the first task.
    void openOnFirstTask();
    // The first task loses its responsibles before the screen opens.
    void emptyFirstTask() const;
    // The rows sqlText selects, their columns joined by '|', the rows by ';'.
    QString stored(const QString &sqlText) const;
    TDBGrid *grid() const { return screen()->dbgOperadores; }
    TClientDataSet *operators() const { return screen()->cdsOperadores; }
    QString field(const QString &name) const { return operators()->FieldByName(name)->AsString(); }
    // A click in an empty grid, in the given column.
    void clickEmptyColumn(int column) const;
    QPoint editButton(int row, int column) const;
};

void TestOperadores::openOnFirstTask()
{
    openInHost();
    QCOMPARE(screen()->cdsTarefas->FieldByName(u"NMATIVIDADEFILIAL"_s)->AsString(), firstTask);
}

void TestOperadores::emptyFirstTask() const
{
    sql(u"DELETE FROM RESPATIVFILIAL WHERE NRATIVIDADEFILIAL = (SELECT NRATIVIDADEFILIAL "
        "FROM ATIVIDADEFILIAL WHERE NMATIVIDADEFILIAL = ?)"_s,
        {firstTask});
}

QString TestOperadores::stored(const QString &sqlText) const
{
    ScopedConnection connection(m_server->config(), u"operadores-check"_s);
    QSqlQuery query = Sql::exec(connection.db(), sqlText);
    QStringList rows;
    while (query.next()) {
        QStringList values;
        for (int i = 0; i < query.record().count(); ++i) {
            values << query.value(i).toString();
        }
        rows << values.join(u'|');
    }
    return rows.join(u';');
}

void TestOperadores::clickEmptyColumn(int column) const
{
    const QPoint at(grid()->columnViewportPosition(column) + grid()->columnWidth(column) / 2, 8);
    QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, at);
    QCoreApplication::processEvents();
}

QPoint TestOperadores::editButton(int row, int column) const
{
    const QRect cell = grid()->cellRect(row, column);
    return {cell.right() - 8, cell.center().y()};
}

// Keys -1, -2...; a code repeated against a row posted but not yet saved.
void TestOperadores::newRowsTakeTemporaryKeysAndRepeatsAreRefused()
{
    emptyFirstTask();
    openOnFirstTask();
    TfrmProcessoUnidade *screen = this->screen();
    const double task = screen->cdsTarefas->FieldByName(u"NRATIVIDADEFILIAL"_s)->AsFloat();
    QCOMPARE(operators()->RecordCount(), 0);

    clickEmptyColumn(GroupColumn);
    ScreenInHost::click(screen->sbtIncluir);
    QCOMPARE(operators()->State(), TDataSetState::dsInsert);
    QCOMPARE(field(u"NRRESPATIVFILIAL"_s), u"-1"_s);
    QCOMPARE(field(u"IDEXECUTA"_s) + field(u"IDVALIDA"_s), u"NN"_s);
    QCOMPARE(grid()->SelectedIndex(), int(GroupColumn)); // an empty set keeps the cell
    m_host->key(Qt::Key_Backtab);
    m_host->type(u"MARIA"_s);
    m_host->key(Qt::Key_Tab);
    QCOMPARE(field(u"NMOPERADOR"_s), u"Maria Aparecida Souza"_s);

    // The grid's Insert key posts the row and starts the next beside it, in the operator cell.
    m_host->key(Qt::Key_Insert);
    QCOMPARE(operators()->State(), TDataSetState::dsInsert);
    QCOMPARE(operators()->RecordCount(), 1);
    QCOMPARE(field(u"NRRESPATIVFILIAL"_s), u"-2"_s);
    QCOMPARE(grid()->SelectedIndex(), int(OperatorColumn));

    ModalDialogs::clearShown();
    ModalDialogs::answerNext(u"OK"_s);
    m_host->type(u"MARIA"_s);
    m_host->key(Qt::Key_Tab);
    QCOMPARE(ModalDialogs::shown().size(), 1);
    QCOMPARE(ModalDialogs::shown().at(0).text, u"Código de operador informado já cadastrado"_s);
    QCOMPARE(grid()->SelectedIndex(), int(OperatorColumn));
    QCOMPARE(field(u"CDOPERADOR"_s), QString());

    m_host->type(u"JOAO"_s);
    ScreenInHost::click(screen->sbtConfirmar);
    QCOMPARE(ModalDialogs::shown().size(), 1);
    QCOMPARE(
        stored(u"SELECT CDOPERADOR, IDEXECUTA, IDVALIDA, CDOPERATU FROM RESPATIVFILIAL WHERE NRATIVIDADEFILIAL = %1 "
               "ORDER BY CDOPERADOR"_s.arg(task)),
        u"JOAO|N|N|SUPERVISOR;MARIA|N|N|SUPERVISOR"_s);
    QCOMPARE(screen->cdsTarefas->FieldByName(u"NRATIVIDADEFILIAL"_s)->AsFloat(), task);
    QCOMPARE(operators()->RecordCount(), 2);
    QVERIFY(!screen->isEditing());
}

void TestOperadores::typedCodeIsCheckedOnLeavingTheCell_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("operatorCode");
    QTest::addColumn<QString>("operatorName");
    QTest::addColumn<QString>("groupName");
    QTest::addColumn<bool>("leftTheCell");

    QTest::newRow("operator trimmed") << int(OperatorColumn) << u"  JOAO"_s << QString() << u"JOAO"_s
                                      << u"João Carlos Pereira"_s << QString() << true;
    QTest::newRow("operator unknown") << int(OperatorColumn) << u"NINGUEM"_s
                                      << u"Código de operador informado não encontrado"_s << QString() << QString()
                                      << QString() << false;
    QTest::newRow("operator of a stored row")
        << int(OperatorColumn) << u"SUPERVISOR"_s << u"Código de operador informado já cadastrado"_s << QString()
        << QString() << QString() << false;
    QTest::newRow("operator case kept") << int(OperatorColumn) << u"maria"_s
                                        << u"Código de operador informado não encontrado"_s << QString() << QString()
                                        << QString() << false;
    QTest::newRow("operator blanks") << int(OperatorColumn) << u"   "_s << QString() << QString() << QString()
                                     << QString() << true;
    QTest::newRow("group") << int(GroupColumn) << u"ES"_s << QString() << QString() << QString()
                           << u"Equipe de estoque"_s << true;
    QTest::newRow("group unknown") << int(GroupColumn) << u"ZZ"_s
                                   << u"Código de grupo de operadores informado não encontrado"_s << QString()
                                   << QString() << QString() << false;
    QTest::newRow("group of a stored row")
        << int(GroupColumn) << u"CX"_s << u" Código de grupo de operadores informado já cadastrado"_s << QString()
        << QString() << QString() << false;
}

void TestOperadores::typedCodeIsCheckedOnLeavingTheCell()
{
    QFETCH(int, column);
    QFETCH(QString, typed);
    QFETCH(QString, message);
    QFETCH(QString, operatorCode);
    QFETCH(QString, operatorName);
    QFETCH(QString, groupName);
    QFETCH(bool, leftTheCell);
    openOnFirstTask();
    TfrmProcessoUnidade *screen = this->screen();
    ScreenInHost::clickCell(grid(), 0, OperatorColumn);
    ScreenInHost::click(screen->sbtIncluir);
    if (column == GroupColumn) {
        m_host->key(Qt::Key_Tab);
    }
    m_host->type(typed);
    ModalDialogs::clearShown();
    if (!message.isEmpty()) {
        pressInNextDialog(Qt::Key_Return); // the real box
    }
    m_host->key(Qt::Key_Tab);

    QCOMPARE(ModalDialogs::shown().size(), message.isEmpty() ? 0 : 1);
    if (!message.isEmpty()) {
        QCOMPARE(ModalDialogs::shown().at(0).text, message);
    }
    QCOMPARE(grid()->SelectedIndex(), leftTheCell ? column + 1 : column);
    QCOMPARE(field(u"CDOPERADOR"_s), operatorCode);
    QCOMPARE(field(u"NMOPERADOR"_s), operatorName);
    QCOMPARE(field(u"DSGRUPOPER"_s), groupName);
    QCOMPARE(operators()->State(), TDataSetState::dsInsert);
    if (message.isEmpty()) {
        return;
    }
    // The keyboard is back in the refused cell, and stays in the grid: a good
    // code is taken, the next cells take Tab, Space toggles the flag.
    QVERIFY(grid()->Focused());
    m_host->type(column == GroupColumn ? u"ES"_s : u"MARIA"_s);
    m_host->key(Qt::Key_Tab);
    QCOMPARE(grid()->SelectedIndex(), column + 1);
    for (int tabs = 0; tabs < 2 && grid()->SelectedIndex() < ExecutesColumn; ++tabs) {
        m_host->key(Qt::Key_Tab);
    }
    QCOMPARE(grid()->SelectedIndex(), int(ExecutesColumn));
    m_host->key(Qt::Key_Space);
    QCOMPARE(field(u"IDEXECUTA"_s), u"S"_s);
    QVERIFY(grid()->Focused());
}

// A row that an older program stored with both codes: the post validates the
// cell the user is in, or both, and the row keeps one kind of responsible.
void TestOperadores::postKeepsOneKindByTheSelectedColumn_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("operatorCode");
    QTest::addColumn<QString>("groupCode");
    QTest::newRow("from the validates cell") << int(ValidatesColumn) << u"SUPERVISOR"_s << QString();
    QTest::newRow("from the operator cell") << int(OperatorColumn) << u"SUPERVISOR"_s << QString();
    QTest::newRow("from the group cell") << int(GroupColumn) << QString() << u"ES"_s;
}

void TestOperadores::postKeepsOneKindByTheSelectedColumn()
{
    QFETCH(int, column);
    QFETCH(QString, operatorCode);
    QFETCH(QString, groupCode);
    m_server->setOverride(u"GetOperadores"_s, [](const QCborArray &args, SessionHandler &server) {
        DataPacket packet = DataPacket::decode(server.call(u"GetOperadores"_s, args).toByteArray());
        qsizetype op = -1, group = -1, name = -1;
        for (qsizetype i = 0; i < packet.fields.size(); ++i) {
            op = packet.fields[i].name == "CDOPERADOR"_L1 ? i : op;
            group = packet.fields[i].name == "CDGRUPOPER"_L1 ? i : group;
            name = packet.fields[i].name == "DSGRUPOPER"_L1 ? i : name;
        }
        for (Row &row : packet.rows) {
            if (row[op].toString() == "SUPERVISOR"_L1) {
                row[group] = u"ES"_s;
                row[name] = u"Equipe de estoque"_s;
            }
        }
        return QCborValue(packet.encode());
    });
    openOnFirstTask();
    const int row = 1;
    auto value = [this, row](const QString &name) {
        return operators()->valueAt(row, operators()->FieldByName(name)->Index()).toString();
    };
    QCOMPARE(value(u"CDGRUPOPER"_s), u"ES"_s);
    ScreenInHost::clickCell(grid(), row, ValidatesColumn);
    QTest::mouseDClick(grid()->viewport(), Qt::LeftButton, {}, grid()->cellRect(row, ValidatesColumn).center());
    QCOMPARE(operators()->State(), TDataSetState::dsEdit);
    if (column != ValidatesColumn) {
        ScreenInHost::clickCell(grid(), row, column);
    }
    ModalDialogs::clearShown();
    m_host->key(Qt::Key_Up); // the move posts the row
    QCOMPARE(ModalDialogs::shown().size(), 0);
    QCOMPARE(operators()->State(), TDataSetState::dsBrowse);
    QCOMPARE(operators()->RecNo(), row);
    QCOMPARE(value(u"CDOPERADOR"_s), operatorCode);
    QCOMPARE(value(u"CDGRUPOPER"_s), groupCode);
    QCOMPARE(value(u"IDVALIDA"_s), u"N"_s);
}

void TestOperadores::rowWithoutOperatorOrGroupIsRefused()
{
    openOnFirstTask();
    TfrmProcessoUnidade *screen = this->screen();
    ScreenInHost::clickCell(grid(), 0, OperatorColumn);
    ScreenInHost::click(screen->sbtIncluir);
    m_host->key(Qt::Key_Tab);
    m_host->key(Qt::Key_Tab);
    m_host->key(Qt::Key_Tab);
    QCOMPARE(grid()->SelectedIndex(), int(ValidatesColumn));
    m_server->clearCalls();
    ModalDialogs::clearShown();
    ModalDialogs::answerNext(u"OK"_s);
    ScreenInHost::click(screen->sbtConfirmar);
    QCOMPARE(ModalDialogs::shown().size(), 1);
    QCOMPARE(ModalDialogs::shown().at(0).text, u"Um operador ou grupo de operador deve ser informado."_s);
    QCOMPARE(grid()->SelectedIndex(), int(OperatorColumn));
    QCOMPARE(operators()->State(), TDataSetState::dsInsert);
    QCOMPARE(m_server->count(u"SetOperadores"_s), 0);
}

void TestOperadores::deleteIsSavedAtOnceOnTheSameTask()
{
    openOnFirstTask();
    TfrmProcessoUnidade *screen = this->screen();
    ScreenInHost::clickCell(screen->dbgTarefas, 2, 0);
    const double process = screen->cdsProcessos->FieldByName(u"NRPROCESSOFILIAL"_s)->AsFloat();
    const double task = screen->cdsTarefas->FieldByName(u"NRATIVIDADEFILIAL"_s)->AsFloat();
    const QString count = u"SELECT COUNT(*) FROM RESPATIVFILIAL WHERE NRATIVIDADEFILIAL = %1"_s.arg(task);
    QCOMPARE(stored(count), u"2"_s);
    ScreenInHost::clickCell(grid(), 1, OperatorColumn);
    const QString gone = field(u"CDOPERADOR"_s);

    m_server->clearCalls();
    ModalDialogs::answerNext(u"Sim"_s);
    ScreenInHost::click(screen->sbtExcluir);
    QCOMPARE(m_server->calls().value(0), u"SetOperadores"_s);
    QCOMPARE(stored(count), u"1"_s);
    QCOMPARE(m_server->calls().last(), u"GetOperadores"_s);
    QCOMPARE(screen->cdsProcessos->FieldByName(u"NRPROCESSOFILIAL"_s)->AsFloat(), process);
    QCOMPARE(screen->cdsTarefas->FieldByName(u"NRATIVIDADEFILIAL"_s)->AsFloat(), task);
    QCOMPARE(operators()->RecordCount(), 1);
    QVERIFY(!operators()->Locate(u"CDOPERADOR"_s, gone));
    QCOMPARE(operators()->ChangeCount(), 0);
    QVERIFY(!screen->isEditing());
}

void TestOperadores::flagsToggleAndAreSaved_data()
{
    QTest::addColumn<bool>("space");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("stored"); // IDEXECUTA|IDVALIDA of the CX row afterwards
    QTest::addColumn<QString>("before"); // the CX row's IDEXECUTA as stored
    QTest::newRow("double click executes") << false << int(ExecutesColumn) << u"N|N"_s << u"S"_s;
    QTest::newRow("space executes") << true << int(ExecutesColumn) << u"N|N"_s << u"S"_s;
    QTest::newRow("double click validates") << false << int(ValidatesColumn) << u"S|S"_s << u"S"_s;
    QTest::newRow("space validates") << true << int(ValidatesColumn) << u"S|S"_s << u"S"_s;
    QTest::newRow("space in the group cell") << true << int(GroupColumn) << u"S|N"_s << u"S"_s;
    // Anything but "N" reads as yes: the toggle makes it "N".
    QTest::newRow("another letter") << true << int(ExecutesColumn) << u"N|N"_s << u"X"_s;
}

void TestOperadores::flagsToggleAndAreSaved()
{
    QFETCH(bool, space);
    QFETCH(int, column);
    QFETCH(QString, stored);
    QFETCH(QString, before);
    if (before != u"S"_s) {
        sql(u"UPDATE RESPATIVFILIAL SET IDEXECUTA = ? WHERE CDGRUPOPER = 'CX'"_s, {before});
    }
    openOnFirstTask();
    TfrmProcessoUnidade *screen = this->screen();
    const QString cx =
        u"SELECT IDEXECUTA, IDVALIDA FROM RESPATIVFILIAL WHERE CDGRUPOPER = 'CX' AND NRATIVIDADEFILIAL = %1"_s.arg(
            screen->cdsTarefas->FieldByName(u"NRATIVIDADEFILIAL"_s)->AsFloat());
    QCOMPARE(this->stored(cx), before + u"|N"_s);
    ScreenInHost::clickCell(grid(), 0, column);
    QCOMPARE(field(u"CDGRUPOPER"_s), u"CX"_s);
    if (space) {
        m_host->key(Qt::Key_Space);
    } else {
        QTest::mouseDClick(grid()->viewport(), Qt::LeftButton, {}, grid()->cellRect(0, column).center());
    }
    const bool toggles = column != GroupColumn;
    QCOMPARE(operators()->State(), toggles ? TDataSetState::dsEdit : TDataSetState::dsBrowse);
    QVERIFY(!grid()->EditorMode());
    QCOMPARE(field(u"IDEXECUTA"_s) + u'|' + field(u"IDVALIDA"_s), stored);
    QCOMPARE(this->stored(cx), before + u"|N"_s); // nothing is saved before the row is posted and confirmed
    if (toggles) {
        ScreenInHost::click(screen->sbtConfirmar);
        QCOMPARE(this->stored(cx), stored);
        QCOMPARE(operators()->State(), TDataSetState::dsBrowse);
    }
}

void TestOperadores::toggleOnEmptyGridStartsARow_data()
{
    QTest::addColumn<bool>("space");
    QTest::newRow("double click") << false;
    QTest::newRow("space") << true;
}

void TestOperadores::toggleOnEmptyGridStartsARow()
{
    QFETCH(bool, space);
    emptyFirstTask();
    openOnFirstTask();
    clickEmptyColumn(ValidatesColumn);
    QCOMPARE(grid()->SelectedIndex(), int(ValidatesColumn));
    if (space) {
        m_host->key(Qt::Key_Space);
    } else {
        QTest::mouseDClick(grid()->viewport(), Qt::LeftButton, {},
                           QPoint(grid()->columnViewportPosition(ValidatesColumn) + 20, 8));
    }
    QCOMPARE(operators()->State(), TDataSetState::dsInsert);
    QCOMPARE(field(u"NRRESPATIVFILIAL"_s), u"-1"_s);
    QCOMPARE(field(u"IDEXECUTA"_s) + u'|' + field(u"IDVALIDA"_s), u"N|S"_s);
    QVERIFY(screen()->isEditing());
}

void TestOperadores::checkBoxesArePaintedInTheFlagCells_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<bool>("selected");
    // Row 0 is group CX (executes S, validates N), row 1 SUPERVISOR (N, S).
    QTest::newRow("S selected") << 0 << int(ExecutesColumn) << true << true;
    QTest::newRow("N selected") << 0 << int(ValidatesColumn) << false << true;
    QTest::newRow("N plain") << 1 << int(ExecutesColumn) << false << false;
    QTest::newRow("S plain") << 1 << int(ValidatesColumn) << true << false;
}

void TestOperadores::checkBoxesArePaintedInTheFlagCells()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(bool, checked);
    QFETCH(bool, selected);
    openOnFirstTask();
    TfrmProcessoUnidade *screen = this->screen();
    ScreenInHost::clickCell(grid(), selected ? row : 1 - row, selected ? column : OperatorColumn);
    const QImage shot = grid()->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect cell = grid()->cellRect(row, column);
    QCOMPARE(cell.width(), 50); // the column's width is its cell's; the grid line lies beyond
    const QColor background = selected ? grid()->palette().color(QPalette::Active, QPalette::Highlight)
                                       : shot.pixelColor(cell.left() + 1, cell.bottom() - 1);
    if (selected) {
        QCOMPARE(shot.pixelColor(cell.left() + 1, cell.top() + 1), background);
    }
    const QImage picture = (checked ? screen->imgChecked : screen->imgUnchecked)->Picture();
    QImage expected(cell.size(), QImage::Format_RGB32);
    expected.fill(background);
    QPainter painter(&expected);
    ScreenIcons::drawInCell(&painter, expected.rect(), 17, picture, background);
    painter.end();
    // The box stands 17 pixels in, at the top: its corner is black, the
    // picture's olive became the cell's colour, nothing left of it.
    QCOMPARE(shot.pixelColor(cell.left() + 17 + 2, cell.top() + 2), QColor(0, 0, 0));
    QCOMPARE(shot.pixelColor(cell.left() + 17, cell.top()), background);
    QCOMPARE(shot.pixelColor(cell.left() + 16, cell.top() + 2), background);
    for (int y = 0; y < cell.height(); ++y) {
        for (int x = 0; x < cell.width(); ++x) {
            const QColor got = shot.pixelColor(cell.left() + x, cell.top() + y);
            if (got != expected.pixelColor(x, y)) {
                QFAIL(qPrintable(u"pixel (%1, %2) of the cell is %3, expected %4"_s.arg(x).arg(y).arg(
                    got.name(), expected.pixelColor(x, y).name())));
            }
        }
    }
}

void TestOperadores::storedRowsKeepTheirCodes_data()
{
    QTest::addColumn<bool>("newRow");
    QTest::addColumn<int>("column");
    QTest::newRow("stored operator") << false << int(OperatorColumn);
    QTest::newRow("stored group") << false << int(GroupColumn);
    QTest::newRow("new operator") << true << int(OperatorColumn);
}

void TestOperadores::storedRowsKeepTheirCodes()
{
    QFETCH(bool, newRow);
    QFETCH(int, column);
    openOnFirstTask();
    TfrmProcessoUnidade *screen = this->screen();
    const int row = column == OperatorColumn ? 1 : 0; // SUPERVISOR, CX
    ScreenInHost::clickCell(grid(), row, column);
    if (newRow) {
        ScreenInHost::click(screen->sbtIncluir);
    }
    const QString before = grid()->model()->index(operators()->currentRow(), column).data(Qt::EditRole).toString();
    m_host->type(u"AB"_s);
    m_host->key(Qt::Key_Backspace);
    m_host->key(Qt::Key_Delete);
    if (newRow) {
        QVERIFY(grid()->EditorMode());
        QCOMPARE(grid()->findChild<QLineEdit *>(u"gridEditor"_s)->text(), u"A"_s);
        return;
    }
    QVERIFY(!grid()->EditorMode());
    QCOMPARE(operators()->State(), TDataSetState::dsBrowse);
    QCOMPARE(grid()->model()->index(row, column).data(Qt::EditRole).toString(), before);
    // Nor does a paste: no editor opens, so neither its keys nor its menu can.
    QGuiApplication::clipboard()->setText(u"MARIA"_s);
    m_host->key(Qt::Key_F2);
    QVERIFY(!grid()->EditorMode());
    m_host->key(Qt::Key_V, Qt::ControlModifier);
    m_host->key(Qt::Key_Insert, Qt::ShiftModifier);
    m_host->key(Qt::Key_Backspace);
    m_host->key(Qt::Key_Delete);
    QVERIFY(!grid()->EditorMode());
    QCOMPARE(grid()->model()->index(row, column).data(Qt::EditRole).toString(), before);
    QCOMPARE(operators()->State(), TDataSetState::dsBrowse);
    m_host->key(Qt::Key_Tab); // moving still works
    QCOMPARE(grid()->SelectedIndex(), column + 1);
}

void TestOperadores::searchListOnlyForNewRows_data()
{
    QTest::addColumn<QString>("rowKind");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("name"); // also what is typed in the list's filter
    QTest::newRow("stored row") << u"stored"_s << int(OperatorColumn) << QString() << QString();
    QTest::newRow("new row, operator") << u"new"_s << int(OperatorColumn) << u"MARIA"_s << u"Maria Aparecida Souza"_s;
    QTest::newRow("new row, group") << u"new"_s << int(GroupColumn) << u"ES"_s << u"Equipe de estoque"_s;
    QTest::newRow("empty grid, group") << u"empty"_s << int(GroupColumn) << u"GE"_s << u"Gerência"_s;
}

void TestOperadores::searchListOnlyForNewRows()
{
    QFETCH(QString, rowKind);
    QFETCH(int, column);
    QFETCH(QString, code);
    QFETCH(QString, name);
    if (rowKind == "empty"_L1) {
        emptyFirstTask();
    }
    openOnFirstTask();
    TfrmProcessoUnidade *screen = this->screen();
    const QString codeField = column == OperatorColumn ? u"CDOPERADOR"_s : u"CDGRUPOPER"_s;
    const QString nameField = column == OperatorColumn ? u"NMOPERADOR"_s : u"DSGRUPOPER"_s;
    ModalDialogs::clearShown();
    if (!code.isEmpty()) {
        ModalDialogs::answerNext(DialogAnswer{u"OK"_s, -1, name, {}, {}});
    }
    if (rowKind == "empty"_L1) {
        clickEmptyColumn(column);
        m_host->key(Qt::Key_Return, Qt::ControlModifier); // the button's key: no cell to click
    } else {
        ScreenInHost::clickCell(grid(), 0, column);
        if (rowKind == "new"_L1) {
            ScreenInHost::click(screen->sbtIncluir);
            if (column == GroupColumn) {
                m_host->key(Qt::Key_Tab);
            }
        }
        const int row = operators()->currentRow();
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, editButton(row, column));
        QCoreApplication::processEvents();
    }
    if (code.isEmpty()) {
        QCOMPARE(ModalDialogs::shown().size(), 0);
        QCOMPARE(operators()->State(), TDataSetState::dsBrowse);
        return;
    }
    QCOMPARE(ModalDialogs::shown().size(), 1);
    QCOMPARE(ModalDialogs::shown().at(0).kind, DialogKind::Search);
    QCOMPARE(ModalDialogs::shown().at(0).text, column == OperatorColumn ? u"Operadores"_s : u"Grupo de Operadores"_s);
    QCOMPARE(operators()->State(), TDataSetState::dsInsert);
    QCOMPARE(field(codeField) + u'|' + field(nameField), code + u'|' + name);
}

void TestOperadores::codeCellShowsTheCodeOnlyWhereTheUserIs()
{
    openOnFirstTask();
    TfrmProcessoUnidade *screen = this->screen();
    auto shown = [this](int row, int column) { return grid()->model()->index(row, column).data().toString(); };
    ScreenInHost::clickCell(grid(), 1, OperatorColumn);
    QCOMPARE(shown(1, OperatorColumn), u"SUPERVISOR"_s);
    QCOMPARE(shown(0, GroupColumn), u"Operadores de caixa"_s);
    QCOMPARE(shown(1, GroupColumn), QString());
    ScreenInHost::clickCell(grid(), 0, GroupColumn);
    QCOMPARE(shown(0, GroupColumn), u"CX"_s);
    QCOMPARE(shown(1, OperatorColumn), u"Supervisor da Loja Centro"_s);
    ScreenInHost::clickCell(grid(), 1, OperatorColumn);
    ScreenInHost::clickCell(screen->dbgTarefas, 0, 0);
    QCOMPARE(shown(1, OperatorColumn), u"Supervisor da Loja Centro"_s);
}

QTEST_MAIN(TestOperadores)
#include "tst_operadores.moc"
