#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>

#include "rpc_export.h"

// The frames of the application server's wire: a length, then one CBOR
// payload, cut from a byte stream (docs/protocol.md is the reference). The
// messages they carry are RpcWire.h's. QtCore only, so that the fuzzers
// build it on their own.

namespace Frame {
// A frame is a 4-byte big-endian payload length followed by the payload, one
// CBOR value. Anything longer is refused before a byte of it is buffered.
inline constexpr quint32 maxPayloadBytes = 64 * 1024 * 1024;
inline constexpr int headerBytes = 4;
// More than this many arguments in one call is refused, which also bounds the
// memory one frame can claim once decoded.
inline constexpr int maxArguments = 64;
inline constexpr int maxMethodNameLength = 256;
inline constexpr int protocolVersion = 1;
// Before login a connection may send only a login: its frame is refused past
// this size from the header alone, and each of its texts past its useful length.
inline constexpr quint32 maxLoginPayloadBytes = 4 * 1024;
inline constexpr int maxServerNameLength = 64;
inline constexpr int maxOperatorLength = 12; // the operator table's code column
inline constexpr int maxPasswordLength = 256;
inline constexpr int maxTokenLength = 256;

// Wraps a ready CBOR payload into a frame. Returns an empty array when the
// payload is over the limit.
RPC_EXPORT QByteArray wrap(QByteArrayView payload);
} // namespace Frame

// Cuts a byte stream into frames. Bytes are fed as they arrive; each call to
// next() hands out one complete payload. Memory grows only with bytes that
// actually arrived, never with a declared length, and a declared length over
// the limit is an error as soon as its four bytes are in.
class RPC_EXPORT FrameDecoder
{
public:
    enum class Status { NeedMore, Frame, Error };

    explicit FrameDecoder(quint32 maxPayloadBytes = Frame::maxPayloadBytes);

    void feed(QByteArrayView bytes);
    // Same, taking over the array when nothing is buffered (no copy).
    void feed(QByteArray &&bytes);
    // Frame: *payload holds the next payload. NeedMore: no complete frame yet.
    // Error: the stream cannot be cut any further (sticky); see errorString().
    Status next(QByteArray *payload);
    // Frames declared longer than this are refused from now on (login: small).
    void setMaxPayload(quint32 maxPayloadBytes) { m_maxPayload = maxPayloadBytes; }
    // Asked with each frame's declared length once its header is in, before
    // a byte of it is kept; false refuses the frame (an error, with why).
    void setAdmitFrame(std::function<bool(quint32 length, QString *why)> admit) { m_admit = std::move(admit); }
    // The bytes of frames handed out (and of a clear()) are zeroed in the
    // buffer while this is set: before login they may hold a password.
    void setWipesConsumed(bool wipes) { m_wipes = wipes; }

    QString errorString() const { return m_error; }
    bool hasError() const { return !m_error.isEmpty(); }
    // True while some bytes of a frame wait for the rest.
    bool hasPartialFrame() const { return m_buffer.size() > m_offset; }
    qsizetype bufferedBytes() const { return m_buffer.size() - m_offset; }
    void clear();

private:
    quint32 m_maxPayload;
    std::function<bool(quint32, QString *)> m_admit;
    bool m_pendingAdmitted = false;
    bool m_wipes = false;
    QByteArray m_buffer;
    qsizetype m_offset = 0; // start of the first unconsumed byte in m_buffer
    QString m_error;
};
