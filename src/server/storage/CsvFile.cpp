#include "CsvFile.h"

#include <QStringDecoder>

#include "Exceptions.h"

using namespace Qt::StringLiterals;

namespace CsvFile {

QList<Record> parse(const QByteArray &bytes, const QString &fileName)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError()) {
        // The first line that does not decode, to point at it.
        int number = 1;
        for (const QByteArray &raw : bytes.split('\n')) {
            QStringDecoder check(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString decoded = check(raw);
            if (check.hasError()) {
                break;
            }
            ++number;
        }
        throw EDatabaseError(
            u"%1, linha %2: o arquivo não está em UTF-8. Nada do arquivo foi gravado."_s.arg(fileName).arg(number));
    }
    if (text.startsWith(QChar(0xFEFF))) {
        text.remove(0, 1);
    }
    const qsizetype headerEnd = text.indexOf(u'\n');
    const QStringView header = QStringView(text).left(headerEnd < 0 ? text.size() : headerEnd);
    const QChar separator = header.contains(u';') && !header.contains(u',') ? u';' : u',';

    QList<Record> records;
    Record record;
    QString field;
    bool quoted = false; // inside a quoted field
    bool fieldQuoted = false; // the current field began with a quote
    int line = 1;
    int quoteLine = 0;
    record.line = 1;
    auto endRecord = [&] {
        record.fields << field;
        field.clear();
        fieldQuoted = false;
        // A blank line is no record (files often end in one or two).
        if (!(record.fields.size() == 1 && record.fields.first().isEmpty())) {
            records << record;
        }
        record = Record{};
        record.line = line;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == u'"') {
                if (i + 1 < text.size() && text.at(i + 1) == u'"') {
                    field += u'"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                if (c == u'\n') {
                    ++line;
                }
                field += c;
            }
        } else if (c == u'"' && field.isEmpty() && !fieldQuoted) {
            quoted = true;
            fieldQuoted = true;
            quoteLine = line;
        } else if (c == separator) {
            record.fields << field;
            field.clear();
            fieldQuoted = false;
        } else if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n') {
            continue;
        } else if (c == u'\n') {
            ++line;
            endRecord();
        } else {
            field += c;
        }
    }
    if (quoted) {
        throw EDatabaseError(
            u"%1, linha %2: aspas abertas e não fechadas. Nada do arquivo foi gravado."_s.arg(fileName).arg(quoteLine));
    }
    if (!field.isEmpty() || !record.fields.isEmpty()) {
        endRecord();
    }
    return records;
}

QByteArray line(const QStringList &fields)
{
    QStringList out;
    for (const QString &field : fields) {
        if (field.contains(u',') || field.contains(u';') || field.contains(u'"') || field.contains(u'\n')
            || field.contains(u'\r')) {
            QString escaped = field;
            escaped.replace(u"\""_s, u"\"\""_s);
            out << u'"' + escaped + u'"';
        } else {
            out << field;
        }
    }
    return out.join(u',').toUtf8() + "\r\n";
}

} // namespace CsvFile
