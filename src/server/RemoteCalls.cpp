#include "RemoteCalls.h"

#include <QSqlRecord>

#include <cmath>

#include "Database.h"
#include "Exceptions.h"
#include "Saves.h"

using namespace Qt::StringLiterals;

namespace RemoteCalls {

void expectCount(const QString &method, const QCborArray &args, int count)
{
    if (args.size() != count) {
        throw EDatabaseError(u"%1 espera %2 argumento(s) e recebeu %3."_s.arg(method).arg(count).arg(args.size()));
    }
}

qint64 numberArg(const QString &method, const QCborArray &args, int index, const QString &what)
{
    const QCborValue value = args.at(index);
    double d = 0;
    if (value.isDouble()) {
        d = value.toDouble();
    } else if (value.isInteger()) {
        d = double(value.toInteger());
    } else {
        throw EDatabaseError(u"%1: o argumento %2 (%3) deve ser um número."_s.arg(method).arg(index + 1).arg(what));
    }
    if (!std::isfinite(d) || std::floor(d) != d || std::fabs(d) > double(PacketLimits::maxWholeNumber)) {
        throw EDatabaseError(u"%1: o argumento %2 (%3) deve ser um número inteiro."_s.arg(method).arg(index + 1).arg(what));
    }
    return qint64(d);
}

QString textArg(const QString &method, const QCborArray &args, int index, const QString &what)
{
    const QCborValue value = args.at(index);
    if (!value.isString()) {
        throw EDatabaseError(u"%1: o argumento %2 (%3) deve ser um texto."_s.arg(method).arg(index + 1).arg(what));
    }
    return value.toString();
}

qint64 keyTextArg(const QString &method, const QCborArray &args, int index, const QString &what)
{
    const QString text = textArg(method, args, index, what).trimmed();
    const qsizetype digitsFrom = text.startsWith(u'-') ? 1 : 0;
    bool digits = text.size() > digitsFrom && text.size() <= 16 + digitsFrom;
    for (qsizetype i = digitsFrom; digits && i < text.size(); ++i) {
        digits = text.at(i) >= u'0' && text.at(i) <= u'9';
    }
    if (!digits) {
        throw EDatabaseError(u"%1: o argumento %2 (%3) deve ser um número inteiro escrito em texto; recebido \"%4\"."_s
                                 .arg(method).arg(index + 1).arg(what, elidedText(text, 40)));
    }
    const qint64 key = text.toLongLong();
    if (key > PacketLimits::maxWholeNumber || key < -PacketLimits::maxWholeNumber) {
        throw EDatabaseError(u"%1: o argumento %2 (%3) passa de ±9007199254740992; recebido \"%4\"."_s
                                 .arg(method).arg(index + 1).arg(what, elidedText(text, 40)));
    }
    return key;
}

DeltaPacket deltaArg(const QString &method, const QCborArray &args, int index)
{
    const QCborValue value = args.at(index);
    if (!value.isByteArray()) {
        throw EDatabaseError(u"%1: o argumento %2 deve ser um pacote de alterações."_s.arg(method).arg(index + 1));
    }
    try {
        return DeltaPacket::decode(value.toByteArray());
    } catch (const EDatabaseError &e) {
        // The decoder's message already says "Pacote de alterações inválido: ...".
        throw EDatabaseError(u"%1: %2"_s.arg(method, e.message()));
    }
}

namespace {

// The column of each field in the query's result, by name.
QList<int> columnsOf(const QSqlQuery &query, const QList<FieldDef> &fields)
{
    const QSqlRecord record = query.record();
    QList<int> columns;
    columns.reserve(fields.size());
    for (const FieldDef &field : fields) {
        const int column = record.indexOf(field.name);
        if (column < 0) {
            throw EServerFailure(u"A consulta não traz a coluna %1."_s.arg(field.name));
        }
        columns.append(column);
    }
    return columns;
}

Row rowAt(const QSqlQuery &query, const QList<FieldDef> &fields, const QList<int> &columns)
{
    Row row;
    row.reserve(fields.size());
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const QVariant v = query.value(columns.at(i));
        if (v.isNull()) {
            row.append(QVariant());
        } else if (fields.at(i).type == FieldType::Text) {
            // Stored texts always fit; a longer one (SQLite does not
            // enforce sizes) must not break the whole reply.
            row.append(leftCharacters(v.toString(), fields.at(i).size));
        } else {
            row.append(v.toDouble());
        }
    }
    return row;
}

} // namespace

DataPacket packetFrom(QSqlQuery &query, const QList<FieldDef> &fields)
{
    DataPacket packet;
    packet.fields = fields;
    const QList<int> columns = columnsOf(query, fields);
    while (query.next()) {
        packet.rows.append(rowAt(query, fields, columns));
    }
    query.finish();
    return packet;
}

DataPacket ownedPacket(QSqlQuery &query, const QList<FieldDef> &fields, const QString &unit)
{
    DataPacket packet;
    packet.fields = fields;
    const QList<int> columns = columnsOf(query, fields);
    const int unitColumn = query.record().indexOf(u"CDUNIDADE"_s);
    if (unitColumn < 0) {
        throw EServerFailure(u"A consulta não traz a coluna CDUNIDADE."_s);
    }
    while (query.next()) {
        if (query.value(unitColumn).toString() != unit) {
            query.finish();
            throw EDatabaseError(Saves::otherUnitText());
        }
        // The key, first of the level's fields, is null only in the row of an owner without children.
        if (query.value(columns.constFirst()).isNull()) {
            continue;
        }
        packet.rows.append(rowAt(query, fields, columns));
    }
    query.finish();
    return packet;
}

} // namespace RemoteCalls
