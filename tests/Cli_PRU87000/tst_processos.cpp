// The process level as a person meets it in the host window: validity dates
// typed into the grid and checked at post and at column exit, the delete that
// asks about scheduled activities, the situation picture, the protected date
// cells and the redefinition of the day's activities. The server is the real
// one, on unit 0003, with its date fixed on 10/03/2025.

#include <QClipboard>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include "DateTime.h"
#include "Exceptions.h"
#include "MessageFormat.h"
#include "ModalDialogs.h"
#include "ScreenImage.h"
#include "ScreenTestCase.h"
#include "ServerClock.h"
#include "TButtonFlat.h"
#include "TField.h"
#include "TMessages.h"

using namespace Qt::StringLiterals;

namespace {

const QDate kServerDay(2025, 3, 10);
constexpr int kName = 0;
constexpr int kStart = 1;
constexpr int kEnd = 2;
constexpr int kSituation = 4;

double dayOf(const QDate &date)
{
    return DateTime::fromDate(date.year(), date.month(), date.day());
}

double serverDay(int offset = 0)
{
    return dayOf(kServerDay.addDays(offset));
}

QCborValue refusedByTest(const QString &text)
{
    throw EDatabaseError(text);
}

} // namespace

class TestProcessos : public ScreenTestCase
{
    Q_OBJECT

private slots:
    void newProcessDefaults();
    void postRules_data();
    void postRules();
    void columnExitRules_data();
    void columnExitRules();
    void typedDates_data();
    void typedDates();
    void deletePaths_data();
    void deletePaths();
    void failedSetAtividadesBringsTheRowBack();
    void situationPicture_data();
    void situationPicture();
    void lastUpdateText_data();
    void lastUpdateText();
    void protectedDateCells_data();
    void protectedDateCells();
    void redefineRepositionsThenTells_data();
    void redefineRepositionsThenTells();
    void redefineFailureShowsNoSuccess_data();
    void redefineFailureShowsNoSuccess();
    void redefineAvailability_data();
    void redefineAvailability();

private:
    void initScreenTest() override;
    void cleanupScreenTest() override { ServerClock::setOffsetDaysForTesting(0); }
    // The screen in the host window, on the first process, nothing called or shown yet.
    TfrmProcessoUnidade *open();
    qint64 addProcess(const QString &name, double start, const QVariant &end = {}, const QString &situation = u"S"_s,
                      const QString &updatedBy = u"NOVATO"_s, const QVariant &updatedAt = {});
    qint64 addTask(qint64 process);
    // One activity per letter: P pending, E executed, O operator but no date, D date but no operator.
    void addActivities(qint64 process, qint64 task, const QString &kinds);
    int storedCount(const QString &table, const QString &where, const QVariant &value) const
    {
        return scalar(u"SELECT COUNT(*) FROM %1 WHERE %2 = ?"_s.arg(table, where), {value}).toInt();
    }
    QStringList sentOf(const QStringList &methods) const;
    void typeDate(const QString &keys) const;
    void startNewProcess(const QString &name) const;

    qint64 m_base = 0;
};

void TestProcessos::initScreenTest()
{
    m_server->login(u"NOVATO"_s);
    // Screen and server agree on the day: the screen through its date call,
    // the server's own checks through its clock.
    ServerClock::setOffsetDaysForTesting(int(QDate::currentDate().daysTo(kServerDay)));
    m_server->setOverride(u"GetDataServidor"_s, [](const QCborArray &, SessionHandler &) {
        return QCborValue(DateTime::fromDate(2025, 3, 10, 15, 30));
    });
    // The day counts as generated already, so the server leaves the
    // situations these tests give their processes as they are.
    sql(u"INSERT INTO GERACAOATIVIDADE (DTATIVIDADE, DTGERACAO) VALUES (?, ?)"_s, {qint64(serverDay()), serverDay()});
    m_base = addProcess(u"Processo base"_s, serverDay(-30));
}

TfrmProcessoUnidade *TestProcessos::open()
{
    TfrmProcessoUnidade *screen = openInHost();
    ScreenInHost::clickCell(screen->dbgPadrao, 0, kName);
    m_server->clearCalls();
    ModalDialogs::clearShown();
    return screen;
}

