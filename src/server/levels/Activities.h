#pragma once

#include <QDate>
#include <QSqlDatabase>
#include <QString>

#include <atomic>

// The scheduled occurrences of tasks (table ATIVIDADEDIA). A day's
// occurrences come from the processes valid that day and the tasks whose
// periodicity falls on it; an executed occurrence (concluding operator and
// conclusion date both filled) is never changed nor deleted.
namespace Activities {

// SQL condition, on an ATIVIDADEDIA row aliased as given, for "not executed".
QString notExecutedCondition(const QString &alias);

// Whether a periodicity (IDTIPODIA and its recurrence columns) falls on date.
// Kinds other than 'D', 'U', 'S' and 'M' ('R' among them) never do.
bool fallsOn(const QString &kind, const QString &weekDays, int monthDay, const QDate &date);

// Generates the occurrences of day for every unit, once: a day already
// generated is left alone. Runs its own transaction. Returns the number of
// occurrences created, or -1 when the day had been generated before.
int generateDay(QSqlDatabase &db, const QDate &day);

// Inside the caller's transaction: deletes the unexecuted occurrences of one
// process on day and creates those its tasks call for. Returns how many were
// created.
int regenerateProcessDay(QSqlDatabase &db, qint64 process, const QDate &day);

// Inside the caller's transaction: sets IDSITUACAO of a process to "S" when
// its occurrences of today agree with its tasks, "N" otherwise.
void refreshSituation(QSqlDatabase &db, qint64 process, const QDate &today);

// Generates today when this server has not done so yet today; cheap when it
// has. The marker is shared by every session of one server.
void ensureToday(QSqlDatabase &db, std::atomic<qint64> &lastGeneratedDay);
} // namespace Activities
