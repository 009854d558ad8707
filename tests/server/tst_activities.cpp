// The scheduled occurrences of tasks as the remote module keeps them: which
// deletions they forbid, what the activity methods return and delete, the
// situation of a process and its redefinition, and the generation of a day.

#include <QTest>

#include "Activities.h"
#include "Catalogue.h"
#include "ServerTestSupport.h"

using namespace ServerTest;

class TestActivities : public QObject
{
    Q_OBJECT

private slots:
    // Every test runs on each engine.
    void init() { startEngine(m_env); }
    void cleanup() { m_env.stop(); }

    void deletionRules_data() { engineRows(); }
    void deletionRules();
    void deletingAProcessTakesEverythingUnderIt_data() { engineRows(); }
    void deletingAProcessTakesEverythingUnderIt();
    void activityPackets_data() { engineRows(); }
    void activityPackets();
    void setAtividadesKeepsExecuted_data() { engineRows(); }
    void setAtividadesKeepsExecuted();
    void situationAndRedefinition_data() { engineRows(); }
    void situationAndRedefinition();
    void generationIsIdempotent_data() { engineRows(); }
    void generationIsIdempotent();
    void firstCallOfADayGeneratesIt_data() { engineRows(); }
    void firstCallOfADayGeneratesIt();

private:
    qint64 process(const QString &name, double start, const QVariant &end = {});
    qint64 task(qint64 process, const QString &name, const QString &periodicity, int order);
    qint64 responsible(qint64 process, qint64 task, const QString &op, const QString &group);
    qint64 occurrence(qint64 task, double day);
    Row taskRow(Client &client, qint64 process, qint64 task);
    Row processRow(Client &client, qint64 process);
    int occurrences(const QString &where, const QVariantList &values = {});

    Environment m_env;
};

qint64 TestActivities::process(const QString &name, double start, const QVariant &end)
{
    return m_env.insertProcess(u"0001"_s, name, start, end);
}

qint64 TestActivities::task(qint64 process, const QString &name, const QString &periodicity, int order)
{
    return m_env.insertTask(process, name, periodicity, order);
}

qint64 TestActivities::responsible(qint64 process, qint64 task, const QString &op, const QString &group)
{
    return m_env.insertResponsible(process, task, op, group);
}

qint64 TestActivities::occurrence(qint64 task, double day)
{
    return m_env
        .scalar(u"SELECT NRATIVIDADEDIA FROM ATIVIDADEDIA WHERE NRATIVIDADEFILIAL = ? AND DTATIVIDADE = ?"_s,
                {task, qint64(day)})
        .toLongLong();
}

Row TestActivities::taskRow(Client &client, qint64 process, qint64 task)
{
    const DataPacket packet = dataOf(client.call(u"GetTarefas"_s, {double(process)}));
    for (const Row &row : packet.rows) {
        if (row.at(0).toDouble() == double(task)) {
            return row;
        }
    }
    return {};
}

Row TestActivities::processRow(Client &client, qint64 process)
{
    const DataPacket packet = dataOf(client.call(u"GetProcessos"_s));
    for (const Row &row : packet.rows) {
        if (row.at(0).toDouble() == double(process)) {
            return row;
        }
    }
    return {};
}

int TestActivities::occurrences(const QString &where, const QVariantList &values)
{
    return m_env.count(u"SELECT COUNT(*) FROM ATIVIDADEDIA WHERE "_s + where, values);
}