qint64 TestProcessos::addProcess(const QString &name, double start, const QVariant &end, const QString &situation,
                                 const QString &updatedBy, const QVariant &updatedAt)
{
    return insert(u"INSERT INTO PROCESSOFILIAL (CDUNIDADE, NMPROCESSOFILIAL, DTINIVIGENCIA, DTFINVIGENCIA, CDOPERATU, "
                  "DTATUALIZACAO, IDSITUACAO) VALUES ('0003', ?, ?, ?, ?, ?, ?) RETURNING NRPROCESSOFILIAL"_s,
                  {name, start, end, updatedBy.isEmpty() ? QVariant() : QVariant(updatedBy), updatedAt, situation});
}

qint64 TestProcessos::addTask(qint64 process)
{
    const qint64 task = insert(u"INSERT INTO ATIVIDADEFILIAL (NRPROCESSOFILIAL, NMATIVIDADEFILIAL, NRORDENAATIVIDADE) "
                               "VALUES (?, 'Tarefa', 1) RETURNING NRATIVIDADEFILIAL"_s,
                               {process});
    sql(u"INSERT INTO RESPATIVFILIAL (NRATIVIDADEFILIAL, NRPROCESSOFILIAL, CDOPERADOR, IDEXECUTA, IDVALIDA) "
        "VALUES (?, ?, 'NOVATO', 'S', 'N')"_s,
        {task, process});
    return task;
}

void TestProcessos::addActivities(qint64 process, qint64 task, const QString &kinds)
{
    for (qsizetype i = 0; i < kinds.size(); ++i) {
        const QChar kind = kinds.at(i);
        sql(u"INSERT INTO ATIVIDADEDIA (NRPROCESSOFILIAL, NRATIVIDADEFILIAL, DTATIVIDADE, CDOPERCONCL, "
            "DTCONCLUSAO) VALUES (?, ?, ?, ?, ?)"_s,
            {process, task, qint64(serverDay(int(i) - 10)),
             kind == u'E' || kind == u'O' ? QVariant(u"NOVATO"_s) : QVariant(QMetaType::fromType<QString>()),
             kind == u'E' || kind == u'D' ? QVariant(serverDay(-1)) : QVariant(QMetaType::fromType<double>())});
    }
}

QStringList TestProcessos::sentOf(const QStringList &methods) const
{
    QStringList sent;
    for (const QString &call : m_server->calls()) {
        if (methods.contains(call)) {
            sent << call;
        }
    }
    return sent;
}

// Digits typed into the selected date cell; "-" erases it (F2 selects the
// whole text, Backspace removes it).
void TestProcessos::typeDate(const QString &keys) const
{
    if (keys == "-"_L1) {
        m_host->key(Qt::Key_F2);
        m_host->key(Qt::Key_Backspace);
    } else if (!keys.isEmpty()) {
        m_host->type(keys);
    }
}

void TestProcessos::startNewProcess(const QString &name) const
{
    ScreenInHost::click(m_host->screen->sbtIncluir);
    m_host->type(name);
}

// ---------------------------------------------------------------------------

void TestProcessos::newProcessDefaults()
{
    addTask(m_base);
    TfrmProcessoUnidade *screen = open();
    QCOMPARE(screen->cdsTarefas->RecordCount(), 1);
    QCOMPARE(screen->cdsOperadores->RecordCount(), 1);
    // Include from another column: the name cell takes the focus.
    ScreenInHost::clickCell(screen->dbgPadrao, 0, kStart);
    ScreenInHost::click(screen->sbtIncluir);
    QCOMPARE(screen->cdsProcessos->State(), TDataSetState::dsInsert);
    QCOMPARE(screen->cdsProcessos->FieldByName(u"IDSITUACAO"_s)->AsString(), u"S"_s);
    QCOMPARE(screen->cdsProcessosDTINIVIGENCIA->AsDateTime(), serverDay(1));
    QVERIFY(screen->cdsProcessosDTFINVIGENCIA->IsNull());
    QCOMPARE(screen->cdsTarefas->RecordCount(), 0);
    QCOMPARE(screen->cdsOperadores->RecordCount(), 0);
    QCOMPARE(screen->dbgPadrao->SelectedField()->FieldName(), u"NMPROCESSOFILIAL"_s);
    ScreenInHost::click(screen->sbtCancelar);
}

