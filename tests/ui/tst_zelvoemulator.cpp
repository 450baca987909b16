#include "ui/Button.h"
#include "clock/ZelvoClockTimer.h"
#include "EmulatorWindow.h"
#include "ui/ZelvoDisplay.h"
#include "ui/ZelvoEmulator.h"
#include "model/ZelvoLayout.h"
#include "ui/sensor/ZelvoSensorList.h"
#include "comm/ZelvoServer.h"
#include "services/ZelvoServices.h"
#include "model/ZelvoHeadPose.h"
#include "pose/ZelvoHeadMotion.h"
#include "record/ZelvoRecorder.h"
#include "recording/ZelvoDisplayRecorder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGraphicsScene>
#include <QFileInfo>
#include <QHash>
#include <QHostAddress>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

const QRect batteryArea(290, 0, 24, 24);
const QRect connectionArea(10, 0, 12, 12);
const QRect statusStrip(0, 0, 320, 24);

QImage premultiplied(const QImage& image)
{
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// Equal but for the rounding of premultiplied alpha.
bool samePixels(const QImage& actual, const QImage& expected)
{
    const QImage a = premultiplied(actual);
    const QImage b = premultiplied(expected);
    if (a.size() != b.size())
        return false;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            if (qAbs(qRed(p) - qRed(q)) > 2 || qAbs(qGreen(p) - qGreen(q)) > 2 || qAbs(qBlue(p) - qBlue(q)) > 2
                || qAbs(qAlpha(p) - qAlpha(q)) > 2)
                return false;
        }
    }
    return true;
}

// A picture in which every pixel differs from its neighbours.
QImage patternImage(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x % 256, y % 256, (x * 7 + y * 13) % 256));
    }
    return image;
}

// Acts on the next message box as soon as it is shown modally.
void whenQuestionShown(QObject* context, const std::function<void(QMessageBox*)>& act)
{
    auto* poll = new QTimer(context);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, act] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        act(box);
    });
    poll->start(10);
}

void clickItem(ZelvoEmulator& window, const QGraphicsItem* item)
{
    QTest::mouseClick(window.viewport(), Qt::LeftButton, Qt::NoModifier,
                      window.mapFromScene(item->sceneBoundingRect().center()));
}

// Top-level positions left of the screen may need a second move on the
// offscreen platform before they stick.
void moveWindowTo(QWidget& window, const QPoint& position)
{
    for (int attempt = 0; attempt < 3 && window.pos() != position; ++attempt)
        window.move(position);
}

} // namespace

class tst_ZelvoEmulator final : public QObject
{
    Q_OBJECT

private slots:
    void composedContent_data();
    void composedContent();
    void batteryIcon_data();
    void batteryIcon();
    void connectionIcon();
    void layoutsAfterConstruction();
    void sceneItems_data();
    void sceneItems();
    void windowSettings();
    void connections_data();
    void connections();
    void sensorButtonTogglesPanel();
    void panelPlacement_data();
    void panelPlacement();
    void closeQuestionDeclined_data();
    void closeQuestionDeclined();
    void closeConfirmedEndsEventLoop_data();
    void closeConfirmedEndsEventLoop();
    void servicesOutliveTheWindow();
};

void tst_ZelvoEmulator::composedContent_data()
{
    QTest::addColumn<QImage>("content");
    QTest::addColumn<bool>("showStatus");

    QTest::newRow("null content") << QImage() << false;
    QTest::newRow("null content with status") << QImage() << true;
    QTest::newRow("320x216 content") << patternImage(320, 216) << false;
    QTest::newRow("320x216 content with status") << patternImage(320, 216) << true;
    QTest::newRow("100x50 content") << patternImage(100, 50) << false;
    QTest::newRow("400x300 content") << patternImage(400, 300) << false;
}

