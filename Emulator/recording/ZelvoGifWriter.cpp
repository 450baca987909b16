#include "recording/ZelvoGifWriter.h"

#include "recording/ZelvoDisplayRecorder.h"

#include <QImage>
#include <QtEndian>

#include <gif_lib.h>

#include <memory>

namespace {

constexpr char imageSeparator = 0x2c;
constexpr char trailer = 0x3b;
// The longest a frame's delay can say, in hundredths of a second.
constexpr int longestDelay = 65535;

int appendOutput(GifFileType* gif, const GifByteType* bytes, int length)
{
    static_cast<QByteArray*>(gif->UserData)->append(reinterpret_cast<const char*>(bytes), length);
    return length;
}

struct GifCloser
{
    void operator()(GifFileType* gif) const { EGifCloseFile(gif, nullptr); }
};

struct MapFreer
{
    void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};

QByteArray littleEndian16(quint16 value)
{
    QByteArray bytes(2, Qt::Uninitialized);
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QByteArray delayOf(int delayMillis)
{
    // GIF counts hundredths of a second.
    return littleEndian16(quint16(delayMillis == ZelvoAnimationWriter::openDelay
                                      ? longestDelay
                                      : qBound(0, (delayMillis + 5) / 10, longestDelay)));
}

// The logical screen with no colour table of its own (each frame brings
// one), then the NETSCAPE2.0 block with a loop count of 0: play forever.
QByteArray fileHeader(quint16 width, quint16 height)
{
    return QByteArray("GIF89a") + littleEndian16(width) + littleEndian16(height) + QByteArray("\x70\x00\x00", 3)
           + QByteArray("\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
}

// The graphic control block: drawn over the frame before (no disposal), no
// transparent colour.
QByteArray graphicControl(int delayMillis)
{
    return QByteArray("\x21\xf9\x04\x04", 4) + delayOf(delayMillis) + QByteArray("\x00\x00", 2);
}

} // namespace

QByteArray ZelvoGifWriter::encodeFrame(const QImage& image)
{
    // Qt picks the palette: the exact colours when there are 256 or fewer.
    const QImage indexed = ZelvoDisplayRecorder::opaque(image).convertToFormat(QImage::Format_Indexed8);
    const QVector<QRgb> table = indexed.colorTable();
    std::unique_ptr<ColorMapObject, MapFreer> map(GifMakeMapObject(256, nullptr));
    if (!map)
        return {};
    for (int i = 0; i < 256; ++i) {
        const QRgb rgb = i < table.size() ? table.at(i) : 0;
        map->Colors[i] = {GifByteType(qRed(rgb)), GifByteType(qGreen(rgb)), GifByteType(qBlue(rgb))};
    }
    // giflib writes whole files only: the frame is cut from a GIF of its
    // own, after the screen descriptor and before the trailer.
    QByteArray out;
    int error = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(EGifOpen(&out, appendOutput, &error));
    if (!gif || EGifPutScreenDesc(gif.get(), indexed.width(), indexed.height(), 8, 0, nullptr) == GIF_ERROR)
        return {};
    const int start = out.size();
    if (EGifPutImageDesc(gif.get(), 0, 0, indexed.width(), indexed.height(), false, map.get()) == GIF_ERROR)
        return {};
    for (int y = 0; y < indexed.height(); ++y) {
        auto* line = const_cast<GifPixelType*>(indexed.constScanLine(y));
        if (EGifPutLine(gif.get(), line, indexed.width()) == GIF_ERROR)
            return {};
    }
    if (EGifCloseFile(gif.release(), &error) == GIF_ERROR || !out.endsWith(trailer))
        return {};
    return out.mid(start, out.size() - start - 1);
}

bool ZelvoGifWriter::append(const QByteArray& frame, int delayMillis)
{
    if (frame.size() < 10 || frame.at(0) != imageSeparator)
        return fail(QStringLiteral("a frame could not be encoded"));
    const quint16 frameWidth = qFromLittleEndian<quint16>(frame.constData() + 5);
    const quint16 frameHeight = qFromLittleEndian<quint16>(frame.constData() + 7);
    QByteArray out;
    if (frames == 0) {
        width = frameWidth;
        height = frameHeight;
        out = fileHeader(width, height);
    } else if (frameWidth != width || frameHeight != height) {
        return fail(QStringLiteral("a frame differs in size from the first"));
    }
    lastDelayAt = size() + out.size() + 4;
    out += graphicControl(delayMillis) + frame;
    if (!write(out))
        return false;
    ++frames;
    return true;
}

bool ZelvoGifWriter::setLastDelay(int delayMillis)
{
    return frames == 0 || writeAt(lastDelayAt, delayOf(delayMillis));
}

bool ZelvoGifWriter::finish()
{
    return write(QByteArray(1, trailer));
}
