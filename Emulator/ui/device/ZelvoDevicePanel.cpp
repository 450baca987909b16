#include "ui/device/ZelvoDevicePanel.h"

#include "clock/ZelvoClock.h"
#include "comm/ZelvoServer.h"
#include "services/ZelvoServices.h"
#include "pose/ZelvoHeadMotion.h"
#include "record/ZelvoRecorder.h"
#include "recording/ZelvoDisplayRecorder.h"
#include "recording/ZelvoSessionRecorder.h"
#include "ui/ZelvoEmulator.h"
#include "ZelvoVocabulary.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStandardPaths>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace {

// As long as the control channel lets a delay be.
constexpr int maxDelayMillis = 3600000;

QIcon redDot()
{
    QPixmap dot(16, 16);
    dot.fill(Qt::transparent);
    QPainter painter(&dot);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::red);
    painter.drawEllipse(QRectF(2, 2, 12, 12));
    return QIcon(dot);
}

} // namespace

ZelvoDevicePanel::ZelvoDevicePanel(ZelvoEmulator* window, ZelvoServer* server, const ZelvoServices& services,
                                   QWidget* parent)
    : QWidget(parent)
    , emulator(window)
    , server(server)
    , deviceClock(services.clock.get())
    , head(services.headMotion.get())
    , linkState(new QLabel)
    , refuse(new QCheckBox(tr("Refuse new agents")))
    , delay(new QSpinBox)
    , drop(new QPushButton(tr("Drop link")))
    , battery(new QSlider(Qt::Horizontal))
    , batteryText(new QLabel)
    , charging(new QCheckBox(tr("Charging")))
    , recordDisplay(new QPushButton(tr("Record display")))
    , recordSession(new QPushButton(tr("Record session")))
    , clockState(new QLabel)
    , clockToggle(new QPushButton)
{
    setWindowTitle(tr("Zelvo Device"));
    // Refusing and a delay make the state long; the panel keeps its width.
    linkState->setWordWrap(true);

    delay->setRange(0, maxDelayMillis);
    delay->setSuffix(tr(" ms"));
    delay->setSpecialValueText(tr("none"));
    // One delay when the typing is done, not one per digit.
    delay->setKeyboardTracking(false);
    // One level, and one battery event, where the slider is let go.
    battery->setRange(0, 100);
    battery->setTracking(false);
    batteryText->setMinimumWidth(batteryText->fontMetrics().horizontalAdvance(QStringLiteral("100 %")));

    auto* linkForm = new QFormLayout;
    linkForm->addRow(tr("State"), linkState);
    linkForm->addRow(QString(), refuse);
    linkForm->addRow(tr("Delay"), delay);
    linkForm->addRow(QString(), drop);
    auto* linkGroup = new QGroupBox(tr("Link"));
    linkGroup->setLayout(linkForm);

    auto* level = new QHBoxLayout;
    level->addWidget(battery, 1);
    level->addWidget(batteryText);
    auto* batteryForm = new QFormLayout;
    batteryForm->addRow(tr("Level"), level);
    batteryForm->addRow(QString(), charging);
    auto* batteryGroup = new QGroupBox(tr("Battery"));
    batteryGroup->setLayout(batteryForm);

    recordDisplay->setCheckable(true);
    recordSession->setCheckable(true);
    auto* recordLayout = new QHBoxLayout;
    recordLayout->addWidget(recordDisplay);
    recordLayout->addWidget(recordSession);
    auto* recordGroup = new QGroupBox(tr("Recording"));
    recordGroup->setLayout(recordLayout);

    auto* clockLayout = new QHBoxLayout;
    clockLayout->addWidget(clockState, 1);
    clockLayout->addWidget(clockToggle);
    auto* clockGroup = new QGroupBox(tr("Clock"));
    clockGroup->setLayout(clockLayout);

    // Dragged, each slider sets the head as it goes: the agents feel the
    // head turn.
    auto* poseForm = new QFormLayout;
    const std::array<std::pair<QString, int>, 3> angles = {{{tr("Yaw"), 0}, {tr("Pitch"), 90}, {tr("Roll"), 180}}};
    for (size_t axis = 0; axis < pose.size(); ++axis) {
        pose[axis] = new QSlider(Qt::Horizontal);
        pose[axis]->setRange(axis == 0 ? 0 : -angles[axis].second, axis == 0 ? 359 : angles[axis].second);
        poseForm->addRow(angles[axis].first, pose[axis]);
        connect(pose[axis], &QSlider::valueChanged, this, &ZelvoDevicePanel::setPoseFromSliders);
    }
    auto* gestureGrid = new QGridLayout;
    for (const QString& name : ZelvoVocabulary::headGestureNames()) {
        auto* button = new QPushButton(name);
        button->setObjectName(name);
        gestureGrid->addWidget(button, int(gestures.size()) / 3, int(gestures.size()) % 3);
        gestures.append(button);
        connect(button, &QPushButton::clicked, head, [this, name] { head->gesture(name); });
    }
    poseForm->addRow(gestureGrid);
    auto* poseGroup = new QGroupBox(tr("Head"));
    poseGroup->setLayout(poseForm);
    connect(head, &ZelvoHeadMotion::poseChanged, this, &ZelvoDevicePanel::showPose);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(linkGroup);
    layout->addWidget(batteryGroup);
    layout->addWidget(recordGroup);
    layout->addWidget(clockGroup);
    layout->addWidget(poseGroup);
    layout->addStretch(1);

    connect(refuse, &QCheckBox::toggled, server, &ZelvoServer::setLinkRefused);
    connect(delay, QOverload<int>::of(&QSpinBox::valueChanged), server, &ZelvoServer::setLinkDelay);
    connect(drop, &QPushButton::clicked, server, &ZelvoServer::dropLinks);
    connect(battery, &QSlider::valueChanged, window,
            [this](int percent) { emulator->setBattery(percent, charging->isChecked()); });
    connect(battery, &QSlider::sliderMoved, batteryText, [this](int percent) { batteryText->setText(tr("%1 %").arg(percent)); });
    connect(charging, &QCheckBox::toggled, window,
            [this](bool on) { emulator->setBattery(battery->value(), on); });

    // Agents coming and going, and the faults set from anywhere, are all
    // records of the link.
    connect(services.recorder.get(), &ZelvoRecorder::appended, this, [this](const ZelvoRecord& record) {
        if (record.direction == ZelvoRecord::Direction::Link)
            showLink();
    });
    ZelvoDisplayRecorder* display = services.displayRecorder.get();
    ZelvoSessionRecorder* session = services.sessionRecorder.get();
    connect(recordDisplay, &QPushButton::clicked, this, [this, display] {
        toggleRecording(
            recordDisplay, display->isRecording(), QStringLiteral("zelvo-display.png"),
            tr("Animated PNG (*.png);;GIF (*.gif)"),
            [display](const QString& path, QString* error) { return display->start(path, 0, error); },
            [this, display](QString*) {
                // The file is finished once its last frames are encoded.
                display->whenFinished(this, [this](const QString&, int, const QString& error) {
                    if (!error.isEmpty())
                        QMessageBox::warning(this, recordDisplay->text(), error);
                });
                display->stop();
                return true;
            });
    });
    connect(recordSession, &QPushButton::clicked, this, [this, session] {
        toggleRecording(
            recordSession, session->isRecording(), QStringLiteral("zelvo-session.jsonl"), tr("JSON lines (*.jsonl)"),
            [session](const QString& path, QString* error) { return session->start(path, error); },
            [session](QString* error) { return session->stop(error); });
    });
    // Recordings started or ended through the control channel show too.
    connect(display, &ZelvoDisplayRecorder::recordingChanged, recordDisplay,
            [this](bool recording) { showRecording(recordDisplay, recording); });
    connect(session, &ZelvoSessionRecorder::recordingChanged, recordSession,
            [this](bool recording) { showRecording(recordSession, recording); });

    connect(clockToggle, &QPushButton::clicked, deviceClock, [this] {
        deviceClock->setMode(deviceClock->isManual() ? ZelvoClock::Mode::Real : ZelvoClock::Mode::Manual);
    });
    connect(deviceClock, &ZelvoClock::modeChanged, this, &ZelvoDevicePanel::showClock);
    connect(deviceClock, &ZelvoClock::advanced, this, &ZelvoDevicePanel::showClock);

    showLink();
    showClock();
    showPose();
    showBattery(window->battery(), window->isBatteryCharging());
    showRecording(recordDisplay, display->isRecording());
    showRecording(recordSession, session->isRecording());
}