void tst_ZelvoEmulator::composedContent()
{
    QFETCH(QImage, content);
    QFETCH(bool, showStatus);

    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    ZelvoEmulator window(&server, services, nullptr);

    window.updateDisplay(content, showStatus);
    const QImage composed = window.displayImage();
    QCOMPARE(composed.size(), QSize(320, 240));

    QImage strip = composed.copy(statusStrip);
    if (showStatus) {
        QVERIFY(samePixels(strip.copy(batteryArea), window.batteryIcon()));
        // Nothing but the battery: no agent is connected.
        QPainter eraser(&strip);
        eraser.setCompositionMode(QPainter::CompositionMode_Clear);
        eraser.fillRect(batteryArea, Qt::transparent);
    }
    QVERIFY(isTransparent(strip));

    // Unscaled below the strip; whatever lies beyond 320 x 216 is cut off.
    const QRect contentArea(0, 24, 320, 216);
    const QRect drawn = content.rect().translated(0, 24).intersected(contentArea);
    if (!drawn.isEmpty())
        QVERIFY(samePixels(composed.copy(drawn), content.copy(drawn.translated(0, -24))));
    if (drawn != contentArea) {
        QImage rest = composed.copy(contentArea);
        QPainter eraser(&rest);
        eraser.setCompositionMode(QPainter::CompositionMode_Clear);
        eraser.fillRect(drawn.translated(0, -24), Qt::transparent);
        eraser.end();
        QVERIFY(isTransparent(rest));
    }
}

void tst_ZelvoEmulator::batteryIcon_data()
{
    QTest::addColumn<int>("percent");
    QTest::addColumn<bool>("charging");
    QTest::addColumn<QString>("resource");

    QTest::newRow("20") << 20 << false << ":/data/battery-020.png";
    QTest::newRow("30") << 30 << false << ":/data/battery-020.png";
    QTest::newRow("35") << 35 << false << ":/data/battery-000.png";
    QTest::newRow("40") << 40 << false << ":/data/battery-040.png";
    QTest::newRow("50 charging") << 50 << true << ":/data/battery-040-charging.png";
    QTest::newRow("60") << 60 << false << ":/data/battery-060.png";
    QTest::newRow("70 charging") << 70 << true << ":/data/battery-060-charging.png";
    QTest::newRow("80") << 80 << false << ":/data/battery-080.png";
    QTest::newRow("90 charging") << 90 << true << ":/data/battery-080-charging.png";
    QTest::newRow("100") << 100 << false << ":/data/battery-100.png";
    QTest::newRow("100 charging") << 100 << true << ":/data/battery-100-charging.png";
    QTest::newRow("0") << 0 << false << ":/data/battery-000.png";
    QTest::newRow("10 charging") << 10 << true << ":/data/battery-000-charging.png";
    QTest::newRow("-20") << -20 << false << ":/data/battery-000.png";
    QTest::newRow("110") << 110 << false << ":/data/battery-000.png";
    QTest::newRow("120 charging") << 120 << true << ":/data/battery-000-charging.png";
}

void tst_ZelvoEmulator::batteryIcon()
{
    QFETCH(int, percent);
    QFETCH(bool, charging);
    QFETCH(QString, resource);

    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    ZelvoEmulator window(&server, services, nullptr);
    const QImage expected(resource);
    QCOMPARE(expected.size(), QSize(24, 24));

    // As the panel would: the level through its signal, charging through the
    // battery's play button.
    QVERIFY(QMetaObject::invokeMethod(window.sensorPanel(), "batteryChanged", Q_ARG(int, percent)));
    QCOMPARE(window.battery(), percent);
    if (charging)
        window.sensorPanel()->startStopButton(ZelvoSensorList::Battery)->click();
    QCOMPARE(window.isBatteryCharging(), charging);

    QVERIFY(samePixels(window.batteryIcon(), expected));
    window.updateDisplay(QImage(), true);
    QVERIFY(samePixels(window.displayImage().copy(batteryArea), expected));
}

void tst_ZelvoEmulator::connectionIcon()
{
    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    ZelvoEmulator window(&server, services, nullptr);
    const QImage connection(QStringLiteral(":/data/connection.png"));
    QCOMPARE(connection.size(), QSize(12, 12));

    window.updateDisplay(QImage(), true);
    QVERIFY(isTransparent(window.displayImage().copy(connectionArea)));

    QTcpSocket agent;
    agent.connectToHost(QHostAddress::LocalHost, server.serverPort());
    QTRY_COMPARE(server.connections().size(), 1);
    // The strip changes only when the display is composed again.
    QVERIFY(isTransparent(window.displayImage().copy(connectionArea)));

    window.updateDisplay(QImage(), true);
    QVERIFY(samePixels(window.displayImage().copy(connectionArea), connection));

    window.updateDisplay(patternImage(320, 216), false);
    QVERIFY(isTransparent(window.displayImage().copy(statusStrip)));

    agent.disconnectFromHost();
    QTRY_VERIFY(server.connections().isEmpty());
    window.updateDisplay(QImage(), true);
    QVERIFY(isTransparent(window.displayImage().copy(connectionArea)));
}

