#include "StatusArt.h"

#include <QPainter>
#include <QPolygonF>

namespace StatusArt {

namespace {

const QColor ink(0xf4, 0xf6, 0xf8);
const QColor halo(0, 0, 0, 150);

void paintWithHalo(QPainter& painter, const QPainterPath& shape, const QBrush& fill)
{
    painter.fillPath(Shapes::stroked(shape, 2.0), halo);
    painter.fillPath(shape, fill);
}

QColor levelColor(int percent)
{
    if (percent <= 20)
        return QColor(0xff, 0x4d, 0x42);
    if (percent <= 40)
        return QColor(0xff, 0xb3, 0x1f);
    return QColor(0x3d, 0xdc, 0x5a);
}

} // namespace

void paintBattery(QPainter& painter, const QRectF& area, int percent, bool charging)
{
    const qreal unit = area.width() / 24.0;
    const auto r = [&](qreal x, qreal y, qreal w, qreal h) {
        return QRectF(area.x() + x * unit, area.y() + y * unit, w * unit, h * unit);
    };

    QPainterPath outer, inner, nub;
    outer.addRoundedRect(r(1.5, 6.5, 19, 11), 2.2 * unit, 2.2 * unit);
    inner.addRoundedRect(r(3, 8, 16, 8), 1.2 * unit, 1.2 * unit);
    nub.addRoundedRect(r(20.5, 9.5, 2, 5), 1 * unit, 1 * unit);
    const QPainterPath casing = outer.subtracted(inner).united(nub);
    // An empty battery warns with a red casing.
    paintWithHalo(painter, casing, percent == 0 ? levelColor(0) : ink);

    if (percent > 0) {
        QPainterPath level;
        level.addRoundedRect(r(4, 9, 14.0 * percent / 100, 6), 0.6 * unit, 0.6 * unit);
        painter.fillPath(level, levelColor(percent));
    }

    if (charging) {
        const auto p = [&](qreal x, qreal y) { return area.topLeft() + QPointF(x, y) * unit; };
        QPainterPath bolt;
        // Slim, so that the level stays readable on both sides of it.
        bolt.addPolygon(QPolygonF({p(13.2, 3.6), p(8.4, 12.8), p(11.2, 12.8), p(9.8, 20.4),
                                   p(14.8, 11.2), p(12.0, 11.2)}));
        bolt.closeSubpath();
        painter.fillPath(Shapes::stroked(bolt, 1.6 * unit), QColor(0x10, 0x12, 0x16));
        painter.fillPath(bolt, QColor(0xff, 0xe0, 0x3a));
    }
}

void paintConnection(QPainter& painter, const QRectF& area)
{
    // A dot sending two waves: the usual sign of a live link.
    const qreal unit = area.width() / 12.0;
    const QPointF source = area.topLeft() + QPointF(6, 9.6) * unit;
    QPainterPath signal;
    signal.addEllipse(source, 1.5 * unit, 1.5 * unit);
    for (const qreal radius : {4.3, 7.6}) {
        const QRectF circle(source.x() - radius * unit, source.y() - radius * unit,
                            2 * radius * unit, 2 * radius * unit);
        QPainterPath arc;
        arc.arcMoveTo(circle, 45);
        arc.arcTo(circle, 45, 90);
        signal = signal.united(Shapes::stroked(arc, 1.6 * unit));
    }
    paintWithHalo(painter, signal, QColor(0x6e, 0xe2, 0xff));
}

void paintNotify(QPainter& painter, const QRectF& area, Shapes::Sensor sensor)
{
    paintWithHalo(painter, Shapes::sensorGlyph(sensor, area.adjusted(2, 2, -2, -2)), ink);
}

} // namespace StatusArt
