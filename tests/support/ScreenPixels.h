#pragma once

#include <QRgb>

#include <functional>

class QColor;
class QImage;
class QRect;

// Reading screenshots: colours compared loosely, since a window manager's
// and the display's scaling blend the edges of whatever is drawn.
namespace ScreenPixels {

// Within 48 levels of the colour in each channel.
bool looksLike(QRgb pixel, const QColor& colour);
// How many pixels of the area, as far as it lies in the picture, pass the test.
int countPixels(const QImage& picture, const QRect& area, const std::function<bool(QRgb)>& test);

} // namespace ScreenPixels
