#include "GlassesArt.h"

#include "Shapes.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPolygonF>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <QTransform>

#include <cmath>

namespace GlassesArt {

namespace {

// Where the window draws its items over the picture.
const QRectF displayRect(200, 150, 256, 192);
const QRectF sensorKey(570, 60, 39, 43);
const QRectF plusKey(570, 140, 39, 43);
const QRectF minusKey(565, 200, 33, 38);

// The right eyepiece; the left one is its mirror image across the bridge.
const QRectF lensRect(160, 110, 336, 272);
const QRectF rimRect(142, 84, 372, 314);
const qreal bridgeAxis = 101;
const QRectF moduleRect(550, 38, 78, 232);

QPainterPath lensShape()
{
    return Shapes::roundedShape(lensRect, 40, 84);
}

QPainterPath rimShape()
{
    return Shapes::roundedShape(rimRect, 54, 100);
}

QTransform mirrorAcrossBridge()
{
    return QTransform::fromTranslate(2 * bridgeAxis, 0).scale(-1, 1);
}

QPainterPath lenses()
{
    return lensShape().united(mirrorAcrossBridge().map(lensShape()));
}

QPainterPath sideModule()
{
    return Shapes::roundedShape(moduleRect, 36, 36);
}

QPainterPath frameSilhouette()
{
    QPainterPath bridge;
    bridge.moveTo(150, 182);
    bridge.cubicTo(128, 150, 74, 150, 52, 182);
    QPainterPath hinge;
    hinge.addRoundedRect(QRectF(496, 102, 70, 42), 12, 12);
    QPainterPath temple;
    temple.addRoundedRect(QRectF(600, 116, 60, 30), 10, 10);
    return rimShape()
        .united(mirrorAcrossBridge().map(rimShape()))
        .united(Shapes::stroked(bridge, 20))
        .united(hinge)
        .united(temple)
        .united(sideModule());
}

QPainterPath keyWell(const QRectF& key)
{
    const QRectF well = key.adjusted(-3, -3, 3, 3);
    const qreal radius = qMin(well.width(), well.height()) * 0.34;
    return Shapes::roundedShape(well, radius, radius);
}

// The maker's name, drawn with strokes so that it needs no font.
QPainterPath wordmark(QPointF origin, qreal height)
{
    const qreal w = height * 0.72;
    const qreal advance = w + height * 0.45;
    QPainterPath letters;
    auto at = [&](int index, qreal x, qreal y) {
        return origin + QPointF(index * advance + x * w, y * height);
    };
    letters.moveTo(at(0, 0, 0));
    letters.lineTo(at(0, 1, 0));
    letters.lineTo(at(0, 0, 1));
    letters.lineTo(at(0, 1, 1));
    letters.moveTo(at(1, 1, 0));
    letters.lineTo(at(1, 0, 0));
    letters.lineTo(at(1, 0, 1));
    letters.lineTo(at(1, 1, 1));
    letters.moveTo(at(1, 0, 0.5));
    letters.lineTo(at(1, 0.8, 0.5));
    letters.moveTo(at(2, 0, 0));
    letters.lineTo(at(2, 0, 1));
    letters.lineTo(at(2, 1, 1));
    letters.moveTo(at(3, 0, 0));
    letters.lineTo(at(3, 0.5, 1));
    letters.lineTo(at(3, 1, 0));
    letters.addEllipse(QRectF(at(4, 0, 0), at(4, 1.15, 1)));
    return letters;
}

void paintBackdrop(QPainter& painter, const QRectF& area)
{
    QLinearGradient wall(area.topLeft(), area.bottomLeft());
    wall.setColorAt(0, QColor(0xe9, 0xec, 0xf0));
    wall.setColorAt(0.7, QColor(0xd2, 0xd7, 0xde));
    wall.setColorAt(1, QColor(0xb9, 0xc0, 0xc9));
    painter.fillRect(area, wall);

    QRadialGradient light(QPointF(330, 190), 380);
    light.setColorAt(0, QColor(255, 255, 255, 150));
    light.setColorAt(1, QColor(255, 255, 255, 0));
    painter.fillRect(area, light);
}

void paintLenses(QPainter& painter)
{
    const QPainterPath glass = lenses();
    QLinearGradient tint(0, lensRect.top(), 0, lensRect.bottom());
    tint.setColorAt(0, QColor(0x30, 0x3b, 0x49, 236));
    tint.setColorAt(1, QColor(0x0b, 0x0f, 0x15, 246));
    painter.fillPath(glass, tint);

    // The waveguide: where the projected image appears, darker than the
    // rest of the lens and faintly edged, so the display reads as a screen.
    QPainterPath screen;
    screen.addRoundedRect(displayRect, 3, 3);
    painter.fillPath(Shapes::stroked(screen, 10), QColor(0x5a, 0xb4, 0xff, 10));
    painter.fillPath(Shapes::stroked(screen, 4), QColor(0x5a, 0xb4, 0xff, 18));
    painter.fillPath(screen, QColor(0x03, 0x06, 0x09, 215));
    painter.setPen(QPen(QColor(0x8c, 0xc8, 0xff, 48), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(displayRect.adjusted(-0.5, -0.5, 0.5, 0.5), 3, 3);

    // Reflections of the studio lights, kept off the screen area.
    painter.save();
    painter.setClipPath(glass);
    QLinearGradient sheen(lensRect.topLeft(), QPointF(lensRect.left() + 80, lensRect.top() + 110));
    sheen.setColorAt(0, QColor(255, 255, 255, 60));
    sheen.setColorAt(1, QColor(255, 255, 255, 0));
    QPainterPath upperLeft;
    upperLeft.addPolygon(QPolygonF({{150, 100}, {300, 100}, {150, 250}}));
    painter.fillPath(upperLeft.subtracted(screen), sheen);
    QPainterPath lowerRight;
    lowerRight.addPolygon(QPolygonF({{420, 390}, {505, 300}, {505, 330}, {448, 390}}));
    painter.fillPath(lowerRight, QColor(255, 255, 255, 26));
    QPainterPath leftGlint;
    leftGlint.addPolygon(QPolygonF({{0, 150}, {30, 110}, {42, 110}, {0, 180}}));
    painter.fillPath(leftGlint, QColor(255, 255, 255, 30));
    painter.restore();

    painter.setPen(QPen(QColor(0, 0, 0, 160), 2.5));
    painter.drawPath(glass);
}

void paintFrame(QPainter& painter, const QPainterPath& frame)
{
    QLinearGradient body(0, 40, 0, 400);
    body.setColorAt(0, QColor(0x4a, 0x51, 0x5b));
    body.setColorAt(0.4, QColor(0x2e, 0x33, 0x3a));
    body.setColorAt(1, QColor(0x1a, 0x1d, 0x22));

    painter.save();
    painter.setClipPath(frame);
    // A lighter edge along every upper contour, where the light hits.
    painter.fillPath(frame, QColor(0x9a, 0xa3, 0xaf));
    painter.fillPath(frame.translated(0, 1.6), body);
    painter.restore();

    painter.setPen(QPen(QColor(0x0d, 0x0f, 0x12, 200), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(frame);
}

void paintSideModule(QPainter& painter)
{
    const QPainterPath module = sideModule();
    // Shaded across its width so that the module looks rounded.
    QLinearGradient round(moduleRect.left(), 0, moduleRect.right(), 0);
    round.setColorAt(0, QColor(0x22, 0x26, 0x2c));
    round.setColorAt(0.3, QColor(0x4d, 0x55, 0x60));
    round.setColorAt(0.55, QColor(0x3a, 0x40, 0x48));
    round.setColorAt(1, QColor(0x17, 0x1a, 0x1e));
    painter.save();
    painter.setClipPath(module);
    painter.fillPath(module, QColor(0x9a, 0xa3, 0xaf));
    painter.fillPath(module.translated(0, 1.6), round);
    painter.restore();
    painter.setPen(QPen(QColor(0x0d, 0x0f, 0x12, 220), 1));
    painter.drawPath(module);

    for (const QRectF& key : {sensorKey, plusKey, minusKey}) {
        const QPainterPath well = keyWell(key);
        painter.fillPath(well.translated(0, 1), QColor(255, 255, 255, 45));
        QLinearGradient depth(key.topLeft(), key.bottomLeft());
        depth.setColorAt(0, QColor(0x07, 0x08, 0x0a));
        depth.setColorAt(1, QColor(0x16, 0x19, 0x1d));
        painter.fillPath(well, depth);
    }

    // Status light above the keys and the ambient-light sensor below them.
    const QPointF led(589, 48);
    QRadialGradient glow(led, 7);
    glow.setColorAt(0, QColor(0x5b, 0xff, 0x9a, 160));
    glow.setColorAt(1, QColor(0x5b, 0xff, 0x9a, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(glow);
    painter.drawEllipse(led, 7, 7);
    painter.setBrush(QColor(0xc8, 0xff, 0xdc));
    painter.drawEllipse(led, 1.8, 1.8);

    const QPointF sensor(582, 256);
    QRadialGradient lensGlass(sensor + QPointF(-1.5, -1.5), 6);
    lensGlass.setColorAt(0, QColor(0x4a, 0x6a, 0x90));
    lensGlass.setColorAt(1, QColor(0x05, 0x07, 0x0a));
    painter.setBrush(lensGlass);
    painter.setPen(QPen(QColor(0x80, 0x88, 0x94), 1));
    painter.drawEllipse(sensor, 5, 5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 190));
    painter.drawEllipse(sensor + QPointF(-1.6, -1.6), 1.2, 1.2);
}

void paintDetails(QPainter& painter)
{
    // Hinge screws on the end piece.
    for (const QPointF& screw : {QPointF(524, 123), QPointF(540, 123)}) {
        QRadialGradient metal(screw + QPointF(-0.8, -0.8), 3);
        metal.setColorAt(0, QColor(0xe4, 0xe8, 0xee));
        metal.setColorAt(1, QColor(0x5c, 0x63, 0x6d));
        painter.setPen(QPen(QColor(0x12, 0x14, 0x18), 0.8));
        painter.setBrush(metal);
        painter.drawEllipse(screw, 2.6, 2.6);
    }

    const QPainterPath name = Shapes::stroked(wordmark(QPointF(420, 93), 8), 1.5, Qt::FlatCap);
    painter.fillPath(name.translated(0, 1), QColor(0, 0, 0, 110));
    painter.fillPath(name, QColor(0xc9, 0xcf, 0xd8));
}

} // namespace

void paintGlasses(QPainter& painter, const QRectF& area)
{
    paintBackdrop(painter, area);
    const QPainterPath frame = frameSilhouette();
    Shapes::paintShadow(painter, frame, QPointF(0, 18), 14, QColor(0x10, 0x16, 0x22, 120));
    paintFrame(painter, frame.subtracted(lenses()));
    paintLenses(painter);
    paintDetails(painter);
    paintSideModule(painter);
}

void paintWaterDrops(QPainter& painter, const QRectF& area)
{
    // A blurred evening street behind the pane, then the drops, each a small
    // upside-down lens of what lies behind it.
    QLinearGradient sky(area.topLeft(), area.bottomLeft());
    sky.setColorAt(0, QColor(0x1b, 0x3a, 0x55));
    sky.setColorAt(1, QColor(0x0d, 0x1a, 0x26));
    painter.fillRect(area, sky);

    QRandomGenerator random(20240611);
    const auto uniform = [&](qreal low, qreal high) { return low + random.generateDouble() * (high - low); };

    QImage bokeh(area.size().toSize(), QImage::Format_ARGB32_Premultiplied);
    bokeh.fill(Qt::transparent);
    {
        QPainter lights(&bokeh);
        lights.setRenderHint(QPainter::Antialiasing);
        lights.setPen(Qt::NoPen);
        const QColor tones[] = {QColor(0xff, 0xc2, 0x6b), QColor(0x7f, 0xd4, 0xff), QColor(0xff, 0x8a, 0x7a)};
        for (int i = 0; i < 40; ++i) {
            QColor tone = tones[random.bounded(3)];
            tone.setAlpha(int(uniform(40, 120)));
            lights.setBrush(tone);
            const qreal radius = uniform(10, 45);
            lights.drawEllipse(QPointF(uniform(0, area.width()), uniform(area.height() * 0.3, area.height())),
                               radius, radius);
        }
    }
    painter.drawImage(area.topLeft(), Shapes::blurred(bokeh, 18));

    for (int i = 0; i < 170; ++i) {
        const qreal radius = std::pow(uniform(0.2, 1.0), 2.5) * 22 + 2;
        const QPointF centre(uniform(0, area.width()), uniform(0, area.height()));
        const QRectF drop(centre.x() - radius, centre.y() - radius * 0.92, 2 * radius, 1.84 * radius);

        QPainterPath shape;
        shape.addEllipse(drop);
        painter.fillPath(shape.translated(radius * 0.08, radius * 0.16), QColor(0, 0, 0, 70));

        QLinearGradient body(drop.topLeft(), drop.bottomLeft());
        body.setColorAt(0, QColor(0x08, 0x12, 0x1c, 170));
        body.setColorAt(0.65, QColor(0x3a, 0x5c, 0x78, 150));
        body.setColorAt(1, QColor(0xc8, 0xe4, 0xf6, 190));
        painter.fillPath(shape, body);

        painter.setPen(QPen(QColor(255, 255, 255, 50), qMax(0.8, radius * 0.06)));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(drop);

        QPainterPath glint;
        glint.addEllipse(QRectF(drop.left() + radius * 0.45, drop.top() + radius * 0.3,
                                radius * 0.45, radius * 0.3));
        painter.fillPath(glint, QColor(255, 255, 255, 210));
    }
}

} // namespace GlassesArt
