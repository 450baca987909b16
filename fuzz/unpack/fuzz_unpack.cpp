// Rebuilds images from packets cut out of arbitrary bytes, 20 bytes each.
// Any image that unpack() returns must survive pack() and unpack() again.

#include "FuzzCheck.h"
#include "ZIImage.h"
#include "ZelvoImagePackager.h"
#include "ZelvoPacket.h"

#include <QList>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The packager reports on standard output, a line or two per input.
    check(std::freopen("/dev/null", "w", stdout) != nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QList<ZelvoPacket> packets;
    for (std::size_t offset = 0; offset + ZelvoPacket::size <= size; offset += ZelvoPacket::size) {
        ZelvoPacket packet;
        std::memcpy(packet.data(), data + offset, ZelvoPacket::size);
        packets.append(packet);
    }
    const ZelvoImagePackager packager(1);
    const ZIImage image = packager.unpack(packets);
    if (image.isNull())
        return 0;
    check(image.size() == packets.first().uint16FromIndex(ZelvoImagePackager::byteCountIndex));
    check(packager.unpack(packager.pack(image)) == image);
    return 0;
}
