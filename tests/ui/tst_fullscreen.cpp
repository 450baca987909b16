#include "ui/Button.h"
#include "EmulatorWindow.h"
#include "clock/ZelvoClockTimer.h"
#include "ui/ZelvoDisplay.h"
#include "ui/ZelvoEmulator.h"
#include "comm/ZelvoServer.h"
#include "services/ZelvoServices.h"

#include <QGraphicsScene>
#include <QGuiApplication>
#include <QHostAddress>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QTransform>

namespace {

// Set by the run on a 1920 x 1080 X server, whose screen must then have that size.
const char* const screenSizeVariable = "ZELVO_SCREEN_SIZE";

QSize screenSize()
{
    return QGuiApplication::primaryScreen()->geometry().size();
}

void clickItem(ZelvoEmulator& window, const QGraphicsItem* item)
{
    QTest::mouseClick(window.viewport(), Qt::LeftButton, Qt::NoModifier,
                      window.mapFromScene(item->sceneBoundingRect().center()));
}

QImage grabViewport(ZelvoEmulator& window)
{
    return window.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// The part of a viewport grab that shows the given scene rectangle.
QImage sceneArea(ZelvoEmulator& window, const QImage& grab, const QRect& sceneRect)
{
    return grab.copy(sceneRect.translated(window.mapFromScene(QPointF(0, 0))));
}

// The mean difference of the colour channels; images of equal size.
double meanDifference(const QImage& a, const QImage& b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            sum += qAbs(qRed(p) - qRed(q)) + qAbs(qGreen(p) - qGreen(q)) + qAbs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * a.width() * a.height());
}

bool isBlack(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if ((image.pixel(x, y) & 0xffffff) != 0)
                return false;
        }
    }
    return true;
}