void tst_ZelvoEmulator::layoutsAfterConstruction()
{
    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    ZelvoEmulator first(&server, services, nullptr);
    ZelvoEmulator second(&server, services, nullptr);

    const QList<int> rectangles = {1, 1, 2, 3, 4};
    for (const ZelvoEmulator* window : {&first, &second}) {
        const QList<ZelvoLayout>& layouts = window->layoutList();
        QCOMPARE(layouts.size(), 5);
        for (int i = 0; i < layouts.size(); ++i) {
            QCOMPARE(layouts.at(i).index(), i);
            QCOMPARE(layouts.at(i).name(), QStringLiteral("?"));
            QCOMPARE(layouts.at(i).images().size() + layouts.at(i).texts().size(), rectangles.at(i));
        }
        QCOMPARE(layouts, ZelvoLayout::builtInLayouts());
    }
}

void tst_ZelvoEmulator::sceneItems_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QPointF>("position");
    QTest::addColumn<QSizeF>("size");
    QTest::addColumn<QString>("normal");
    QTest::addColumn<QString>("pressed");
    QTest::addColumn<QString>("text");

    QTest::newRow("fullScreenButton") << "fullScreenButton" << QPointF(606, 4) << QSizeF(28, 28)
                                      << ":/data/fullscreen_on.png" << QString() << QString();
    QTest::newRow("plusButton") << "plusButton" << QPointF(570, 140) << QSizeF(39, 43) << ":/data/buttonplus.png"
                                << ":/data/buttonpluspressed.png" << "+";
    QTest::newRow("minusButton") << "minusButton" << QPointF(565, 200) << QSizeF(33, 38)
                                 << ":/data/buttonminus.png" << ":/data/buttonminuspressed.png" << "-";
    QTest::newRow("sensorButton") << "sensorButton" << QPointF(570, 60) << QSizeF(39, 43)
                                  << ":/data/buttonsensor.png" << ":/data/buttonsensorpressed.png" << QString();
}

void tst_ZelvoEmulator::sceneItems()
{
    QFETCH(QString, item);
    QFETCH(QPointF, position);
    QFETCH(QSizeF, size);
    QFETCH(QString, normal);
    QFETCH(QString, pressed);
    QFETCH(QString, text);

    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    ZelvoEmulator window(&server, services, nullptr);

    const QHash<QString, const Button*> buttons = {{"fullScreenButton", window.fullScreenControl()},
                                             {"plusButton", window.plusControl()},
                                             {"minusButton", window.minusControl()},
                                             {"sensorButton", window.sensorControl()}};
    const Button* button = buttons.value(item);
    QVERIFY(button);
    QCOMPARE(button->scene(), window.scene());
    QCOMPARE(button->pos(), position);
    QCOMPARE(button->size(), size);
    QCOMPARE(button->text(), text);
    QCOMPARE(button->pixmap(Button::Normal).toImage(), QImage(normal).convertToFormat(QImage::Format_ARGB32_Premultiplied));
    QCOMPARE(button->pixmap(Button::Pressed).isNull(), pressed.isNull());
    if (!pressed.isNull())
        QCOMPARE(button->pixmap(Button::Pressed).toImage(), QImage(pressed).convertToFormat(QImage::Format_ARGB32_Premultiplied));
    // The display lies behind every button.
    QVERIFY(button->zValue() > window.displayItem()->zValue());
}

