#pragma once

#include <QDate>
#include <QDateTime>

// The server's notion of now: every validity rule and the day of the
// activities use it, never a client's clock. Tests may move it by whole days.
namespace ServerClock {
QDateTime now();
QDate today();
double nowDays(); // day count with the time of day
double todayDays(); // day count at midnight
// Day count of a date (day 0 = 30/12/1899).
qint64 dayNumber(const QDate &date);
QDate dateOfDay(qint64 day);
void setOffsetDaysForTesting(int days);
} // namespace ServerClock
