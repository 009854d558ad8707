#pragma once

#include <QCborArray>
#include <QCborValue>
#include <QList>
#include <QSqlQuery>
#include <QString>

#include "Packet.h"

// What every remote method shares: reading its positional arguments as they
// travel, and turning SELECT results into data packets. Arguments that do not
// fit throw EDatabaseError naming the method and the argument.
namespace RemoteCalls {

void expectCount(const QString &method, const QCborArray &args, int count);
// A key passed as a number (a double; an integer is taken as well).
qint64 numberArg(const QString &method, const QCborArray &args, int index, const QString &what);
QString textArg(const QString &method, const QCborArray &args, int index, const QString &what);
// A key written as text: plain decimal digits, a minus sign in front of a
// negative one.
qint64 keyTextArg(const QString &method, const QCborArray &args, int index, const QString &what);
DeltaPacket deltaArg(const QString &method, const QCborArray &args, int index);

// The rows of a query as a packet of fields, each read from the column of its
// name; the query is finished.
DataPacket packetFrom(QSqlQuery &query, const QList<FieldDef> &fields);
// Rows headed by the unit of their owner (column CDUNIDADE, see Fields):
// another unit's owner is refused, the row of nulls of an owner without
// children is skipped.
DataPacket ownedPacket(QSqlQuery &query, const QList<FieldDef> &fields, const QString &unit);

inline QCborValue reply(const DataPacket &packet)
{
    return QCborValue(packet.encode());
}

} // namespace RemoteCalls
