#include "ControlArt.h"

#include "Shapes.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPolygonF>
#include <QRadialGradient>

namespace ControlArt {

namespace {

// The key body; pressed keys sit deeper and lose their top highlight, so
// that the white label stays readable in both states.
QPainterPath paintKeyBody(QPainter& painter, const QRectF& area, bool pressed)
{
    const QRectF body = area.adjusted(1, 1, -1, -1).translated(0, pressed ? 0.5 : 0);
    const qreal radius = qMin(body.width(), body.height()) * 0.32;
    const QPainterPath shape = Shapes::roundedShape(body, radius, radius);

    if (!pressed)
        painter.fillPath(shape.translated(0, 1), QColor(0, 0, 0, 90));

    QLinearGradient face(body.topLeft(), body.bottomLeft());
    face.setColorAt(0, pressed ? QColor(0x1a, 0x1d, 0x22) : QColor(0x56, 0x5d, 0x68));
    face.setColorAt(0.5, pressed ? QColor(0x20, 0x24, 0x29) : QColor(0x36, 0x3b, 0x43));
    face.setColorAt(1, pressed ? QColor(0x2c, 0x31, 0x38) : QColor(0x22, 0x26, 0x2b));
    painter.fillPath(shape, face);

    painter.save();
    painter.setClipPath(shape);
    if (pressed) {
        painter.fillPath(shape.subtracted(shape.translated(0, 2)), QColor(0, 0, 0, 120));
    } else {
        painter.fillPath(shape.subtracted(shape.translated(0, 1.2)), QColor(255, 255, 255, 70));
        QRadialGradient sheen(body.center().x(), body.top(), body.width() * 0.8);
        sheen.setColorAt(0, QColor(255, 255, 255, 28));
        sheen.setColorAt(1, QColor(255, 255, 255, 0));
        painter.fillPath(shape, sheen);
    }
    painter.restore();

    painter.setPen(QPen(QColor(0x0c, 0x0e, 0x11), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(shape);
    return shape;
}

void paintRoundControl(QPainter& painter, const QRectF& area, const QColor& top,
                       const QColor& bottom, const QPainterPath& glyph)
{
    const QRectF disc = area.adjusted(2, 1.5, -2, -2.5);
    QPainterPath shape;
    shape.addEllipse(disc);
    Shapes::paintShadow(painter, shape, QPointF(0, 1), 2, QColor(0, 0, 0, 110));

    QLinearGradient face(disc.topLeft(), disc.bottomLeft());
    face.setColorAt(0, top);
    face.setColorAt(1, bottom);
    painter.fillPath(shape, face);

    QPainterPath gloss;
    gloss.addEllipse(disc.adjusted(disc.width() * 0.12, disc.height() * 0.04,
                                   -disc.width() * 0.12, -disc.height() * 0.5));
    QLinearGradient glossFill(disc.topLeft(), QPointF(disc.left(), disc.center().y()));
    glossFill.setColorAt(0, QColor(255, 255, 255, 90));
    glossFill.setColorAt(1, QColor(255, 255, 255, 0));
    painter.fillPath(gloss, glossFill);

    painter.setPen(QPen(bottom.darker(140), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(disc);

    painter.fillPath(glyph.translated(0, 1), QColor(0, 0, 0, 70));
    painter.fillPath(glyph, Qt::white);
}

} // namespace

void paintKey(QPainter& painter, const QRectF& area, bool pressed)
{
    paintKeyBody(painter, area, pressed);
}

void paintSensorKey(QPainter& painter, const QRectF& area, bool pressed)
{
    paintKeyBody(painter, area, pressed);
    // Sensor waves: a dot sending two arcs, lit in the accent colour while held.
    const QPointF centre = area.center() + QPointF(0, pressed ? 0.5 : 0);
    const qreal unit = qMin(area.width(), area.height()) / 32.0;
    QPainterPath waves;
    waves.addEllipse(centre, 2.6 * unit, 2.6 * unit);
    for (const qreal radius : {6.5, 10.5}) {
        for (const qreal start : {-50.0, 130.0}) {
            QPainterPath arc;
            const QRectF circle(centre.x() - radius * unit, centre.y() - radius * unit,
                                2 * radius * unit, 2 * radius * unit);
            arc.arcMoveTo(circle, start);
            arc.arcTo(circle, start, 100);
            waves = waves.united(Shapes::stroked(arc, 2.0 * unit));
        }
    }
    painter.fillPath(waves.translated(0, 1), QColor(0, 0, 0, 110));
    painter.fillPath(waves, pressed ? QColor(0x5c, 0xd6, 0xff) : QColor(0xdc, 0xe2, 0xea));
}

void paintFullScreen(QPainter& painter, const QRectF& area, bool enter)
{
    // A translucent dark badge reads on the light glasses picture and on the
    // black full-screen background alike.
    const QRectF badge = area.adjusted(1, 1, -1, -1);
    const QPainterPath shape = Shapes::roundedShape(badge, 6, 6);
    painter.fillPath(shape, QColor(0x15, 0x18, 0x1d, 190));
    painter.setPen(QPen(QColor(255, 255, 255, 90), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(shape);

    const QRectF frame = badge.adjusted(6, 6, -6, -6);
    const qreal arm = 5;
    QPainterPath corners;
    const QPointF points[] = {frame.topLeft(), frame.topRight(), frame.bottomRight(), frame.bottomLeft()};
    for (const QPointF& corner : points) {
        const qreal dx = corner.x() < frame.center().x() ? 1 : -1;
        const qreal dy = corner.y() < frame.center().y() ? 1 : -1;
        // Expanding brackets sit in the corners; collapsing ones point back in.
        const QPointF tip = enter ? corner : corner + QPointF(dx * arm, dy * arm);
        const qreal sx = enter ? dx : -dx;
        const qreal sy = enter ? dy : -dy;
        corners.moveTo(tip + QPointF(sx * arm, 0));
        corners.lineTo(tip);
        corners.lineTo(tip + QPointF(0, sy * arm));
    }
    painter.fillPath(Shapes::stroked(corners, 2.2, Qt::SquareCap), Qt::white);
}

void paintPlay(QPainter& painter, const QRectF& area)
{
    const QRectF box = area.adjusted(2, 1.5, -2, -2.5);
    const auto u = [&](qreal x, qreal y) {
        return box.topLeft() + QPointF(x * box.width(), y * box.height());
    };
    QPainterPath triangle;
    triangle.addPolygon(QPolygonF({u(0.38, 0.28), u(0.76, 0.5), u(0.38, 0.72)}));
    triangle.closeSubpath();
    paintRoundControl(painter, area, QColor(0x4c, 0xd9, 0x6a), QColor(0x1f, 0x9a, 0x3e),
                      Shapes::stroked(triangle, box.width() * 0.06).united(triangle));
}

void paintPause(QPainter& painter, const QRectF& area)
{
    const QRectF box = area.adjusted(2, 1.5, -2, -2.5);
    const auto u = [&](qreal x, qreal y) {
        return box.topLeft() + QPointF(x * box.width(), y * box.height());
    };
    const qreal radius = box.width() * 0.03;
    QPainterPath bars;
    bars.addRoundedRect(QRectF(u(0.33, 0.29), u(0.45, 0.71)), radius, radius);
    bars.addRoundedRect(QRectF(u(0.55, 0.29), u(0.67, 0.71)), radius, radius);
    paintRoundControl(painter, area, QColor(0xff, 0xb3, 0x40), QColor(0xd9, 0x7a, 0x06), bars);
}

} // namespace ControlArt
