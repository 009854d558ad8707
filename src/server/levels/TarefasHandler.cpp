#include "TarefasHandler.h"

#include <QHash>
#include <QSet>
#include <QSqlQuery>

#include <limits>
#include <optional>

#include "Activities.h"
#include "Fields.h"
#include "RdmProcessoUnidade.h"
#include "RemoteCalls.h"
#include "ServerClock.h"
#include "Sql.h"

using namespace Qt::StringLiterals;
using namespace Saves;

namespace {

struct TaskValues
{
    std::optional<qint64> process;
    QString name;
    QString screen;
    QString module;
    QString periodicity;
    QString note;
    std::optional<qint64> order;
};

TaskValues readTask(const Delta &delta, const Row &row)
{
    TaskValues v;
    v.process = delta.whole(row, u"NRPROCESSOFILIAL"_s);
    v.name = delta.text(row, u"NMATIVIDADEFILIAL"_s);
    v.screen = delta.text(row, u"CDTELAATIVIDADE"_s);
    v.module = delta.text(row, u"CDMODULOATIVIDADE"_s);
    v.periodicity = delta.text(row, u"CDPERIENTR"_s);
    v.note = delta.text(row, u"DSATIVIDADEFILIAL"_s);
    v.order = delta.whole(row, u"NRORDENAATIVIDADE"_s);
    return v;
}

// Sizes were checked as the delta was read. usable holds the periodicity
// codes this save has looked up already.
void checkTask(QSqlDatabase &db, TaskValues &v, QHash<QString, bool> &usable)
{
    if (v.name.trimmed().isEmpty()) {
        refuse(u"NmTarefaNull"_s);
    }
    if (v.periodicity.trimmed().isEmpty()) {
        v.periodicity.clear();
    } else {
        auto it = usable.constFind(v.periodicity);
        if (it == usable.cend()) {
            // The same test as the screen's lookup: an exact code, never one
            // that is only run on request.
            const QVariant kind =
                Sql::scalar(db, u"SELECT IDTIPODIA FROM PERIENTR WHERE CDPERIENTR = ?"_s, {v.periodicity});
            it = usable.insert(v.periodicity, kind.isValid() && kind.toString() != u"R"_s);
        }
        if (!*it) {
            refuse(u"CdPeriodicidadeInv"_s);
        }
    }
    if (!v.module.trimmed().isEmpty()) {
        v.module = v.module.toUpper();
    }
}

// Locks a process of the session's unit.
void lockProcess(QSqlDatabase &db, const Session &session, qint64 process)
{
    QSqlQuery query =
        Sql::exec(db, u"SELECT CDUNIDADE FROM PROCESSOFILIAL WHERE NRPROCESSOFILIAL = ?"_s + forUpdate(db), {process});
    if (!query.next()) {
        refuseText(u"O processo %1 não existe; atualize a tela."_s.arg(process));
    }
    if (query.value(u"CDUNIDADE"_s).toString() != session.unit) {
        refuseText(otherUnitText());
    }
    query.finish();
}

QVariant noteOrNull(const QString &note)
{
    return note.isEmpty() ? Sql::nullText() : QVariant(note);
}

} // namespace

