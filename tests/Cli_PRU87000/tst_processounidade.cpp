// The screen against the real server: first opening, the cascade of loads,
// re-positioning, saves and their failures, the server date, the end of a
// session.

#include <QtTest>

#include "DateTime.h"
#include "Exceptions.h"
#include "FrameworkServices.h"
#include "ModalDialogs.h"
#include "Packet.h"
#include "Refusal.h"
#include "ScreenTestCase.h"
#include "TButtonFlat.h"
#include "TNetConnection.h"
#include "TfrmProcessoUnidade.h"

using namespace Qt::StringLiterals;

namespace {

QList<double> column(TClientDataSet *dataSet, const QString &field)
{
    QList<double> values;
    const int index = dataSet->FieldByName(field)->Index();
    for (int row = 0; row < dataSet->RecordCount(); ++row) {
        values << dataSet->valueAt(row, index).toDouble();
    }
    return values;
}

// The working copy holds the same rows: every field of the copy agrees.
bool sameRows(TClientDataSet *rows, TClientDataSet *copy)
{
    if (rows->RecordCount() != copy->RecordCount()) {
        return false;
    }
    for (int row = 0; row < copy->RecordCount(); ++row) {
        for (TField *field : copy->Fields()) {
            if (rows->valueAt(row, rows->FieldByName(field->FieldName())->Index())
                != copy->valueAt(row, field->Index())) {
                return false;
            }
        }
    }
    return true;
}

double current(TClientDataSet *dataSet, const QString &field)
{
    return dataSet->FieldByName(field)->AsFloat();
}

} // namespace

class TestProcessoUnidade : public ScreenTestCase
{
    Q_OBJECT

private slots:
    void firstOpeningShowsTheThreeLevels();
    void movingLoadsOnlyTheLevelBelow();
    void emptyProcessListLeavesLowerGridsEmpty();
    void atualizaRepositions_data();
    void atualizaRepositions();
    void atualizaWithVanishedRowStaysOnFirst();
    void detachedLoadLoadsNothingBelow_data();
    void detachedLoadLoadsNothingBelow();
    void failedLoadKeepsContent();
    void saveWithNothingPendingSendsNothing();
    void failedDeleteWhileBrowsingBringsRowBack();
    void failedSaveWhileEditingKeepsChanges();
    void aplicaAlteracoesChoosesByName();
    void serverDateDropsTimeOfDay();
    void unreadableServerDateIsAClearError();
    void closingAfterDropDoesNotDisconnect();
    void serverStoppedMidSessionGivesClearError();
    void failedCreationLeavesNoScreen();
};

void TestProcessoUnidade::firstOpeningShowsTheThreeLevels()
{
    TfrmProcessoUnidade *screen = openAlone();
    QVERIFY(screen->netProcessoUnidade->Connected());
    QCOMPARE(screen->netProcessoUnidade->Host(), u"127.0.0.1"_s);
    QCOMPARE(screen->netProcessoUnidade->Port(), int(m_server->port()));
    QCOMPARE(m_server->calls(),
             QStringList({u"GetProcessos"_s, u"GetTarefas"_s, u"GetOperadores"_s, u"GetDataServidor"_s}));

    // Loja Centro has five processes; the screen stands on the first.
    QCOMPARE(screen->cdsProcessos->RecordCount(), 5);
    QCOMPARE(screen->cdsProcessos->RecNo(), 1);
    const double process = current(screen->cdsProcessos, u"NRPROCESSOFILIAL"_s);
    QVERIFY(screen->cdsTarefas->RecordCount() > 0);
    for (double owner : column(screen->cdsTarefas, u"NRPROCESSOFILIAL"_s)) {
        QCOMPARE(owner, process);
    }
    // Tasks in their order, the first one current with its operators.
    QList<double> orders = column(screen->cdsTarefas, u"NRORDENAATIVIDADE"_s);
    QList<double> sorted = orders;
    std::sort(sorted.begin(), sorted.end());
    QCOMPARE(orders, sorted);
    QCOMPARE(screen->cdsTarefas->RecNo(), 1);
    const double task = current(screen->cdsTarefas, u"NRATIVIDADEFILIAL"_s);
    QVERIFY(screen->cdsOperadores->RecordCount() > 0);
    for (double owner : column(screen->cdsOperadores, u"NRATIVIDADEFILIAL"_s)) {
        QCOMPARE(owner, task);
    }
    // The working copy holds exactly the operator rows.
    QVERIFY(sameRows(screen->cdsOperadores, screen->cdsVdOperadores));
    // Masks for the validity dates, and the server's day at midnight.
    QCOMPARE(screen->cdsProcessosDTINIVIGENCIA->EditMask(), DateMask());
    QCOMPARE(screen->cdsProcessosDTFINVIGENCIA->EditMask(), DateMask());
    QCOMPARE(screen->dtAtualServidor, DateTime::dateOnly(screen->dtAtualServidor));
    QVERIFY(screen->dtAtualServidor > 0);
    QVERIFY(!busyIndicatorVisible());
}

