// Feeds arbitrary bytes to the delta packet decoder and to DeltaReader. Every
// input must either be refused with EPacketError by both or decode to a packet
// that DeltaReader reads the same and that encodes and decodes back to itself; anything else (a crash, another exception, a packet that
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
    DeltaPacket packet;
    // The server reads a delta an entry at a time: it must accept exactly what
    // the whole decoder accepts, and give the same entries.
    bool read = false;
    QList<DeltaEntry> entries;
    try {
        const DeltaReader reader(bytes);
        for (const DeltaEntry &entry : reader) {
            entries.append(entry);
        }
        read = true;
    } catch (const EPacketError &) { }
    try {
        packet = DeltaPacket::decode(bytes);
    } catch (const EPacketError &) {
        if (read) {
            std::fprintf(stderr, "DeltaReader read a delta packet the decoder refuses\n");
            std::abort();
        }
        return 0;
    }
    if (!read || entries != packet.entries) {
        std::fprintf(stderr, "DeltaReader does not read what the decoder decodes\n");
        std::abort();
    }
    try {
        const QByteArray encoded = packet.encode();
        const DeltaPacket back = DeltaPacket::decode(encoded);
        if (!(back == packet) || back.encode() != encoded) {
            std::fprintf(stderr, "delta packet changed on a round trip\n");
            std::abort();
        }
    } catch (const EPacketError &e) {
        std::fprintf(stderr, "a decoded delta packet was refused: %s\n", e.what());
        std::abort();
    }
    return 0;
}
