#pragma once

#include <QDateTime>

#include "dataset_export.h"

// Date-times are day counts held in doubles: day 0 is 30/12/1899 00:00, the
// fraction is the time of day. These are the only conversions to Qt types.
namespace DateTime {
DATASET_EXPORT double fromQDateTime(const QDateTime &value);
DATASET_EXPORT QDateTime toQDateTime(double days);
DATASET_EXPORT double fromDate(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
// Drops the time of day.
DATASET_EXPORT double dateOnly(double days);
}
