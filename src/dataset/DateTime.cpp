#include "DateTime.h"

#include "Exceptions.h"

#include <QRegularExpression>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 msPerDay = 86'400'000;

QDate epoch()
{
    return QDate(1899, 12, 30);
}

// Negative day counts keep the time of day as a positive fraction counted
// away from zero: -1.25 is 29/12/1899 06:00.
double compose(qint64 dayNumber, qint64 msOfDay)
{
    const double time = double(msOfDay) / double(msPerDay);
    return dayNumber < 0 ? double(dayNumber) - time : double(dayNumber) + time;
}

// Splits a day count into a day number and the milliseconds of that day,
// rounded to the nearest millisecond.
bool split(double days, qint64 &dayNumber, qint64 &msOfDay)
{
    if (!std::isfinite(days) || std::fabs(days) > 3.0e6) {
        return false;
    }
    const double whole = std::trunc(days);
    dayNumber = qint64(whole);
    msOfDay = std::llround(std::fabs(days - whole) * double(msPerDay));
    if (msOfDay >= msPerDay) {
        msOfDay -= msPerDay;
        dayNumber += days < 0 ? -1 : 1;
    }
    return true;
}

} // namespace

namespace DateTime {

double fromQDateTime(const QDateTime &value)
{
    if (!value.isValid()) {
        throw EDatabaseError(u"Data e hora inválidas."_s);
    }
    return compose(epoch().daysTo(value.date()), value.time().msecsSinceStartOfDay());
}

QDateTime toQDateTime(double days)
{
    qint64 dayNumber = 0;
    qint64 ms = 0;
    if (!split(days, dayNumber, ms)) {
        return {};
    }
    return QDateTime(epoch().addDays(dayNumber), QTime::fromMSecsSinceStartOfDay(int(ms)), Qt::UTC);
}

double fromDate(int year, int month, int day, int hour, int minute, int second)
{
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid()) {
        throw EDatabaseError(
            u"Data e hora inválidas: %1/%2/%3 %4:%5:%6."_s.arg(day).arg(month).arg(year).arg(hour).arg(minute).arg(
                second));
    }
    return compose(epoch().daysTo(date), time.msecsSinceStartOfDay());
}

qint64 dayNumber(const QDate &date)
{
    return epoch().daysTo(date);
}

QDate dateOfDay(qint64 day)
{
    return epoch().addDays(day);
}

double dateOnly(double days)
{
    qint64 dayNumber = 0;
    qint64 ms = 0;
    if (!split(days, dayNumber, ms)) {
        return std::trunc(days);
    }
    return double(dayNumber);
}

QString toText(double days)
{
    qint64 dayNumber = 0;
    qint64 ms = 0;
    if (!split(days, dayNumber, ms)) {
        return QString();
    }
    const QDate date = epoch().addDays(dayNumber);
    QString text = date.toString(u"dd/MM/yyyy"_s);
    const qint64 seconds = ms / 1000;
    if (seconds != 0) {
        text += u' ' + QTime::fromMSecsSinceStartOfDay(int(seconds * 1000)).toString(u"hh:mm:ss"_s);
    }
    return text;
}

std::optional<double> fromText(const QString &text)
{
    static const QRegularExpression form(
        uR"(^\s*(\d{1,2})/(\d{1,2})/(\d{4})(?:\s+(\d{1,2}):(\d{2})(?::(\d{2}))?)?\s*$)"_s);
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) {
        return std::nullopt;
    }
    const QDate date(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt());
    const QTime time(m.captured(4).isEmpty() ? 0 : m.captured(4).toInt(),
                     m.captured(5).isEmpty() ? 0 : m.captured(5).toInt(),
                     m.captured(6).isEmpty() ? 0 : m.captured(6).toInt());
    if (!date.isValid() || !time.isValid()) {
        return std::nullopt;
    }
    return compose(epoch().daysTo(date), time.msecsSinceStartOfDay());
}

std::optional<double> fromDayMonthYear(const QString &text)
{
    static const QRegularExpression form(uR"(^ *([0-9]{1,2}) */ *([0-9]{1,2}) */([0-9]{4}) *$)"_s);
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) {
        return std::nullopt;
    }
    const int year = m.captured(3).toInt();
    const QDate date(year, m.captured(2).toInt(), m.captured(1).toInt());
    if (year < 1900 || !date.isValid()) {
        return std::nullopt;
    }
    return double(epoch().daysTo(date));
}

} // namespace DateTime