void TestProcessoUnidade::movingLoadsOnlyTheLevelBelow()
{
    TfrmProcessoUnidade *screen = openAlone();
    m_server->clearCalls();
    screen->cdsProcessos->Next();
    QCOMPARE(m_server->calls(), QStringList({u"GetTarefas"_s, u"GetOperadores"_s}));
    const double process = current(screen->cdsProcessos, u"NRPROCESSOFILIAL"_s);
    for (double owner : column(screen->cdsTarefas, u"NRPROCESSOFILIAL"_s)) {
        QCOMPARE(owner, process);
    }

    m_server->clearCalls();
    screen->cdsTarefas->Next();
    QCOMPARE(m_server->calls(), QStringList({u"GetOperadores"_s}));
    const double task = current(screen->cdsTarefas, u"NRATIVIDADEFILIAL"_s);
    for (double owner : column(screen->cdsOperadores, u"NRATIVIDADEFILIAL"_s)) {
        QCOMPARE(owner, task);
    }
    QCOMPARE(screen->dbgTarefas->Tag(), 2);
    QVERIFY(sameRows(screen->cdsOperadores, screen->cdsVdOperadores));

    // Moving in the operator grid asks the server nothing.
    m_server->clearCalls();
    screen->cdsOperadores->Last();
    QCOMPARE(m_server->calls(), QStringList());
    QCOMPARE(screen->dbgOperadores->Tag(), screen->cdsOperadores->RecNo());
}

void TestProcessoUnidade::emptyProcessListLeavesLowerGridsEmpty()
{
    m_server->login(u"NOVATO"_s);
    TfrmProcessoUnidade *screen = openAlone();
    QVERIFY(screen->cdsProcessos->Active());
    QVERIFY(screen->cdsProcessos->IsEmpty());
    QVERIFY(screen->cdsTarefas->Active());
    QVERIFY(screen->cdsTarefas->IsEmpty());
    QVERIFY(screen->cdsOperadores->Active());
    QVERIFY(screen->cdsOperadores->IsEmpty());
    QCOMPARE(m_server->count(u"GetTarefas"_s), 0);
    QCOMPARE(m_server->count(u"GetOperadores"_s), 0);
}

void TestProcessoUnidade::atualizaRepositions_data()
{
    QTest::addColumn<QString>("level");
    QTest::addColumn<QStringList>("expectedCalls");
    QTest::newRow("processes") << u"cdsProcessos"_s
                               << QStringList({u"GetProcessos"_s, u"GetTarefas"_s, u"GetOperadores"_s});
    QTest::newRow("tasks") << u"cdsTarefas"_s << QStringList({u"GetTarefas"_s, u"GetOperadores"_s});
    QTest::newRow("operators") << u"cdsOperadores"_s << QStringList({u"GetOperadores"_s});
    QTest::newRow("working copy") << u"cdsVdOperadores"_s << QStringList();
}

void TestProcessoUnidade::atualizaRepositions()
{
    QFETCH(QString, level);
    QFETCH(QStringList, expectedCalls);
    TfrmProcessoUnidade *screen = openAlone();
    // Stand on the third process, its second task, its last operator.
    screen->cdsProcessos->setRecNo(3);
    screen->cdsTarefas->setRecNo(2);
    screen->cdsOperadores->Last();
    const double process = current(screen->cdsProcessos, u"NRPROCESSOFILIAL"_s);
    const double task = current(screen->cdsTarefas, u"NRATIVIDADEFILIAL"_s);
    const double responsible = current(screen->cdsOperadores, u"NRRESPATIVFILIAL"_s);
    m_server->clearCalls();

    screen->Atualiza(screen->findChild<TClientDataSet *>(level), 0);
    QCOMPARE(m_server->calls(), expectedCalls);
    QCOMPARE(current(screen->cdsProcessos, u"NRPROCESSOFILIAL"_s), process);
    if (level == "cdsProcessos"_L1) {
        // The cascade reloads the tasks, which stand on their first row.
        QCOMPARE(screen->cdsTarefas->RecNo(), 1);
    } else {
        QCOMPARE(current(screen->cdsTarefas, u"NRATIVIDADEFILIAL"_s), task);
    }
    if (level == "cdsOperadores"_L1 || level == "cdsVdOperadores"_L1) {
        QCOMPARE(current(screen->cdsOperadores, u"NRRESPATIVFILIAL"_s), responsible);
    }
    QVERIFY(bool(screen->cdsProcessos->AfterScroll));
    QVERIFY(bool(screen->cdsTarefas->AfterScroll));
}

