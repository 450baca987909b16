#include "ui/ZelvoEmulator.h"

#include "ui/Button.h"
#include "clock/ZelvoClock.h"
#include "ui/ZelvoDisplay.h"
#include "ZelvoLog.h"
#include "ui/ZelvoGeometry.h"
#include "ui/device/ZelvoDevicePanel.h"
#include "ui/messages/ZelvoMessagesWindow.h"
#include "ui/sensor/ZelvoSensorList.h"
#include "pose/ZelvoHeadMotion.h"
#include "util/ZelvoImageStore.h"
#include "util/ZelvoPictureCache.h"
#include "comm/ZelvoServer.h"
#include "services/ZelvoServices.h"
#include "recording/ZelvoDisplayHistory.h"
#include "recording/ZelvoDisplayRecorder.h"
#include "record/ZelvoRecorder.h"
#include "recording/ZelvoSessionRecorder.h"
#include "ZelvoVocabulary.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QGuiApplication>
#include <QHash>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QShortcut>
#include <QSize>
#include <QTimer>

#include <algorithm>

namespace {

constexpr int sensorPeriodMillis = 2000;

QPixmap fullScreenOnPicture()
{
    return QPixmap(QStringLiteral(":/data/fullscreen_on.png"));
}

// Resources never change: each status icon is decoded once, not at every
// composition of the display.
QImage statusIcon(const QString& name)
{
    static QHash<QString, QImage> decoded;
    auto icon = decoded.find(name);
    if (icon == decoded.end())
        icon = decoded.insert(name, QImage(name));
    return *icon;
}

} // namespace

