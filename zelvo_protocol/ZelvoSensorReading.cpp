#include "ZelvoSensorReading.h"

#include <QLatin1String>

#include <cmath>

namespace {

struct SensorName
{
    int sensor;
    QLatin1String name;
};

const std::array<SensorName, 5> sensorNames = {{
    {ZelvoSensorReading::Battery, QLatin1String("battery")},
    {ZelvoSensorReading::Accelerometer, QLatin1String("accelerometer")},
    {ZelvoSensorReading::Compass, QLatin1String("compass")},
    {ZelvoSensorReading::LightSensor, QLatin1String("light")},
    {ZelvoSensorReading::HeadPose, QLatin1String("pose")},
}};

} // namespace

int ZelvoSensorReading::sensorNamed(const QString& name)
{
    for (const SensorName& entry : sensorNames) {
        if (name == entry.name)
            return entry.sensor;
    }
    return 0;
}

QString ZelvoSensorReading::nameOf(int sensor)
{
    for (const SensorName& entry : sensorNames) {
        if (sensor == entry.sensor)
            return entry.name;
    }
    return QString();
}

int ZelvoSensorReading::valueCount(int sensor)
{
    return sensor == Accelerometer || sensor == Compass || sensor == HeadPose ? 3 : 1;
}

bool ZelvoSensorReading::isBatteryLevel(double percent)
{
    return percent >= 0 && percent <= 100 && percent == std::floor(percent);
}

bool ZelvoSensorReading::isHeadPose(double yaw, double pitch, double roll)
{
    return std::abs(yaw) <= maxYaw && std::abs(pitch) <= maxPitch && std::abs(roll) <= maxRoll;
}
