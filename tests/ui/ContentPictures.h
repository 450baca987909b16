#pragma once

#include "../util/TestFiles.h"
#include "ZIImage.h"
#include "ZIImageUtil.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QStandardPaths>
#include <QString>

// The pictures the content tests send as agents, and where the emulator
// keeps them.
namespace ContentPictures {

// Where the emulator keeps the images of the agent with this hash.
inline QString imageDirectory(const QString& hash)
{
    return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) + QStringLiteral("/Zelvo/") + hash;
}

// Opaque, so that composing the display cannot round any pixel: white,
// the left half in color, the lower right quarter blue, a black
// diagonal. As ZI, green gives lit pixels and everything else background.
inline QImage picture(int width, int height, const QColor& color)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.fillRect(0, 0, width / 2, height, color);
    painter.fillRect(width / 2, height / 2, width - width / 2, height - height / 2, Qt::blue);
    painter.drawLine(0, 0, width - 1, height - 1);
    return image;
}

inline QByteArray ziPayload(int width, int height)
{
    return ZIImageUtil::ziCompress(picture(width, height, Qt::green)).toByteArray();
}

inline QByteArray pngPayload(int width, int height)
{
    return TestFiles::png(picture(width, height, QColor(200, 90, 10)));
}

} // namespace ContentPictures
