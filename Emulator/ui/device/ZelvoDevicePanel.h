#pragma once

#include <QList>
#include <QWidget>

#include <array>
#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;
class ZelvoClock;
class ZelvoEmulator;
class ZelvoHeadMotion;
class ZelvoRecorder;
class ZelvoServer;
class ZelvoServices;

// "Zelvo Device": the link faults, the battery, the recordings, the
// device clock and the wearer's head for people
// who prefer clicking, in a small top-level window of its own. Every control
// calls the same operation of the server or the window as the control
// channel does, and follows what the channel changes. The window makes and
// owns it.
class ZelvoDevicePanel final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoDevicePanel)

public:
    // The window, the server and services must outlive the panel.
    ZelvoDevicePanel(ZelvoEmulator* window, ZelvoServer* server, const ZelvoServices& services,
                     QWidget* parent = nullptr);
    ~ZelvoDevicePanel() override;

    QCheckBox* refuseBox() const { return refuse; }
    QSpinBox* delayBox() const { return delay; }
    QPushButton* dropButton() const { return drop; }
    QSlider* batterySlider() const { return battery; }
    QCheckBox* chargingBox() const { return charging; }
    QLabel* linkLabel() const { return linkState; }
    QPushButton* recordDisplayButton() const { return recordDisplay; }
    QPushButton* recordSessionButton() const { return recordSession; }
    QLabel* clockLabel() const { return clockState; }
    QPushButton* clockButton() const { return clockToggle; }
    // Yaw, pitch and roll of the head.
    const std::array<QSlider*, 3>& poseSliders() const { return pose; }
    QPushButton* gestureButton(const QString& name) const;

    // Called by the window whenever the level or the charging it shows changes.
    void showBattery(int percent, bool charging);

private:
    using Start = std::function<bool(const QString& path, QString* error)>;
    using Stop = std::function<bool(QString* error)>;

    void showLink();
    void showClock();
    void showPose();
    // The head where the sliders stand.
    void setPoseFromSliders();
    // Stops a running recording, or asks for a file and starts one.
    void toggleRecording(QPushButton* button, bool recording, const QString& fileName, const QString& filter,
                         const Start& start, const Stop& stop);
    static void showRecording(QPushButton* button, bool recording);

    ZelvoEmulator* emulator = nullptr;
    ZelvoServer* server = nullptr;
    ZelvoClock* deviceClock = nullptr;
    ZelvoHeadMotion* head = nullptr;
    QLabel* linkState = nullptr;
    QCheckBox* refuse = nullptr;
    QSpinBox* delay = nullptr;
    QPushButton* drop = nullptr;
    QSlider* battery = nullptr;
    QLabel* batteryText = nullptr;
    QCheckBox* charging = nullptr;
    QPushButton* recordDisplay = nullptr;
    QPushButton* recordSession = nullptr;
    QLabel* clockState = nullptr;
    QPushButton* clockToggle = nullptr;
    std::array<QSlider*, 3> pose = {};
    QList<QPushButton*> gestures;
};
