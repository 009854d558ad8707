#include "ServerClock.h"

#include <atomic>

#include "DateTime.h"

namespace {
std::atomic<int> offsetDays{0};
const QDate dayZero(1899, 12, 30);
} // namespace

namespace ServerClock {
QDateTime now()
{
    return QDateTime::currentDateTime().addDays(offsetDays.load());
}

QDate today()
{
    return now().date();
}

double nowDays()
{
    return DateTime::fromQDateTime(now());
}

double todayDays()
{
    return double(dayNumber(today()));
}

qint64 dayNumber(const QDate &date)
{
    return dayZero.daysTo(date);
}

QDate dateOfDay(qint64 day)
{
    return dayZero.addDays(day);
}

void setOffsetDaysForTesting(int days)
{
    offsetDays.store(days);
}
} // namespace ServerClock
