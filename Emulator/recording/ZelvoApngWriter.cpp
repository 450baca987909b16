#include "recording/ZelvoApngWriter.h"

#include "ZelvoPngChunks.h"
#include "util/ZelvoUtil.h"

#include <QImage>
#include <QVector>
#include <QtEndian>

#include <array>

namespace {

using Chunks = ZelvoPngChunks;

// The longest a frame's delay can say with a denominator of 1000.
constexpr int longestDelayMillis = 65535;

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
    // One pixel format for all frames, so that they share one PNG header.
    return ZelvoUtil::encodePng(image.convertToFormat(QImage::Format_ARGB32));
}

bool ZelvoApngWriter::append(const QByteArray& frame, int delayMillis)
{
    QVector<Chunks::Chunk> chunks;
    if (!Chunks::read(frame, &chunks))
        return fail(QStringLiteral("a frame is no PNG"));
    QByteArray out;
    if (frames == 0) {
        header = chunks.first().data;
        out = Chunks::signature + Chunks::chunk("IHDR", header);
        countAt = size() + out.size() + 4;
        out += Chunks::chunk("acTL", animationControl(1));
        if (shownAt >= 0)
            out += Chunks::textChunk(Chunks::shownAtKeyword, QByteArray::number(shownAt));
    } else if (chunks.first().data != header) {
        // Every frame covers the whole picture, so all must share its header.
        return fail(QStringLiteral("a frame differs in size or format from the first"));
    }
    // Source blending: each frame replaces the last, transparent pixels included.
    lastControl = bigEndian32(sequence++) + header.left(8) + bigEndian32(0) + bigEndian32(0)
                  + bigEndian16(delayOf(delayMillis)) + bigEndian16(1000) + QByteArray(1, '\0')
                  + QByteArray(1, '\0');
    out += Chunks::textChunk(Chunks::shownAfterKeyword, QByteArray::number(nextShownAfter));
    lastControlAt = size() + out.size() + 4;
    out += Chunks::chunk("fcTL", lastControl);
    for (const Chunks::Chunk& data : qAsConst(chunks)) {
        if (data.type != "IDAT")
            continue;
        out += frames == 0 ? Chunks::chunk("IDAT", data.data) : Chunks::chunk("fdAT", bigEndian32(sequence++) + data.data);
    }
    if (!write(out))
        return false;
    ++frames;
    return frames == 1 || writeAt(countAt, Chunks::chunkBody("acTL", animationControl(frames)));
}

bool ZelvoApngWriter::setLastDelay(int delayMillis)
{
    if (frames == 0)
        return true;
    qToBigEndian(delayOf(delayMillis), lastControl.data() + 20);
    return writeAt(lastControlAt, Chunks::chunkBody("fcTL", lastControl));
}

bool ZelvoApngWriter::finish()
{
    return write(Chunks::chunk("IEND", QByteArray()));
}
