#include "Shapes.h"

#include <QImage>
#include <QLineF>
#include <QPainter>
#include <QPainterPathStroker>
#include <QPolygonF>
#include <QTransform>

#include <cmath>

namespace Shapes {

namespace {

// Control-point distance that makes a cubic Bézier a quarter circle.
constexpr qreal kappa = 0.5522847498;

// One horizontal box-blur pass over premultiplied pixels; a vertical pass
// is the same on the transposed image.
QImage boxBlurRows(const QImage& source, int radius)
{
    QImage target(source.size(), QImage::Format_ARGB32_Premultiplied);
    const int width = source.width();
    const int window = 2 * radius + 1;
    for (int y = 0; y < source.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        auto* out = reinterpret_cast<QRgb*>(target.scanLine(y));
        const auto at = [&](int x) { return in[qBound(0, x, width - 1)]; };
        int a = 0, r = 0, g = 0, b = 0;
        for (int x = -radius; x <= radius; ++x) {
            const QRgb pixel = at(x);
            a += qAlpha(pixel); r += qRed(pixel); g += qGreen(pixel); b += qBlue(pixel);
        }
        for (int x = 0; x < width; ++x) {
            out[x] = qRgba(r / window, g / window, b / window, a / window);
            const QRgb leaving = at(x - radius);
            const QRgb entering = at(x + radius + 1);
            a += qAlpha(entering) - qAlpha(leaving);
            r += qRed(entering) - qRed(leaving);
            g += qGreen(entering) - qGreen(leaving);
            b += qBlue(entering) - qBlue(leaving);
        }
    }
    return target;
}

QImage transposed(const QImage& image)
{
    return image.transformed(QTransform(0, 1, 1, 0, 0, 0));
}

} // namespace

QPainterPath roundedShape(const QRectF& r, qreal top, qreal bottom)
{
    QPainterPath path;
    path.moveTo(r.left() + top, r.top());
    path.lineTo(r.right() - top, r.top());
    path.cubicTo(r.right() - top + top * kappa, r.top(), r.right(), r.top() + top - top * kappa,
                 r.right(), r.top() + top);
    path.lineTo(r.right(), r.bottom() - bottom);
    path.cubicTo(r.right(), r.bottom() - bottom + bottom * kappa,
                 r.right() - bottom + bottom * kappa, r.bottom(), r.right() - bottom, r.bottom());
    path.lineTo(r.left() + bottom, r.bottom());
    path.cubicTo(r.left() + bottom - bottom * kappa, r.bottom(), r.left(),
                 r.bottom() - bottom + bottom * kappa, r.left(), r.bottom() - bottom);
    path.lineTo(r.left(), r.top() + top);
    path.cubicTo(r.left(), r.top() + top - top * kappa, r.left() + top - top * kappa, r.top(),
                 r.left() + top, r.top());
    path.closeSubpath();
    return path;
}

QPainterPath stroked(const QPainterPath& path, qreal width, Qt::PenCapStyle cap)
{
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(cap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(path).simplified();
}

QPainterPath arrow(QPointF from, QPointF to, qreal width, qreal headLength, qreal headWidth)
{
    const QLineF line(from, to);
    const QPointF direction = (to - from) / line.length();
    const QPointF normal(-direction.y(), direction.x());
    const QPointF base = to - direction * headLength;

    QPainterPath shaft;
    shaft.moveTo(from);
    shaft.lineTo(base + direction * 1.0);
    QPainterPath head;
    head.addPolygon(QPolygonF({to, base + normal * headWidth / 2, base - normal * headWidth / 2}));
    head.closeSubpath();
    return stroked(shaft, width, Qt::FlatCap).united(head);
}

QPainterPath sensorGlyph(Sensor sensor, const QRectF& box)
{
    const qreal s = box.width();
    const auto u = [&](qreal x, qreal y) { return box.topLeft() + QPointF(x * s, y * s); };
    const auto rect = [&](qreal x1, qreal y1, qreal x2, qreal y2) {
        return QRectF(u(x1, y1), u(x2, y2));
    };

    QPainterPath glyph;
    switch (sensor) {
    case Sensor::Battery: {
        QPainterPath outer, inner, nub, charge;
        outer.addRoundedRect(rect(0.29, 0.20, 0.71, 0.92), 0.07 * s, 0.07 * s);
        inner.addRoundedRect(rect(0.36, 0.27, 0.64, 0.85), 0.03 * s, 0.03 * s);
        nub.addRoundedRect(rect(0.41, 0.10, 0.59, 0.22), 0.03 * s, 0.03 * s);
        charge.addRect(rect(0.41, 0.52, 0.59, 0.80));
        glyph = outer.subtracted(inner).united(nub).united(charge);
        break;
    }
    case Sensor::Accelerometer: {
        const QPointF origin = u(0.40, 0.60);
        const qreal w = 0.08 * s, head = 0.17 * s, headWidth = 0.22 * s;
        QPainterPath hub;
        hub.addEllipse(origin, 0.09 * s, 0.09 * s);
        glyph = arrow(origin, u(0.90, 0.60), w, head, headWidth)
                    .united(arrow(origin, u(0.40, 0.10), w, head, headWidth))
                    .united(arrow(origin, u(0.10, 0.90), w, head, headWidth))
                    .united(hub);
        break;
    }
    case Sensor::Compass: {
        const QPointF centre = u(0.5, 0.5);
        QPainterPath outer, inner, north, south, southHole;
        outer.addEllipse(centre, 0.46 * s, 0.46 * s);
        inner.addEllipse(centre, 0.38 * s, 0.38 * s);
        north.addPolygon(QPolygonF({u(0.5, 0.17), u(0.61, 0.5), u(0.39, 0.5)}));
        north.closeSubpath();
        south.addPolygon(QPolygonF({u(0.5, 0.83), u(0.61, 0.5), u(0.39, 0.5)}));
        south.closeSubpath();
        southHole.addPolygon(QPolygonF({u(0.5, 0.72), u(0.565, 0.52), u(0.435, 0.52)}));
        southHole.closeSubpath();
        QTransform tilt;
        tilt.translate(centre.x(), centre.y());
        tilt.rotate(35);
        tilt.translate(-centre.x(), -centre.y());
        const QPainterPath needle = tilt.map(north.united(south.subtracted(southHole)));
        glyph = outer.subtracted(inner).united(needle);
        break;
    }
    case Sensor::Light: {
        const QPointF centre = u(0.5, 0.5);
        glyph.addEllipse(centre, 0.19 * s, 0.19 * s);
        for (int ray = 0; ray < 8; ++ray) {
            const qreal angle = ray * M_PI / 4;
            const QPointF direction(std::cos(angle), std::sin(angle));
            QPainterPath line;
            line.moveTo(centre + direction * 0.30 * s);
            line.lineTo(centre + direction * 0.44 * s);
            glyph = glyph.united(stroked(line, 0.085 * s));
        }
        break;
    }
    case Sensor::Altimeter: {
        QPainterPath high, low;
        high.addPolygon(QPolygonF({u(0.06, 0.88), u(0.40, 0.34), u(0.74, 0.88)}));
        high.closeSubpath();
        low.addPolygon(QPolygonF({u(0.46, 0.88), u(0.66, 0.58), u(0.94, 0.88)}));
        low.closeSubpath();
        glyph = high.united(low).united(
            arrow(u(0.80, 0.46), u(0.80, 0.08), 0.08 * s, 0.16 * s, 0.22 * s));
        break;
    }
    }
    return glyph.simplified();
}

QImage blurred(const QImage& image, int radius)
{
    QImage result = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int passRadius = qMax(1, radius / 2);
    for (int pass = 0; pass < 3; ++pass)
        result = boxBlurRows(result, passRadius);
    result = transposed(result);
    for (int pass = 0; pass < 3; ++pass)
        result = boxBlurRows(result, passRadius);
    return transposed(result);
}

void paintShadow(QPainter& painter, const QPainterPath& path, QPointF offset, int radius,
                 const QColor& color)
{
    const int margin = 3 * radius;
    const QRect bounds = path.boundingRect().toAlignedRect().adjusted(-margin, -margin, margin, margin);
    QImage shadow(bounds.size(), QImage::Format_ARGB32_Premultiplied);
    shadow.fill(Qt::transparent);
    {
        QPainter shadowPainter(&shadow);
        shadowPainter.setRenderHint(QPainter::Antialiasing);
        shadowPainter.translate(-bounds.topLeft());
        shadowPainter.fillPath(path, color);
    }
    painter.drawImage(QPointF(bounds.topLeft()) + offset, blurred(shadow, radius));
}

} // namespace Shapes
