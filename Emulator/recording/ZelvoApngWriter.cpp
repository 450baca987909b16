#include "recording/ZelvoApngWriter.h"

#include <QBuffer>
#include <QImage>
#include <QVector>
#include <QtEndian>

#include <array>

namespace {

const QByteArray signature("\x89PNG\r\n\x1a\n", 8);

// The longest a frame's delay can say with a denominator of 1000.
constexpr int longestDelayMillis = 65535;

struct Chunk
{
    QByteArray type;
    QByteArray data;
};

// The chunks of a PNG file, or false when it is not one.
bool readChunks(const QByteArray& png, QVector<Chunk>* chunks)
{
    if (!png.startsWith(signature))
        return false;
    int at = signature.size();
    while (at + 12 <= png.size()) {
        const quint32 length = qFromBigEndian<quint32>(png.constData() + at);
        if (length > quint32(png.size() - at - 12))
            return false;
        chunks->append({png.mid(at + 4, 4), png.mid(at + 8, int(length))});
        at += 12 + int(length);
    }
    return at == png.size() && !chunks->isEmpty() && chunks->first().type == "IHDR";
}

QByteArray bigEndian32(quint32 value)
{
    QByteArray bytes(4, Qt::Uninitialized);
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray bigEndian16(quint16 value)
{
    QByteArray bytes(2, Qt::Uninitialized);
    qToBigEndian(value, bytes.data());
    return bytes;
}

// A chunk's data and CRC, without its length: what is rewritten in place.
QByteArray chunkBody(const char* type, const QByteArray& data)
{
    const QByteArray typed = QByteArray(type, 4) + data;
    return typed + bigEndian32(ZelvoApngWriter::crc(typed));
}

QByteArray chunk(const char* type, const QByteArray& data)
{
    return bigEndian32(quint32(data.size())) + chunkBody(type, data);
}

QByteArray animationControl(int frames)
{
    // Played forever.
    return bigEndian32(quint32(frames)) + bigEndian32(0);
}

quint16 delayOf(int delayMillis)
{
    return quint16(delayMillis == ZelvoAnimationWriter::openDelay ? longestDelayMillis
                                                                   : qBound(0, delayMillis, longestDelayMillis));
}

} // namespace

QByteArray ZelvoApngWriter::encodeFrame(const QImage& image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    // One pixel format for all frames, so that they share one PNG header.
    image.convertToFormat(QImage::Format_ARGB32).save(&buffer, "PNG");
    return png;
}

quint32 ZelvoApngWriter::crc(const QByteArray& bytes)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> entries{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            entries[n] = c;
        }
        return entries;
    }();
    quint32 c = 0xffffffffu;
    for (const char byte : bytes)
        c = table[(c ^ quint8(byte)) & 0xff] ^ (c >> 8);
    return c ^ 0xffffffffu;
}

bool ZelvoApngWriter::append(const QByteArray& frame, int delayMillis)
{
    QVector<Chunk> chunks;
    if (!readChunks(frame, &chunks))
        return fail(QStringLiteral("a frame is no PNG"));
    QByteArray out;
    if (frames == 0) {
        header = chunks.first().data;
        out = signature + chunk("IHDR", header);
        countAt = size() + out.size() + 4;
        out += chunk("acTL", animationControl(1));
    } else if (chunks.first().data != header) {
        // Every frame covers the whole picture, so all must share its header.
        return fail(QStringLiteral("a frame differs in size or format from the first"));
    }
    // Source blending: each frame replaces the last, transparent pixels included.
    lastControl = bigEndian32(sequence++) + header.left(8) + bigEndian32(0) + bigEndian32(0)
                  + bigEndian16(delayOf(delayMillis)) + bigEndian16(1000) + QByteArray(1, '\0')
                  + QByteArray(1, '\0');
    lastControlAt = size() + out.size() + 4;
    out += chunk("fcTL", lastControl);
    for (const Chunk& data : qAsConst(chunks)) {
        if (data.type != "IDAT")
            continue;
        out += frames == 0 ? chunk("IDAT", data.data) : chunk("fdAT", bigEndian32(sequence++) + data.data);
    }
    if (!write(out))
        return false;
    ++frames;
    return frames == 1 || writeAt(countAt, chunkBody("acTL", animationControl(frames)));
}

bool ZelvoApngWriter::setLastDelay(int delayMillis)
{
    if (frames == 0)
        return true;
    qToBigEndian(delayOf(delayMillis), lastControl.data() + 20);
    return writeAt(lastControlAt, chunkBody("fcTL", lastControl));
}

bool ZelvoApngWriter::finish()
{
    return write(chunk("IEND", QByteArray()));
}
