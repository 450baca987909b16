#pragma once

#include "Shapes.h"

class QPainter;
class QRectF;

// The icons of the display's status strip, drawn light with a dark halo so
// that they read over the dark display and over agent content.
namespace StatusArt {

// Battery at `percent` (0, 20, ..., 100), with a bolt while charging.
void paintBattery(QPainter& painter, const QRectF& area, int percent, bool charging);
// An agent is connected.
void paintConnection(QPainter& painter, const QRectF& area);
// A sensor reading was sent.
void paintNotify(QPainter& painter, const QRectF& area, Shapes::Sensor sensor);

} // namespace StatusArt
