#include "ZelvoImagePackager.h"

#include "ZIImage.h"
#include "ZelvoPacket.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

ZelvoImagePackager::ZelvoImagePackager(int imageId)
    : imageId(imageId)
{
}

ZelvoImagePackager::~ZelvoImagePackager() = default;

QList<ZelvoPacket> ZelvoImagePackager::pack(const ZIImage& image) const
{
    QList<ZelvoPacket> packets;
    if (image.isNull()) {
        printf("\033[31mZelvoImagePackager::pack Null zi Image\033[0m\n");
        return packets;
    }
    // Anything smaller could not be rebuilt: unpack() allocates at least
    // ZIImage::minAllocSize bytes and needs a data packet.
    if (image.size() < ZIImage::minAllocSize) {
        printf("\033[31mZelvoImagePackager::pack zi Image of %d B is too small\033[0m\n", image.size());
        return packets;
    }
    const int pixelBytes = image.size() - headerBytes;
    const int count = 1 + (pixelBytes + dataBytes - 1) / dataBytes;
    printf("\033[33mZelvoImagePackager::pack zi Image will be pack in %d\033[0m\n", count);
    packets.reserve(count);

    ZelvoPacket header(packetType);
    header.setUint16FromIndex(ZelvoPacket::sequenceNumberIndex, 0);
    header.setUint32FromIndex(ZelvoPacket::imageIdIndex, quint32(imageId));
    header.setUint32FromIndex(hashIndex, image.hash());
    header.setUint16FromIndex(byteCountIndex, quint16(image.size()));
    std::memcpy(header.data() + headerBytesIndex, image.data(), headerBytes);
    packets.append(header);

    for (int offset = headerBytes, sequence = 1; offset < image.size(); offset += dataBytes, ++sequence) {
        ZelvoPacket packet(packetType);
        packet.setUint16FromIndex(ZelvoPacket::sequenceNumberIndex, quint16(sequence));
        std::memcpy(packet.data() + dataIndex, image.data() + offset, size_t(std::min(dataBytes, image.size() - offset)));
        packets.append(packet);
    }
    return packets;
}

ZIImage ZelvoImagePackager::unpack(const QList<ZelvoPacket>& packets) const
{
    ZIImage image;
    if (packets.size() < 2) {
        printf("\033[31mZelvoImagePackager::unpack Not enougth packets\033[0m\n");
        return image;
    }
    const ZelvoPacket& header = packets.first();
    const int byteCount = header.uint16FromIndex(byteCountIndex);
    image.alloc(byteCount);
    if (image.isNull()) {
        printf("\033[31mZelvoImagePackager::unpack byte count %d cannot hold an image\033[0m\n", byteCount);
        return image;
    }
    printf("\033[33mZelvoImagePackager::unpack zi Image will be unpack from %d fragments IMAGE BYTES %d\033[0m\n",
           packets.size(), byteCount);

    std::memcpy(image.data(), header.constData() + headerBytesIndex, headerBytes);
    int offset = headerBytes;
    for (auto packet = packets.cbegin() + 1; packet != packets.cend() && offset < byteCount; ++packet) {
        const int length = std::min(dataBytes, byteCount - offset);
        std::memcpy(image.data() + offset, packet->constData() + dataIndex, size_t(length));
        offset += length;
    }
    // Missing or damaged packets leave zero bytes behind; the header's hash
    // tells.
    const quint32 expected = quint32(header.uint32FromIndex(hashIndex));
    if (image.hash() != expected)
        printf("\033[33mZelvoImagePackager::unpack hash %x differs from the header's %x\033[0m\n", image.hash(),
               expected);
    return image;
}
