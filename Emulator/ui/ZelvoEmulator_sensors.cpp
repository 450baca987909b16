#include "ui/ZelvoEmulator.h"
#include "clock/ZelvoClockTimer.h"
#include "ZelvoLog.h"
#include "ui/device/ZelvoDevicePanel.h"
#include "ui/sensor/ZelvoSensorList.h"
#include "ZelvoVocabulary.h"

#include <QDebug>

namespace {

constexpr double accelerometerRange = 200.0;
constexpr double compassRange = 360.0;
constexpr double lightSensorRange = 100.0;
constexpr int batteryStep = 20;
constexpr int batteryFull = 100;

// One charge cycle per program, not per window: it continues where it was
// when the simulation is stopped and started again, and only a reset
// starts it anew.
int simulatedBatteryLevel = 0;

// The panel's start fields are logged for the developer only: simulated
// readings are random whatever was typed.
void logStartValues(const char* line, const float* values)
{
    qCDebug(zelvoSensorsLog) << line;
    for (int i = 0; i < 3; ++i)
        qCDebug(zelvoSensorsLog) << values[i];
}

} // namespace

void ZelvoEmulator::onSingleShotValue(float* values, int type)
{
    const int kind = ZelvoSensorReading::eventKind(type);
    if (kind == 0) {
        // An event of kind 0 means nothing to an agent; better none at all.
        qCWarning(zelvoSensorsLog, "\033[33mZelvoEmulator::onSingleShotValue unknown sensor %d, nothing sent\033[0m", type);
        return;
    }
    ZelvoEvent event(kind);
    for (int i = 0; i < 3; ++i)
        event.values[i] = values[i];
    broadcastSensorEvent(event);
}

void ZelvoEmulator::onBatteryChanged(int percent)
{
    batteryPercent = percent;
    qCDebug(zelvoSensorsLog, "battery percent %d", percent);
}

void ZelvoEmulator::setBattery(int percent, bool charging)
{
    percent = qBound(0, percent, batteryFull);
    onBatteryChanged(percent);
    chargingSet = charging;
    sensorList->setBatteryPercent(percent);
    sensorList->sendReading(ZelvoSensorList::Battery, {float(percent), 0.0f, 0.0f});
    // The strip is drawn only at compositions; where it is shown now, the
    // new level should not wait for the next content.
    if (statusShown)
        redrawStatusStrip(true);
    showBatteryInPanel();
}

void ZelvoEmulator::showBatteryInPanel()
{
    if (devicePanel)
        devicePanel->showBattery(batteryPercent, isBatteryCharging());
}

void ZelvoEmulator::onStartBattery()
{
    batteryTimer->start();
    showBatteryInPanel();
}

void ZelvoEmulator::onStopBattery()
{
    batteryTimer->stop();
    showBatteryInPanel();
}

void ZelvoEmulator::onStartAccelerometer(float* values)
{
    logStartValues("start Accelerometer with values ", values);
    accelerometerTimer->start();
}

void ZelvoEmulator::onStopAccelerometer()
{
    accelerometerTimer->stop();
}

void ZelvoEmulator::onStartCompass(float* values)
{
    logStartValues("start Compass with values", values);
    compassTimer->start();
}

void ZelvoEmulator::onStopCompass()
{
    compassTimer->stop();
}

void ZelvoEmulator::onStartLightSensor(float* values)
{
    logStartValues("start Light Sensor with values", values);
    lightSensorTimer->start();
}

void ZelvoEmulator::onStopLightSensor()
{
    lightSensorTimer->stop();
}

void ZelvoEmulator::restartBatteryCycle()
{
    simulatedBatteryLevel = 0;
}

void ZelvoEmulator::onSimulateBattery()
{
    if (simulatedBatteryLevel > batteryFull)
        simulatedBatteryLevel = 0;
    ZelvoEvent event(ZelvoVocabulary::BatteryEvent);
    event.values[0] = float(simulatedBatteryLevel);
    broadcastSensorEvent(event);
    simulatedBatteryLevel += batteryStep;
}

void ZelvoEmulator::onSimulateAccelerometer()
{
    for (int i = 0; i < 3; ++i)
        accelerometerEvent.values[i] = float(accelerometerRange * randomizer.random());
    broadcastSensorEvent(accelerometerEvent);
}

void ZelvoEmulator::onSimulateCompass()
{
    for (int i = 0; i < 3; ++i)
        compassEvent.values[i] = float(compassRange * randomizer.random());
    broadcastSensorEvent(compassEvent);
}

void ZelvoEmulator::onSimulateLightSensor()
{
    lightSensorEvent.values[0] = float(lightSensorRange * randomizer.random());
    broadcastSensorEvent(lightSensorEvent);
}