void TestProcessos::postRules_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("start"); // digits typed; "" keeps the default, "-" erases
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("refusal"); // catalogue key; "" stored
    QTest::addColumn<QString>("focus");

    QTest::newRow("blank name before any date rule")
        << u"   "_s << u"09032025"_s << QString() << u"NmProcessoNull"_s << u"NMPROCESSOFILIAL"_s;
    QTest::newRow("start on the server's day")
        << u"Começa hoje"_s << u"10032025"_s << QString() << QString() << QString();
    QTest::newRow("start the day before")
        << u"Começou ontem"_s << u"09032025"_s << QString() << u"Data<Atual"_s << u"DTINIVIGENCIA"_s;
    QTest::newRow("start erased") << u"Sem início"_s << u"-"_s << QString() << u"DataIniVigNull"_s
                                  << u"DTINIVIGENCIA"_s;
    QTest::newRow("no end") << u"Sem fim"_s << QString() << QString() << QString() << QString();
    QTest::newRow("end the day before the server's")
        << u"Acabou ontem"_s << QString() << u"09032025"_s << u"Data<Atual"_s << u"DTFINVIGENCIA"_s;
    QTest::newRow("end equal to start") << u"Um dia só"_s << QString() << u"11032025"_s << QString() << QString();
    QTest::newRow("end a day before start")
        << u"Ao contrário"_s << u"12032025"_s << u"11032025"_s << u"DtFin>DtIni"_s << u"DTFINVIGENCIA"_s;
}

void TestProcessos::postRules()
{
    QFETCH(QString, name);
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QString, refusal);
    QFETCH(QString, focus);
    TfrmProcessoUnidade *screen = open();
    const auto sentOperator = watchSentField(*m_server, u"SetProcessos"_s, u"CDOPERATU"_s);
    startNewProcess(name);
    m_host->key(Qt::Key_Tab);
    typeDate(start);
    if (!end.isEmpty()) {
        m_host->key(Qt::Key_Tab);
        typeDate(end);
    }
    QCOMPARE(ModalDialogs::shown().size(), 0);
    if (!refusal.isEmpty()) {
        ModalDialogs::answerNext(u"OK"_s);
    }
    ScreenInHost::click(screen->sbtConfirmar);
    if (refusal.isEmpty()) {
        QCOMPARE(ModalDialogs::shown().size(), 0);
        QCOMPARE(screen->cdsProcessos->State(), TDataSetState::dsBrowse);
        QCOMPARE(storedCount(u"PROCESSOFILIAL"_s, u"NMPROCESSOFILIAL"_s, name), 1);
        QCOMPARE(*sentOperator, QStringList{u"NOVATO"_s}); // the post names who changed it
        return;
    }
    QCOMPARE(lastShown(), msg(refusal));
    QCOMPARE(screen->cdsProcessos->State(), TDataSetState::dsInsert);
    QCOMPARE(screen->dbgPadrao->SelectedField()->FieldName(), focus);
    QCOMPARE(m_server->count(u"SetProcessos"_s), 0);
    ScreenInHost::click(screen->sbtCancelar);
}

void TestProcessos::columnExitRules_data()
{
    QTest::addColumn<bool>("inserting");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("refusal");

    QTest::newRow("insert, start before the server's day") << true << kStart << u"09032025"_s << u"Data<Atual"_s;
    QTest::newRow("insert, start on the server's day") << true << kStart << u"10032025"_s << QString();
    QTest::newRow("insert, start erased") << true << kStart << u"-"_s << QString();
    QTest::newRow("insert, end before the server's day") << true << kEnd << u"09032025"_s << u"Data<Atual"_s;
    QTest::newRow("edit, end before the server's day") << false << kEnd << u"09032025"_s << u"Data<Atual"_s;
    QTest::newRow("edit, end on the server's day") << false << kEnd << u"10032025"_s << QString();
    // The base process started a month ago: leaving its start during an edit checks nothing.
    QTest::newRow("edit, leaving a start in the past") << false << kStart << QString() << QString();
}

