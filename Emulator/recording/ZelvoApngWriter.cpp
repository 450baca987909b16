#include "recording/ZelvoApngWriter.h"

#include <QtEndian>

#include <array>

namespace {

const QByteArray signature("\x89PNG\r\n\x1a\n", 8);

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

void appendChunk(QByteArray* out, const char* type, const QByteArray& data)
{
    const QByteArray typed = QByteArray(type, 4) + data;
    out->append(bigEndian32(quint32(data.size())));
    out->append(typed);
    out->append(bigEndian32(ZelvoApngWriter::crc(typed)));
}

} // namespace

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

QByteArray ZelvoApngWriter::encode(const QVector<ZelvoAnimationFrame>& frames)
{
    if (frames.isEmpty())
        return {};
    QByteArray header;
    QByteArray out = signature;
    quint32 sequence = 0;
    for (int index = 0; index < frames.size(); ++index) {
        QVector<Chunk> chunks;
        if (!readChunks(frames.at(index).png, &chunks))
            return {};
        // Every frame covers the whole picture, so all must share its header.
        if (index == 0) {
            header = chunks.first().data;
            appendChunk(&out, "IHDR", header);
            appendChunk(&out, "acTL", bigEndian32(quint32(frames.size())) + bigEndian32(0));
        } else if (chunks.first().data != header) {
            return {};
        }
        // Source blending: each frame replaces the last, transparent pixels included.
        const QByteArray control = bigEndian32(sequence++) + header.left(8) + bigEndian32(0) + bigEndian32(0)
                                   + bigEndian16(quint16(qBound(0, frames.at(index).delayMillis, 65535)))
                                   + bigEndian16(1000) + QByteArray(1, '\0') + QByteArray(1, '\0');
        appendChunk(&out, "fcTL", control);
        for (const Chunk& chunk : qAsConst(chunks)) {
            if (chunk.type != "IDAT")
                continue;
            if (index == 0)
                appendChunk(&out, "IDAT", chunk.data);
            else
                appendChunk(&out, "fdAT", bigEndian32(sequence++) + chunk.data);
        }
    }
    appendChunk(&out, "IEND", QByteArray());
    return out;
}
