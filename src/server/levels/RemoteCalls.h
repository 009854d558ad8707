#pragma once

#include <QCborArray>
#include <QCborValue>
#include <QList>
#include <QString>

#include "Packet.h"

// What every remote method shares: reading its positional arguments as they
// travel. Arguments that do not fit throw EDatabaseError naming the method
// and the argument.
namespace RemoteCalls {

void expectCount(const QString &method, const QCborArray &args, int count);
// A key passed as a number (a double; an integer is taken as well).
qint64 numberArg(const QString &method, const QCborArray &args, int index, const QString &what);
QString textArg(const QString &method, const QCborArray &args, int index, const QString &what);
// A key written as text: plain decimal digits, a minus sign in front of a
// negative one.
qint64 keyTextArg(const QString &method, const QCborArray &args, int index, const QString &what);
// A delta packet, read an entry at a time; one of more than maxBytes bytes or
// maxRows entries is refused as too large for one save.
DeltaReader deltaArg(const QString &method, const QCborArray &args, int index, qsizetype maxBytes, qsizetype maxRows);

inline QCborValue reply(const DataPacket &packet)
{
    return QCborValue(packet.encode());
}

} // namespace RemoteCalls
