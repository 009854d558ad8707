#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

#include "dataset_export.h"

// Date-times are day counts held in doubles: day 0 is 30/12/1899 00:00, the
// fraction is the time of day. These are the only conversions to Qt types.
// A QDateTime made here carries the wall-clock date and time with Qt::UTC, so
// that no time-zone rule (daylight-saving gaps) can shift it; invalid input
// (a date that does not exist) throws EDatabaseError.
namespace DateTime {
DATASET_EXPORT double fromQDateTime(const QDateTime &value);
DATASET_EXPORT QDateTime toQDateTime(double days);
DATASET_EXPORT double fromDate(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
// Drops the time of day.
DATASET_EXPORT double dateOnly(double days);
// The whole day count of a date, and the date of a whole day count.
DATASET_EXPORT qint64 dayNumber(const QDate &date);
DATASET_EXPORT QDate dateOfDay(qint64 day);
// dd/MM/yyyy, followed by " hh:mm:ss" when there is a time of day.
DATASET_EXPORT QString toText(double days);
// Reads d/M/yyyy with an optional " h:mm" or " h:mm:ss"; nullopt when the
// text is not a real date and time.
DATASET_EXPORT std::optional<double> fromText(const QString &text);
// A date typed as day/month/year, whatever the machine's locale: the year
// has four digits and is 1900 or later, blanks around each part are allowed,
// and the date must exist (31/02/2024 does not). nullopt otherwise.
DATASET_EXPORT std::optional<double> fromDayMonthYear(const QString &text);
} // namespace DateTime