void TestActivities::deletionRules()
{
    const double t = today();
    const qint64 p = process(u"Em vigor"_s, t - 3);
    const qint64 t1 = task(p, u"Executada hoje"_s, u"DI"_s, 1);
    const qint64 t2 = task(p, u"Pendente"_s, u"DI"_s, 2);
    responsible(p, t1, u"MARIA"_s, {});
    responsible(p, t2, {}, u"CX"_s);
    const qint64 ended = process(u"Encerrado"_s, t - 10, t - 1);
    const qint64 withPending = task(ended, u"Com atividade pendente"_s, u"DI"_s, 1);
    const qint64 withNone = task(ended, u"Sem atividades"_s, u"NU"_s, 2);
    QVERIFY(Activities::generateDay(m_env.db(), DateTime::dateOfDay(qint64(t) - 2)) > 0);
    QVERIFY(Activities::generateDay(m_env.db(), ServerClock::today()) > 0);
    Admin::markExecuted(m_env.db(), occurrence(t1, t), u"MARIA"_s, ServerClock::nowDays());

    auto client = m_env.login();
    QVERIFY(client);
    const QList<FieldDef> tf = Fields::tarefas();
    const QList<FieldDef> pf = Fields::processos();

    RpcReply reply = client->call(u"SetTarefas"_s, packetArg(deleted(tf, taskRow(*client, p, t1))));
    QCOMPARE(refusalOf(reply), Catalogue::text(u"TARE_N_EXC"_s));
    reply = client->call(u"SetProcessos"_s, packetArg(deleted(pf, processRow(*client, p))));
    QCOMPARE(refusalOf(reply), Catalogue::text(u"PROC_N_EXC"_s));

    // A task without an executed occurrence goes, with its responsibles and
    // its pending occurrences.
    QCOMPARE(occurrences(u"NRATIVIDADEFILIAL = ?"_s, {t2}), 2);
    reply = client->call(u"SetTarefas"_s, packetArg(deleted(tf, taskRow(*client, p, t2))));
    QVERIFY2(reply.ok, qPrintable(reply.error));
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM RESPATIVFILIAL WHERE NRATIVIDADEFILIAL = ?"_s, {t2}), 0);
    QCOMPARE(occurrences(u"NRATIVIDADEFILIAL = ?"_s, {t2}), 0);
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM ATIVIDADEDIA WHERE CDOPERCONCL = 'MARIA'"_s), 1);

    // An ended process: a task with scheduled occurrences stays, one
    // without any may go.
    reply = client->call(u"SetTarefas"_s, packetArg(deleted(tf, taskRow(*client, ended, withPending))));
    QCOMPARE(refusalOf(reply), Catalogue::text(u"ProcNaoVigNotAlt"_s));
    reply = client->call(u"SetTarefas"_s, packetArg(deleted(tf, taskRow(*client, ended, withNone))));
    QVERIFY2(reply.ok, qPrintable(reply.error));
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM ATIVIDADEFILIAL WHERE NRPROCESSOFILIAL = ?"_s, {ended}), 1);
}

void TestActivities::deletingAProcessTakesEverythingUnderIt()
{
    const double t = today();
    const qint64 screenWay = process(u"Excluído como a tela faz"_s, t - 1);
    const qint64 a = task(screenWay, u"A"_s, u"DI"_s, 1);
    responsible(screenWay, a, u"MARIA"_s, {});
    const qint64 direct = process(u"Excluído direto"_s, t - 1);
    const qint64 b = task(direct, u"B"_s, u"DI"_s, 1);
    responsible(direct, b, {}, u"ES"_s);
    QVERIFY(Activities::generateDay(m_env.db(), ServerClock::today()) >= 2);
    auto client = m_env.login();
    QVERIFY(client);
    const QList<FieldDef> pf = Fields::processos();

    // The screen asks for the occurrences, deletes the pending ones, then
    // sends the deletion.
    const QString number = QString::number(screenWay);
    QCOMPARE(dataOf(client->call(u"GetAtividades"_s, {number})).rows.size(), 1);
    RpcReply reply = client->call(u"SetAtividades"_s, {number});
    QVERIFY2(reply.ok, qPrintable(reply.error));
    reply = client->call(u"SetProcessos"_s, packetArg(deleted(pf, processRow(*client, screenWay))));
    QVERIFY2(reply.ok, qPrintable(reply.error));

    // Sent without SetAtividades, the pending occurrences go with it.
    reply = client->call(u"SetProcessos"_s, packetArg(deleted(pf, processRow(*client, direct))));
    QVERIFY2(reply.ok, qPrintable(reply.error));

    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM PROCESSOFILIAL"_s), 0);
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM ATIVIDADEFILIAL"_s), 0);
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM RESPATIVFILIAL"_s), 0);
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM ATIVIDADEDIA"_s), 0);
}

void TestActivities::activityPackets()
{
    const double t = today();
    const qint64 p = process(u"Processo"_s, t - 3);
    const qint64 t1 = task(p, u"Um"_s, u"DI"_s, 1);
    const qint64 t2 = task(p, u"Dois"_s, u"DI"_s, 2);
    const qint64 other = task(process(u"Outro"_s, t - 3), u"De outro processo"_s, u"DI"_s, 1);
    Activities::generateDay(m_env.db(), ServerClock::today().addDays(-1));
    Activities::generateDay(m_env.db(), ServerClock::today());
    const double when = ServerClock::nowDays() - 0.5;
    Admin::markExecuted(m_env.db(), occurrence(t1, t - 1), u"MARIA"_s, when);
    auto client = m_env.login();
    QVERIFY(client);

    const DataPacket all = dataOf(client->call(u"GetAtividades"_s, {QString::number(p)}));
    QCOMPARE(all.fields, Fields::atividades());
    QCOMPARE(all.rows.size(), 4);
    int executed = 0;
    for (const Row &row : all.rows) {
        if (!row.at(0).isNull()) {
            ++executed;
            QCOMPARE(row.at(0).toString(), u"MARIA"_s);
            QVERIFY(qAbs(row.at(1).toDouble() - when) < 1e-6);
        } else {
            QVERIFY(row.at(1).isNull());
        }
    }
    QCOMPARE(executed, 1);

    const DataPacket first = dataOf(client->call(u"GetVerifTarefas"_s, {QString::number(p), QString::number(t1)}));
    QCOMPARE(first.fields, Fields::atividades());
    QCOMPARE(first.rows.size(), 2);
    QCOMPARE(first.rows.at(0).at(0).toString(), u"MARIA"_s); // oldest first
    QCOMPARE(dataOf(client->call(u"GetVerifTarefas"_s, {QString::number(p), QString::number(t2)})).rows.size(), 2);
    const RpcReply mismatch = client->call(u"GetVerifTarefas"_s, {QString::number(p), QString::number(other)});
    QVERIFY2(refusalOf(mismatch).contains(u"não pertence"_s), qPrintable(refusalOf(mismatch)));

    // A process that no longer exists has no activities.
    QCOMPARE(dataOf(client->call(u"GetAtividades"_s, {u"999999"_s})).rows.size(), 0);
}