ZelvoDevicePanel::~ZelvoDevicePanel() = default;

void ZelvoDevicePanel::showLink()
{
    const int agents = server->connections().size();
    QString text = agents == 1 ? tr("1 agent connected") : tr("%1 agents connected").arg(agents);
    if (server->isLinkRefused())
        text += tr(", refusing new agents");
    if (server->linkDelay() > 0)
        text += tr(", messages %1 ms late").arg(server->linkDelay());
    linkState->setText(text);
    // Showing the state must not set it again.
    const QSignalBlocker refuseBlocker(refuse);
    const QSignalBlocker delayBlocker(delay);
    refuse->setChecked(server->isLinkRefused());
    delay->setValue(server->linkDelay());
}

void ZelvoDevicePanel::showClock()
{
    const auto seconds = [](qint64 millis) { return QString::number(double(millis) / 1000, 'f', 3); };
    if (!deviceClock->isManual())
        clockState->setText(tr("Real time"));
    else if (deviceClock->isAdvancing())
        clockState->setText(tr("Advancing: at %1 s of %2 s")
                                .arg(seconds(deviceClock->now()), seconds(deviceClock->advanceTarget())));
    else
        clockState->setText(tr("Paused at %1 s; the control channel advances it").arg(seconds(deviceClock->now())));
    clockToggle->setText(deviceClock->isManual() ? tr("Resume") : tr("Pause"));
    // Resuming waits for the advance to end.
    clockToggle->setEnabled(!deviceClock->isAdvancing());
}

