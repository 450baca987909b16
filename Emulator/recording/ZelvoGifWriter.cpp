#include "recording/ZelvoGifWriter.h"

#include "recording/ZelvoDisplayRecorder.h"

#include <QImage>

#include <gif_lib.h>

#include <memory>

namespace {

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

bool putFrame(GifFileType* gif, const QImage& picture, int delayMillis)
{
    // Qt picks the palette: the exact colours when there are 256 or fewer.
    const QImage indexed = ZelvoDisplayRecorder::opaque(picture).convertToFormat(QImage::Format_Indexed8);
    const QVector<QRgb> table = indexed.colorTable();
    std::unique_ptr<ColorMapObject, MapFreer> map(GifMakeMapObject(256, nullptr));
    if (!map)
        return false;
    for (int i = 0; i < 256; ++i) {
        const QRgb rgb = i < table.size() ? table.at(i) : 0;
        map->Colors[i] = {GifByteType(qRed(rgb)), GifByteType(qGreen(rgb)), GifByteType(qBlue(rgb))};
    }
    GraphicsControlBlock control{};
    control.DisposalMode = DISPOSE_DO_NOT;
    control.TransparentColor = NO_TRANSPARENT_COLOR;
    // GIF counts hundredths of a second.
    control.DelayTime = qBound(0, (delayMillis + 5) / 10, 65535);
    GifByteType extension[4];
    const size_t length = EGifGCBToExtension(&control, extension);
    if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(length), extension) == GIF_ERROR)
        return false;
    if (EGifPutImageDesc(gif, 0, 0, indexed.width(), indexed.height(), false, map.get()) == GIF_ERROR)
        return false;
    for (int y = 0; y < indexed.height(); ++y) {
        auto* line = const_cast<GifPixelType*>(indexed.constScanLine(y));
        if (EGifPutLine(gif, line, indexed.width()) == GIF_ERROR)
            return false;
    }
    return true;
}

} // namespace

QByteArray ZelvoGifWriter::encode(const QVector<ZelvoAnimationFrame>& frames)
{
    if (frames.isEmpty())
        return {};
    const QImage first = QImage::fromData(frames.first().png, "PNG");
    if (first.isNull())
        return {};
    QByteArray out;
    int error = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(EGifOpen(&out, appendOutput, &error));
    if (!gif)
        return {};
    EGifSetGifVersion(gif.get(), true);
    if (EGifPutScreenDesc(gif.get(), first.width(), first.height(), 8, 0, nullptr) == GIF_ERROR)
        return {};
    // The NETSCAPE2.0 block with a loop count of 0: play forever.
    static const GifByteType application[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
    static const GifByteType loop[] = {1, 0, 0};
    if (EGifPutExtensionLeader(gif.get(), APPLICATION_EXT_FUNC_CODE) == GIF_ERROR
        || EGifPutExtensionBlock(gif.get(), sizeof application, application) == GIF_ERROR
        || EGifPutExtensionBlock(gif.get(), sizeof loop, loop) == GIF_ERROR
        || EGifPutExtensionTrailer(gif.get()) == GIF_ERROR)
        return {};
    for (const ZelvoAnimationFrame& frame : frames) {
        const QImage picture = QImage::fromData(frame.png, "PNG");
        if (picture.size() != first.size() || !putFrame(gif.get(), picture, frame.delayMillis))
            return {};
    }
    if (EGifCloseFile(gif.release(), &error) == GIF_ERROR)
        return {};
    return out;
}
