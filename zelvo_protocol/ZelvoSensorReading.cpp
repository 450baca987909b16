#include "ZelvoSensorReading.h"

#include "ZelvoVocabulary.h"

#include <QLatin1String>

#include <cmath>
#include <utility>

namespace {

// The sensors the head pose leaves aside are the glasses' own, named as
// their events are.
constexpr std::array<std::pair<int, ZelvoVocabulary::EventKind>, 4> sensorKinds = {{
    {ZelvoSensorReading::Battery, ZelvoVocabulary::BatteryEvent},
    {ZelvoSensorReading::Accelerometer, ZelvoVocabulary::AccelerometerEvent},
    {ZelvoSensorReading::Compass, ZelvoVocabulary::CompassEvent},
    {ZelvoSensorReading::LightSensor, ZelvoVocabulary::LightSensorEvent},
}};

const QLatin1String poseName("pose");

} // namespace

int ZelvoSensorReading::sensorNamed(const QString& name)
{
    if (name == poseName)
        return HeadPose;
    for (const auto& entry : sensorKinds) {
        if (name == ZelvoVocabulary::eventKindName(entry.second))
            return entry.first;
    }
    return 0;
}

QString ZelvoSensorReading::nameOf(int sensor)
{
    return sensor == HeadPose ? QString(poseName) : ZelvoVocabulary::eventKindName(eventKind(sensor));
}

QStringList ZelvoSensorReading::sensorNames()
{
    QStringList names;
    for (const auto& entry : sensorKinds)
        names.append(nameOf(entry.first));
    return names;
}

int ZelvoSensorReading::eventKind(int sensor)
{
    for (const auto& entry : sensorKinds) {
        if (entry.first == sensor)
            return entry.second;
    }
    return 0;
}

int ZelvoSensorReading::valueCount(int sensor)
{
    return sensor == HeadPose ? 3 : ZelvoVocabulary::valueCount(eventKind(sensor));
}

bool ZelvoSensorReading::isBatteryLevel(double percent)
{
    return percent >= 0 && percent <= 100 && percent == std::floor(percent);
}

bool ZelvoSensorReading::isHeadPose(double yaw, double pitch, double roll)
{
    return std::abs(yaw) <= maxYaw && std::abs(pitch) <= maxPitch && std::abs(roll) <= maxRoll;
}
