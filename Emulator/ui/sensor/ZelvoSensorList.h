#pragma once

#include "ZelvoSensorReading.h"

#include <QListWidget>

#include <array>
#include <memory>

class QLayout;
class QPushButton;
class QSlider;
class QTextEdit;

// The sensor panel: for each simulated sensor a play/pause button that
// starts and stops its simulation, and number fields with a button that
// sends one reading. It holds no simulation; it turns clicks into signals.
// The float* of the signals points to three values that live only during
// the emission: receivers copy them.
class ZelvoSensorList final : public QListWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoSensorList)

public:
    // The sensors as singleShotValue() numbers them: the numbers of a reading.
    enum Sensor {
        Battery = ZelvoSensorReading::Battery,
        Accelerometer = ZelvoSensorReading::Accelerometer,
        Compass = ZelvoSensorReading::Compass,
        LightSensor = ZelvoSensorReading::LightSensor
    };

    explicit ZelvoSensorList(QWidget* parent = nullptr);
    ~ZelvoSensorList() override;

    void setBatteryPercent(int percent);
    int batteryPercent() const;
    // Stops a simulation from code: 1 accelerometer, 2 compass, 3 light sensor.
    void programmedStop(int sensor);

    // What the panel's buttons do, for every other road to the same action
    // too. A reading of a sensor, sent once and shown in its fields; the
    // values beyond the sensor's own count are ignored.
    void sendReading(int sensor, const std::array<float, 3>& values);
    // Starts or stops a simulation; answers whether that changed anything.
    bool setRunning(int sensor, bool running);

    // The panel's controls, for driving it as a user would; nullptr for an
    // unknown sensor or axis.
    QPushButton* startStopButton(int sensor);
    QPushButton* singleShotButton(int sensor);
    QTextEdit* valueEdit(int sensor, int axis = 0);
    bool isRunning(int sensor) const;

signals:
    void batteryChanged(int batteryPercent);
    void startBattery();
    void stopBattery();
    void singleShotValue(float* values, int type);
    void startAccelerometer(float* values);
    void stopAccelerometer();
    void startCompass(float* values);
    void stopCompass();
    void startLightSensor(float* values);
    void stopLightSensor();

private slots:
    void startStopBattery();
    void startStopAccelerometer();
    void startStopCompass();
    void startStopLightSensor();
    void singleShotBattery();
    void singleShotAcc();
    void singleShotCompass();
    void singleShotLight();

protected:
    void showEvent(QShowEvent* event) override;

private:
    using Edits = std::array<QTextEdit*, 3>;

    // Once; every use of a row's control makes them first.
    void makeRows();
    QPushButton* addHeaderRow(const QString& icon, const QString& title, void (ZelvoSensorList::*slot)());
    QTextEdit* addSingleValueRow(int sensor);
    void addSingleShotRow(int sensor);
    void addSingleShotButton(QLayout* layout, int sensor);
    void appendRow(QWidget* widget, int height, const QString& icon = QString());
    static QTextEdit* createField(Qt::InputMethodHints hints);
    static QPushButton* createPlayButton();
    static float fieldValue(const QTextEdit* edit);
    // The sensor's fields as numbers; 0 for the axes it has no field for.
    std::array<float, 3> fieldValues(int sensor);
    static void showRunning(QPushButton* button, bool running);

    QTextEdit* batteryValueEdit = nullptr;
    Edits accelerometerEdits = {};
    Edits compassEdits = {};
    QTextEdit* lightValueEdit = nullptr;
    QPushButton* batteryButton = nullptr;
    QPushButton* accelerometerButton = nullptr;
    QPushButton* compassButton = nullptr;
    QPushButton* lightSensorButton = nullptr;
    std::array<QPushButton*, 4> singleShotButtons = {};
    // Holds the battery level; never shown.
    std::unique_ptr<QSlider> batterySlider;
    bool batteryRunning = false;
    bool accelerometerRunning = false;
    bool compassRunning = false;
    bool lightSensorRunning = false;
};