ZelvoEmulator::ZelvoEmulator(ZelvoServer* server, const ZelvoServices& services, QWidget* parent)
    : QGraphicsView(parent)
    , randomizer(128, true)
    , server(server)
    , services(services)
    , messageRecorder(services.recorder.get())
    , pictureWriter(services.pictureWriter.get())
    , display(new ZelvoDisplay)
    , fullScreenButton(new Button(fullScreenOnPicture()))
    , plusButton(new Button(QPixmap(QStringLiteral(":/data/buttonplus.png")),
                            QPixmap(QStringLiteral(":/data/buttonpluspressed.png"))))
    , minusButton(new Button(QPixmap(QStringLiteral(":/data/buttonminus.png")),
                             QPixmap(QStringLiteral(":/data/buttonminuspressed.png"))))
    , sensorButton(new Button(QPixmap(QStringLiteral(":/data/buttonsensor.png")),
                              QPixmap(QStringLiteral(":/data/buttonsensorpressed.png"))))
    , accelerometerEvent(ZelvoVocabulary::AccelerometerEvent)
    , compassEvent(ZelvoVocabulary::CompassEvent)
    , lightSensorEvent(ZelvoVocabulary::LightSensorEvent)
    // A top-level window of its own beside the glasses; the destructor deletes it.
    , sensorList(new ZelvoSensorList(nullptr))
    , deviceClock(services.clock.get())
    , minPersistingTimer(new ZelvoClockTimer(deviceClock, this))
    , maxPersistingTimer(new ZelvoClockTimer(deviceClock, this))
    , batteryTimer(new ZelvoClockTimer(deviceClock, this))
    , accelerometerTimer(new ZelvoClockTimer(deviceClock, this))
    , compassTimer(new ZelvoClockTimer(deviceClock, this))
    , lightSensorTimer(new ZelvoClockTimer(deviceClock, this))
    , head(services.headMotion.get())
    , displayRecording(services.displayRecorder.get())
    , sessionRecording(services.sessionRecorder.get())
    , displayChanges(services.displayHistory.get())
    // Every window gets its own copies, a second window in a process included.
    , layouts(ZelvoLayout::builtInLayouts())
    , agentImages(std::make_unique<ZelvoImageStore>())
    , pictureCache(std::make_unique<ZelvoPictureCache>(agentImages.get()))
{
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Before any agent, once the window shows: registering a font lets the
    // font system read its fonts again. Content drawn sooner registers it
    // itself.
    QTimer::singleShot(0, this, &ZelvoEmulator::loadContentFont);

    server->setAgentSink(this);
    // Direct: a slot reads the message's delivery while the signal runs.
    connect(server, &ZelvoServer::zelvoConfigReceived, this, &ZelvoEmulator::onZelvoConfig, Qt::DirectConnection);
    connect(server, &ZelvoServer::agentConfigReceived, this, &ZelvoEmulator::onAgentConfig, Qt::DirectConnection);
    connect(server, &ZelvoServer::agentContentReceived, this, &ZelvoEmulator::onAgentContent, Qt::DirectConnection);

    // Long presses last on the device's time; the full-screen and sensor
    // buttons have no use for one, but every button counts alike.
    for (Button* button : {fullScreenButton, plusButton, minusButton, sensorButton})
        button->setClock(deviceClock);
    plusButton->setText(QStringLiteral("+"));
    minusButton->setText(QStringLiteral("-"));

    connect(sensorList, SIGNAL(singleShotValue(float*,int)), this, SLOT(onSingleShotValue(float*,int)));
    connect(sensorList, SIGNAL(batteryChanged(int)), this, SLOT(onBatteryChanged(int)));
    connect(sensorList, SIGNAL(startBattery()), this, SLOT(onStartBattery()));
    connect(sensorList, SIGNAL(stopBattery()), this, SLOT(onStopBattery()));
    connect(sensorList, SIGNAL(startAccelerometer(float*)), this, SLOT(onStartAccelerometer(float*)));
    connect(sensorList, SIGNAL(stopAccelerometer()), this, SLOT(onStopAccelerometer()));
    connect(sensorList, SIGNAL(startCompass(float*)), this, SLOT(onStartCompass(float*)));
    connect(sensorList, SIGNAL(stopCompass()), this, SLOT(onStopCompass()));
    connect(sensorList, SIGNAL(startLightSensor(float*)), this, SLOT(onStartLightSensor(float*)));
    connect(sensorList, SIGNAL(stopLightSensor()), this, SLOT(onStopLightSensor()));

    sensorList->setBatteryPercent(batteryPercent);

    // Queued: the session recording stops in the middle of a record being
    // appended.
    const auto recordStop = [this](const QString&, const QString& reason) {
        ZelvoRecord record(ZelvoRecord::Direction::Link, ZelvoRecord::Kind::RecordingStopped,
                           ZelvoRecord::Outcome::Info, ZelvoRecord::Reason::WriteFailed);
        record.writeError = reason;
        messageRecorder->append(std::move(record));
    };
    connect(displayRecording, &ZelvoDisplayRecorder::stoppedByFailure, this, recordStop, Qt::QueuedConnection);
    connect(sessionRecording, &ZelvoSessionRecorder::stoppedByFailure, this, recordStop, Qt::QueuedConnection);

    // Each behaves as a one-shot timer.
    for (ZelvoClockTimer* timer : {minPersistingTimer, maxPersistingTimer})
        timer->setSingleShot(true);
    connect(minPersistingTimer, &ZelvoClockTimer::timeout, this, &ZelvoEmulator::onMinPersistingElapsed);
    connect(maxPersistingTimer, &ZelvoClockTimer::timeout, this, &ZelvoEmulator::onMaxPersistingElapsed);
    // A clock timer repeats unless told otherwise.
    for (ZelvoClockTimer* timer : {batteryTimer, accelerometerTimer, compassTimer, lightSensorTimer})
        timer->setInterval(sensorPeriodMillis);
    connect(batteryTimer, SIGNAL(timeout()), this, SLOT(onSimulateBattery()));
    connect(accelerometerTimer, SIGNAL(timeout()), this, SLOT(onSimulateAccelerometer()));
    connect(compassTimer, SIGNAL(timeout()), this, SLOT(onSimulateCompass()));
    connect(lightSensorTimer, SIGNAL(timeout()), this, SLOT(onSimulateLightSensor()));
    connect(head, &ZelvoHeadMotion::readings, this, [this](const ZelvoEvent& compass, const ZelvoEvent& accelerometer) {
        dispatchSensorEvent(compass, QString(), -1, true);
        dispatchSensorEvent(accelerometer, QString(), -1, true);
    });
    connect(fullScreenButton, SIGNAL(clicked()), this, SLOT(onFullScreenToggle()));
    connect(plusButton, SIGNAL(pressed()), this, SLOT(onPlusPressed()));
    connect(plusButton, SIGNAL(released()), this, SLOT(onPlusReleased()));
    connect(plusButton, SIGNAL(clicked()), this, SLOT(onPlusClicked()));
    connect(plusButton, SIGNAL(longPressed()), this, SLOT(onPlusLongPressed()));
    connect(minusButton, SIGNAL(pressed()), this, SLOT(onMinusPressed()));
    connect(minusButton, SIGNAL(released()), this, SLOT(onMinusReleased()));
    connect(minusButton, SIGNAL(clicked()), this, SLOT(onMinusClicked()));
    connect(minusButton, SIGNAL(longPressed()), this, SLOT(onMinusLongPressed()));
    connect(sensorButton, SIGNAL(clicked()), this, SLOT(onSensorClicked()));

    setViewportUpdateMode(QGraphicsView::SmartViewportUpdate);
    setCacheMode(QGraphicsView::CacheBackground);
    setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
    setDragMode(QGraphicsView::NoDrag);
    // Without a frame the 640 x 480 scene fills the fixed-size window exactly,
    // and nothing of it can be scrolled away with the wheel or the keys.
    setFrameShape(QFrame::NoFrame);

    auto* scene = new QGraphicsScene(this);
    display->setZValue(-10);
    // The scene takes ownership of its items.
    scene->addItem(display);
    scene->addItem(fullScreenButton);
    scene->addItem(plusButton);
    scene->addItem(minusButton);
    scene->addItem(sensorButton);
    setOptimizationFlags(QGraphicsView::DontAdjustForAntialiasing);
    setScene(scene);
    applyWindowModeLayout();

    setWindowTitle(tr("Zelvo Emulator"));
    setFixedSize(ZelvoGeometry::windowModeSize);

    updateDisplay(QImage(), false);
    connect(deviceClock, &ZelvoClock::modeChanged, this, &ZelvoEmulator::showClockMark);
    connect(deviceClock, &ZelvoClock::advanced, this, &ZelvoEmulator::showClockMark);

    // From the Messages window too, so that F12 closes what it opened.
    auto* messagesShortcut = new QShortcut(QKeySequence(Qt::Key_F12), this);
    messagesShortcut->setContext(Qt::ApplicationShortcut);
    connect(messagesShortcut, &QShortcut::activated, this, [this] { toggleMessagesWindow(); });
    // Only the glasses' background has a menu: the display and the buttons
    // keep what a right click does to them.
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (itemAt(at))
            return;
        QMenu menu;
        menu.addAction(tr("Messages"), this, [this] { toggleMessagesWindow(); });
        menu.addAction(tr("Device"), this, [this] { toggleDevicePanel(); });
        menu.exec(viewport()->mapToGlobal(at));
    });
}