void TestProcessoUnidade::atualizaWithVanishedRowStaysOnFirst()
{
    TfrmProcessoUnidade *screen = openAlone();
    screen->cdsProcessos->setRecNo(2);
    const double vanished = current(screen->cdsProcessos, u"NRPROCESSOFILIAL"_s);
    const QList<double> tasksShown = column(screen->cdsTarefas, u"NRATIVIDADEFILIAL"_s);
    // The next list comes without the current process (removed elsewhere).
    m_server->setOverride(u"GetProcessos"_s, [vanished](const QCborArray &args, SessionHandler &server) {
        DataPacket packet = DataPacket::decode(server.call(u"GetProcessos"_s, args).toByteArray());
        const int index = int(std::find_if(packet.fields.cbegin(), packet.fields.cend(),
                                           [](const FieldDef &f) { return f.name == "NRPROCESSOFILIAL"_L1; })
                              - packet.fields.cbegin());
        packet.rows.removeIf([&](const Row &row) { return row.at(index).toDouble() == vanished; });
        return QCborValue(packet.encode());
    });
    m_server->clearCalls();
    screen->Atualiza(screen->cdsProcessos, 0);
    QCOMPARE(m_server->calls(), QStringList({u"GetProcessos"_s}));
    QCOMPARE(screen->cdsProcessos->RecordCount(), 4);
    QCOMPARE(screen->cdsProcessos->RecNo(), 1);
    // The levels below keep what they showed.
    QCOMPARE(column(screen->cdsTarefas, u"NRATIVIDADEFILIAL"_s), tasksShown);

    // A process without a number yet re-positions on the key given, and
    // with key 0 stays on the first process.
    m_server->clearOverrides();
    screen->Atualiza(screen->cdsProcessos, 0);
    const double third = screen->cdsProcessos->valueAt(2, 0).toDouble();
    screen->cdsProcessos->Insert();
    screen->cdsProcessos->FieldByName(u"NMPROCESSOFILIAL"_s)->setAsString(u"Sem número"_s);
    screen->cdsProcessos->Post();
    QVERIFY(screen->cdsProcessos->FieldByName(u"NRPROCESSOFILIAL"_s)->IsNull());
    screen->Atualiza(screen->cdsProcessos, third);
    QCOMPARE(current(screen->cdsProcessos, u"NRPROCESSOFILIAL"_s), third);
    QCOMPARE(screen->cdsProcessos->ChangeCount(), 0);

    screen->cdsProcessos->Insert();
    screen->cdsProcessos->FieldByName(u"NMPROCESSOFILIAL"_s)->setAsString(u"Sem número"_s);
    screen->cdsProcessos->Post();
    screen->Atualiza(screen->cdsProcessos, 0);
    QCOMPARE(screen->cdsProcessos->RecNo(), 1);
}

void TestProcessoUnidade::detachedLoadLoadsNothingBelow_data()
{
    QTest::addColumn<bool>("detach");
    QTest::addColumn<QStringList>("expectedCalls");
    QTest::newRow("attached") << false << QStringList({u"GetProcessos"_s, u"GetTarefas"_s, u"GetOperadores"_s});
    QTest::newRow("detached") << true << QStringList({u"GetProcessos"_s});
}

void TestProcessoUnidade::detachedLoadLoadsNothingBelow()
{
    QFETCH(bool, detach);
    QFETCH(QStringList, expectedCalls);
    TfrmProcessoUnidade *screen = openAlone();
    m_server->clearCalls();
    screen->GetProcessos(detach);
    QCOMPARE(m_server->calls(), expectedCalls);
    QVERIFY(bool(screen->cdsProcessos->AfterScroll));

    m_server->clearCalls();
    screen->GetTarefas(current(screen->cdsProcessos, u"NRPROCESSOFILIAL"_s), detach);
    expectedCalls = detach ? QStringList({u"GetTarefas"_s}) : QStringList({u"GetTarefas"_s, u"GetOperadores"_s});
    QCOMPARE(m_server->calls(), expectedCalls);
    QVERIFY(bool(screen->cdsTarefas->AfterScroll));
}

