#include "ServerClock.h"

#include <atomic>

#include "DateTime.h"

namespace {
std::atomic<int> offsetDays{0};
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
    return double(DateTime::dayNumber(today()));
}

void setOffsetDaysForTesting(int days)
{
    offsetDays.store(days);
}
} // namespace ServerClock
