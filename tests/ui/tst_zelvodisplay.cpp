#include "ui/ZelvoDisplay.h"

#include <QColor>
#include <QGraphicsScene>
#include <QImage>
#include <QPainter>
#include <QTest>

namespace {

// A 320 x 240 picture in four single-coloured quarters.
QImage quarters()
{
    QImage image(320, 240, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(0, 0, 160, 120, Qt::red);
    painter.fillRect(160, 0, 160, 120, Qt::green);
    painter.fillRect(0, 120, 160, 120, Qt::blue);
    painter.fillRect(160, 120, 160, 120, Qt::yellow);
    return image;
}

QImage rendered(QGraphicsScene& scene)
{
    QImage image(scene.sceneRect().size().toSize(), QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    scene.render(&painter, QRectF(image.rect()), scene.sceneRect());
    return image;
}

} // namespace

class TestZelvoDisplay : public QObject
{
    Q_OBJECT

private slots:
    void defaultSize();
    void paintsPixmapScaled_data();
    void paintsPixmapScaled();
    void setSizeMovesItemInScene_data();
    void setSizeMovesItemInScene();
};

void TestZelvoDisplay::defaultSize()
{
    const ZelvoDisplay display;
    QCOMPARE(display.size(), QSize(256, 192));
    QCOMPARE(display.boundingRect(), QRectF(0, 0, 256, 192));
}

void TestZelvoDisplay::paintsPixmapScaled_data()
{
    QTest::addColumn<QPoint>("pixel");
    QTest::addColumn<QColor>("color");

    QTest::newRow("top left quarter") << QPoint(64, 48) << QColor(Qt::red);
    QTest::newRow("top right quarter") << QPoint(192, 48) << QColor(Qt::green);
    QTest::newRow("bottom left quarter") << QPoint(64, 144) << QColor(Qt::blue);
    QTest::newRow("bottom right quarter") << QPoint(192, 144) << QColor(Qt::yellow);
    QTest::newRow("just left of the middle") << QPoint(124, 92) << QColor(Qt::red);
    QTest::newRow("just right of the middle") << QPoint(132, 100) << QColor(Qt::yellow);
    QTest::newRow("bottom right corner") << QPoint(255, 191) << QColor(Qt::yellow);
    QTest::newRow("beyond the right edge") << QPoint(260, 100) << QColor(Qt::black);
    QTest::newRow("beyond the bottom edge") << QPoint(100, 196) << QColor(Qt::black);
}

void TestZelvoDisplay::paintsPixmapScaled()
{
    QFETCH(QPoint, pixel);
    QFETCH(QColor, color);

    QGraphicsScene scene(0, 0, 640, 480);
    auto* display = new ZelvoDisplay;
    display->setImage(quarters());
    display->setPos(200, 150);
    scene.addItem(display);

    const QImage image = rendered(scene);
    QCOMPARE(image.pixelColor(pixel + QPoint(200, 150)), color);
}

void TestZelvoDisplay::setSizeMovesItemInScene_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPointF>("inside");
    QTest::addColumn<QPointF>("outside");

    QTest::newRow("640x480") << QSize(640, 480) << QPointF(600, 400) << QPointF(200, 500);
    QTest::newRow("100x50") << QSize(100, 50) << QPointF(99, 49) << QPointF(150, 40);
    QTest::newRow("256x192") << QSize(256, 192) << QPointF(255, 191) << QPointF(300, 100);
}

void TestZelvoDisplay::setSizeMovesItemInScene()
{
    QFETCH(QSize, size);
    QFETCH(QPointF, inside);
    QFETCH(QPointF, outside);

    QGraphicsScene scene(0, 0, 800, 600);
    auto* display = new ZelvoDisplay;
    display->setImage(quarters());
    scene.addItem(display);
    // Index the item at its old size first, so that a stale index would show.
    QVERIFY(scene.items(QPointF(10, 10)).contains(display));

    display->setSize(size.width(), size.height());
    QCOMPARE(display->size(), size);
    QCOMPARE(display->boundingRect(), QRectF(QPointF(0, 0), size));
    QVERIFY(scene.items(inside).contains(display));
    QVERIFY(!scene.items(outside).contains(display));
    QCOMPARE(scene.itemsBoundingRect(), QRectF(QPointF(0, 0), size));

    const QImage image = rendered(scene);
    QCOMPARE(image.pixelColor(inside.toPoint()), QColor(Qt::yellow));
    QCOMPARE(image.pixelColor(outside.toPoint()), QColor(Qt::black));
}

QTEST_MAIN(TestZelvoDisplay)
#include "tst_zelvodisplay.moc"