void TestProcessoUnidade::failedLoadKeepsContent()
{
    TfrmProcessoUnidade *screen = openAlone();
    const DataPacket before = screen->cdsProcessos->data();
    const DataPacket tasksBefore = screen->cdsTarefas->data();
    m_server->setOverride(u"GetProcessos"_s, [](const QCborArray &, SessionHandler &) -> QCborValue {
        throw EDatabaseError(u"Recusado pelo teste."_s);
    });
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, screen->GetProcessos(true));
    QCOMPARE(screen->cdsProcessos->data(), before);
    QCOMPARE(screen->cdsTarefas->data(), tasksBefore);
    QVERIFY(bool(screen->cdsProcessos->AfterScroll));
    QCOMPARE(busyIndicatorDepth(), 0);
    // A reply that is not a packet is refused the same way.
    m_server->setOverride(u"GetTarefas"_s, [](const QCborArray &, SessionHandler &) { return QCborValue(42); });
    QVERIFY_THROWS_EXCEPTION(EDatabaseError,
                             screen->GetTarefas(current(screen->cdsProcessos, u"NRPROCESSOFILIAL"_s), true));
    QCOMPARE(screen->cdsTarefas->data(), tasksBefore);
    QVERIFY(bool(screen->cdsTarefas->AfterScroll));
}

void TestProcessoUnidade::saveWithNothingPendingSendsNothing()
{
    TfrmProcessoUnidade *screen = openAlone();
    m_server->clearCalls();
    const int shown = busyIndicatorShowCount();
    QCOMPARE(screen->SetTarefas(), 0.0);
    QCOMPARE(screen->SetProcessos(), 0.0);
    QCOMPARE(screen->SetOperadores(), 0.0);
    QCOMPARE(m_server->calls(), QStringList());
    // Not even a flash of the busy indicator.
    QCOMPARE(busyIndicatorShowCount(), shown);
}

void TestProcessoUnidade::failedDeleteWhileBrowsingBringsRowBack()
{
    TfrmProcessoUnidade *screen = openAlone();
    const int tasks = screen->cdsTarefas->RecordCount();
    const double first = current(screen->cdsTarefas, u"NRATIVIDADEFILIAL"_s);
    m_server->setOverride(u"SetTarefas"_s, [](const QCborArray &, SessionHandler &) -> QCborValue {
        throw EDatabaseError(u"Recusado pelo teste."_s);
    });
    // The task passes the client's check: the server is asked about a task without activities.
    m_server->setOverride(u"GetVerifTarefas"_s, [](const QCborArray &args, SessionHandler &server) -> QCborValue {
        QCborArray none = args;
        none[1] = u"0"_s;
        return server.call(u"GetVerifTarefas"_s, none);
    });
    QVERIFY(!screen->isEditing());
    m_server->clearCalls();
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, screen->cdsTarefas->Delete());
    QCOMPARE(m_server->calls(), QStringList({u"GetVerifTarefas"_s, u"SetTarefas"_s}));
    QCOMPARE(screen->cdsTarefas->RecordCount(), tasks);
    QCOMPARE(screen->cdsTarefas->ChangeCount(), 0);
    QVERIFY(screen->cdsTarefas->Locate(u"NRATIVIDADEFILIAL"_s, first));
    QVERIFY(!busyIndicatorVisible());
    QCOMPARE(busyIndicatorDepth(), 0);
}

void TestProcessoUnidade::failedSaveWhileEditingKeepsChanges()
{
    TfrmProcessoUnidade *screen = openAlone();
    screen->dbgTarefas->setFocus();
    QTRY_COMPARE(screen->currentGrid(), screen->dbgTarefas);
    screen->cdsTarefas->Edit(); // before-edit puts the screen into editing
    QVERIFY(screen->isEditing());
    screen->cdsTarefas->FieldByName(u"NMATIVIDADEFILIAL"_s)->setAsString(u"Descrição corrigida"_s);
    screen->cdsTarefas->Post();
    m_server->setOverride(u"SetTarefas"_s, [](const QCborArray &, SessionHandler &) -> QCborValue {
        throw EDatabaseError(u"Recusado pelo teste."_s);
    });
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, screen->SetTarefas());
    QCOMPARE(screen->cdsTarefas->ChangeCount(), 1);
    QCOMPARE(screen->cdsTarefas->FieldByName(u"NMATIVIDADEFILIAL"_s)->AsString(), u"Descrição corrigida"_s);
    QVERIFY(!busyIndicatorVisible());

    // Corrected on the server side, the same changes go through.
    m_server->clearOverrides();
    const double process = current(screen->cdsProcessos, u"NRPROCESSOFILIAL"_s);
    QCOMPARE(screen->SetTarefas(), process);
    QCOMPARE(screen->cdsTarefas->ChangeCount(), 0);
    QVERIFY(LocalCache::instance()->changedTables().contains(u"ATIVIDADEFILIAL"_s));
}

