#pragma once

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

    static RpcReply success(const QCborValue &value) { return {true, value, {}}; }
    static RpcReply failure(const QString &message) { return {false, {}, message}; }
};
