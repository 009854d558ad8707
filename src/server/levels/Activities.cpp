#include "Activities.h"

#include <QSet>
#include <QSqlQuery>

#include "ServerClock.h"
#include "DateTime.h"
#include "Sql.h"

using namespace Qt::StringLiterals;

namespace {

struct DueTask
{
    qint64 process;
    qint64 task;
};

// Tasks due on day, of one process or (process 0) of every process.
QList<DueTask> dueTasks(QSqlDatabase &db, const QDate &day, qint64 process)
{
    const double d = double(DateTime::dayNumber(day));
    QString text = u"SELECT t.NRPROCESSOFILIAL, t.NRATIVIDADEFILIAL, pe.IDTIPODIA, pe.IDDIASSEMANA, pe.NRDIAMES "
                   "FROM ATIVIDADEFILIAL t "
                   "JOIN PROCESSOFILIAL p ON p.NRPROCESSOFILIAL = t.NRPROCESSOFILIAL "
                   "JOIN PERIENTR pe ON pe.CDPERIENTR = t.CDPERIENTR "
                   "WHERE p.DTINIVIGENCIA < ? AND (p.DTFINVIGENCIA IS NULL OR p.DTFINVIGENCIA >= ?)"_s;
    QVariantList values{d + 1, d};
    if (process != 0) {
        text += u" AND t.NRPROCESSOFILIAL = ?"_s;
        values << process;
    }
    QSqlQuery query = Sql::exec(db, text, values);
    QList<DueTask> due;
    while (query.next()) {
        if (Activities::fallsOn(query.value(2).toString(), query.value(3).toString(), query.value(4).toInt(), day)) {
            due.append({query.value(0).toLongLong(), query.value(1).toLongLong()});
        }
    }
    return due;
}

int insertOccurrences(QSqlDatabase &db, const QList<DueTask> &due, const QDate &day)
{
    const qint64 d = DateTime::dayNumber(day);
    int created = 0;
    for (const DueTask &item : due) {
        // The unique key on task and day makes a second insert a no-op, also
        // when two servers generate the same day at once.
        QSqlQuery query =
            Sql::exec(db,
                      u"INSERT INTO ATIVIDADEDIA (NRPROCESSOFILIAL, NRATIVIDADEFILIAL, DTATIVIDADE) VALUES (?, ?, ?) "
                      "ON CONFLICT (NRATIVIDADEFILIAL, DTATIVIDADE) DO NOTHING"_s,
                      {item.process, item.task, d});
        created += qMax(0, query.numRowsAffected());
    }
    return created;
}

} // namespace

namespace Activities {

QString notExecutedCondition(const QString &alias)
{
    const QString p = alias.isEmpty() ? QString() : alias + u'.';
    return u"(%1CDOPERCONCL IS NULL OR TRIM(%1CDOPERCONCL) = '' OR %1DTCONCLUSAO IS NULL)"_s.arg(p);
}

bool fallsOn(const QString &kind, const QString &weekDays, int monthDay, const QDate &date)
{
    if (!date.isValid()) {
        return false;
    }
    if (kind == u"D"_s) {
        return true;
    }
    if (kind == u"U"_s) {
        return date.dayOfWeek() <= 5;
    }
    if (kind == u"S"_s) {
        // Sunday first, as the seven marks are written.
        const int index = date.dayOfWeek() % 7;
        return index < weekDays.size() && weekDays.at(index) == u'S';
    }
    if (kind == u"M"_s) {
        if (monthDay < 1) {
            return false;
        }
        const int day = qMin(monthDay, date.daysInMonth());
        return date.day() == day;
    }
    return false;
}

int generateDay(QSqlDatabase &db, const QDate &day)
{
    const qint64 d = DateTime::dayNumber(day);
    TransactionGuard guard(db);
    // Claiming the day first: a second server (or session) that generates
    // the same day at once waits here and then finds it taken.
    QSqlQuery claim = Sql::exec(
        db,
        u"INSERT INTO GERACAOATIVIDADE (DTATIVIDADE, DTGERACAO) VALUES (?, ?) ON CONFLICT (DTATIVIDADE) DO NOTHING"_s,
        {d, ServerClock::nowDays()});
    const bool claimed = claim.numRowsAffected() > 0;
    claim.finish();
    if (!claimed) {
        return -1;
    }
    const int created = insertOccurrences(db, dueTasks(db, day, 0), day);
    if (day == ServerClock::today()) {
        QList<qint64> processes;
        QSqlQuery query = Sql::exec(db, u"SELECT NRPROCESSOFILIAL FROM PROCESSOFILIAL"_s);
        while (query.next()) {
            processes << query.value(0).toLongLong();
        }
        query.finish();
        for (qint64 process : std::as_const(processes)) {
            refreshSituation(db, process, day);
        }
    }
    guard.commit();
    return created;
}

int regenerateProcessDay(QSqlDatabase &db, qint64 process, const QDate &day)
{
    const qint64 d = DateTime::dayNumber(day);
    Sql::exec(db,
              u"DELETE FROM ATIVIDADEDIA WHERE NRPROCESSOFILIAL = ? AND DTATIVIDADE = ? AND "_s
                  + notExecutedCondition(QString()),
              {process, d});
    return insertOccurrences(db, dueTasks(db, day, process), day);
}

void refreshSituation(QSqlDatabase &db, qint64 process, const QDate &today)
{
    QSet<qint64> due;
    for (const DueTask &item : dueTasks(db, today, process)) {
        due.insert(item.task);
    }
    QSet<qint64> present;
    bool stray = false;
    QSqlQuery query =
        Sql::exec(db,
                  u"SELECT NRATIVIDADEFILIAL, CASE WHEN "_s + notExecutedCondition(QString())
                      + u" THEN 0 ELSE 1 END FROM ATIVIDADEDIA WHERE NRPROCESSOFILIAL = ? AND DTATIVIDADE = ?"_s,
                  {process, DateTime::dayNumber(today)});
    while (query.next()) {
        const qint64 task = query.value(0).toLongLong();
        const bool executed = query.value(1).toInt() == 1;
        present.insert(task);
        // An executed occurrence stays whatever its task became; only a
        // pending one that its task no longer calls for is out of date.
        if (!executed && !due.contains(task)) {
            stray = true;
        }
    }
    query.finish();
    bool agree = !stray;
    for (qint64 task : std::as_const(due)) {
        if (!present.contains(task)) {
            agree = false;
            break;
        }
    }
    const QString situation = agree ? u"S"_s : u"N"_s;
    Sql::exec(db, u"UPDATE PROCESSOFILIAL SET IDSITUACAO = ? WHERE NRPROCESSOFILIAL = ? AND IDSITUACAO <> ?"_s,
              {situation, process, situation});
}

void ensureToday(QSqlDatabase &db, std::atomic<qint64> &lastGeneratedDay)
{
    const qint64 today = DateTime::dayNumber(ServerClock::today());
    if (lastGeneratedDay.load() == today) {
        return;
    }
    generateDay(db, ServerClock::today());
    lastGeneratedDay.store(today);
}

} // namespace Activities