void TestProcessos::columnExitRules()
{
    QFETCH(bool, inserting);
    QFETCH(int, column);
    QFETCH(QString, typed);
    QFETCH(QString, refusal);
    TfrmProcessoUnidade *screen = open();
    if (inserting) {
        startNewProcess(u"Saída de coluna"_s);
        for (int i = kName; i < column; ++i) {
            m_host->key(Qt::Key_Tab);
        }
    } else {
        ScreenInHost::click(screen->sbtAlterar);
        ScreenInHost::clickCell(screen->dbgPadrao, 0, column);
    }
    QCOMPARE(screen->dbgPadrao->SelectedIndex(), column);
    typeDate(typed);
    if (!refusal.isEmpty()) {
        ModalDialogs::answerNext(u"OK"_s);
    }
    m_host->key(Qt::Key_Tab);
    if (refusal.isEmpty()) {
        QCOMPARE(ModalDialogs::shown().size(), 0);
        QCOMPARE(screen->dbgPadrao->SelectedIndex(), column + 1);
    } else {
        QCOMPARE(lastShown(), msg(refusal));
        QCOMPARE(screen->dbgPadrao->SelectedIndex(), column);
    }
    QVERIFY(screen->cdsProcessos->State() != TDataSetState::dsBrowse);
    ScreenInHost::click(screen->sbtCancelar);
}

void TestProcessos::typedDates_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("shownText"); // the text in the refusal; empty when accepted
    QTest::addColumn<QDate>("date"); // invalid: the field is null

    QTest::newRow("05/05/2025") << u"05052025"_s << QString() << QDate(2025, 5, 5);
    QTest::newRow("31/02/2024") << u"31022024"_s << u"31/02/2024"_s << QDate();
    QTest::newRow("01/01/24") << u"010124"_s << u"01/01/24  "_s << QDate();
    QTest::newRow("31/12/1899") << u"31121899"_s << u"31/12/1899"_s << QDate();
    QTest::newRow("slashes only") << u"-"_s << QString() << QDate();
}

void TestProcessos::typedDates()
{
    QFETCH(QString, keys);
    QFETCH(QString, shownText);
    QFETCH(QDate, date);
    TfrmProcessoUnidade *screen = open();
    startNewProcess(u"Datas digitadas"_s);
    m_host->key(Qt::Key_Tab);
    typeDate(keys);
    if (!shownText.isEmpty()) {
        ModalDialogs::answerNext(u"OK"_s);
    }
    m_host->key(Qt::Key_Tab);
    TField *start = screen->cdsProcessosDTINIVIGENCIA;
    if (shownText.isEmpty()) {
        QCOMPARE(ModalDialogs::shown().size(), 0);
        QCOMPARE(screen->dbgPadrao->SelectedIndex(), kEnd);
    } else {
        QCOMPARE(lastShown(), formatMessage(msg(u"DataInv"_s), shownText));
        QCOMPARE(screen->dbgPadrao->SelectedIndex(), kStart);
    }
    if (date.isValid()) {
        QCOMPARE(start->AsDateTime(), dayOf(date));
    } else {
        QVERIFY(start->IsNull());
    }
    if (!shownText.isEmpty()) {
        // The refused cell takes the date again at once, from the mask's start.
        m_host->type(u"06052025"_s);
        m_host->key(Qt::Key_Tab);
        QCOMPARE(screen->dbgPadrao->SelectedIndex(), kEnd);
        QCOMPARE(start->AsDateTime(), dayOf(QDate(2025, 5, 6)));
    }
    ScreenInHost::click(screen->sbtCancelar);
}

void TestProcessos::deletePaths_data()
{
    QTest::addColumn<QString>("activities");
    QTest::addColumn<QStringList>("answers"); // after "Sim" to ExclProcesso
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QString>("lastKey");

    const QString get = u"GetAtividades"_s;
    const QString setAtiv = u"SetAtividades"_s;
    const QString setProc = u"SetProcessos"_s;
    QTest::newRow("no activities") << QString() << QStringList() << QStringList{get, setProc} << u"ExclProcesso"_s;
    QTest::newRow("pending only, Yes") << u"PPP"_s << QStringList{u"Sim"_s} << QStringList{get, setAtiv, setProc}
                                       << u"PROC_C_ATIV"_s;
    QTest::newRow("pending only, No") << u"PPP"_s << QStringList{u"Não"_s} << QStringList{get} << u"PROC_C_ATIV"_s;
    QTest::newRow("half-concluded ones are pending")
        << u"OD"_s << QStringList{u"Não"_s} << QStringList{get} << u"PROC_C_ATIV"_s;
    QTest::newRow("executed first") << u"EPP"_s << QStringList{u"OK"_s} << QStringList{get} << u"PROC_N_EXC"_s;
    QTest::newRow("executed in the middle") << u"PEP"_s << QStringList{u"OK"_s} << QStringList{get} << u"PROC_N_EXC"_s;
    QTest::newRow("executed last") << u"PPE"_s << QStringList{u"OK"_s} << QStringList{get} << u"PROC_N_EXC"_s;
}

