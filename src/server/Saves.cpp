#include "Saves.h"

#include <QHash>
#include <QSet>
#include <QSqlQuery>

#include <cmath>
#include <optional>

#include "Activities.h"
#include "Catalogue.h"
#include "Database.h"
#include "Exceptions.h"
#include "ServerClock.h"
#include "Sql.h"

using namespace Qt::StringLiterals;

namespace {

// Marks, in the field lists below, the fields a delta must carry.
constexpr int required = 1;

[[noreturn]] void refuse(const QString &catalogueKey)
{
    throw EDatabaseError(Catalogue::text(catalogueKey));
}

[[noreturn]] void refuseText(const QString &text)
{
    throw EDatabaseError(text);
}

// Field access by name over a delta whose field list comes from the client;
// fields we know must have the type we expect, fields we do not know (such
// as calculated ones) are ignored.
class Delta
{
public:
    // expected: the stored fields of the level; those of size 1 or more
    // (all but the server's own stamps) must be in any delta with entries,
    // so that a missing field never reads as a value to be cleared.
    Delta(const DeltaPacket &packet, const QList<FieldDef> &expected)
        : m_packet(packet)
    {
        for (qsizetype i = 0; i < packet.fields.size(); ++i) {
            m_index.insert(packet.fields.at(i).name, int(i));
        }
        for (const FieldDef &field : expected) {
            const int i = m_index.value(field.name, -1);
            if (i < 0) {
                if (field.size > 0 && !packet.entries.isEmpty()) {
                    refuseText(u"O pacote de alterações não traz o campo %1."_s.arg(field.name));
                }
                continue;
            }
            const FieldType got = packet.fields.at(i).type;
            const bool numeric = field.type != FieldType::Text;
            const bool gotNumeric = got != FieldType::Text;
            if (numeric != gotNumeric) {
                refuseText(u"O campo %1 chegou com um tipo inválido no pacote."_s.arg(field.name));
            }
        }
    }

    const QList<DeltaEntry> &entries() const { return m_packet.entries; }
    bool has(const QString &name) const { return m_index.contains(name); }

    QVariant value(const Row &row, const QString &name) const
    {
        const int i = m_index.value(name, -1);
        if (i < 0 || i >= row.size()) {
            return {};
        }
        return row.at(i);
    }

    QString text(const Row &row, const QString &name) const
    {
        const QVariant v = value(row, name);
        if (!v.isValid() || v.isNull()) {
            return {};
        }
        return v.toString();
    }

    std::optional<double> number(const Row &row, const QString &name) const
    {
        const QVariant v = value(row, name);
        if (!v.isValid() || v.isNull()) {
            return std::nullopt;
        }
        bool ok = false;
        const double d = v.toDouble(&ok);
        if (!ok || !std::isfinite(d)) {
            refuseText(u"O campo %1 chegou com um valor inválido no pacote."_s.arg(name));
        }
        return d;
    }

