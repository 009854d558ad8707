#pragma once

#include <QByteArray>
#include <QDate>
#include <QList>

#include "ReportData.h"

// The report as a spreadsheet opens it in Brazil: UTF-8 with a byte-order
// mark, ";" between fields, CRLF between records, dates as dd/mm/aaaa, and
// quotes as RFC 4180 has them (a field with ";", a quote or a line break
// goes in quotes, its quotes doubled). One record per responsible, with its
// task and process; a task without responsibles, or a process without
// tasks, still has its record, with those fields empty.
namespace ReportCsv {
QByteArray write(const QList<Report::Process> &processes, const QDate &today);
} // namespace ReportCsv
