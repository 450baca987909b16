#pragma once

#include "Shapes.h"

class QPainter;
class QRectF;

// The sensor panel's row icons: a coloured tile with the sensor's glyph.
namespace SensorArt {

void paintTile(QPainter& painter, const QRectF& area, Shapes::Sensor sensor);
// The four panel sensors as one sheet, two by two.
void paintSheet(QPainter& painter, const QRectF& area);

} // namespace SensorArt
