#pragma once

#include <QColor>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>

class QImage;
class QPainter;

// Drawing helpers shared by all pictures.
namespace Shapes {

// The sensors that have a glyph of their own; the panel tiles and the
// status-strip notifications draw the same glyph at different sizes.
enum class Sensor { Battery, Accelerometer, Compass, Light, Altimeter };

// A rectangle whose top and bottom corners have different radii, the
// outline of lenses, frames and keys.
QPainterPath roundedShape(const QRectF& rect, qreal topRadius, qreal bottomRadius);

// The outline of a stroked line as a fillable path.
QPainterPath stroked(const QPainterPath& path, qreal width, Qt::PenCapStyle cap = Qt::RoundCap);

// A line from `from` to `to` ending in an arrowhead, as one fillable path.
QPainterPath arrow(QPointF from, QPointF to, qreal width, qreal headLength, qreal headWidth);

// The white-on-colour glyph of a sensor, filling the square `box`.
QPainterPath sensorGlyph(Sensor sensor, const QRectF& box);

// A separable box blur run three times, close to a Gaussian of `radius`.
QImage blurred(const QImage& image, int radius);

// Paints the soft shadow that `path` casts, shifted by `offset`.
void paintShadow(QPainter& painter, const QPainterPath& path, QPointF offset, int radius,
                 const QColor& color);

} // namespace Shapes
