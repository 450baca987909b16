#pragma once

class QPainter;
class QRectF;

// The controls: the hardware keys on the glasses' side module, the
// full-screen switch and the sensor panel's play and pause buttons.
namespace ControlArt {

// A key of the side module; the program writes "+" or "-" over it in white.
void paintKey(QPainter& painter, const QRectF& area, bool pressed);
// The key that opens the sensor panel, with its sensor glyph.
void paintSensorKey(QPainter& painter, const QRectF& area, bool pressed);
// Expand arrows (enter full screen) or collapse arrows (leave it).
void paintFullScreen(QPainter& painter, const QRectF& area, bool enter);
void paintPlay(QPainter& painter, const QRectF& area);
void paintPause(QPainter& painter, const QRectF& area);

} // namespace ControlArt
