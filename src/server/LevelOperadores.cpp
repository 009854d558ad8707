#include "LevelOperadores.h"

#include <QSqlQuery>

#include <optional>

#include "Fields.h"
#include "RdmProcessoUnidade.h"
#include "RemoteCalls.h"
#include "ServerClock.h"
#include "Sql.h"

using namespace Qt::StringLiterals;
using namespace Saves;

namespace {

struct TaskOwner
{
    qint64 process = 0;
};

// Locks a task of the session's unit; a temporary (negative) or unknown task
// number is refused.
TaskOwner lockTask(QSqlDatabase &db, const Session &session, std::optional<qint64> task)
{
    if (!task) {
        refuseText(u"O responsável não informa a sua tarefa (NRATIVIDADEFILIAL)."_s);
    }
    QSqlQuery query = Sql::exec(db,
        u"SELECT p.CDUNIDADE, t.NRPROCESSOFILIAL FROM ATIVIDADEFILIAL t "
        "JOIN PROCESSOFILIAL p ON p.NRPROCESSOFILIAL = t.NRPROCESSOFILIAL WHERE t.NRATIVIDADEFILIAL = ?"_s
            + forUpdate(db),
        {*task});
    if (!query.next()) {
        refuseText(u"A tarefa %1 não existe; grave a tarefa antes dos seus responsáveis e atualize a tela."_s.arg(*task));
    }
    if (query.value(u"CDUNIDADE"_s).toString() != session.unit) {
        refuseText(otherUnitText());
    }
    return {query.value(u"NRPROCESSOFILIAL"_s).toLongLong()};
}

struct ResponsibleValues
{
    QString op;
    QString group;
    QString executes;
    QString validates;
};

ResponsibleValues readResponsible(const Delta &delta, const Row &row)
{
    return {delta.text(row, u"CDOPERADOR"_s), delta.text(row, u"CDGRUPOPER"_s), delta.text(row, u"IDEXECUTA"_s),
            delta.text(row, u"IDVALIDA"_s)};
}

void checkResponsible(QSqlDatabase &db, ResponsibleValues &v, qint64 task, qint64 self)
{
    if (v.op.trimmed().isEmpty()) {
        v.op.clear();
    }
    if (v.group.trimmed().isEmpty()) {
        v.group.clear();
    }
    if (v.op.isEmpty() && v.group.isEmpty()) {
        refuse(u"CdOpGrupopNull"_s);
    }
    if (!v.op.isEmpty() && !v.group.isEmpty()) {
        refuseText(u"Informe um operador ou um grupo de operadores, não os dois."_s);
    }
    if (!v.op.isEmpty()) {
        if (!Sql::scalar(db, u"SELECT 1 FROM OPERADOR WHERE CDOPERADOR = ?"_s, {v.op}).isValid()) {
            refuse(u"CdOperadorInv"_s);
        }
        if (Sql::scalar(db, u"SELECT 1 FROM RESPATIVFILIAL WHERE NRATIVIDADEFILIAL = ? AND CDOPERADOR = ? AND NRRESPATIVFILIAL <> ?"_s,
                        {task, v.op, self}).isValid()) {
            refuse(u"CdOperadorJaCad"_s);
        }
    } else {
        if (!Sql::scalar(db, u"SELECT 1 FROM GRUPOPER WHERE CDGRUPOPER = ?"_s, {v.group}).isValid()) {
            refuse(u"CdGrupoperInv"_s);
        }
        if (Sql::scalar(db, u"SELECT 1 FROM RESPATIVFILIAL WHERE NRATIVIDADEFILIAL = ? AND CDGRUPOPER = ? AND NRRESPATIVFILIAL <> ?"_s,
                        {task, v.group, self}).isValid()) {
            refuse(u"CdGrupoperJaCad"_s);
        }
    }
    const QStringList flags{u"S"_s, u"N"_s};
    if (!flags.contains(v.executes) || !flags.contains(v.validates)) {
        refuseText(u"Os indicadores Executa e Valida aceitam apenas \"S\" ou \"N\"."_s);
    }
}

} // namespace

