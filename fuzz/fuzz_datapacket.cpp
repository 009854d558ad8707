// Feeds arbitrary bytes to the data packet decoder. Every input must either
// be refused with EPacketError or decode to a packet that encodes and decodes
// back to itself; anything else (a crash, another exception, a packet that
// changes on the way back) stops the fuzzer.
#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "Exceptions.h"
#include "Packet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // No copy: a read past the end is seen by AddressSanitizer.
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    DataPacket packet;
    try {
        packet = DataPacket::decode(bytes);
    } catch (const EPacketError &) {
        return 0;
    }
    try {
        const QByteArray encoded = packet.encode();
        const DataPacket back = DataPacket::decode(encoded);
        if (!(back == packet) || back.encode() != encoded) {
            std::fprintf(stderr, "data packet changed on a round trip\n");
            std::abort();
        }
    } catch (const EPacketError &e) {
        std::fprintf(stderr, "a decoded data packet was refused: %s\n", e.what());
        std::abort();
    }
    return 0;
}