    // A key or an order: a whole number.
    std::optional<qint64> whole(const Row &row, const QString &name) const
    {
        const std::optional<double> d = number(row, name);
        if (!d) {
            return std::nullopt;
        }
        if (std::floor(*d) != *d || std::fabs(*d) > 9.0e15) {
            refuseText(u"O campo %1 deve ser um número inteiro."_s.arg(name));
        }
        return qint64(*d);
    }

private:
    const DeltaPacket &m_packet;
    QHash<QString, int> m_index;
};

QString storedText(const QVariant &v)
{
    return (!v.isValid() || v.isNull()) ? QString() : v.toString();
}

bool sameText(const QVariant &stored, const QVariant &original)
{
    // A blank code is stored as null; the screen may hold it as empty text.
    return storedText(stored) == storedText(original);
}

bool sameNumber(const QVariant &stored, const QVariant &original)
{
    const bool storedNull = !stored.isValid() || stored.isNull();
    const bool originalNull = !original.isValid() || original.isNull();
    if (storedNull || originalNull) {
        return storedNull == originalNull;
    }
    // Date-times travel as day counts; a few milliseconds cover rounding.
    return std::fabs(stored.toDouble() - original.toDouble()) <= 1e-6;
}

void checkSize(const QString &value, int max, const QString &field)
{
    if (value.size() > max) {
        refuseText(u"O campo %1 aceita no máximo %2 caracteres."_s.arg(field).arg(max));
    }
}

QString forUpdate(QSqlDatabase &db)
{
    // SQLite writers are already serialised by BEGIN IMMEDIATE; PostgreSQL
    // needs the row lock so that two sessions cannot both pass the check of
    // original values and then both write.
    return Database::isSQLite(db) ? QString() : u" FOR UPDATE"_s;
}

// The key of a modified or deleted row, from its original values.
qint64 existingKey(const Delta &delta, const DeltaEntry &entry, const QString &keyField)
{
    const std::optional<qint64> key = delta.whole(entry.original, keyField);
    if (!key) {
        refuseText(u"O pacote traz uma alteração sem o campo %1."_s.arg(keyField));
    }
    if (entry.kind == ChangeKind::Modified && delta.has(keyField)) {
        const std::optional<qint64> current = delta.whole(entry.current, keyField);
        if (current && *current != *key) {
            refuseText(u"O campo %1 não pode ser alterado."_s.arg(keyField));
        }
    }
    return *key;
}

// Original values of a modified or deleted row against the stored row.
void checkOriginal(const Delta &delta, const DeltaEntry &entry, const QSqlQuery &stored,
                   const QList<QPair<QString, int>> &textFields, const QList<QPair<QString, int>> &numberFields)
{
    for (const auto &[name, column] : textFields) {
        if (delta.has(name) && !sameText(stored.value(column), delta.value(entry.original, name))) {
            refuseText(Saves::conflictChangedText());
        }
    }
    for (const auto &[name, column] : numberFields) {
        if (delta.has(name) && !sameNumber(stored.value(column), delta.value(entry.original, name))) {
            refuseText(Saves::conflictChangedText());
        }
    }
}

bool hasExecuted(QSqlDatabase &db, const QString &column, qint64 key)
{
    return Sql::scalar(db, u"SELECT 1 FROM ATIVIDADEDIA WHERE %1 = ? AND NOT "_s.arg(column)
                               + Activities::notExecutedCondition(QString()),
                       {key}).isValid();
}

// ----- processes --------------------------------------------------------------

struct ProcessValues
{
    QString name;
    std::optional<double> start;
    std::optional<double> end;
};

ProcessValues readProcess(const Delta &delta, const Row &row)
{
    ProcessValues v;
    v.name = delta.text(row, u"NMPROCESSOFILIAL"_s);
    v.start = delta.number(row, u"DTINIVIGENCIA"_s);
    v.end = delta.number(row, u"DTFINVIGENCIA"_s);
    return v;
}

// The validity rules in the screen's order. storedStart is set for a row that
// exists: its start may only change while the process is not yet in force.
void checkProcess(const ProcessValues &v, std::optional<double> storedStart, double today)
{
    if (v.name.trimmed().isEmpty()) {
        refuse(u"NmProcessoNull"_s);
    }
    checkSize(v.name, 100, u"NMPROCESSOFILIAL"_s);
    const bool inserting = !storedStart.has_value();
    const bool startChanged = inserting || !v.start || std::fabs(*v.start - *storedStart) > 1e-6;
    if (!inserting && startChanged && std::floor(*storedStart) <= today) {
        refuse(u"DataIniInfNotAlt"_s);
    }
    if (startChanged) {
        if (!v.start) {
            refuse(u"DataIniVigNull"_s);
        }
        if (*v.start < today) {
            refuse(u"Data<Atual"_s);
        }
    }
    if (v.end) {
        if (*v.end < today) {
            refuse(u"Data<Atual"_s);
        }
        if (v.start && *v.end < *v.start) {
            refuse(u"DtFin>DtIni"_s);
        }
    }
}

// ----- tasks ----------------------------------------------------------------

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

void checkTask(QSqlDatabase &db, TaskValues &v)
{
    if (v.name.trimmed().isEmpty()) {
        refuse(u"NmTarefaNull"_s);
    }
    checkSize(v.name, 100, u"NMATIVIDADEFILIAL"_s);
    if (v.periodicity.trimmed().isEmpty()) {
        v.periodicity.clear();
    } else {
        // The same test as the screen's lookup: an exact code, never one
        // that is only run on request.
        const QVariant kind = Sql::scalar(db, u"SELECT IDTIPODIA FROM PERIENTR WHERE CDPERIENTR = ?"_s, {v.periodicity});
        if (!kind.isValid() || kind.toString() == u"R"_s) {
            refuse(u"CdPeriodicidadeInv"_s);
        }
    }
    checkSize(v.screen, 30, u"CDTELAATIVIDADE"_s);
    if (!v.module.trimmed().isEmpty()) {
        v.module = v.module.toUpper();
    }
    checkSize(v.module, 3, u"CDMODULOATIVIDADE"_s);
    checkSize(v.note, 4000, u"DSATIVIDADEFILIAL"_s);
}

// Locks a process of the session's unit. Returns its end of validity (null
// when open-ended).
QVariant lockProcess(QSqlDatabase &db, const Saves::Session &session, qint64 process)
{
    QSqlQuery query = Sql::exec(db, u"SELECT CDUNIDADE, DTFINVIGENCIA FROM PROCESSOFILIAL WHERE NRPROCESSOFILIAL = ?"_s
                                        + forUpdate(db),
                                {process});
    if (!query.next()) {
        refuseText(u"O processo %1 não existe; atualize a tela."_s.arg(process));
    }
    if (query.value(0).toString() != session.unit) {
        refuseText(Saves::otherUnitText());
    }
    return query.value(1);
}

// ----- responsibles ---------------------------------------------------------

struct TaskOwner
{
    qint64 process = 0;
};

// Locks a task of the session's unit; a temporary (negative) or unknown task
// number is refused.
TaskOwner lockTask(QSqlDatabase &db, const Saves::Session &session, std::optional<qint64> task)
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
    if (query.value(0).toString() != session.unit) {
        refuseText(Saves::otherUnitText());
    }
    return {query.value(1).toLongLong()};
}

