#pragma once

#include <QDate>
#include <QDateTime>

// The server's notion of now: every validity rule and the day of the
// activities use it, never a client's clock. Tests may move it by whole days.
// Day counts are DateTime's.
namespace ServerClock {
QDateTime now();
QDate today();
double nowDays(); // day count with the time of day
double todayDays(); // day count at midnight
void setOffsetDaysForTesting(int days);
} // namespace ServerClock
