#include "OperadoresHandler.h"

#include <QHash>
#include <QSet>
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
    QSqlQuery query =
        Sql::exec(db,
                  u"SELECT p.CDUNIDADE, t.NRPROCESSOFILIAL FROM ATIVIDADEFILIAL t "
                  "JOIN PROCESSOFILIAL p ON p.NRPROCESSOFILIAL = t.NRPROCESSOFILIAL WHERE t.NRATIVIDADEFILIAL = ?"_s
                      + forUpdate(db),
                  {*task});
    if (!query.next()) {
        refuseText(
            u"A tarefa %1 não existe; grave a tarefa antes dos seus responsáveis e atualize a tela."_s.arg(*task));
    }
    if (query.value(u"CDUNIDADE"_s).toString() != session.unit) {
        refuseText(otherUnitText());
    }
    const TaskOwner owner{query.value(u"NRPROCESSOFILIAL"_s).toLongLong()};
    query.finish();
    return owner;
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

// What one save has learnt already: the tasks it locked, the operator and
// group codes it found, and the responsibles each task holds. A delta of many
// responsibles asks the database once for each of these, not once a row.
class SaveChecks
{
public:
    SaveChecks(QSqlDatabase &db, const Session &session)
        : m_db(db)
        , m_session(session)
    { }

    // The lock is held until the transaction ends: once a task is enough.
    TaskOwner lock(std::optional<qint64> task)
    {
        if (task) {
            if (const auto it = m_locked.constFind(*task); it != m_locked.cend()) {
                return *it;
            }
        }
        const TaskOwner owner = lockTask(m_db, m_session, task);
        m_locked.insert(*task, owner);
        return owner;
    }

    void check(ResponsibleValues &v, qint64 task, qint64 self)
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
        const bool isOperator = !v.op.isEmpty();
        const QString &code = isOperator ? v.op : v.group;
        if (!exists(isOperator, code)) {
            refuse(isOperator ? u"CdOperadorInv"_s : u"CdGrupoperInv"_s);
        }
        if (taken(task, isOperator, code, self)) {
            refuse(isOperator ? u"CdOperadorJaCad"_s : u"CdGrupoperJaCad"_s);
        }
        const QStringList flags{u"S"_s, u"N"_s};
        if (!flags.contains(v.executes) || !flags.contains(v.validates)) {
            refuseText(u"Os indicadores Executa e Valida aceitam apenas \"S\" ou \"N\"."_s);
        }
    }

    // A responsible inserted into a task whose holders are known.
    void inserted(qint64 task, const ResponsibleValues &v)
    {
        if (const auto it = m_holders.find(task); it != m_holders.end()) {
            it->insert(holderKey(!v.op.isEmpty(), v.op.isEmpty() ? v.group : v.op));
        }
    }
    // A responsible changed or deleted: the task's holders are read again.
    void changed(qint64 task) { m_holders.remove(task); }

private:
    static QString holderKey(bool isOperator, const QString &code) { return (isOperator ? u"O:"_s : u"G:"_s) + code; }

    bool exists(bool isOperator, const QString &code)
    {
        const QString key = holderKey(isOperator, code);
        if (const auto it = m_exists.constFind(key); it != m_exists.cend()) {
            return *it;
        }
        const bool found = Sql::scalar(m_db,
                                       isOperator ? u"SELECT 1 FROM OPERADOR WHERE CDOPERADOR = ?"_s
                                                  : u"SELECT 1 FROM GRUPOPER WHERE CDGRUPOPER = ?"_s,
                                       {code})
                               .isValid();
        m_exists.insert(key, found);
        return found;
    }

    // Whether another responsible of the task already is this operator or
    // group. A new row (self < 0) is looked up among the task's holders,
    // read once; a changed row asks the database, leaving itself out.
    bool taken(qint64 task, bool isOperator, const QString &code, qint64 self)
    {
        if (self >= 0) {
            return Sql::scalar(
                       m_db,
                       isOperator
                           ? u"SELECT 1 FROM RESPATIVFILIAL WHERE NRATIVIDADEFILIAL = ? AND CDOPERADOR = ? AND NRRESPATIVFILIAL <> ?"_s
                           : u"SELECT 1 FROM RESPATIVFILIAL WHERE NRATIVIDADEFILIAL = ? AND CDGRUPOPER = ? AND NRRESPATIVFILIAL <> ?"_s,
                       {task, code, self})
                .isValid();
        }
        auto it = m_holders.find(task);
        if (it == m_holders.end()) {
            QSet<QString> holders;
            QSqlQuery query = Sql::exec(
                m_db, u"SELECT CDOPERADOR, CDGRUPOPER FROM RESPATIVFILIAL WHERE NRATIVIDADEFILIAL = ?"_s, {task});
            while (query.next()) {
                if (!query.value(0).isNull()) {
                    holders.insert(holderKey(true, query.value(0).toString()));
                }
                if (!query.value(1).isNull()) {
                    holders.insert(holderKey(false, query.value(1).toString()));
                }
            }
            query.finish();
            it = m_holders.insert(task, holders);
        }
        return it->contains(holderKey(isOperator, code));
    }

    QSqlDatabase &m_db;
    const Session &m_session;
    QHash<qint64, TaskOwner> m_locked;
    QHash<QString, bool> m_exists;
    QHash<qint64, QSet<QString>> m_holders;
};

} // namespace

