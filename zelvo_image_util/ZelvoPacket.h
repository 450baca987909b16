#pragma once

#include <QtGlobal>

#include <array>

class QByteArray;

// A fixed 20-byte packet for links with small frames. Multi-byte fields are
// little-endian: byte 0 type, byte 1 free for the sender, bytes 2-3 sequence
// number, bytes 4-7 a 32-bit field (the image id of a header packet), bytes
// 8-19 payload. Diagnostics go to standard output.
class ZelvoPacket
{
public:
    static constexpr int size = 20;
    static constexpr int typeIndex = 0;
    static constexpr int userByteIndex = 1;
    static constexpr int sequenceNumberIndex = 2;
    static constexpr int imageIdIndex = 4;

    ZelvoPacket();
    explicit ZelvoPacket(int type);
    ZelvoPacket(const ZelvoPacket& other) = default;
    ZelvoPacket& operator=(const ZelvoPacket& other) = default;
    virtual ~ZelvoPacket();

    quint8 type() const;
    quint8 userByte() const;
    void setUserByte(quint8 value);

    // -1 when the field does not lie within the packet.
    int uint16FromIndex(int index) const;
    void setUint16FromIndex(int index, quint16 value);
    qint64 uint32FromIndex(int index) const;
    void setUint32FromIndex(int index, quint32 value);

    quint16 sequenceNumber() const;
    void setSequenceNumber(quint16 value);
    quint32 imageIdField() const;
    void setSequenceNumber(quint32 value);

    const quint8* constData() const;
    quint8* data();
    QByteArray toByteArray() const;
    void dump() const;

private:
    std::array<quint8, size> bytes {};
};
