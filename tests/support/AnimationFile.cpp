#include "AnimationFile.h"

#include "ZelvoPngChunks.h"

#include <QFile>
#include <QtEndian>

#include <gif_lib.h>

namespace {

quint32 readInt(const QByteArray& bytes, int at)
{
    return qFromBigEndian<quint32>(bytes.constData() + at);
}

QByteArray chunk(const QByteArray& type, const QByteArray& data)
{
    QByteArray out(4, Qt::Uninitialized);
    qToBigEndian(quint32(data.size()), out.data());
    QByteArray crc(4, Qt::Uninitialized);
    qToBigEndian(ZelvoPngChunks::crc(type + data), crc.data());
    return out + type + data + crc;
}

AnimationFile readApng(const QByteArray& file)
{
    AnimationFile animation;
    QByteArray header;
    QByteArray frameData;
    const auto finishFrame = [&] {
        if (animation.frames.isEmpty() || frameData.isEmpty())
            return;
        const QByteArray png = file.left(8) + chunk("IHDR", header) + chunk("IDAT", frameData) + chunk("IEND", {});
        animation.frames.last().image = QImage::fromData(png, "PNG");
        frameData.clear();
    };
    int at = 8;
    while (at + 12 <= file.size()) {
        const int length = int(readInt(file, at));
        if (length < 0 || at + 12 + length > file.size())
            break;
        const QByteArray type = file.mid(at + 4, 4);
        const QByteArray data = file.mid(at + 8, length);
        if (readInt(file, at + 8 + length) != ZelvoPngChunks::crc(type + data))
            break;
        if (type == "IHDR") {
            header = data;
        } else if (type == "acTL") {
            animation.declaredFrames = int(readInt(data, 0));
        } else if (type == "fcTL") {
            finishFrame();
            const int numerator = qFromBigEndian<quint16>(data.constData() + 20);
            const int denominator = qFromBigEndian<quint16>(data.constData() + 22);
            animation.frames.append({QImage(), numerator * 1000 / denominator});
        } else if (type == "IDAT") {
            frameData += data;
        } else if (type == "fdAT") {
            frameData += data.mid(4);
        } else if (type == "IEND") {
            animation.finished = at + 12 == file.size();
        }
        at += 12 + length;
    }
    finishFrame();
    // The last frame of a file cut short may lack some of its data.
    if (!animation.finished && !animation.frames.isEmpty() && animation.frames.last().image.isNull())
        animation.frames.removeLast();
    return animation;
}

AnimationFile readGif(const QString& path)
{
    AnimationFile animation;
    int error = 0;
    GifFileType* gif = DGifOpenFileName(QFile::encodeName(path).constData(), &error);
    if (!gif)
        return animation;
    int delayMillis = 0;
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    while (DGifGetRecordType(gif, &record) != GIF_ERROR) {
        if (record == TERMINATE_RECORD_TYPE) {
            animation.finished = true;
            break;
        }
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif, &code, &block) == GIF_ERROR)
                break;
            GraphicsControlBlock control;
            if (code == GRAPHICS_EXT_FUNC_CODE && block && DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
                delayMillis = control.DelayTime * 10;
            bool read = true;
            while (read && block)
                read = DGifGetExtensionNext(gif, &block) == GIF_OK;
            if (!read)
                break;
        } else if (record == IMAGE_DESC_RECORD_TYPE) {
            if (DGifGetImageDesc(gif) == GIF_ERROR)
                break;
            QVector<GifPixelType> line(gif->Image.Width);
            bool whole = true;
            for (int y = 0; y < gif->Image.Height && whole; ++y)
                whole = DGifGetLine(gif, line.data(), gif->Image.Width) == GIF_OK;
            if (!whole)
                break;
            animation.frames.append({QImage(), delayMillis});
        }
    }
    DGifCloseFile(gif, &error);
    return animation;
}

} // namespace

AnimationFile AnimationFile::read(const QString& path)
{
    if (path.endsWith(QLatin1String(".gif"), Qt::CaseInsensitive))
        return readGif(path);
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? readApng(file.readAll()) : AnimationFile();
}
