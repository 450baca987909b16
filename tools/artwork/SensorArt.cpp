#include "SensorArt.h"

#include <QLinearGradient>
#include <QPainter>

namespace SensorArt {

namespace {

struct TileColors
{
    QColor top;
    QColor bottom;
};

TileColors tileColors(Shapes::Sensor sensor)
{
    switch (sensor) {
    case Shapes::Sensor::Battery:
        return {QColor(0x5b, 0xe0, 0x73), QColor(0x1c, 0x9e, 0x47)};
    case Shapes::Sensor::Accelerometer:
        return {QColor(0xff, 0x8a, 0x5b), QColor(0xe0, 0x43, 0x2a)};
    case Shapes::Sensor::Compass:
        return {QColor(0x4f, 0xa8, 0xff), QColor(0x1f, 0x5f, 0xd6)};
    case Shapes::Sensor::Light:
        return {QColor(0xff, 0xcf, 0x40), QColor(0xf0, 0x8c, 0x0a)};
    case Shapes::Sensor::Altimeter:
        return {QColor(0xb0, 0x7c, 0xff), QColor(0x6b, 0x3f, 0xd1)};
    }
    return {Qt::gray, Qt::darkGray};
}

} // namespace

void paintTile(QPainter& painter, const QRectF& area, Shapes::Sensor sensor)
{
    const qreal margin = area.width() * 0.05;
    const QRectF tile = area.adjusted(margin, margin * 0.6, -margin, -margin * 1.4);
    const qreal radius = tile.width() * 0.24;
    const QPainterPath shape = Shapes::roundedShape(tile, radius, radius);
    Shapes::paintShadow(painter, shape, QPointF(0, area.width() * 0.02),
                        qMax(1, qRound(area.width() * 0.03)), QColor(0, 0, 0, 90));

    const TileColors colors = tileColors(sensor);
    QLinearGradient fill(tile.topLeft(), tile.bottomLeft());
    fill.setColorAt(0, colors.top);
    fill.setColorAt(1, colors.bottom);
    painter.fillPath(shape, fill);

    painter.save();
    painter.setClipPath(shape);
    QLinearGradient gloss(tile.topLeft(), QPointF(tile.left(), tile.center().y()));
    gloss.setColorAt(0, QColor(255, 255, 255, 70));
    gloss.setColorAt(1, QColor(255, 255, 255, 0));
    painter.fillRect(QRectF(tile.topLeft(), QPointF(tile.right(), tile.center().y())), gloss);
    painter.restore();

    const qreal inset = tile.width() * 0.2;
    const QPainterPath glyph = Shapes::sensorGlyph(sensor, tile.adjusted(inset, inset, -inset, -inset));
    painter.fillPath(glyph.translated(0, tile.width() * 0.025), QColor(0, 0, 0, 60));
    painter.fillPath(glyph, Qt::white);
}

void paintSheet(QPainter& painter, const QRectF& area)
{
    const qreal gap = area.width() * 0.04;
    const qreal side = (area.width() - 3 * gap) / 2;
    const Shapes::Sensor sensors[] = {Shapes::Sensor::Battery, Shapes::Sensor::Accelerometer,
                                      Shapes::Sensor::Compass, Shapes::Sensor::Light};
    for (int i = 0; i < 4; ++i) {
        const int column = i % 2;
        const int row = i / 2;
        const QPointF topLeft(area.left() + gap + column * (side + gap), area.top() + gap + row * (side + gap));
        paintTile(painter, QRectF(topLeft, QSizeF(side, side)), sensors[i]);
    }
}

} // namespace SensorArt
