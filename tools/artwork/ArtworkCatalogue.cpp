#include "ArtworkCatalogue.h"

#include "ControlArt.h"
#include "GlassesArt.h"
#include "SensorArt.h"
#include "StatusArt.h"

#include <QImage>
#include <QPainter>

using Shapes::Sensor;

QList<ArtworkPiece> artworkCatalogue()
{
    const QSize status(24, 24);
    const QSize tile(62, 62);
    QList<ArtworkPiece> pieces = {
        {"glass.png", {640, 480}, GlassesArt::paintGlasses},
        {"Water_drops_on_glass.jpg", {640, 480}, GlassesArt::paintWaterDrops},
        {"fullscreen_on.png", {28, 28},
         [](QPainter& p, const QRectF& r) { ControlArt::paintFullScreen(p, r, true); }},
        {"fullscreen_off.png", {28, 28},
         [](QPainter& p, const QRectF& r) { ControlArt::paintFullScreen(p, r, false); }},
        {"buttonplus.png", {39, 43}, [](QPainter& p, const QRectF& r) { ControlArt::paintKey(p, r, false); }},
        {"buttonpluspressed.png", {39, 43}, [](QPainter& p, const QRectF& r) { ControlArt::paintKey(p, r, true); }},
        {"buttonminus.png", {33, 38}, [](QPainter& p, const QRectF& r) { ControlArt::paintKey(p, r, false); }},
        {"buttonminuspressed.png", {33, 38}, [](QPainter& p, const QRectF& r) { ControlArt::paintKey(p, r, true); }},
        {"buttonsensor.png", {39, 43},
         [](QPainter& p, const QRectF& r) { ControlArt::paintSensorKey(p, r, false); }},
        {"buttonsensorpressed.png", {32, 32},
         [](QPainter& p, const QRectF& r) { ControlArt::paintSensorKey(p, r, true); }},
        {"connection.png", {12, 12}, StatusArt::paintConnection},
        {"sensor_play.png", {48, 48}, ControlArt::paintPlay},
        {"sensor_pause.png", {48, 48}, ControlArt::paintPause},
        {"sensors.png", {256, 256}, SensorArt::paintSheet},
    };

    for (int percent = 0; percent <= 100; percent += 20) {
        const QString name = QStringLiteral("battery-%1").arg(percent, 3, 10, QLatin1Char('0'));
        pieces.append({name + ".png", status, [percent](QPainter& p, const QRectF& r) {
                           StatusArt::paintBattery(p, r, percent, false);
                       }});
        pieces.append({name + "-charging.png", status, [percent](QPainter& p, const QRectF& r) {
                           StatusArt::paintBattery(p, r, percent, true);
                       }});
    }

    const struct
    {
        const char* name;
        Sensor sensor;
        bool notifies;
    } sensors[] = {
        {"battery", Sensor::Battery, false},
        {"accelerometer", Sensor::Accelerometer, true},
        {"compass", Sensor::Compass, true},
        {"light", Sensor::Light, true},
        {"altimeter", Sensor::Altimeter, true},
    };
    for (const auto& entry : sensors) {
        const Sensor sensor = entry.sensor;
        pieces.append({QStringLiteral("sensor_%1.png").arg(entry.name), tile,
                       [sensor](QPainter& p, const QRectF& r) { SensorArt::paintTile(p, r, sensor); }});
        if (entry.notifies)
            pieces.append({QStringLiteral("notify_%1.png").arg(entry.name), status,
                           [sensor](QPainter& p, const QRectF& r) { StatusArt::paintNotify(p, r, sensor); }});
    }
    return pieces;
}

QImage renderPiece(const ArtworkPiece& piece)
{
    QImage image(piece.size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    piece.paint(painter, QRectF(QPointF(0, 0), QSizeF(piece.size)));
    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}
