#include "AgentPicture.h"

#include "ZIImage.h"
#include "ZIImageUtil.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QSize>

AgentPicture::AgentPicture(const QString& path)
    : path(path)
{
}

bool AgentPicture::load(Encoding encoding)
{
    encoded.clear();
    error.clear();

    const QFileInfo info(path);
    if (!info.exists())
        return fail(QStringLiteral("no such file"));
    if (!info.isFile())
        return fail(QStringLiteral("not a file"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    const QByteArray contents = file.readAll();

    // A ZI file is sent as it is in both modes: it already is the glasses' form.
    const bool ziSuffix = info.suffix().compare(QLatin1String("zi"), Qt::CaseInsensitive) == 0;
    if (ziSuffix || ZIImageUtil::ziDimensions(contents).isValid())
        return loadZi(contents);

    QBuffer buffer;
    buffer.setData(contents);
    QImageReader reader(&buffer);
    const QByteArray format = reader.format();
    const QImage picture = reader.read();
    if (picture.isNull())
        return fail(QStringLiteral("not a picture"));

    if (encoding == Encoding::Zi)
        return encodeZi(picture);
    if (format == "png") {
        encoded = contents;
        return true;
    }
    QBuffer png(&encoded);
    png.open(QIODevice::WriteOnly);
    if (!picture.save(&png, "PNG"))
        return fail(QStringLiteral("cannot be converted to PNG"));
    return true;
}

bool AgentPicture::fail(const QString& reason)
{
    encoded.clear();
    error = QStringLiteral("%1: %2").arg(path, reason);
    return false;
}

bool AgentPicture::loadZi(const QByteArray& contents)
{
    // The emulator stores any payload that starts with the magic but can
    // only draw what its decoder accepts; catch the difference here.
    if (ZIImageUtil::ziUncompress(contents).isNull())
        return fail(QStringLiteral("not a ZI picture"));
    encoded = contents;
    return true;
}

bool AgentPicture::encodeZi(const QImage& picture)
{
    if (ZIImageUtil::ziByteCount(picture.width(), picture.height()) > ZIImage::maxSize) {
        return fail(QStringLiteral("%1 x %2 pixels is too large for a ZI picture (at most %3 bytes)")
                        .arg(picture.width()).arg(picture.height()).arg(ZIImage::maxSize));
    }
    encoded = ZIImageUtil::ziCompress(ZIImageUtil::toMono(picture)).toByteArray();
    if (encoded.size() < ZIImageUtil::minDecodeSize) {
        return fail(QStringLiteral("%1 x %2 pixels is too small for a ZI picture (the glasses draw none under %3 bytes)")
                        .arg(picture.width()).arg(picture.height()).arg(ZIImageUtil::minDecodeSize));
    }
    return true;
}