void TestProcessoUnidade::aplicaAlteracoesChoosesByName()
{
    TfrmProcessoUnidade *screen = openAlone();
    screen->cdsOperadores->Edit();
    screen->cdsOperadores->FieldByName(u"IDVALIDA"_s)->setAsString(u"S"_s);
    screen->cdsOperadores->Post();
    m_server->clearCalls();
    QCOMPARE(screen->AplicaAlteracoes(screen->cdsVdOperadores), 0.0);
    QCOMPARE(screen->AplicaAlteracoes(nullptr), 0.0);
    QCOMPARE(m_server->calls(), QStringList());
    screen->AplicaAlteracoes(screen->cdsOperadores);
    QCOMPARE(m_server->calls(), QStringList({u"SetOperadores"_s}));
    QCOMPARE(screen->cdsOperadores->ChangeCount(), 0);
}

void TestProcessoUnidade::serverDateDropsTimeOfDay()
{
    m_server->setOverride(u"GetDataServidor"_s, [](const QCborArray &, SessionHandler &) {
        return QCborValue(DateTime::fromDate(2026, 12, 6, 15, 30));
    });
    TfrmProcessoUnidade *screen = openAlone();
    QCOMPARE(screen->dtAtualServidor, DateTime::fromDate(2026, 12, 6));
    QCOMPARE(screen->GetDataAtualServidor(), DateTime::fromDate(2026, 12, 6));
}

void TestProcessoUnidade::unreadableServerDateIsAClearError()
{
    TfrmProcessoUnidade *screen = openAlone();
    m_server->setOverride(u"GetDataServidor"_s,
                          [](const QCborArray &, SessionHandler &) { return QCborValue(u"amanhã"_s); });
    QVERIFY(saysWhy(refusalOf([&] { screen->GetDataAtualServidor(); })));
}

void TestProcessoUnidade::closingAfterDropDoesNotDisconnect()
{
    TfrmProcessoUnidade *screen = openAlone();
    m_server->stop();
    // The next call finds the connection gone.
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, screen->GetDataAtualServidor());
    QVERIFY(!screen->netProcessoUnidade->Connected());
    int disconnections = 0;
    screen->netProcessoUnidade->AfterDisconnect = [&disconnections](QObject *) { ++disconnections; };
    screen->close();
    QCOMPARE(disconnections, 0);
    QTRY_VERIFY(!this->screen()); // gone with its window
}

void TestProcessoUnidade::serverStoppedMidSessionGivesClearError()
{
    TfrmProcessoUnidade *screen = openAlone();
    screen->dbgPadrao->setFocus();
    QTRY_COMPARE(screen->currentGrid(), screen->dbgPadrao);
    const int processes = screen->cdsProcessos->RecordCount();
    m_server->stop();
    ModalDialogs::answerNext(u"OK"_s);
    QElapsedTimer clock;
    clock.start();
    screen->sbtVerificar->click();
    QVERIFY(clock.elapsed() < 20000);
    const QList<DialogRecord> shown = ModalDialogs::shown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().kind, DialogKind::Error);
    QVERIFY(!shown.first().text.trimmed().isEmpty());
    // The screen stays usable and shows what it showed.
    QCOMPARE(screen->cdsProcessos->RecordCount(), processes);
    QVERIFY(!busyIndicatorVisible());
    QVERIFY(bool(screen->cdsProcessos->AfterScroll));
}

void TestProcessoUnidade::failedCreationLeavesNoScreen()
{
    m_server->stop();
    const int before = int(QApplication::topLevelWidgets().size());
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, TfrmPadraoGrid::create<TfrmProcessoUnidade>(nullptr));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(int(QApplication::topLevelWidgets().size()), before);
}

QTEST_MAIN(TestProcessoUnidade)
#include "tst_processounidade.moc"
