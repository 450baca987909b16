#pragma once

class QPainter;
class QRectF;

// The window's background: the glasses seen from the front, close up on the
// right eyepiece whose lens carries the display, with the side module that
// holds the hardware keys.
namespace GlassesArt {

// `area` is the 640 x 480 scene; the positions of the display and the keys
// are those the window places its items at.
void paintGlasses(QPainter& painter, const QRectF& area);
// Water drops on a window pane.
void paintWaterDrops(QPainter& painter, const QRectF& area);

} // namespace GlassesArt
