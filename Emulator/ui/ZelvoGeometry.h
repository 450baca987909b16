#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// Where the glasses' parts sit, in one place for the window, the full-screen
// layout and the content drawing.
namespace ZelvoGeometry {

// The display image: a transparent status strip on top, the agents' content
// below it.
constexpr QSize displayImageSize(320, 240);
constexpr int statusStripHeight = 24;
constexpr QRect contentArea(0, statusStripHeight, 320, 216);
constexpr QPoint connectionIconPosition(10, 0);
constexpr QPoint batteryIconPosition(290, 0);
// The display's resolution on every desktop: 100 dpi, Qt 5's offscreen
// platform's, at which the content font's 20 points are 27.8 pixels.
constexpr int displayDotsPerMeter = 3937;

// Window mode: a window of fixed size over the glasses' picture.
constexpr QSize windowModeSize(640, 480);
constexpr QPoint displayPosition(200, 150);
constexpr QSize displaySize(256, 192);
constexpr QPoint fullScreenButtonPosition(606, 4);
constexpr QPoint plusButtonPosition(570, 140);
constexpr QPoint minusButtonPosition(565, 200);
constexpr QPoint sensorButtonPosition(570, 60);

// Full-screen mode: the display keeps a margin on every side, and the
// buttons keep their distance from the screen's right edge; x counts
// leftwards from that edge.
constexpr int fullScreenDisplayMargin = 100;
constexpr QPoint fullScreenButtonFromRight(34, 4);
constexpr QPoint plusButtonFromRight(72, 140);
constexpr QPoint minusButtonFromRight(72, 200);
constexpr QPoint sensorButtonFromRight(72, 60);

constexpr QPoint fromRightEdge(int width, QPoint place)
{
    return QPoint(width - place.x(), place.y());
}

} // namespace ZelvoGeometry