void TestActivities::setAtividadesKeepsExecuted()
{
    const double t = today();
    const qint64 p = process(u"Processo"_s, t - 3);
    const qint64 t1 = task(p, u"Um"_s, u"DI"_s, 1);
    const qint64 t2 = task(p, u"Dois"_s, u"DI"_s, 2);
    Activities::generateDay(m_env.db(), ServerClock::today().addDays(-1));
    Activities::generateDay(m_env.db(), ServerClock::today());
    Admin::markExecuted(m_env.db(), occurrence(t1, t - 1), u"MARIA"_s, ServerClock::nowDays());
    // Half-filled conclusions count as not executed.
    Sql::exec(m_env.db(), u"UPDATE ATIVIDADEDIA SET CDOPERCONCL = 'MARIA' WHERE NRATIVIDADEDIA = ?"_s,
              {occurrence(t2, t - 1)});
    Sql::exec(m_env.db(), u"UPDATE ATIVIDADEDIA SET DTCONCLUSAO = ? WHERE NRATIVIDADEDIA = ?"_s,
              {t, occurrence(t2, t)});
    auto client = m_env.login();
    QVERIFY(client);

    const RpcReply reply = client->call(u"SetAtividades"_s, {QString::number(p)});
    QVERIFY2(reply.ok, qPrintable(reply.error));
    QCOMPARE(reply.value.toDouble(), 3.0);
    QCOMPARE(occurrences(u"NRPROCESSOFILIAL = ?"_s, {p}), 1);
    QCOMPARE(occurrence(t1, t - 1) > 0, true);
    // Today's pending occurrence is gone: the process's day is out of date.
    QCOMPARE(processRow(*client, p).at(7).toString(), u"N"_s);
}

