#include "ui/ZelvoEmulator.h"
#include "clock/ZelvoClockTimer.h"

#include "ui/Button.h"
#include "ui/sensor/ZelvoSensorList.h"
#include "pose/ZelvoHeadMotion.h"
#include "comm/ZelvoServer.h"
#include "record/ZelvoRecorder.h"
#include "util/ZelvoImageStore.h"
#include "util/ZelvoPictureCache.h"
#include "ZelvoLog.h"
#include "ZelvoVocabulary.h"

#include <QDebug>

void ZelvoEmulator::reset()
{
    qCDebug(zelvoWindowLog) << "\033[33mZelvoEmulator::reset back to the state of a fresh start\033[0m";
    server->clearLinkFaults();
    // Released away from the button: the agents see the release, no click.
    for (Button* held : {plusButton, minusButton}) {
        if (held->isPressed())
            held->release(false);
    }
    setFullScreen(false);
    stopRecordings();
    for (int sensor : {ZelvoSensorList::Battery, ZelvoSensorList::Accelerometer, ZelvoSensorList::Compass,
                       ZelvoSensorList::LightSensor})
        sensorList->setRunning(sensor, false);
    head->reset();

    minPersistingTimer->stop();
    maxPersistingTimer->stop();
    minPersistingContentId = -1;
    minPersistingTMillis = defaultMinPersistingMillis;
    maxPersistingTMillis = defaultMaxPersistingMillis;
    currentAgentHash.clear();
    currentContentId = -1;
    drawnAgentHash.clear();
    drawnContent = -1;
    shownScreen = ZelvoScreen();
    contentOnDisplay = false;
    lastOutcome = ZelvoRecord();

    // The stored images go with the reset; so do their decoded copies.
    // The agents' messages not yet taken effect go too, at once: none of
    // them shows or stores anything after it.
    server->cancelAgentMessages();
    pictureCache->clear();

    batteryPercent = firstBatteryPercent;
    chargingSet = false;
    sensorList->setBatteryPercent(batteryPercent);
    restartBatteryCycle();
    randomizer.restart();
    accelerometerEvent = ZelvoEvent(ZelvoVocabulary::AccelerometerEvent);
    compassEvent = ZelvoEvent(ZelvoVocabulary::CompassEvent);
    lightSensorEvent = ZelvoEvent(ZelvoVocabulary::LightSensorEvent);
    updateDisplay(QImage(), false);
    showBatteryInPanel();
    // Last, so that the record holds nothing of what the reset did.
    messageRecorder->clear();
    agentImages->removeAgentImages();
}