void TestProcessos::deletePaths()
{
    QFETCH(QString, activities);
    QFETCH(QStringList, answers);
    QFETCH(QStringList, sent);
    QFETCH(QString, lastKey);
    const qint64 process = addProcess(u"A excluir"_s, serverDay(-5));
    addActivities(process, addTask(process), activities);
    auto argument = std::make_shared<QString>();
    m_server->setOverride(u"SetAtividades"_s, [argument](const QCborArray &args, SessionHandler &server) {
        *argument = args.at(0).toString();
        return server.call(u"SetAtividades"_s, args);
    });
    TfrmProcessoUnidade *screen = open();
    ScreenInHost::clickCell(screen->dbgPadrao, 1, kSituation);
    const int rows = screen->cdsProcessos->RecordCount();
    m_server->clearCalls();
    ModalDialogs::answerNext(u"Sim"_s);
    for (const QString &answer : answers) {
        ModalDialogs::answerNext(answer);
    }
    ScreenInHost::click(screen->sbtExcluir);

    QCOMPARE(ModalDialogs::pendingAnswers(), 0);
    QCOMPARE(ModalDialogs::shown().size(), 1 + answers.size());
    QCOMPARE(lastShown(), msg(lastKey));
    QCOMPARE(sentOf({u"GetAtividades"_s, u"SetAtividades"_s, u"SetProcessos"_s}), sent);
    const bool deleted = sent.contains(u"SetProcessos"_s);
    QCOMPARE(storedCount(u"PROCESSOFILIAL"_s, u"NRPROCESSOFILIAL"_s, process), deleted ? 0 : 1);
    QCOMPARE(storedCount(u"ATIVIDADEDIA"_s, u"NRPROCESSOFILIAL"_s, process), deleted ? 0 : int(activities.size()));
    QCOMPARE(screen->cdsProcessos->RecordCount(), deleted ? rows - 1 : rows);
    QCOMPARE(screen->cdsProcessos->ChangeCount(), 0);
    QVERIFY(!screen->isEditing());
    if (sent.contains(u"SetAtividades"_s)) {
        QCOMPARE(*argument, QString::number(process));
    }
    if (lastKey == "PROC_N_EXC"_L1) {
        QCOMPARE(screen->dbgPadrao->SelectedField()->FieldName(), u"NMPROCESSOFILIAL"_s);
    }
}

void TestProcessos::failedSetAtividadesBringsTheRowBack()
{
    const qint64 process = addProcess(u"Fica"_s, serverDay(-5));
    addActivities(process, addTask(process), u"PP"_s);
    m_server->setOverride(u"SetAtividades"_s, [](const QCborArray &, SessionHandler &) -> QCborValue {
        return refusedByTest(u"Atividades presas pelo teste."_s);
    });
    TfrmProcessoUnidade *screen = open();
    ScreenInHost::clickCell(screen->dbgPadrao, 1, kName);
    const int rows = screen->cdsProcessos->RecordCount();
    m_server->clearCalls();
    for (const char *answer : {"Sim", "Sim", "OK"}) {
        ModalDialogs::answerNext(QString::fromUtf8(answer));
    }
    ScreenInHost::click(screen->sbtExcluir);

    QCOMPARE(ModalDialogs::pendingAnswers(), 0);
    QVERIFY2(lastShown().contains(u"Atividades presas pelo teste."_s), qPrintable(lastShown()));
    QCOMPARE(m_server->count(u"SetProcessos"_s), 0);
    QCOMPARE(screen->cdsProcessos->RecordCount(), rows);
    QCOMPARE(screen->cdsProcessos->ChangeCount(), 0);
    QVERIFY(screen->cdsProcessos->Locate(u"NRPROCESSOFILIAL"_s, double(process)));
    QCOMPARE(storedCount(u"PROCESSOFILIAL"_s, u"NRPROCESSOFILIAL"_s, process), 1);
}