struct ResponsibleValues
{
    QString op;
    QString group;
    QString executes;
    QString validates;
};

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

namespace Saves {

QString conflictChangedText()
{
    return u"O registro foi alterado por outro usuário depois que foi lido. Atualize a tela e refaça a alteração; nada foi gravado."_s;
}

QString conflictDeletedText()
{
    return u"O registro foi excluído por outro usuário depois que foi lido. Atualize a tela; nada foi gravado."_s;
}

QString otherUnitText()
{
    return u"O registro não pertence à unidade do operador conectado; nada foi gravado."_s;
}

qint64 setProcessos(QSqlDatabase &db, const Session &session, const DeltaPacket &packet)
{
    const Delta delta(packet, {
        {u"NRPROCESSOFILIAL"_s, FieldType::Number, required}, {u"NMPROCESSOFILIAL"_s, FieldType::Text, required},
        {u"DTINIVIGENCIA"_s, FieldType::DateTime, required}, {u"DTFINVIGENCIA"_s, FieldType::DateTime, required},
        {u"CDOPERATU"_s, FieldType::Text, 0}, {u"DTATUALIZACAO"_s, FieldType::DateTime, 0},
    });
    const double today = ServerClock::todayDays();
    const double now = ServerClock::nowDays();
    qint64 inserted = 0;
    QSet<qint64> touched;
    TransactionGuard guard(db);
    for (const DeltaEntry &entry : delta.entries()) {
        if (entry.kind == ChangeKind::Inserted) {
            const ProcessValues v = readProcess(delta, entry.current);
            checkProcess(v, std::nullopt, today);
            inserted = Sql::insertReturningKey(db,
                u"INSERT INTO PROCESSOFILIAL (CDUNIDADE, NMPROCESSOFILIAL, DTINIVIGENCIA, DTFINVIGENCIA, CDOPERATU, "
                "DTATUALIZACAO, IDSITUACAO) VALUES (?, ?, ?, ?, ?, ?, 'S') RETURNING NRPROCESSOFILIAL"_s,
                {session.unit, v.name, *v.start, v.end ? QVariant(*v.end) : Sql::nullNumber(), session.operatorCode, now});
            touched.insert(inserted);
            continue;
        }
        const qint64 key = existingKey(delta, entry, u"NRPROCESSOFILIAL"_s);
        QSqlQuery stored = Sql::exec(db,
            u"SELECT CDUNIDADE, NMPROCESSOFILIAL, DTINIVIGENCIA, DTFINVIGENCIA, CDOPERATU, DTATUALIZACAO "
            "FROM PROCESSOFILIAL WHERE NRPROCESSOFILIAL = ?"_s + forUpdate(db),
            {key});
        if (!stored.next()) {
            refuseText(conflictDeletedText());
        }
        if (stored.value(0).toString() != session.unit) {
            refuseText(otherUnitText());
        }
        checkOriginal(delta, entry, stored, {{u"NMPROCESSOFILIAL"_s, 1}, {u"CDOPERATU"_s, 4}},
                      {{u"DTINIVIGENCIA"_s, 2}, {u"DTFINVIGENCIA"_s, 3}, {u"DTATUALIZACAO"_s, 5}});
        const double storedStart = stored.value(2).toDouble();
        stored.finish();
        if (entry.kind == ChangeKind::Modified) {
            ProcessValues v = readProcess(delta, entry.current);
            if (!delta.has(u"DTINIVIGENCIA"_s)) {
                v.start = storedStart;
            }
            checkProcess(v, storedStart, today);
            Sql::exec(db,
                u"UPDATE PROCESSOFILIAL SET NMPROCESSOFILIAL = ?, DTINIVIGENCIA = ?, DTFINVIGENCIA = ?, CDOPERATU = ?, "
                "DTATUALIZACAO = ? WHERE NRPROCESSOFILIAL = ?"_s,
                {v.name, *v.start, v.end ? QVariant(*v.end) : Sql::nullNumber(), session.operatorCode, now, key});
            touched.insert(key);
        } else {
            if (hasExecuted(db, u"NRPROCESSOFILIAL"_s, key)) {
                refuse(u"PROC_N_EXC"_s);
            }
            // The process goes with everything under it; only pending
            // occurrences remain at this point.
            Sql::exec(db, u"DELETE FROM ATIVIDADEDIA WHERE NRPROCESSOFILIAL = ?"_s, {key});
            Sql::exec(db, u"DELETE FROM RESPATIVFILIAL WHERE NRPROCESSOFILIAL = ? OR NRATIVIDADEFILIAL IN "
                          "(SELECT NRATIVIDADEFILIAL FROM ATIVIDADEFILIAL WHERE NRPROCESSOFILIAL = ?)"_s,
                      {key, key});
            Sql::exec(db, u"DELETE FROM ATIVIDADEFILIAL WHERE NRPROCESSOFILIAL = ?"_s, {key});
            Sql::exec(db, u"DELETE FROM PROCESSOFILIAL WHERE NRPROCESSOFILIAL = ?"_s, {key});
            touched.remove(key);
        }
    }
    // New validity dates may take a process in or out of today.
    for (qint64 process : std::as_const(touched)) {
        Activities::refreshSituation(db, process, ServerClock::today());
    }
    guard.commit();
    return inserted;
}

void setTarefas(QSqlDatabase &db, const Session &session, const DeltaPacket &packet)
{
    const Delta delta(packet, {
        {u"NRATIVIDADEFILIAL"_s, FieldType::Number, required}, {u"NRPROCESSOFILIAL"_s, FieldType::Number, required},
        {u"NMATIVIDADEFILIAL"_s, FieldType::Text, required}, {u"CDTELAATIVIDADE"_s, FieldType::Text, required},
        {u"CDMODULOATIVIDADE"_s, FieldType::Text, required}, {u"CDPERIENTR"_s, FieldType::Text, required},
        {u"DSATIVIDADEFILIAL"_s, FieldType::Text, required}, {u"NRORDENAATIVIDADE"_s, FieldType::Number, required},
        {u"CDOPERATU"_s, FieldType::Text, 0},
    });
    const double today = ServerClock::todayDays();
    const double now = ServerClock::nowDays();
    QSet<qint64> touched;
    TransactionGuard guard(db);
    for (const DeltaEntry &entry : delta.entries()) {
        if (entry.kind == ChangeKind::Inserted) {
            TaskValues v = readTask(delta, entry.current);
            if (!v.process || *v.process <= 0) {
                refuseText(u"A tarefa não informa um processo gravado (NRPROCESSOFILIAL)."_s);
            }
            lockProcess(db, session, *v.process);
            checkTask(db, v);
            if (!v.order) {
                v.order = Sql::scalar(db, u"SELECT COALESCE(MAX(NRORDENAATIVIDADE), 0) + 1 FROM ATIVIDADEFILIAL WHERE NRPROCESSOFILIAL = ?"_s,
                                      {*v.process}).toLongLong();
            }
            Sql::insertReturningKey(db,
                u"INSERT INTO ATIVIDADEFILIAL (NRPROCESSOFILIAL, NMATIVIDADEFILIAL, CDTELAATIVIDADE, CDMODULOATIVIDADE, "
                "CDPERIENTR, DSATIVIDADEFILIAL, NRORDENAATIVIDADE, CDOPERATU, DTATUALIZACAO) "
                "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING NRATIVIDADEFILIAL"_s,
                {*v.process, v.name, Sql::textOrNull(v.screen), Sql::textOrNull(v.module), Sql::textOrNull(v.periodicity),
                 v.note.isEmpty() ? Sql::nullText() : QVariant(v.note), *v.order, session.operatorCode, now});
            touched.insert(*v.process);
            continue;
        }
        const qint64 key = existingKey(delta, entry, u"NRATIVIDADEFILIAL"_s);
        QSqlQuery stored = Sql::exec(db,
            u"SELECT p.CDUNIDADE, t.NRPROCESSOFILIAL, t.NMATIVIDADEFILIAL, t.CDTELAATIVIDADE, t.CDMODULOATIVIDADE, "
            "t.CDPERIENTR, t.DSATIVIDADEFILIAL, t.NRORDENAATIVIDADE, t.CDOPERATU, p.DTFINVIGENCIA "
            "FROM ATIVIDADEFILIAL t JOIN PROCESSOFILIAL p ON p.NRPROCESSOFILIAL = t.NRPROCESSOFILIAL "
            "WHERE t.NRATIVIDADEFILIAL = ?"_s + forUpdate(db),
            {key});
        if (!stored.next()) {
            refuseText(conflictDeletedText());
        }
        if (stored.value(0).toString() != session.unit) {
            refuseText(otherUnitText());
        }
        checkOriginal(delta, entry, stored,
                      {{u"NMATIVIDADEFILIAL"_s, 2}, {u"CDTELAATIVIDADE"_s, 3}, {u"CDMODULOATIVIDADE"_s, 4},
                       {u"CDPERIENTR"_s, 5}, {u"DSATIVIDADEFILIAL"_s, 6}, {u"CDOPERATU"_s, 8}},
                      {{u"NRPROCESSOFILIAL"_s, 1}, {u"NRORDENAATIVIDADE"_s, 7}});
        const qint64 process = stored.value(1).toLongLong();
        const QVariant processEnd = stored.value(9);
        stored.finish();
        if (entry.kind == ChangeKind::Modified) {
            TaskValues v = readTask(delta, entry.current);
            if (v.process && *v.process != process) {
                refuseText(u"Uma tarefa não pode ser movida para outro processo."_s);
            }
            checkTask(db, v);
            if (!v.order) {
                v.order = Sql::scalar(db, u"SELECT NRORDENAATIVIDADE FROM ATIVIDADEFILIAL WHERE NRATIVIDADEFILIAL = ?"_s, {key}).toLongLong();
            }
            Sql::exec(db,
                u"UPDATE ATIVIDADEFILIAL SET NMATIVIDADEFILIAL = ?, CDTELAATIVIDADE = ?, CDMODULOATIVIDADE = ?, CDPERIENTR = ?, "
                "DSATIVIDADEFILIAL = ?, NRORDENAATIVIDADE = ?, CDOPERATU = ?, DTATUALIZACAO = ? WHERE NRATIVIDADEFILIAL = ?"_s,
                {v.name, Sql::textOrNull(v.screen), Sql::textOrNull(v.module), Sql::textOrNull(v.periodicity),
                 v.note.isEmpty() ? Sql::nullText() : QVariant(v.note), *v.order, session.operatorCode, now, key});
        } else {
            if (hasExecuted(db, u"NRATIVIDADEFILIAL"_s, key)) {
                refuse(u"TARE_N_EXC"_s);
            }
            const bool ended = !processEnd.isNull() && processEnd.toDouble() < today;
            if (ended && Sql::scalar(db, u"SELECT 1 FROM ATIVIDADEDIA WHERE NRATIVIDADEFILIAL = ?"_s, {key}).isValid()) {
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

void setOperadores(QSqlDatabase &db, const Session &session, const DeltaPacket &packet)
{
    const Delta delta(packet, {
        {u"NRRESPATIVFILIAL"_s, FieldType::Number, required}, {u"NRATIVIDADEFILIAL"_s, FieldType::Number, required},
        {u"CDOPERADOR"_s, FieldType::Text, required}, {u"CDGRUPOPER"_s, FieldType::Text, required},
        {u"IDEXECUTA"_s, FieldType::Text, required}, {u"IDVALIDA"_s, FieldType::Text, required},
        {u"CDOPERATU"_s, FieldType::Text, 0}, {u"NRPROCESSOFILIAL"_s, FieldType::Number, 0},
    });
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
            ResponsibleValues v{delta.text(entry.current, u"CDOPERADOR"_s), delta.text(entry.current, u"CDGRUPOPER"_s),
                                delta.text(entry.current, u"IDEXECUTA"_s), delta.text(entry.current, u"IDVALIDA"_s)};
            checkResponsible(db, v, *task, -1);
            Sql::insertReturningKey(db,
                u"INSERT INTO RESPATIVFILIAL (NRATIVIDADEFILIAL, NRPROCESSOFILIAL, CDOPERADOR, CDGRUPOPER, IDEXECUTA, "
                "IDVALIDA, CDOPERATU, DTATUALIZACAO) VALUES (?, ?, ?, ?, ?, ?, ?, ?) RETURNING NRRESPATIVFILIAL"_s,
                {*task, owner.process, Sql::textOrNull(v.op), Sql::textOrNull(v.group), v.executes, v.validates,
                 session.operatorCode, now});
            continue;
        }
        const qint64 key = existingKey(delta, entry, u"NRRESPATIVFILIAL"_s);
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
        if (!stored.next() || stored.value(0).toLongLong() != task) {
            refuseText(conflictDeletedText());
        }
        checkOriginal(delta, entry, stored,
                      {{u"CDOPERADOR"_s, 1}, {u"CDGRUPOPER"_s, 2}, {u"IDEXECUTA"_s, 3}, {u"IDVALIDA"_s, 4}, {u"CDOPERATU"_s, 5}},
                      {{u"NRATIVIDADEFILIAL"_s, 0}, {u"NRPROCESSOFILIAL"_s, 6}});
        stored.finish();
        if (entry.kind == ChangeKind::Modified) {
            const std::optional<qint64> newTask = delta.whole(entry.current, u"NRATIVIDADEFILIAL"_s);
            if (newTask && *newTask != task) {
                refuseText(u"Um responsável não pode ser movido para outra tarefa."_s);
            }
            ResponsibleValues v{delta.text(entry.current, u"CDOPERADOR"_s), delta.text(entry.current, u"CDGRUPOPER"_s),
                                delta.text(entry.current, u"IDEXECUTA"_s), delta.text(entry.current, u"IDVALIDA"_s)};
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

}