// A status icon as the full-screen display shows it: over black, scaled
// from the 320 x 240 display image to the display item's size.
QImage iconOverBlack(const QString& resource, const QSizeF& shownSize)
{
    QImage icon(resource);
    QImage onBlack(icon.size(), QImage::Format_RGB32);
    onBlack.fill(Qt::black);
    QPainter painter(&onBlack);
    painter.drawImage(0, 0, icon);
    painter.end();
    return onBlack.scaled(shownSize.toSize(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace

class tst_FullScreen final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fullScreenLayout();
    void mirroredDisplay();
    void textColour_data();
    void textColour();
    void leaving_data();
    void leaving();
    void escapeInWindowMode();
    void twoClicksWithinDelay_data();
    void twoClicksWithinDelay();
    void screenOf1920x1080();

private:
    static void enterFullScreen(ZelvoEmulator& window);
};

void tst_FullScreen::initTestCase()
{
    const QByteArray expected = qgetenv(screenSizeVariable);
    qInfo() << "screen" << QGuiApplication::platformName() << screenSize();
    if (!expected.isEmpty())
        QCOMPARE(QStringLiteral("%1x%2").arg(screenSize().width()).arg(screenSize().height()),
                 QString::fromLatin1(expected));
}

// Clicks the full-screen button and waits for the delayed layout.
void tst_FullScreen::enterFullScreen(ZelvoEmulator& window)
{
    const int width = screenSize().width();
    clickItem(window, window.fullScreenControl());
    QVERIFY(window.isFullScreenMode());
    QTRY_COMPARE(window.fullScreenControl()->pos(), QPointF(width - 34, 4));
}

void tst_FullScreen::fullScreenLayout()
{
    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    ZelvoEmulator window(&server, services, nullptr);
    QVERIFY(startAndShow(server, window));

    const int w = screenSize().width();
    const int h = screenSize().height();
    QTest::ignoreMessage(QtDebugMsg, QStringLiteral(" onFullScreenOnSlot %1 h %2").arg(w).arg(h).toUtf8());
    clickItem(window, window.fullScreenControl());
    QVERIFY(window.isFullScreenMode());
    QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(window.backgroundBrush(), QBrush(Qt::black));
    QTRY_COMPARE(window.displayItem()->pos(), QPointF(100, 100));

    QCOMPARE(window.size(), QSize(w, h));
    QCOMPARE(window.minimumSize(), QSize(w, h));
    QCOMPARE(window.maximumSize(), QSize(w, h));
    QCOMPARE(window.pos(), QPoint(0, 0));
    QCOMPARE(window.scene()->sceneRect(), QRectF(0, 0, w, h));

    const ZelvoDisplay* display = window.displayItem();
    QCOMPARE(display->size(), QSize(w - 200, h - 200));
    // Mirrored within its own rectangle: its left edge shows on the right.
    QCOMPARE(display->sceneBoundingRect(), QRectF(100, 100, w - 200, h - 200));
    QCOMPARE(display->mapToScene(QPointF(0, 0)), QPointF(w - 100, 100));
    QCOMPARE(display->mapToScene(QPointF(w - 200, h - 200)), QPointF(100, h - 100));

    QCOMPARE(window.fullScreenControl()->pos(), QPointF(w - 34, 4));
    QCOMPARE(window.plusControl()->pos(), QPointF(w - 72, 140));
    QCOMPARE(window.minusControl()->pos(), QPointF(w - 72, 200));
    QCOMPARE(window.sensorControl()->pos(), QPointF(w - 72, 60));
    QCOMPARE(window.fullScreenControl()->pixmap(Button::Normal).toImage(),
             QImage(":/data/fullscreen_off.png").convertToFormat(QImage::Format_ARGB32_Premultiplied));

    // Black wherever the display and the buttons leave the screen free.
    const QImage grab = grabViewport(window);
    QCOMPARE(grab.size(), QSize(w, h));
    QVERIFY(isBlack(sceneArea(window, grab, QRect(0, 0, w - 80, 100))));
    QVERIFY(isBlack(sceneArea(window, grab, QRect(0, h - 100, w, 100))));
    QVERIFY(isBlack(sceneArea(window, grab, QRect(0, 0, 100, h))));
}

void tst_FullScreen::mirroredDisplay()
{
    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    ZelvoEmulator window(&server, services, nullptr);
    QVERIFY(startAndShow(server, window));
    enterFullScreen(window);

    const QSizeF displaySize = window.displayItem()->size();
    const double sx = displaySize.width() / 320.0;
    const double sy = displaySize.height() / 240.0;
    // Where a status icon at x of the display image shows, mirrored or not.
    const auto iconRect = [&](int x, int size, bool mirrored) {
        const double left = mirrored ? 100 + displaySize.width() - (x + size) * sx : 100 + x * sx;
        return QRectF(left, 100, size * sx, size * sy).toAlignedRect();
    };

    // The battery alone: near the left edge, drawn the other way round, and
    // nothing where it would be unmirrored.
    window.updateDisplay(QImage(), true);
    QImage grab = grabViewport(window);
    const QImage battery = iconOverBlack(":/data/battery-020.png", iconRect(290, 24, true).size());
    const QImage shownBattery = sceneArea(window, grab, iconRect(290, 24, true));
    QVERIFY(!isBlack(shownBattery));
    const double mirroredDifference = meanDifference(shownBattery.mirrored(true, false), battery);
    QVERIFY2(mirroredDifference < 12, qPrintable(QString::number(mirroredDifference)));
    QVERIFY(meanDifference(shownBattery, battery) > 2 * mirroredDifference);
    QVERIFY(isBlack(sceneArea(window, grab, iconRect(290, 24, false))));

    // With an agent, the connection icon near the right edge.
    QTcpSocket agent;
    agent.connectToHost(QHostAddress::LocalHost, server.serverPort());
    QTRY_COMPARE(server.connections().size(), 1);
    window.updateDisplay(QImage(), true);
    grab = grabViewport(window);
    const QImage connection = iconOverBlack(":/data/connection.png", iconRect(10, 12, true).size());
    const QImage shownConnection = sceneArea(window, grab, iconRect(10, 12, true));
    QVERIFY(!isBlack(shownConnection));
    QVERIFY(meanDifference(shownConnection.mirrored(true, false), connection) < 12);
}

void tst_FullScreen::textColour_data()
{
    QTest::addColumn<bool>("inFullScreen");
    QTest::addColumn<QRgb>("colour");

    QTest::newRow("window mode") << false << qRgb(0, 255, 0);
    QTest::newRow("full screen") << true << qRgb(255, 255, 255);
}

// Content drawn in full-screen mode is white, green otherwise: the colour is
// taken when the content is drawn.
void tst_FullScreen::textColour()
{
    QFETCH(bool, inFullScreen);
    QFETCH(QRgb, colour);

    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    ZelvoEmulator window(&server, services, nullptr);
    QVERIFY(startAndShow(server, window));
    if (inFullScreen)
        enterFullScreen(window);

    server.processAgentContent(QStringLiteral("agent"), 1, QStringLiteral("0"), {}, {QStringLiteral("HELLO WORLD")});
    QVERIFY(window.isContentOnDisplay());
    const QImage content = window.displayImage().copy(0, 24, 320, 216).convertToFormat(QImage::Format_ARGB32);
    int matching = 0;
    int other = 0;
    for (int y = 0; y < content.height(); ++y) {
        for (int x = 0; x < content.width(); ++x) {
            const QRgb pixel = content.pixel(x, y);
            if (qAlpha(pixel) < 255)
                continue;
            if ((pixel & 0xffffff) == (colour & 0xffffff))
                ++matching;
            else
                ++other;
        }
    }
    QVERIFY(matching > 100);
    QCOMPARE(other, 0);
}

void tst_FullScreen::leaving_data()
{
    QTest::addColumn<bool>("escape");

    QTest::newRow("full-screen button") << false;
    QTest::newRow("Escape") << true;
}

void tst_FullScreen::leaving()
{
    QFETCH(bool, escape);

    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    ZelvoEmulator window(&server, services, nullptr);
    QVERIFY(startAndShow(server, window));
    window.updateDisplay(QImage(), true);
    const QImage before = grabViewport(window);

    enterFullScreen(window);
    if (escape)
        QTest::keyClick(&window, Qt::Key_Escape);
    else
        clickItem(window, window.fullScreenControl());
    QVERIFY(!window.isFullScreenMode());
    QVERIFY(!(window.windowFlags() & Qt::FramelessWindowHint));
    QCOMPARE(window.size(), QSize(640, 480));
    QCOMPARE(window.minimumSize(), QSize(640, 480));
    QCOMPARE(window.maximumSize(), QSize(640, 480));
    QTRY_COMPARE(window.displayItem()->pos(), QPointF(200, 150));

    QCOMPARE(window.scene()->sceneRect(), QRectF(0, 0, 640, 480));
    QCOMPARE(window.displayItem()->size(), QSize(256, 192));
    QVERIFY(window.displayItem()->transform().isIdentity());
    QCOMPARE(window.fullScreenControl()->pos(), QPointF(606, 4));
    QCOMPARE(window.plusControl()->pos(), QPointF(570, 140));
    QCOMPARE(window.minusControl()->pos(), QPointF(565, 200));
    QCOMPARE(window.sensorControl()->pos(), QPointF(570, 60));
    QCOMPARE(window.fullScreenControl()->pixmap(Button::Normal).toImage(),
             QImage(":/data/fullscreen_on.png").convertToFormat(QImage::Format_ARGB32_Premultiplied));
    QCOMPARE(grabViewport(window), before);

    // Nothing of the full-screen scene is left to scroll into view.
    for (Qt::Key key : {Qt::Key_Right, Qt::Key_Down, Qt::Key_PageDown, Qt::Key_End})
        QTest::keyClick(&window, key);
    QCOMPARE(grabViewport(window), before);
}

void tst_FullScreen::escapeInWindowMode()
{
    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    ZelvoEmulator window(&server, services, nullptr);
    QVERIFY(startAndShow(server, window));
    const QImage before = grabViewport(window);
    const Qt::WindowFlags flags = window.windowFlags();

    QTest::keyClick(&window, Qt::Key_Escape);
    QVERIFY(!window.isFullScreenMode());
    QCOMPARE(window.windowFlags(), flags);
    QCOMPARE(window.size(), QSize(640, 480));
    QCOMPARE(grabViewport(window), before);
}

void tst_FullScreen::twoClicksWithinDelay_data()
{
    QTest::addColumn<bool>("startFullScreen");

    QTest::newRow("enter then leave") << false;
    QTest::newRow("leave then enter") << true;
}

// The delayed layouts are not cancelled: both run, in the order of the
// clicks, so the second click decides the final picture.
void tst_FullScreen::twoClicksWithinDelay()
{
    QFETCH(bool, startFullScreen);

    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    ZelvoEmulator window(&server, services, nullptr);
    QVERIFY(startAndShow(server, window));
    if (startFullScreen)
        enterFullScreen(window);

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^ onFullScreenOnSlot "));
    // On the device clock, which fires timers in deadline order: a timer of
    // the machine's with the same delay may come before the later layout.
    ZelvoClockTimer bothDone(services.clock.get());
    bothDone.setSingleShot(true);
    QSignalSpy done(&bothDone, &ZelvoClockTimer::timeout);
    clickItem(window, window.fullScreenControl());
    if (startFullScreen) {
        // Back in the 640 x 480 window the button is still laid out for the
        // full screen, out of reach of the mouse until the delayed layout:
        // toggle as its click does.
        QVERIFY(QMetaObject::invokeMethod(&window, "onFullScreenToggle"));
    } else {
        clickItem(window, window.fullScreenControl());
    }
    // Started after both delayed layouts with their delay, it fires after them.
    bothDone.start(400);
    QCOMPARE(window.isFullScreenMode(), startFullScreen);
    QVERIFY(done.wait());

    const QPointF displayPosition = startFullScreen ? QPointF(100, 100) : QPointF(200, 150);
    QCOMPARE(window.displayItem()->pos(), displayPosition);
    QCOMPARE(window.displayItem()->transform().isIdentity(), !startFullScreen);
    const int right = startFullScreen ? screenSize().width() : 640;
    QCOMPARE(window.fullScreenControl()->pos(), QPointF(right - 34, 4));
    QCOMPARE(window.size(), startFullScreen ? screenSize() : QSize(640, 480));
}

void tst_FullScreen::screenOf1920x1080()
{
    if (screenSize() != QSize(1920, 1080))
        QSKIP("needs a 1920 x 1080 screen");

    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    ZelvoEmulator window(&server, services, nullptr);
    QVERIFY(startAndShow(server, window));
    enterFullScreen(window);

    QCOMPARE(window.size(), QSize(1920, 1080));
    QCOMPARE(window.displayItem()->pos(), QPointF(100, 100));
    QCOMPARE(window.displayItem()->size(), QSize(1720, 880));
    QCOMPARE(window.fullScreenControl()->pos(), QPointF(1886, 4));
    QCOMPARE(window.plusControl()->x(), 1848.0);
    QCOMPARE(window.minusControl()->x(), 1848.0);
    QCOMPARE(window.sensorControl()->x(), 1848.0);
}

QTEST_MAIN(tst_FullScreen)
#include "tst_fullscreen.moc"