namespace OperadoresHandler {

QCborValue GetOperadores(RdmProcessoUnidade &session, const QCborArray &args)
{
    RemoteCalls::expectCount(u"GetOperadores"_s, args, 1);
    const qint64 task = RemoteCalls::numberArg(u"GetOperadores"_s, args, 0, u"número da tarefa"_s);
    return QCborValue(session.packet(Fields::selectOperadores, {task}, Fields::operadores(), true));
}

QCborValue SetOperadores(RdmProcessoUnidade &session, const QCborArray &args)
{
    const DeltaReader delta = session.saveArgument(u"SetOperadores"_s, args);
    save(session.db(), session.session(), delta);
    return QCborValue(0.0);
}

void save(QSqlDatabase &db, const Session &session, const DeltaReader &packet)
{
    const Delta delta(packet, Fields::definition(u"cdsOperadores"_s));
    const double now = ServerClock::nowDays();
    TransactionGuard guard(db);
    SaveChecks checks(db, session);
    for (const DeltaEntry &entry : delta.entries()) {
        if (entry.kind == ChangeKind::Inserted) {
            const std::optional<qint64> task = delta.whole(entry.current, u"NRATIVIDADEFILIAL"_s);
            const TaskOwner owner = checks.lock(task);
            const std::optional<qint64> process = delta.whole(entry.current, u"NRPROCESSOFILIAL"_s);
            if (process && *process != owner.process) {
                refuseText(u"O processo do responsável não é o processo da sua tarefa."_s);
            }
            ResponsibleValues v = readResponsible(delta, entry.current);
            checks.check(v, *task, -1);
            Sql::insertReturningKey(
                db,
                u"INSERT INTO RESPATIVFILIAL (NRATIVIDADEFILIAL, NRPROCESSOFILIAL, CDOPERADOR, CDGRUPOPER, IDEXECUTA, "
                "IDVALIDA, CDOPERATU, DTATUALIZACAO) VALUES (?, ?, ?, ?, ?, ?, ?, ?) RETURNING NRRESPATIVFILIAL"_s,
                {*task, owner.process, Sql::textOrNull(v.op), Sql::textOrNull(v.group), v.executes, v.validates,
                 session.operatorCode, now});
            checks.inserted(*task, v);
            continue;
        }
        const qint64 key = delta.existingKey(entry);
        // Every writer of responsibles locks their task first, so reading the
        // row after that lock sees the latest committed values.
        const QVariant owningTask =
            Sql::scalar(db, u"SELECT NRATIVIDADEFILIAL FROM RESPATIVFILIAL WHERE NRRESPATIVFILIAL = ?"_s, {key});
        if (!owningTask.isValid()) {
            refuseText(conflictDeletedText());
        }
        const qint64 task = owningTask.toLongLong();
        checks.lock(task);
        checks.changed(task);
        QSqlQuery stored =
            Sql::exec(db,
                      u"SELECT r.NRATIVIDADEFILIAL, r.CDOPERADOR, r.CDGRUPOPER, r.IDEXECUTA, r.IDVALIDA, r.CDOPERATU, "
                      "r.NRPROCESSOFILIAL FROM RESPATIVFILIAL r WHERE r.NRRESPATIVFILIAL = ?"_s
                          + forUpdate(db),
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
            checks.check(v, task, key);
            Sql::exec(
                db,
                u"UPDATE RESPATIVFILIAL SET CDOPERADOR = ?, CDGRUPOPER = ?, IDEXECUTA = ?, IDVALIDA = ?, CDOPERATU = ?, "
                "DTATUALIZACAO = ? WHERE NRRESPATIVFILIAL = ?"_s,
                {Sql::textOrNull(v.op), Sql::textOrNull(v.group), v.executes, v.validates, session.operatorCode, now,
                 key});
        } else {
            Sql::exec(db, u"DELETE FROM RESPATIVFILIAL WHERE NRRESPATIVFILIAL = ?"_s, {key});
        }
    }
    guard.commit();
}

} // namespace OperadoresHandler
