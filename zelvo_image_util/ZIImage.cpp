#include "ZIImage.h"

#include "ZelvoFile.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdio>
#include <cstring>
#include <utility>

ZIImage::ZIImage() = default;

ZIImage::ZIImage(const char* bytes, int length)
{
    assign("ZIImage::ZIImage", reinterpret_cast<const quint8*>(bytes), length);
}

ZIImage::ZIImage(const QByteArray& bytes)
{
    assign("ZIImage::ZIImage", reinterpret_cast<const quint8*>(bytes.constData()), bytes.size());
}

ZIImage::ZIImage(const ZIImage& other)
{
    assign("ZIImage::ZIImage", other.buffer.get(), other.bufferSize);
}

ZIImage::ZIImage(ZIImage&& other) noexcept
    : buffer(std::move(other.buffer))
    , bufferSize(std::exchange(other.bufferSize, 0))
{
}

ZIImage::ZIImage(int length)
{
    alloc(length);
}

ZIImage::~ZIImage() = default;

ZIImage& ZIImage::operator=(const ZIImage& other)
{
    if (&other != this)
        assign("ZIImage::operator=", other.buffer.get(), other.bufferSize);
    return *this;
}

ZIImage& ZIImage::operator=(ZIImage&& other) noexcept
{
    if (&other != this) {
        buffer = std::move(other.buffer);
        bufferSize = std::exchange(other.bufferSize, 0);
    }
    return *this;
}

int ZIImage::size() const
{
    return bufferSize;
}

quint8* ZIImage::data()
{
    return buffer.get();
}

const quint8* ZIImage::data() const
{
    return buffer.get();
}

bool ZIImage::isNull() const
{
    return !buffer || bufferSize == 0;
}

QByteArray ZIImage::toByteArray() const
{
    if (isNull())
        return QByteArray();
    return QByteArray(reinterpret_cast<const char*>(buffer.get()), bufferSize);
}

void ZIImage::fromByteArray(const QByteArray& bytes)
{
    assign("ZIImage::fromByteArray", reinterpret_cast<const quint8*>(bytes.constData()), bytes.size());
}

void ZIImage::alloc(int length)
{
    if (length < minAllocSize) {
        printf("\033[31mZIImage::alloc dataSize(%d) is too small\033[0m\n", length);
        return;
    }
    // Refused rather than cut to the 16 bits of the byte count, which would
    // hand out a buffer of some unrelated size.
    if (length > maxAllocSize) {
        printf("\033[31mZIImage::alloc dataSize(%d) exceed MAX(%d)\033[0m\n", length, maxAllocSize);
        return;
    }
    buffer = std::make_unique<quint8[]>(size_t(length));
    bufferSize = quint16(length);
}

bool ZIImage::load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        printf("\033[31mZIImage::load Failure yo open %s\033[0m\n", qPrintable(path));
        return false;
    }
    fromByteArray(file.readAll());
    return true;
}

bool ZIImage::save(const QString& path, QString* reason) const
{
    // Written whole or not at all: a full disk leaves no cut image behind,
    // and is a failure like any other.
    QString failure;
    const auto write = [this](QIODevice* file, QString*) {
        return file->write(reinterpret_cast<const char*>(buffer.get()), bufferSize) == bufferSize;
    };
    if (!ZelvoFile::writeWhole(path, write, &failure)) {
        if (reason)
            *reason = failure;
        printf("\033[31mZIImage::save Failure yo open %s\033[0m\n", qPrintable(path));
        return false;
    }
    return true;
}

quint32 ZIImage::hash() const
{
    return hash(buffer.get(), bufferSize);
}

quint32 ZIImage::hash(const quint8* bytes, qsizetype length)
{
    if (!bytes)
        return 0;
    // Last byte first, and the top nibble folded back with a shift of 23:
    // the glasses compute it this way, so it is not quite the PJW hash.
    quint32 h = 0;
    for (qsizetype i = length - 1; i >= 0; --i) {
        h = (h << 4) + bytes[i];
        h = (h ^ ((h & 0xF0000000u) >> 23)) & 0x0FFFFFFFu;
    }
    return h;
}

void ZIImage::printInfo() const
{
    printf("\033[31mZIImage size %d B, hash %x\n", int(bufferSize), hash());
}

bool ZIImage::operator==(const ZIImage& other) const
{
    return bufferSize == other.bufferSize && buffer && other.buffer
        && std::memcmp(buffer.get(), other.buffer.get(), bufferSize) == 0;
}

bool ZIImage::operator!=(const ZIImage& other) const
{
    return !(*this == other);
}

void ZIImage::clear()
{
    buffer.reset();
    bufferSize = 0;
}

void ZIImage::assign(const char* where, const quint8* bytes, int length)
{
    clear();
    if (length > maxSize) {
        printf("\033[31m%s dataSize(%d) exceed MAX(%d)\033[0m\n", where, length, maxSize);
        return;
    }
    if (length < 1 || !bytes)
        return;
    buffer = std::make_unique<quint8[]>(size_t(length));
    std::memcpy(buffer.get(), bytes, size_t(length));
    bufferSize = quint16(length);
}
