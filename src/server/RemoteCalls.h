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
DeltaPacket deltaArg(const QString &method, const QCborArray &args, int index);

inline QCborValue reply(const DataPacket &packet)
{
    return QCborValue(packet.encode());
}

} // namespace RemoteCalls