void TestProcessos::situationPicture_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("left");
    QTest::newRow("S") << u"S"_s << true << 7;
    QTest::newRow("N") << u"N"_s << false << 5;
    QTest::newRow("blank") << u" "_s << false << 5;
    QTest::newRow("other letter") << u"X"_s << false << 5;
}

void TestProcessos::situationPicture()
{
    QFETCH(QString, situation);
    QFETCH(bool, ok);
    QFETCH(int, left);
    addProcess(u"Situação"_s, serverDay(-5), {}, situation);
    TfrmProcessoUnidade *screen = open();
    TDBGrid *grid = screen->dbgPadrao;
    // The column as the screen defines it: its 30 pixels are the cell's, the grid line lies beyond.
    QCOMPARE(grid->Columns()->Items(kSituation)->Width(), 30);
    const QRect cell = grid->cellRect(1, kSituation);
    QCOMPARE(cell.width(), 30);
    const QImage shot = grid->viewport()->grab(cell).toImage().convertToFormat(QImage::Format_RGB32);
    const QImage picture = (ok ? screen->imgOK : screen->imgRecalc)->Picture().convertToFormat(QImage::Format_RGB32);
    const QRgb background = shot.pixel(0, 0);
    const QRgb olive = qRgb(128, 128, 0);
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            QRgb expected = background;
            const int px = x - left;
            if (px >= 0 && px < picture.width() && y < picture.height() && picture.pixel(px, y) != olive) {
                expected = picture.pixel(px, y);
            }
            if (shot.pixel(x, y) != expected) {
                QFAIL(qPrintable(u"pixel (%1, %2) is %3, expected %4"_s.arg(x)
                                     .arg(y)
                                     .arg(shot.pixel(x, y), 0, 16)
                                     .arg(expected, 0, 16)));
            }
        }
    }
    // The situation is the server's to set: typing in its cell opens no editor.
    ScreenInHost::clickCell(grid, 1, kSituation);
    m_host->type(u"S"_s);
    QVERIFY(!grid->EditorMode());
    QCOMPARE(screen->cdsProcessos->State(), TDataSetState::dsBrowse);
}

void TestProcessos::lastUpdateText_data()
{
    QTest::addColumn<QString>("operatorCode");
    QTest::addColumn<QVariant>("when");
    QTest::addColumn<QString>("text");
    QTest::newRow("name and date") << u"NOVATO"_s << QVariant(DateTime::fromDate(2025, 3, 5, 14, 7, 9))
                                   << u"Operador da Loja Nova - 05/03/2025 14:07:09"_s;
    QTest::newRow("first second of a year") << u"NOVATO"_s << QVariant(DateTime::fromDate(2000, 1, 1, 0, 0, 1))
                                            << u"Operador da Loja Nova - 01/01/2000 00:00:01"_s;
    QTest::newRow("last second of a year") << u"NOVATO"_s << QVariant(DateTime::fromDate(1999, 12, 31, 23, 59, 59))
                                           << u"Operador da Loja Nova - 31/12/1999 23:59:59"_s;
    QTest::newRow("name without date") << u"NOVATO"_s << QVariant() << u"Operador da Loja Nova - 30/12/1899 00:00:00"_s;
    QTest::newRow("date without name") << QString() << QVariant(serverDay(-1)) << QString();
}

void TestProcessos::lastUpdateText()
{
    QFETCH(QString, operatorCode);
    QFETCH(QVariant, when);
    QFETCH(QString, text);
    addProcess(u"Atualizado"_s, serverDay(-5), {}, u"S"_s, operatorCode, when);
    TfrmProcessoUnidade *screen = open();
    ScreenInHost::clickCell(screen->dbgPadrao, 1, kName);
    QCOMPARE(screen->cdsProcessos->FieldByName(u"ULTATU"_s)->AsString(), text);
}

void TestProcessos::protectedDateCells_data()
{
    QTest::addColumn<bool>("saved");
    QTest::addColumn<int>("column");
    QTest::addColumn<QVariant>("storedEnd");
    QTest::addColumn<bool>("isProtected");
    QTest::newRow("start of a saved process") << true << kStart << QVariant() << true;
    QTest::newRow("end that passed") << true << kEnd << QVariant(serverDay(-1)) << true;
    QTest::newRow("end on the server's day") << true << kEnd << QVariant(serverDay()) << false;
    QTest::newRow("end still to come") << true << kEnd << QVariant(serverDay(5)) << false;
    QTest::newRow("no end") << true << kEnd << QVariant() << false;
    QTest::newRow("start of a new process") << false << kStart << QVariant() << false;
    QTest::newRow("end of a new process") << false << kEnd << QVariant() << false;
}

