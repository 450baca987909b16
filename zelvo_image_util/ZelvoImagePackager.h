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
    static constexpr int packetType = '?';
    static constexpr int hashIndex = 8;
    // The whole image size, header included, so that unpack() allocates
    // exactly what pack() was given.
    static constexpr int byteCountIndex = 12;
    static constexpr int headerBytesIndex = 14;
    static constexpr int headerBytes = 6;
    static constexpr int dataIndex = 4;
    static constexpr int dataBytes = 16;

    explicit ZelvoImagePackager(int imageId);
    virtual ~ZelvoImagePackager();

    QList<ZelvoPacket> pack(const ZIImage& image) const;
    ZIImage unpack(const QList<ZelvoPacket>& packets) const;

private:
    int imageId = 0;
};