namespace LevelOperadores {

QCborValue GetOperadores(RdmProcessoUnidade &session, const QCborArray &args)
{
    RemoteCalls::expectCount(u"GetOperadores"_s, args, 1);
    const qint64 task = RemoteCalls::numberArg(u"GetOperadores"_s, args, 0, u"número da tarefa"_s);
    return RemoteCalls::reply(
        RemoteCalls::ownedPacket(session.statement(Fields::selectOperadores, {task}), Fields::operadores(), session.unit()));
}

QCborValue SetOperadores(RdmProcessoUnidade &session, const QCborArray &args)
{
    RemoteCalls::expectCount(u"SetOperadores"_s, args, 1);
    const DeltaPacket delta = RemoteCalls::deltaArg(u"SetOperadores"_s, args, 0);
    save(session.db(), session.session(), delta);
    return QCborValue(0.0);
}

void save(QSqlDatabase &db, const Session &session, const DeltaPacket &packet)
{
    const Delta delta(packet, Fields::definition(u"cdsOperadores"_s));
    const double now = ServerClock::nowDays();
    TransactionGuard guard(db);
    for (const DeltaEntry &entry : delta.entries()) {
        if (entry.kind == ChangeKind::Inserted) {
            const std::optional<qint64> task = delta.whole(entry.current, u"NRATIVIDADEFILIAL"_s);
            const TaskOwner owner = lockTask(db, session, task);
            const std::optional<qint64> process = delta.whole(entry.current, u"NRPROCESSOFILIAL"_s);
            if (process && *process != owner.process) {
                refuseText(u"O processo do responsável não é o processo da sua tarefa."_s);
            }
            ResponsibleValues v = readResponsible(delta, entry.current);
            checkResponsible(db, v, *task, -1);
            Sql::insertReturningKey(db,
                u"INSERT INTO RESPATIVFILIAL (NRATIVIDADEFILIAL, NRPROCESSOFILIAL, CDOPERADOR, CDGRUPOPER, IDEXECUTA, "
                "IDVALIDA, CDOPERATU, DTATUALIZACAO) VALUES (?, ?, ?, ?, ?, ?, ?, ?) RETURNING NRRESPATIVFILIAL"_s,
                {*task, owner.process, Sql::textOrNull(v.op), Sql::textOrNull(v.group), v.executes, v.validates,
                 session.operatorCode, now});
            continue;
        }
        const qint64 key = delta.existingKey(entry);
        // Every writer of responsibles locks their task first, so reading the
        // row after that lock sees the latest committed values.
        const QVariant owningTask = Sql::scalar(db, u"SELECT NRATIVIDADEFILIAL FROM RESPATIVFILIAL WHERE NRRESPATIVFILIAL = ?"_s, {key});
        if (!owningTask.isValid()) {
            refuseText(conflictDeletedText());
        }
        const qint64 task = owningTask.toLongLong();
        lockTask(db, session, task);
        QSqlQuery stored = Sql::exec(db,
            u"SELECT r.NRATIVIDADEFILIAL, r.CDOPERADOR, r.CDGRUPOPER, r.IDEXECUTA, r.IDVALIDA, r.CDOPERATU, "
            "r.NRPROCESSOFILIAL FROM RESPATIVFILIAL r WHERE r.NRRESPATIVFILIAL = ?"_s + forUpdate(db),
            {key});
        if (!stored.next() || stored.value(u"NRATIVIDADEFILIAL"_s).toLongLong() != task) {
            refuseText(conflictDeletedText());
        }
        delta.checkOriginal(entry, stored);
        stored.finish();
        if (entry.kind == ChangeKind::Modified) {
            const std::optional<qint64> newTask = delta.whole(entry.current, u"NRATIVIDADEFILIAL"_s);
            if (newTask && *newTask != task) {
                refuseText(u"Um responsável não pode ser movido para outra tarefa."_s);
            }
            ResponsibleValues v = readResponsible(delta, entry.current);
            checkResponsible(db, v, task, key);
            Sql::exec(db,
                u"UPDATE RESPATIVFILIAL SET CDOPERADOR = ?, CDGRUPOPER = ?, IDEXECUTA = ?, IDVALIDA = ?, CDOPERATU = ?, "
                "DTATUALIZACAO = ? WHERE NRRESPATIVFILIAL = ?"_s,
                {Sql::textOrNull(v.op), Sql::textOrNull(v.group), v.executes, v.validates, session.operatorCode, now, key});
        } else {
            Sql::exec(db, u"DELETE FROM RESPATIVFILIAL WHERE NRRESPATIVFILIAL = ?"_s, {key});
        }
    }
    guard.commit();
}

} // namespace LevelOperadores
