// Feeds arbitrary bytes to the wire's frame decoder, cut into pieces of a size
// the input chooses, and every frame that comes out to the message parser; the
// input is also parsed whole as one payload. A message that parses must be
// built again by our own encoders into the same message (the packets an
// argument carries have fuzzers of their own, fuzz_datapacket and
// fuzz_deltapacket, which reach far more of them). A crash, an unexpected exception
// or a message that changes on the way back stops the fuzzer.
#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "RpcWire.h"

namespace {

[[noreturn]] void fail(const char *why)
{
    std::fprintf(stderr, "%s\n", why);
    std::abort();
}

QByteArray rebuild(const RpcMessage &m)
{
    switch (m.kind) {
    case RpcMessage::Kind::Login:
        return RpcWire::loginFrame(m.server, m.operatorCode, m.password);
    case RpcMessage::Kind::Call:
        return RpcWire::callFrame(*m.id, m.method, m.args);
    case RpcMessage::Kind::LoginReply:
        return m.ok ? RpcWire::loginReplyFrame(m.unitName, m.operatorName) : RpcWire::loginFailureFrame(m.error);
    case RpcMessage::Kind::CallReply:
        return m.ok ? RpcWire::replyFrame(*m.id, m.value) : RpcWire::failureFrame(*m.id, m.error);
    case RpcMessage::Kind::Error:
        return RpcWire::errorFrame(m.error);
    case RpcMessage::Kind::Invalid:
        break;
    }
    return {};
}

bool same(const RpcMessage &a, const RpcMessage &b)
{
    return a.kind == b.kind && a.id == b.id && a.server == b.server && a.operatorCode == b.operatorCode
           && a.password == b.password && a.method == b.method && a.args == b.args && a.ok == b.ok
           && (a.ok ? a.value == b.value : a.error == b.error) && a.unitName == b.unitName
           && a.operatorName == b.operatorName;
}

void checkMessage(QByteArrayView payload)
{
    const RpcMessage m = RpcWire::parse(payload);
    if (m.kind == RpcMessage::Kind::Invalid) {
        if (m.error.isEmpty()) {
            fail("a refused message without a reason");
        }
        return;
    }
    if (m.args.size() > Frame::maxArguments) {
        fail("more arguments than the limit");
    }
    for (const QCborValue &arg : m.args) {
        if (!RpcWire::isWireValue(arg) || arg.isInteger() || arg.isUndefined()) {
            fail("an argument that is not a normalised wire value");
        }
    }
    const QByteArray frame = rebuild(m);
    if (frame.isEmpty()) {
        fail("a parsed message that cannot be sent again");
    }
    FrameDecoder decoder;
    decoder.feed(frame);
    QByteArray again;
    if (decoder.next(&again) != FrameDecoder::Status::Frame || decoder.hasPartialFrame()) {
        fail("our own frame does not decode");
    }
    const RpcMessage back = RpcWire::parse(again);
    if (!same(m, back)) {
        fail("a message changed on a round trip");
    }
}

// checkMessages: every frame cut goes through checkMessage as well (once
// per input is enough: a frame under a smaller limit is cut the same).
void cutIntoFrames(QByteArrayView stream, qsizetype piece, quint32 limit, bool checkMessages)
{
    FrameDecoder decoder(limit);
    QByteArray payload;
    while (!stream.isEmpty()) {
        const qsizetype n = qMin(piece, stream.size());
        if (n % 2 == 1) {
            decoder.feed(QByteArray(stream.first(n).data(), n)); // the overload that takes over the array
        } else {
            decoder.feed(stream.first(n));
        }
        stream = stream.sliced(n);
        for (;;) {
            const FrameDecoder::Status status = decoder.next(&payload);
            if (status == FrameDecoder::Status::Frame) {
                if (payload.size() > qsizetype(limit)) {
                    fail("a frame over the limit");
                }
                if (checkMessages) {
                    checkMessage(payload);
                }
                continue;
            }
            if (status == FrameDecoder::Status::Error) {
                if (decoder.bufferedBytes() != 0 || decoder.errorString().isEmpty()) {
                    fail("a decoder error that keeps bytes or says nothing");
                }
                return;
            }
            break;
        }
        // Never more than one frame's worth plus the last piece is held.
        if (decoder.bufferedBytes() > qsizetype(limit) + Frame::headerBytes + piece) {
            fail("the decoder holds more than one frame");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    // No copy: a read past the end is seen by AddressSanitizer.
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    checkMessage(input.sliced(1));
    const qsizetype piece = 1 + data[0] % 64;
    cutIntoFrames(input.sliced(1), piece, Frame::maxPayloadBytes, true);
    cutIntoFrames(input.sliced(1), piece, 256, false);
    return 0;
}
