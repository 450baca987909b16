#pragma once

#include <QList>

class ZIImage;
class ZelvoPacket;

// Cuts a ZI image into 20-byte packets of type '?' and rebuilds it. The
// header packet (sequence number 0) carries the image id at bytes 4-7, the
// image's hash at 8-11, its byte count at 12-13 and the 6-byte ZI header at
// 14-19; every data packet carries the next 16 image bytes at 4-19.
// Diagnostics go to standard output.
class ZelvoImagePackager
{
public:
    static constexpr int PacketType = '?';
    static constexpr int HashIndex = 8;
    // The whole image size, header included, so that unpack() allocates
    // exactly what pack() was given.
    static constexpr int ByteCountIndex = 12;
    static constexpr int HeaderBytesIndex = 14;
    static constexpr int HeaderBytes = 6;
    static constexpr int DataIndex = 4;
    static constexpr int DataBytes = 16;

    explicit ZelvoImagePackager(int imageId);
    virtual ~ZelvoImagePackager();

    QList<ZelvoPacket> pack(const ZIImage& image) const;
    ZIImage unpack(const QList<ZelvoPacket>& packets) const;

private:
    int imageId = 0;
};