void TestProcessos::protectedDateCells()
{
    QFETCH(bool, saved);
    QFETCH(int, column);
    QFETCH(QVariant, storedEnd);
    QFETCH(bool, isProtected);
    addProcess(u"Datas guardadas"_s, serverDay(-20), storedEnd);
    TfrmProcessoUnidade *screen = open();
    TDBGrid *grid = screen->dbgPadrao;
    if (saved) {
        ScreenInHost::clickCell(grid, 1, column);
    } else {
        startNewProcess(u"Novo"_s);
        for (int i = kName; i < column; ++i) {
            m_host->key(Qt::Key_Tab);
        }
    }
    TField *field = grid->SelectedField();
    const QString before = field->AsString();
    const TDataSetState state = screen->cdsProcessos->State();
    m_host->key(Qt::Key_Backspace);
    m_host->key(Qt::Key_Delete);
    m_host->type(u"1"_s);
    if (isProtected) {
        QCOMPARE(screen->cdsProcessos->State(), state);
        QVERIFY(!grid->EditorMode());
        // No editor opens at all, so no key or paste route reaches the field.
        QGuiApplication::clipboard()->setText(u"01/01/2099"_s);
        m_host->key(Qt::Key_F2);
        QVERIFY(!grid->EditorMode());
        m_host->type(u"2"_s);
        m_host->key(Qt::Key_Backspace);
        m_host->key(Qt::Key_Delete);
        m_host->key(Qt::Key_V, Qt::ControlModifier);
        m_host->key(Qt::Key_Insert, Qt::ShiftModifier);
        m_host->key(Qt::Key_Return);
        QVERIFY(!grid->EditorMode());
        QCOMPARE(field->AsString(), before);
        QCOMPARE(screen->cdsProcessos->State(), state);
        m_host->key(Qt::Key_Tab);
        QCOMPARE(grid->SelectedIndex(), column + 1);
        return;
    }
    QVERIFY(grid->EditorMode());
    QVERIFY(screen->cdsProcessos->State() != TDataSetState::dsBrowse);
    ScreenInHost::click(screen->sbtCancelar);
}

void TestProcessos::redefineRepositionsThenTells_data()
{
    QTest::addColumn<bool>("byF6");
    QTest::newRow("toolbar button") << false;
    QTest::newRow("F6") << true;
}

void TestProcessos::redefineRepositionsThenTells()
{
    QFETCH(bool, byF6);
    const qint64 process = addProcess(u"Dia desatualizado"_s, serverDay(-5), {}, u"N"_s);
    addProcess(u"Depois"_s, serverDay(-5));
    TfrmProcessoUnidade *screen = open();
    ScreenInHost::clickCell(screen->dbgPadrao, 1, kName);
    QVERIFY(screen->sbtRedefinir->isEnabled());
    m_server->clearCalls();

    // The box is answered with the mouse once it is on screen, after noting what had happened by then.
    QStringList callsAtBox;
    double processAtBox = 0;
    QString situationAtBox;
    QTimer poll;
    poll.setInterval(20);
    connect(&poll, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            return;
        }
        poll.stop();
        callsAtBox = m_server->calls();
        processAtBox = screen->cdsProcessos->FieldByName(u"NRPROCESSOFILIAL"_s)->AsFloat();
        situationAtBox = screen->cdsProcessos->FieldByName(u"IDSITUACAO"_s)->AsString();
        QTest::mouseClick(box->findChild<QPushButton *>(u"OK"_s), Qt::LeftButton);
    });
    poll.start();
    if (byF6) {
        m_host->key(Qt::Key_F6);
    } else {
        ScreenInHost::click(screen->sbtRedefinir);
    }
    QTRY_VERIFY(!poll.isActive());

    QCOMPARE(ModalDialogs::shown().size(), 1);
    QCOMPARE(lastShown(), msg(u"RedefSucess"_s));
    QCOMPARE(ModalDialogs::shown().last().type, mtInformation);
    // Redefined, then reloaded before the notice: behind it the process stands up to date.
    QCOMPARE(callsAtBox.mid(0, 2), QStringList({u"RedefinirAtividadesDia"_s, u"GetProcessos"_s}));
    QCOMPARE(situationAtBox, u"S"_s);
    QCOMPARE(processAtBox, double(process));
    QCOMPARE(screen->cdsProcessos->FieldByName(u"NRPROCESSOFILIAL"_s)->AsFloat(), double(process));
    // The server now reports the day up to date: the command is no longer offered.
    QCOMPARE(screen->cdsProcessos->FieldByName(u"IDSITUACAO"_s)->AsString(), u"S"_s);
    QVERIFY(!screen->sbtRedefinir->isEnabled());
    QVERIFY(!screen->mnuRedefinir->isEnabled());
}

