#include "ZelvoImageComparison.h"

#include <QColor>

#include <algorithm>
#include <cstdlib>

ZelvoImageComparison ZelvoImageComparison::compare(const QImage& actual, const QImage& expected, int tolerance)
{
    ZelvoImageComparison result;
    if (actual.size() != expected.size()) {
        result.difference = actual.convertToFormat(QImage::Format_ARGB32);
        return result;
    }
    result.sameSize = true;
    // Unpremultiplied, so that a transparent pixel compares by its alpha alone.
    const QImage a = actual.convertToFormat(QImage::Format_ARGB32);
    const QImage e = expected.convertToFormat(QImage::Format_ARGB32);
    result.difference = QImage(e.size(), QImage::Format_RGB32);
    for (int y = 0; y < e.height(); ++y) {
        const auto* actualLine = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* expectedLine = reinterpret_cast<const QRgb*>(e.constScanLine(y));
        auto* differenceLine = reinterpret_cast<QRgb*>(result.difference.scanLine(y));
        for (int x = 0; x < e.width(); ++x) {
            const QRgb p = actualLine[x];
            const QRgb q = expectedLine[x];
            const bool invisible = qAlpha(p) == 0 && qAlpha(q) == 0;
            const int largest = invisible ? 0
                                          : std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                                      std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
            result.largestDifference = std::max(result.largestDifference, largest);
            if (largest > tolerance) {
                ++result.differingPixels;
                differenceLine[x] = qRgb(255, 0, 0);
            } else {
                const int grey = qGray(q) * qAlpha(q) / 255 / 3;
                differenceLine[x] = qRgb(grey, grey, grey);
            }
        }
    }
    return result;
}
