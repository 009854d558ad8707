#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Comma-separated files as other systems and spreadsheets write them: UTF-8
// (a byte-order mark is skipped), a header row, fields in double quotes where
// they hold a separator, a quote or a line break ("" for a quote), lines
// ending in LF or CRLF. A header with semicolons and no comma makes the
// semicolon the separator, as spreadsheets set to Portuguese write it.
namespace CsvFile {
struct Record
{
    int line = 0; // where the record starts in the file, counted from 1
    QStringList fields;
};

// Every record, the header first. Throws EDatabaseError naming the line of
// text that is not UTF-8 or of a quote left open.
QList<Record> parse(const QByteArray &bytes, const QString &fileName);

// One record, fields quoted only where they must be, ending in CRLF.
QByteArray line(const QStringList &fields);
} // namespace CsvFile
