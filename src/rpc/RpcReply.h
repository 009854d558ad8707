#pragma once

#include <QByteArray>
#include <QCborValue>
#include <QString>

#include "rpc_export.h"

// The answer to one call: a value, or a failure with its message.
// Values on the wire: null, a number (double), a text, or a packet (a CBOR
// byte string holding an encoded data or delta packet).
struct RPC_EXPORT RpcReply
{
    bool ok = false;
    QCborValue value;
    QString error; // failure text, meant for the user; empty when ok
    QString method; // the call this answers, for the accessors' messages

    static RpcReply success(const QCborValue &value) { return {true, value, {}, {}}; }
    static RpcReply failure(const QString &message) { return {false, {}, message, {}}; }

    // The value in the form the caller expects. A failure throws
    // EDatabaseError with its message; a value of another form throws
    // EDatabaseError naming the method and what came instead.
    QByteArray packet() const; // an encoded data or delta packet
    double number() const; // null is not a number
    QString text() const;
    bool isNull() const; // a successful reply without a value
};
