#pragma once

#include "Frame.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QCborArray>
#include <QCborValue>
#include <QString>

#include <optional>

#include "rpc_export.h"

// The messages the frames carry: what each one holds, how a payload is read
// into one and how each is written (docs/protocol.md is the reference).
// QtCore only, as Frame.h, so that the fuzzers build it on their own.

// One decoded message. Which members mean something depends on kind.
struct RPC_EXPORT RpcMessage
{
    enum class Kind {
        Invalid, // not a message of this protocol; error says why
        Login, // client -> server
        Call, // client -> server
        LoginReply, // server -> client
        CallReply, // server -> client
        Error // server -> client: a failure not tied to a call
    };
    Kind kind = Kind::Invalid;
    QString type; // the "type" text as received, also for Invalid

    // Call, CallReply; also Invalid when the message was a call whose id could be read.
    std::optional<quint64> id;

    // Login
    QString server;
    QString operatorCode;
    QString password;
    QString token; // device token from an earlier login; also in a LoginReply

    // Call
    QString method;
    QCborArray args; // each a wire value (see isWireValue), numbers as doubles

    // LoginReply, CallReply, Error
    bool ok = false;
    QCborValue value; // CallReply when ok: a wire value
    QString error; // failure text; for Invalid, why it was refused
    QString unitName; // LoginReply when ok
    QString operatorName; // LoginReply when ok
};

namespace RpcWire {
// Values that travel as arguments and results: null, a finite number, a text
// or a byte string (an encoded data or delta packet).
RPC_EXPORT bool isWireValue(const QCborValue &value);
// The form every receiver hands on: integers become doubles, undefined becomes null.
RPC_EXPORT QCborValue normalized(const QCborValue &value);

// Decodes one payload. Never throws; anything that is not exactly one
// well-formed message of the protocol comes back as Kind::Invalid.
RPC_EXPORT RpcMessage parse(QByteArrayView payload);

// Whole frames, ready to write. An empty result means the message does not fit
// in a frame (over Frame::maxPayloadBytes) or carries a value that cannot travel.
RPC_EXPORT QByteArray loginFrame(const QString &server, const QString &operatorCode, const QString &password,
                                 const QString &token = {});
RPC_EXPORT QByteArray callFrame(quint64 id, const QString &method, const QCborArray &args);
RPC_EXPORT QByteArray loginReplyFrame(const QString &unitName, const QString &operatorName, const QString &token = {});
RPC_EXPORT QByteArray loginFailureFrame(const QString &error);
RPC_EXPORT QByteArray replyFrame(quint64 id, const QCborValue &value);
RPC_EXPORT QByteArray failureFrame(quint64 id, const QString &error);
RPC_EXPORT QByteArray errorFrame(const QString &error);
} // namespace RpcWire
