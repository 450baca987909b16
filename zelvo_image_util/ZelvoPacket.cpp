#include "ZelvoPacket.h"

#include <QByteArray>

#include <cstdio>

namespace {

bool fits(int index, int width)
{
    return index >= 0 && index <= ZelvoPacket::size - width;
}

} // namespace

ZelvoPacket::ZelvoPacket() = default;

ZelvoPacket::ZelvoPacket(int type)
{
    bytes[typeIndex] = quint8(type);
}

ZelvoPacket::~ZelvoPacket() = default;

quint8 ZelvoPacket::type() const
{
    return bytes[typeIndex];
}

quint8 ZelvoPacket::userByte() const
{
    return bytes[userByteIndex];
}

void ZelvoPacket::setUserByte(quint8 value)
{
    bytes[userByteIndex] = value;
}

int ZelvoPacket::uint16FromIndex(int index) const
{
    if (!fits(index, 2)) {
        printf("ZelvoPacket::uint16FromIndex index(%d) out of range\n", index);
        return -1;
    }
    return bytes[size_t(index)] | bytes[size_t(index) + 1] << 8;
}

void ZelvoPacket::setUint16FromIndex(int index, quint16 value)
{
    if (!fits(index, 2)) {
        printf("ZelvoPacket::setUint16FromIndex index(%d) out of range\n", index);
        return;
    }
    bytes[size_t(index)] = quint8(value);
    bytes[size_t(index) + 1] = quint8(value >> 8);
}

qint64 ZelvoPacket::uint32FromIndex(int index) const
{
    if (!fits(index, 4)) {
        // The 32-bit getter has always reported under the 16-bit setter's name;
        // scripts that watch this output match that text.
        printf("ZelvoPacket::setUint16FromIndex index(%d) out of range\n", index);
        return -1;
    }
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | bytes[size_t(index) + size_t(i)];
    return value;
}

void ZelvoPacket::setUint32FromIndex(int index, quint32 value)
{
    if (!fits(index, 4)) {
        printf("ZelvoPacket::setUint32FromIndex index(%d) out of range\n", index);
        return;
    }
    for (int i = 0; i < 4; ++i)
        bytes[size_t(index) + size_t(i)] = quint8(value >> (8 * i));
}

quint16 ZelvoPacket::sequenceNumber() const
{
    return quint16(uint16FromIndex(sequenceNumberIndex));
}

void ZelvoPacket::setSequenceNumber(quint16 value)
{
    printf("ZelvoPacket::setSequenceNumber  %u", unsigned(value));
    setUint16FromIndex(sequenceNumberIndex, value);
}

quint32 ZelvoPacket::imageIdField() const
{
    return quint32(uint32FromIndex(imageIdIndex));
}

void ZelvoPacket::setSequenceNumber(quint32 value)
{
    printf("ZelvoPacket::setSequenceNumber  %x", unsigned(value));
    setUint32FromIndex(imageIdIndex, value);
}

const quint8* ZelvoPacket::constData() const
{
    return bytes.data();
}

quint8* ZelvoPacket::data()
{
    return bytes.data();
}

QByteArray ZelvoPacket::toByteArray() const
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), size);
}

void ZelvoPacket::dump() const
{
    printf("ZIImage");
    for (quint8 byte : bytes)
        printf(" %x", unsigned(byte));
    printf("\n");
}