ZelvoEmulator::~ZelvoEmulator()
{
    qCDebug(zelvoWindowLog) << "Invoked Destructor of ZelvoEmulator";
    // What was recorded until the window closed is kept.
    stopRecordings();
    if (server->agentSink() == this)
        server->setAgentSink(nullptr);
    delete sensorList;
}

void ZelvoEmulator::toggleMessagesWindow()
{
    if (!messagesWindow) {
        messagesWindow = std::make_unique<ZelvoMessagesWindow>(messageRecorder);
        connect(messagesWindow.get(), &ZelvoMessagesWindow::devicePanelRequested, this,
                &ZelvoEmulator::toggleDevicePanel);
    }
    messagesWindow->toggle();
}

void ZelvoEmulator::toggleDevicePanel()
{
    if (!devicePanel)
        devicePanel = std::make_unique<ZelvoDevicePanel>(this, server, services);
    devicePanel->setVisible(!devicePanel->isVisible());
}

void ZelvoEmulator::applyWindowModeLayout()
{
    scene()->setSceneRect(QRect(QPoint(0, 0), ZelvoGeometry::windowModeSize));
    setBackgroundBrush(QPixmap(QStringLiteral(":/data/glass.png")));
    display->setSize(ZelvoGeometry::displaySize.width(), ZelvoGeometry::displaySize.height());
    display->setPos(ZelvoGeometry::displayPosition);
    display->setTransform(savedDisplayTransform);
    fullScreenButton->setPixmap(Button::Normal, fullScreenOnPicture());
    fullScreenButton->setPos(ZelvoGeometry::fullScreenButtonPosition);
    plusButton->setPos(ZelvoGeometry::plusButtonPosition);
    minusButton->setPos(ZelvoGeometry::minusButtonPosition);
    sensorButton->setPos(ZelvoGeometry::sensorButtonPosition);
    showClockMark();
}