void TestActivities::situationAndRedefinition()
{
    const double t = today();
    const qint64 p = process(u"Processo"_s, t - 3);
    const qint64 t1 = task(p, u"Um"_s, u"DI"_s, 1);
    Activities::generateDay(m_env.db(), ServerClock::today());
    auto client = m_env.login();
    QVERIFY(client);
    QCOMPARE(processRow(*client, p).at(7).toString(), u"S"_s);
    const QList<FieldDef> tf = Fields::tarefas();

    // A daily task added today leaves the day out of date.
    RpcReply reply =
        client->call(u"SetTarefas"_s, packetArg(inserted(tf, {makeRow(tf, {{u"NRATIVIDADEFILIAL"_s, -2.0},
                                                                           {u"NRPROCESSOFILIAL"_s, double(p)},
                                                                           {u"NMATIVIDADEFILIAL"_s, u"Dois"_s},
                                                                           {u"CDPERIENTR"_s, u"DI"_s},
                                                                           {u"NRORDENAATIVIDADE"_s, 2.0}})})));
    QVERIFY2(reply.ok, qPrintable(reply.error));
    QCOMPARE(processRow(*client, p).at(7).toString(), u"N"_s);
    const qint64 t2 =
        m_env.scalar(u"SELECT NRATIVIDADEFILIAL FROM ATIVIDADEFILIAL WHERE NMATIVIDADEFILIAL = 'Dois'"_s).toLongLong();

    const qint64 done = occurrence(t1, t);
    Admin::markExecuted(m_env.db(), done, u"MARIA"_s, ServerClock::nowDays());
    reply = client->call(u"RedefinirAtividadesDia"_s, {QString::number(p), u"SUPERVISOR"_s});
    QVERIFY2(reply.ok, qPrintable(reply.error));
    QCOMPARE(processRow(*client, p).at(7).toString(), u"S"_s);
    QVERIFY(occurrence(t2, t) > 0);
    QCOMPARE(occurrence(t1, t), done); // the executed one is untouched
    QCOMPARE(m_env.scalar(u"SELECT CDOPERCONCL FROM ATIVIDADEDIA WHERE NRATIVIDADEDIA = ?"_s, {done}).toString(),
             u"MARIA"_s);
    QCOMPARE(m_env.scalar(u"SELECT CDOPERADOR FROM REDEFATIVIDADE WHERE NRPROCESSOFILIAL = ?"_s, {p}).toString(),
             u"SUPERVISOR"_s);

    // A description change leaves the day as it is.
    Row row = taskRow(*client, p, t2);
    reply = client->call(u"SetTarefas"_s,
                         packetArg(modified(tf, row, withValues(tf, row, {{u"NMATIVIDADEFILIAL"_s, u"Dois (b)"_s}}))));
    QVERIFY2(reply.ok, qPrintable(reply.error));
    QCOMPARE(processRow(*client, p).at(7).toString(), u"S"_s);

    // A periodicity that no longer falls today leaves a stray pending occurrence.
    row = taskRow(*client, p, t2);
    reply =
        client->call(u"SetTarefas"_s, packetArg(modified(tf, row, withValues(tf, row, {{u"CDPERIENTR"_s, u"NU"_s}}))));
    QVERIFY2(reply.ok, qPrintable(reply.error));
    QCOMPARE(processRow(*client, p).at(7).toString(), u"N"_s);
    reply = client->call(u"RedefinirAtividadesDia"_s, {QString::number(p), u"SUPERVISOR"_s});
    QVERIFY2(reply.ok, qPrintable(reply.error));
    QCOMPARE(occurrence(t2, t), 0);
    QCOMPARE(processRow(*client, p).at(7).toString(), u"S"_s);

    // An executed occurrence of a task that no longer falls today stays and
    // does not put the day out of date.
    row = taskRow(*client, p, t1);
    reply =
        client->call(u"SetTarefas"_s, packetArg(modified(tf, row, withValues(tf, row, {{u"CDPERIENTR"_s, u"NU"_s}}))));
    QVERIFY2(reply.ok, qPrintable(reply.error));
    QCOMPARE(processRow(*client, p).at(7).toString(), u"S"_s);
    QCOMPARE(occurrence(t1, t), done);

    QVERIFY(!client->call(u"RedefinirAtividadesDia"_s, {u"424242"_s, u"SUPERVISOR"_s}).ok);
}

void TestActivities::generationIsIdempotent()
{
    const double t = today();
    const qint64 p = process(u"Processo"_s, t - 3);
    task(p, u"Diária"_s, u"DI"_s, 1);
    task(p, u"Nunca"_s, u"NU"_s, 2);
    task(p, u"Sem periodicidade"_s, QString(), 3);
    task(process(u"Futuro"_s, t + 5), u"Diária futura"_s, u"DI"_s, 1);
    task(process(u"Encerrado"_s, t - 9, t - 1), u"Diária encerrada"_s, u"DI"_s, 1);
    QCOMPARE(Activities::generateDay(m_env.db(), ServerClock::today()), 1);
    QCOMPARE(Activities::generateDay(m_env.db(), ServerClock::today()), -1);
    QCOMPARE(occurrences(u"1 = 1"_s), 1);

    // Regenerating a process's day twice creates nothing the second time.
    TransactionGuard guard(m_env.db());
    QCOMPARE(Activities::regenerateProcessDay(m_env.db(), p, ServerClock::today()), 1);
    QCOMPARE(Activities::regenerateProcessDay(m_env.db(), p, ServerClock::today()), 1);
    guard.commit();
    QCOMPARE(occurrences(u"1 = 1"_s), 1);

    // A later session finds the day generated and adds nothing.
    auto client = m_env.login();
    QVERIFY(client);
    QVERIFY(client->call(u"GetProcessos"_s).ok);
    QCOMPARE(occurrences(u"1 = 1"_s), 1);
}

void TestActivities::firstCallOfADayGeneratesIt()
{
    const double t = today();
    const qint64 p = process(u"Processo"_s, t - 3);
    const qint64 daily = task(p, u"Diária"_s, u"DI"_s, 1);
    auto client = m_env.login();
    QVERIFY(client);
    QCOMPARE(occurrences(u"1 = 1"_s), 0); // a login alone generates nothing
    QVERIFY(client->call(u"GetDataServidor"_s).ok);
    QVERIFY(occurrence(daily, t) > 0);

    // The next day, the first call of any session generates it.
    ServerClock::setOffsetDaysForTesting(1);
    QVERIFY(client->call(u"GetDataServidor"_s).ok);
    QVERIFY(occurrence(daily, t + 1) > 0);
    QCOMPARE(m_env.count(u"SELECT COUNT(*) FROM GERACAOATIVIDADE"_s), 2);
}

QTEST_GUILESS_MAIN(TestActivities)
#include "tst_activities.moc"
