#include "ScreenPixels.h"

#include <QColor>
#include <QImage>
#include <QRect>
#include <QtGlobal>

namespace ScreenPixels {

bool looksLike(QRgb pixel, const QColor& colour)
{
    return qAbs(qRed(pixel) - colour.red()) < 48 && qAbs(qGreen(pixel) - colour.green()) < 48
           && qAbs(qBlue(pixel) - colour.blue()) < 48;
}

int countPixels(const QImage& picture, const QRect& area, const std::function<bool(QRgb)>& test)
{
    int count = 0;
    const QRect inside = area & picture.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x)
            count += test(picture.pixel(x, y)) ? 1 : 0;
    }
    return count;
}

} // namespace ScreenPixels