void tst_ZelvoEmulator::windowSettings()
{
    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    ZelvoEmulator window(&server, services, nullptr);

    QCOMPARE(window.windowTitle(), QStringLiteral("Zelvo Emulator"));
    QCOMPARE(window.size(), QSize(640, 480));
    QCOMPARE(window.minimumSize(), QSize(640, 480));
    QCOMPARE(window.maximumSize(), QSize(640, 480));
    QCOMPARE(window.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(window.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(window.viewportUpdateMode(), QGraphicsView::SmartViewportUpdate);
    QCOMPARE(window.cacheMode(), QGraphicsView::CacheMode(QGraphicsView::CacheBackground));
    QCOMPARE(window.renderHints(),
             QPainter::RenderHints() | QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
    QCOMPARE(window.dragMode(), QGraphicsView::NoDrag);
    QCOMPARE(window.optimizationFlags(), QGraphicsView::OptimizationFlags(QGraphicsView::DontAdjustForAntialiasing));
    QCOMPARE(window.backgroundBrush().texture().toImage(), QPixmap(":/data/glass.png").toImage());
    QVERIFY(!window.isFullScreenMode());

    QGraphicsScene* scene = window.scene();
    QVERIFY(scene);
    QCOMPARE(scene->parent(), &window);
    QCOMPARE(scene->sceneRect(), QRectF(0, 0, 640, 480));
    QCOMPARE(scene->items().size(), 5);

    const ZelvoDisplay* display = window.displayItem();
    QCOMPARE(display->scene(), scene);
    QCOMPARE(display->pos(), QPointF(200, 150));
    QCOMPARE(display->boundingRect(), QRectF(0, 0, 256, 192));
    QCOMPARE(display->zValue(), -10.0);
    QVERIFY(display->isVisible());
    QVERIFY(display->transform().isIdentity());
    // Empty and without status icons.
    QVERIFY(isTransparent(window.displayImage()));

    QVERIFY(!window.sensorPanel()->parent());
    QVERIFY(window.sensorPanel()->isWindow());
    QVERIFY(!window.sensorPanel()->isVisible());
    QCOMPARE(window.sensorPanel()->batteryPercent(), 20);

    // The four sensor timers repeat; the two persisting timers do not.
    QList<const ZelvoClockTimer*> timers;
    for (const ZelvoClockTimer* timer : window.findChildren<ZelvoClockTimer*>(QString(), Qt::FindDirectChildrenOnly)) {
        QVERIFY(!timer->isActive());
        if (!timer->isSingleShot())
            timers.append(timer);
    }
    QCOMPARE(timers.size(), 4);
    for (const ZelvoClockTimer* timer : timers) {
        QCOMPARE(timer->interval(), 2000);
        QVERIFY(!timer->isSingleShot());
        QVERIFY(!timer->isActive());
    }

    // The whole glasses picture is in view and nothing scrolls.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.viewport()->size(), QSize(640, 480));
    QCOMPARE(window.mapToScene(0, 0), QPointF(0, 0));
    QCOMPARE(window.horizontalScrollBar()->maximum(), 0);
    QCOMPARE(window.verticalScrollBar()->maximum(), 0);
}

void tst_ZelvoEmulator::connections_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QByteArray>("signal");
    QTest::addColumn<QByteArray>("slot");

    const auto row = [](const char* sender, const char* signal, const char* slot) {
        QTest::addRow("%s %s", sender, signal) << sender << QByteArray(signal) << QByteArray(slot);
    };
    row("sensorList", "singleShotValue(float*,int)", "onSingleShotValue(float*,int)");
    row("sensorList", "batteryChanged(int)", "onBatteryChanged(int)");
    row("sensorList", "startBattery()", "onStartBattery()");
    row("sensorList", "stopBattery()", "onStopBattery()");
    row("sensorList", "startAccelerometer(float*)", "onStartAccelerometer(float*)");
    row("sensorList", "stopAccelerometer()", "onStopAccelerometer()");
    row("sensorList", "startCompass(float*)", "onStartCompass(float*)");
    row("sensorList", "stopCompass()", "onStopCompass()");
    row("sensorList", "startLightSensor(float*)", "onStartLightSensor(float*)");
    row("sensorList", "stopLightSensor()", "onStopLightSensor()");
    row("batteryTimer", "timeout()", "onSimulateBattery()");
    row("accelerometerTimer", "timeout()", "onSimulateAccelerometer()");
    row("compassTimer", "timeout()", "onSimulateCompass()");
    row("lightSensorTimer", "timeout()", "onSimulateLightSensor()");
    row("fullScreenButton", "clicked()", "onFullScreenToggle()");
    row("plusButton", "pressed()", "onPlusPressed()");
    row("plusButton", "released()", "onPlusReleased()");
    row("plusButton", "clicked()", "onPlusClicked()");
    row("plusButton", "longPressed()", "onPlusLongPressed()");
    row("minusButton", "pressed()", "onMinusPressed()");
    row("minusButton", "released()", "onMinusReleased()");
    row("minusButton", "clicked()", "onMinusClicked()");
    row("minusButton", "longPressed()", "onMinusLongPressed()");
    row("sensorButton", "clicked()", "onSensorClicked()");
}

// A connection made by signature is found, and removed, by the same
// signature: disconnect() succeeds exactly for the connections that exist.
void tst_ZelvoEmulator::connections()
{
    QFETCH(QString, sender);
    QFETCH(QByteArray, signal);
    QFETCH(QByteArray, slot);

    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    ZelvoEmulator window(&server, services, nullptr);
    // The agents' messages reach the window through one interface, in order.
    QCOMPARE(server.agentSink(), static_cast<ZelvoAgentSink*>(&window));

    const QHash<QString, const QObject*> named = {{"sensorList", window.sensorPanel()},
                                            {"fullScreenButton", window.fullScreenControl()},
                                            {"plusButton", window.plusControl()},
                                            {"minusButton", window.minusControl()},
                                            {"sensorButton", window.sensorControl()}};
    // The timers have no names: exactly one of the four must be connected.
    QList<const QObject*> candidates;
    for (ZelvoClockTimer* timer : window.findChildren<ZelvoClockTimer*>(QString(), Qt::FindDirectChildrenOnly))
        candidates.append(timer);
    candidates += named.values();

    const QByteArray signalSignature = QByteArray::number(QSIGNAL_CODE) + signal;
    const QByteArray slotSignature = QByteArray::number(QSLOT_CODE) + slot;
    QList<const QObject*> connected;
    for (const QObject* candidate : qAsConst(candidates)) {
        if (candidate->metaObject()->indexOfSignal(signal.constData()) != -1
            && QObject::disconnect(candidate, signalSignature.constData(), &window, slotSignature.constData()))
            connected.append(candidate);
    }
    QCOMPARE(connected.size(), 1);
    if (sender.endsWith(QLatin1String("Timer")))
        QVERIFY(qobject_cast<const ZelvoClockTimer*>(connected.constFirst()));
    else
        QCOMPARE(connected.constFirst(), named.value(sender));
}

void tst_ZelvoEmulator::sensorButtonTogglesPanel()
{
    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    ZelvoEmulator window(&server, services, nullptr);
    QVERIFY(startAndShow(server, window));
    ZelvoSensorList* panel = window.sensorPanel();

    clickItem(window, window.sensorControl());
    QVERIFY(panel->isVisible());
    clickItem(window, window.sensorControl());
    QVERIFY(!panel->isVisible());
    clickItem(window, window.sensorControl());
    QVERIFY(panel->isVisible());

    // Hiding the panel does not stop what it started.
    panel->startStopButton(ZelvoSensorList::Battery)->click();
    QVERIFY(window.isBatteryCharging());
    clickItem(window, window.sensorControl());
    QVERIFY(!panel->isVisible());
    QVERIFY(window.isBatteryCharging());
}

void tst_ZelvoEmulator::panelPlacement_data()
{
    QTest::addColumn<int>("spareSpace");
    QTest::addColumn<bool>("movesBeside");

    // spareSpace: the room right of the window beyond the panel's own width.
    QTest::newRow("one pixel more than the panel") << 1 << true;
    QTest::newRow("plenty of room") << 60 << true;
    QTest::newRow("exactly the panel's width") << 0 << false;
    QTest::newRow("one pixel less than the panel") << -1 << false;
    QTest::newRow("window at the right edge") << -300 << false;
}

void tst_ZelvoEmulator::panelPlacement()
{
    QFETCH(int, spareSpace);
    QFETCH(bool, movesBeside);

    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    ZelvoEmulator window(&server, services, nullptr);
    QVERIFY(startAndShow(server, window));
    ZelvoSensorList* panel = window.sensorPanel();

    // Shown once, the panel has its frame; then it is parked somewhere known.
    QVERIFY(QMetaObject::invokeMethod(&window, "onSensorClicked"));
    QVERIFY(QTest::qWaitForWindowExposed(panel));
    QVERIFY(QMetaObject::invokeMethod(&window, "onSensorClicked"));
    QVERIFY(!panel->isVisible());
    const QPoint parked(20, 30);
    panel->move(parked);

    const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
    const int windowX = desktop.right() + 1 - window.frameGeometry().width() - panel->frameGeometry().width() - spareSpace;
    const QPoint windowPosition(windowX, 40);
    moveWindowTo(window, windowPosition);
    QCOMPARE(window.pos(), windowPosition);

    QVERIFY(QMetaObject::invokeMethod(&window, "onSensorClicked"));
    QVERIFY(panel->isVisible());
    const QPoint beside(windowX + window.frameGeometry().width(), 40);
    QCOMPARE(panel->pos(), movesBeside ? beside : parked);
}

void tst_ZelvoEmulator::closeQuestionDeclined_data()
{
    QTest::addColumn<bool>("escape");

    QTest::newRow("Cancel") << false;
    QTest::newRow("Escape") << true;
}

void tst_ZelvoEmulator::closeQuestionDeclined()
{
    QFETCH(bool, escape);

    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    ZelvoEmulator window(&server, services, nullptr);
    QVERIFY(startAndShow(server, window));

    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    whenQuestionShown(&window, [&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = box->standardButtons();
        defaultButton = box->standardButton(box->defaultButton());
        if (escape)
            QTest::keyClick(box, Qt::Key_Escape);
        else
            box->button(QMessageBox::Cancel)->click();
    });

    QVERIFY(!window.close());
    QVERIFY(window.isVisible());
    QCOMPARE(title, QStringLiteral("Zelvo Emulator"));
    QCOMPARE(text, QStringLiteral("Are you sure you want to close Zelvo Emulator"));
    QCOMPARE(icon, QMessageBox::Information);
    QCOMPARE(buttons, QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(defaultButton, QMessageBox::Cancel);
}

void tst_ZelvoEmulator::closeConfirmedEndsEventLoop_data()
{
    QTest::addColumn<bool>("panelOpen");

    QTest::newRow("sensor panel hidden") << false;
    // The open panel keeps the last-window rule from ending the loop.
    QTest::newRow("sensor panel open") << true;
}

void tst_ZelvoEmulator::closeConfirmedEndsEventLoop()
{
    QFETCH(bool, panelOpen);

    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    ZelvoEmulator window(&server, services, nullptr);
    QVERIFY(startAndShow(server, window));
    if (panelOpen)
        QVERIFY(QMetaObject::invokeMethod(&window, "onSensorClicked"));

    whenQuestionShown(&window, [](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); });
    QTimer::singleShot(0, &window, &QWidget::close);
    QTimer failsafe;
    failsafe.setSingleShot(true);
    connect(&failsafe, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    failsafe.start(10000);

    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!window.isVisible());
    // Closing the last window posts a quit of its own; later tests need
    // their event loops.
    QCoreApplication::removePostedEvents(qApp, QEvent::Quit);
}

// The head and the display recording are the program's, handed to the
// window: while it lives the head's readings go out through it and it
// feeds the recording; once it is gone the recording has ended and the
// head, still moved by others, reaches it no more.
void tst_ZelvoEmulator::servicesOutliveTheWindow()
{
    ZelvoServices services(ZelvoClock::Mode::Manual);
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    ZelvoRecorder& record = *services.recorder;
    {
        ZelvoEmulator window(&server, services, nullptr);
        QVERIFY(services.displayRecorder->start(folder.filePath(QStringLiteral("display.png")), 0));
        const int before = record.size();
        services.headMotion->set(ZelvoHeadPose(30, 10, 0));
        services.clock->advance(1000);
        QVERIFY(record.size() > before);
    }
    QTRY_VERIFY(!services.displayRecorder->isRecording());
    QVERIFY(QFileInfo(folder.filePath(QStringLiteral("display.png"))).size() > 0);
    const int after = record.size();
    services.headMotion->move(ZelvoHeadPose(-30, 0, 0), 500);
    services.clock->advance(1000);
    QCOMPARE(record.size(), after);
}

QTEST_MAIN(tst_ZelvoEmulator)
#include "tst_zelvoemulator.moc"