namespace TarefasHandler {

QCborValue GetTarefas(RdmProcessoUnidade &session, const QCborArray &args)
{
    RemoteCalls::expectCount(u"GetTarefas"_s, args, 1);
    const qint64 process = RemoteCalls::numberArg(u"GetTarefas"_s, args, 0, u"número do processo"_s);
    // An unknown process number gives an empty list, like a process without tasks.
    return QCborValue(session.packet(Fields::selectTarefas, {process}, Fields::tarefas(), true));
}

namespace {
// NRORDENAATIVIDADE is an INTEGER column: 32 bits on PostgreSQL, and the same
// range on SQLite, so a unit's tasks move between engines unchanged.
constexpr qint64 minOrder = std::numeric_limits<qint32>::min();
constexpr qint64 maxOrder = std::numeric_limits<qint32>::max();

void checkOrder(const std::optional<qint64> &order)
{
    if (order && (*order < minOrder || *order > maxOrder)) {
        refuseText(
            u"A ordem da tarefa (%1) está fora do intervalo de %2 a %3."_s.arg(*order).arg(minOrder).arg(maxOrder));
    }
}
} // namespace

QCborValue SetTarefas(RdmProcessoUnidade &session, const QCborArray &args)
{
    const DeltaReader delta = session.saveArgument(u"SetTarefas"_s, args);
    save(session.db(), session.session(), delta);
    return QCborValue(0.0);
}

void save(QSqlDatabase &db, const Session &session, const DeltaReader &packet)
{
    const Delta delta(packet, Fields::definition(u"cdsTarefas"_s));
    const double today = ServerClock::todayDays();
    const double now = ServerClock::nowDays();
    QSet<qint64> touched;
    // The lock is held until the transaction ends: once a process is enough.
    QSet<qint64> locked;
    QHash<QString, bool> usablePeriodicities;
    // The highest order of each process this save touched: read once, then
    // kept up to date here, so a delta of many new tasks stays linear.
    QHash<qint64, qint64> highestOrder;
    TransactionGuard guard(db);
    for (const DeltaEntry &entry : delta.entries()) {
        if (entry.kind == ChangeKind::Inserted) {
            TaskValues v = readTask(delta, entry.current);
            checkOrder(v.order);
            if (!v.process || *v.process <= 0) {
                refuseText(u"A tarefa não informa um processo gravado (NRPROCESSOFILIAL)."_s);
            }
            if (!locked.contains(*v.process)) {
                lockProcess(db, session, *v.process);
                locked.insert(*v.process);
            }
            checkTask(db, v, usablePeriodicities);
            auto highest = highestOrder.find(*v.process);
            if (highest == highestOrder.end()) {
                highest = highestOrder.insert(
                    *v.process,
                    Sql::scalar(
                        db,
                        u"SELECT COALESCE(MAX(NRORDENAATIVIDADE), 0) FROM ATIVIDADEFILIAL WHERE NRPROCESSOFILIAL = ?"_s,
                        {*v.process})
                        .toLongLong());
            }
            if (!v.order) {
                if (*highest >= maxOrder) {
                    refuseText(u"Não há mais números de ordem para as tarefas deste processo (a maior ordem é %1); "
                               "renumere as tarefas antes de incluir outra."_s.arg(*highest));
                }
                v.order = *highest + 1;
            }
            *highest = qMax(*highest, *v.order);
            Sql::insertReturningKey(
                db,
                u"INSERT INTO ATIVIDADEFILIAL (NRPROCESSOFILIAL, NMATIVIDADEFILIAL, CDTELAATIVIDADE, CDMODULOATIVIDADE, "
                "CDPERIENTR, DSATIVIDADEFILIAL, NRORDENAATIVIDADE, CDOPERATU, DTATUALIZACAO) "
                "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING NRATIVIDADEFILIAL"_s,
                {*v.process, v.name, Sql::textOrNull(v.screen), Sql::textOrNull(v.module),
                 Sql::textOrNull(v.periodicity), noteOrNull(v.note), *v.order, session.operatorCode, now});
            touched.insert(*v.process);
            continue;
        }
        const qint64 key = delta.existingKey(entry);
        QSqlQuery stored = lockStoredRow(
            db,
            u"SELECT p.CDUNIDADE, t.NRPROCESSOFILIAL, t.NMATIVIDADEFILIAL, t.CDTELAATIVIDADE, t.CDMODULOATIVIDADE, "
            "t.CDPERIENTR, t.DSATIVIDADEFILIAL, t.NRORDENAATIVIDADE, t.CDOPERATU, p.DTFINVIGENCIA "
            "FROM ATIVIDADEFILIAL t JOIN PROCESSOFILIAL p ON p.NRPROCESSOFILIAL = t.NRPROCESSOFILIAL "
            "WHERE t.NRATIVIDADEFILIAL = ?"_s,
            key, session, delta, entry);
        const qint64 process = stored.value(u"NRPROCESSOFILIAL"_s).toLongLong();
        const QVariant processEnd = stored.value(u"DTFINVIGENCIA"_s);
        stored.finish();
        if (entry.kind == ChangeKind::Modified) {
            TaskValues v = readTask(delta, entry.current);
            checkOrder(v.order);
            if (v.process && *v.process != process) {
                refuseText(u"Uma tarefa não pode ser movida para outro processo."_s);
            }
            checkTask(db, v, usablePeriodicities);
            if (!v.order) {
                v.order = Sql::scalar(
                              db, u"SELECT NRORDENAATIVIDADE FROM ATIVIDADEFILIAL WHERE NRATIVIDADEFILIAL = ?"_s, {key})
                              .toLongLong();
            }
            if (const auto highest = highestOrder.find(process); highest != highestOrder.end()) {
                *highest = qMax(*highest, *v.order);
            }
            Sql::exec(
                db,
                u"UPDATE ATIVIDADEFILIAL SET NMATIVIDADEFILIAL = ?, CDTELAATIVIDADE = ?, CDMODULOATIVIDADE = ?, CDPERIENTR = ?, "
                "DSATIVIDADEFILIAL = ?, NRORDENAATIVIDADE = ?, CDOPERATU = ?, DTATUALIZACAO = ? WHERE NRATIVIDADEFILIAL = ?"_s,
                {v.name, Sql::textOrNull(v.screen), Sql::textOrNull(v.module), Sql::textOrNull(v.periodicity),
                 noteOrNull(v.note), *v.order, session.operatorCode, now, key});
        } else {
            if (hasExecuted(db, u"NRATIVIDADEFILIAL"_s, key)) {
                refuse(u"TARE_N_EXC"_s);
            }
            const bool ended = !processEnd.isNull() && processEnd.toDouble() < today;
            if (ended
                && Sql::scalar(db, u"SELECT 1 FROM ATIVIDADEDIA WHERE NRATIVIDADEFILIAL = ?"_s, {key}).isValid()) {
                refuse(u"ProcNaoVigNotAlt"_s);
            }
            Sql::exec(db, u"DELETE FROM ATIVIDADEDIA WHERE NRATIVIDADEFILIAL = ?"_s, {key});
            Sql::exec(db, u"DELETE FROM RESPATIVFILIAL WHERE NRATIVIDADEFILIAL = ?"_s, {key});
            Sql::exec(db, u"DELETE FROM ATIVIDADEFILIAL WHERE NRATIVIDADEFILIAL = ?"_s, {key});
        }
        touched.insert(process);
    }
    // A saved change to the tasks may leave today's occurrences out of date.
    for (qint64 process : std::as_const(touched)) {
        Activities::refreshSituation(db, process, ServerClock::today());
    }
    guard.commit();
}

} // namespace TarefasHandler