QPushButton* ZelvoDevicePanel::gestureButton(const QString& name) const
{
    const auto found = std::find_if(gestures.cbegin(), gestures.cend(),
                                    [&name](const QPushButton* button) { return button->objectName() == name; });
    return found == gestures.cend() ? nullptr : *found;
}

void ZelvoDevicePanel::setPoseFromSliders()
{
    head->set(ZelvoHeadPose(pose[0]->value(), pose[1]->value(), pose[2]->value()));
}

void ZelvoDevicePanel::showPose()
{
    const ZelvoHeadPose& now = head->pose();
    const std::array<double, 3> angles = {now.yaw(), now.pitch(), now.roll()};
    for (size_t axis = 0; axis < pose.size(); ++axis) {
        // Showing the pose must not set it again.
        const QSignalBlocker blocker(pose[axis]);
        pose[axis]->setValue(qRound(angles[axis]));
    }
}

void ZelvoDevicePanel::showBattery(int percent, bool isCharging)
{
    const QSignalBlocker batteryBlocker(battery);
    const QSignalBlocker chargingBlocker(charging);
    battery->setValue(percent);
    batteryText->setText(tr("%1 %").arg(percent));
    // The box holds the charging that was set; the simulation's bolt shows
    // in the state only.
    charging->setChecked(emulator->isChargingSet());
    charging->setToolTip(isCharging && !emulator->isChargingSet() ? tr("The battery simulation runs: the bolt shows")
                                                                 : QString());
}

void ZelvoDevicePanel::toggleRecording(QPushButton* button, bool recording, const QString& fileName,
                                       const QString& filter, const Start& start, const Stop& stop)
{
    // The click toggled the button already; the recorder's signal sets it
    // once the recording really started or ended.
    showRecording(button, recording);
    QString error;
    if (recording) {
        stop(&error);
    } else {
        const QDir pictures(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation));
        const QString path = QFileDialog::getSaveFileName(this, button->text(), pictures.filePath(fileName), filter);
        if (path.isEmpty())
            return;
        start(path, &error);
    }
    if (!error.isEmpty())
        QMessageBox::warning(this, button->text(), error);
}

void ZelvoDevicePanel::showRecording(QPushButton* button, bool recording)
{
    button->setChecked(recording);
    button->setIcon(recording ? redDot() : QIcon());
}