void ZelvoEmulator::showClockMark()
{
    if (!clockMark) {
        if (!deviceClock->isManual())
            return;
        clockMark = scene()->addSimpleText(QString());
        clockMark->setBrush(Qt::white);
        clockMark->setZValue(10);
    }
    clockMark->setVisible(deviceClock->isManual());
    clockMark->setText(tr("Device clock paused at %1 s").arg(double(deviceClock->now()) / 1000, 0, 'f', 3));
    constexpr qreal margin = 6;
    clockMark->setPos(margin, scene()->sceneRect().bottom() - clockMark->boundingRect().height() - margin);
}

void ZelvoEmulator::updateDisplay(const QImage& content, bool showStatus)
{
    QImage composed = blankDisplayImage();
    QPainter painter(&composed);
    if (!content.isNull()) {
        // Over a transparent canvas blending gives the content's own pixels;
        // copying them costs a fraction of it.
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(ZelvoGeometry::contentArea.topLeft(), content);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    drawStatusStrip(&painter, showStatus);
    painter.end();
    showDisplayImage(composed);
}

QImage ZelvoEmulator::newDisplayImage()
{
    // Premultiplied: on plain ARGB32 the raster engine blends antialiased
    // glyph edges without premultiplying them, which darkens every letter.
    QImage image(ZelvoGeometry::displayImageSize, QImage::Format_ARGB32_Premultiplied);
    // A new image takes the desktop's font resolution, by which the text's
    // point size would turn into more pixels on a denser screen, while the
    // glasses' display stays 320 x 240.
    image.setDotsPerMeterX(ZelvoGeometry::displayDotsPerMeter);
    image.setDotsPerMeterY(ZelvoGeometry::displayDotsPerMeter);
    return image;
}

QImage ZelvoEmulator::blankDisplayImage()
{
    QImage image = newDisplayImage();
    // The strip's rows are left to drawStatusStrip, which replaces them all.
    const int top = ZelvoGeometry::contentArea.top();
    std::fill_n(image.scanLine(top), size_t(image.bytesPerLine()) * size_t(image.height() - top), uchar(0));
    return image;
}

// The status strip is the band of rows 0 to 23, where the content never
// reaches. Its icons reflect the state of this moment only: a battery or
// connection change shows at the next composition. The strip with icons is
// composed once for each state and then copied, as every content draws it.
void ZelvoEmulator::drawStatusStrip(QPainter* painter, bool showStatus)
{
    statusShown = showStatus;
    const QRect strip(0, 0, ZelvoGeometry::displayImageSize.width(), ZelvoGeometry::contentArea.top());
    painter->setCompositionMode(QPainter::CompositionMode_Source);
    if (!showStatus) {
        painter->fillRect(strip, Qt::transparent);
    } else {
        const QString battery = batteryIconName();
        const bool connected = !server->connections().isEmpty();
        if (statusStrip.isNull() || battery != statusStripBattery || connected != statusStripConnected) {
            statusStrip = QImage(strip.size(), QImage::Format_ARGB32_Premultiplied);
            statusStrip.fill(Qt::transparent);
            QPainter icons(&statusStrip);
            icons.drawImage(ZelvoGeometry::batteryIconPosition, statusIcon(battery));
            if (connected)
                icons.drawImage(ZelvoGeometry::connectionIconPosition, statusIcon(QStringLiteral(":data/connection")));
            statusStripBattery = battery;
            statusStripConnected = connected;
        }
        painter->drawImage(strip.topLeft(), statusStrip);
    }
    painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void ZelvoEmulator::redrawStatusStrip(bool showStatus)
{
    // Drawn on a copy: the image shown so far may be held by a recording.
    QImage composed = display->image();
    QPainter painter(&composed);
    drawStatusStrip(&painter, showStatus);
    painter.end();
    showDisplayImage(composed);
}

void ZelvoEmulator::showDisplayImage(const QImage& image)
{
    display->setImage(image, currentContentId);
    // Shared, not copied.
    displayRecording->showImage(image);
    displayChanges->showImage(image, screenDescription());
}

QJsonObject ZelvoEmulator::screenState() const
{
    return screenDescription()();
}

std::function<QJsonObject()> ZelvoEmulator::screenDescription() const
{
    // The values now, written as JSON when asked: the display's history
    // writes them on its own thread, texts of megabytes included.
    return [screen = shownScreen, fullScreen = fullScreen, statusShown = statusShown, battery = batteryPercent,
            charging = isBatteryCharging(), connected = !server->connections().isEmpty(),
            minRemaining = minPersistingRemaining(), maxRemaining = maxPersistingRemaining()] {
        QJsonObject state = screen.toJson();
        state.insert(QStringLiteral("fullScreen"), fullScreen);
        state.insert(QStringLiteral("status"), QJsonObject{{QStringLiteral("shown"), statusShown},
                                                           {QStringLiteral("battery"), battery},
                                                           {QStringLiteral("charging"), charging},
                                                           {QStringLiteral("connected"), connected}});
        state.insert(QStringLiteral("timers"),
                     QJsonObject{{QStringLiteral("minRemainingMillis"), double(minRemaining)},
                                 {QStringLiteral("maxRemainingMillis"), double(maxRemaining)}});
        return state;
    };
}

void ZelvoEmulator::stopRecordings()
{
    displayRecording->stop();
    sessionRecording->stop();
}

QString ZelvoEmulator::batteryIconName() const
{
    QString level;
    switch (batteryPercent) {
    case 20:
    case 30:
        level = QStringLiteral("020");
        break;
    case 40:
    case 50:
        level = QStringLiteral("040");
        break;
    case 60:
    case 70:
        level = QStringLiteral("060");
        break;
    case 80:
    case 90:
        level = QStringLiteral("080");
        break;
    case 100:
        level = QStringLiteral("100");
        break;
    default:
        level = QStringLiteral("000");
        break;
    }
    // No extension: the image loader tries the suffixes of its formats.
    QString name = QStringLiteral(":data/battery-") + level;
    if (isBatteryCharging())
        name += QStringLiteral("-charging");
    return name;
}

QImage ZelvoEmulator::batteryIcon() const
{
    return statusIcon(batteryIconName());
}

bool ZelvoEmulator::isMinPersistingTimerRunning() const
{
    return minPersistingTimer->isActive();
}

bool ZelvoEmulator::isMaxPersistingTimerRunning() const
{
    return maxPersistingTimer->isActive();
}

qint64 ZelvoEmulator::minPersistingRemaining() const
{
    return minPersistingTimer->remainingTime();
}

qint64 ZelvoEmulator::maxPersistingRemaining() const
{
    return maxPersistingTimer->remainingTime();
}

bool ZelvoEmulator::isBatteryCharging() const
{
    return chargingSet || batteryTimer->isActive();
}

QImage ZelvoEmulator::displayImage() const
{
    return display->image();
}

bool ZelvoEmulator::hasEnoughSpaceRight(QListWidget* list)
{
    const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
    qCDebug(zelvoWindowLog).nospace() << "resolution of main window " << desktop.width() << " " << desktop.height();
    // Measured to the desktop's right edge, which is its width only when a
    // screen left of the primary one does not shift the origin.
    const int space = desktop.x() + desktop.width() - x() - frameGeometry().width();
    return space > list->frameGeometry().width();
}

Button* ZelvoEmulator::button(Control which) const
{
    switch (which) {
    case Control::FullScreen:
        return fullScreenButton;
    case Control::Plus:
        return plusButton;
    case Control::Minus:
        return minusButton;
    case Control::Sensor:
        return sensorButton;
    }
    Q_UNREACHABLE();
}

const Button* ZelvoEmulator::control(Control which) const
{
    return button(which);
}

void ZelvoEmulator::pressControl(Control which)
{
    button(which)->press();
}

void ZelvoEmulator::releaseControl(Control which)
{
    button(which)->release(true);
}

void ZelvoEmulator::onSensorClicked()
{
    if (sensorList->isVisible()) {
        sensorList->hide();
        return;
    }
    if (hasEnoughSpaceRight(sensorList))
        sensorList->move(x() + frameGeometry().width(), y());
    sensorList->show();
}

bool ZelvoEmulator::confirmClose()
{
    const QString name = QStringLiteral("Zelvo Emulator");
    const QMessageBox::StandardButton answer =
        QMessageBox::information(this, name, tr("Are you sure you want to close %1").arg(name),
                                 QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel);
    return answer != QMessageBox::Cancel;
}

void ZelvoEmulator::closeEvent(QCloseEvent* event)
{
    if (!confirmClose()) {
        event->ignore();
        return;
    }
    QGraphicsView::closeEvent(event);
    // The sensor panel may still be open, so the last window closing would
    // not end the loop by itself.
    QCoreApplication::exit(0);
}