void TestProcessos::redefineFailureShowsNoSuccess_data()
{
    QTest::addColumn<QString>("failing");
    QTest::newRow("server refuses") << u"RedefinirAtividadesDia"_s;
    QTest::newRow("reload fails") << u"GetProcessos"_s;
}

void TestProcessos::redefineFailureShowsNoSuccess()
{
    QFETCH(QString, failing);
    const qint64 process = addProcess(u"Dia desatualizado"_s, serverDay(-5), {}, u"N"_s);
    TfrmProcessoUnidade *screen = open();
    ScreenInHost::clickCell(screen->dbgPadrao, 1, kName);
    m_server->setOverride(failing, [](const QCborArray &, SessionHandler &) -> QCborValue {
        return refusedByTest(u"Recusado pelo teste."_s);
    });
    m_server->clearCalls();
    ModalDialogs::answerNext(u"OK"_s);
    ScreenInHost::click(screen->sbtRedefinir);

    QCOMPARE(ModalDialogs::pendingAnswers(), 0);
    QCOMPARE(ModalDialogs::shown().size(), 1);
    QVERIFY2(lastShown().contains(u"Recusado pelo teste."_s), qPrintable(lastShown()));
    QCOMPARE(m_server->count(u"GetProcessos"_s), failing == "GetProcessos"_L1 ? 1 : 0);
    QCOMPARE(screen->cdsProcessos->RecordCount(), 2);
    QCOMPARE(screen->cdsProcessos->FieldByName(u"NRPROCESSOFILIAL"_s)->AsFloat(), double(process));
}

void TestProcessos::redefineAvailability_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("gridName");
    QTest::addColumn<bool>("editing");
    QTest::addColumn<bool>("available");
    QTest::newRow("N in the process grid") << u"N"_s << u"dbgPadrao"_s << false << true;
    QTest::newRow("S in the process grid") << u"S"_s << u"dbgPadrao"_s << false << false;
    QTest::newRow("lower-case n") << u"n"_s << u"dbgPadrao"_s << false << false;
    QTest::newRow("N while the task grid has the focus") << u"N"_s << u"dbgTarefas"_s << false << false;
    QTest::newRow("N while editing it") << u"N"_s << u"dbgPadrao"_s << true << false;
}

void TestProcessos::redefineAvailability()
{
    QFETCH(QString, situation);
    QFETCH(QString, gridName);
    QFETCH(bool, editing);
    QFETCH(bool, available);
    const qint64 process = addProcess(u"Disponível?"_s, serverDay(-5), {}, situation);
    addTask(process);
    TfrmProcessoUnidade *screen = open();
    ScreenInHost::clickCell(screen->dbgPadrao, 1, kName);
    auto *grid = screen->findChild<TDBGrid *>(gridName);
    ScreenInHost::clickCell(grid, grid == screen->dbgPadrao ? 1 : 0, kName);
    if (editing) {
        ScreenInHost::click(screen->sbtAlterar);
    }
    QCOMPARE(screen->sbtRedefinir->isEnabled(), available);
    QCOMPARE(screen->mnuRedefinir->isEnabled(), available);
    if (available) {
        ModalDialogs::answerNext(u"OK"_s);
    }
    m_host->key(Qt::Key_F6);
    QCOMPARE(m_server->count(u"RedefinirAtividadesDia"_s), 0 + (available ? 1 : 0));
    if (editing) {
        ScreenInHost::click(screen->sbtCancelar);
    }
}

QTEST_MAIN(TestProcessos)
#include "tst_processos.moc"
