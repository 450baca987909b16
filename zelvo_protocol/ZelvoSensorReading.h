#pragma once

#include <QString>
#include <QStringList>

#include <array>

// One reading of a simulated sensor as the control channel and traces name
// it: the sensor by its number and up to three values; battery and light
// sensor use the first only. A trace's head pose travels the same way: yaw,
// pitch and roll in degrees, from which the emulator makes the compass and
// accelerometer readings.
class ZelvoSensorReading
{
public:
    // The sensor panel numbers its sensors the same way.
    enum Sensor { Battery = 1, Accelerometer = 2, Compass = 3, LightSensor = 4, HeadPose = 5 };

    // The bounds of a head pose, in degrees: a yaw of -360 to 360 is a
    // heading (taken modulo 360), the head looks at most straight up or
    // down, and leans at most upside down either way.
    static constexpr double maxYaw = 360;
    static constexpr double maxPitch = 90;
    static constexpr double maxRoll = 180;

    // The number of "battery", "accelerometer", "compass", "light" or
    // "pose"; 0 for any other name.
    static int sensorNamed(const QString& name);
    static QString nameOf(int sensor);
    // The glasses' sensors, without the pose: "battery", "accelerometer",
    // "compass", "light".
    static QStringList sensorNames();
    // The kind of event (ZelvoVocabulary::EventKind) a reading of the sensor
    // is sent as; 0 for the pose and other numbers.
    static int eventKind(int sensor);
    // How many values the sensor's single shot takes: 1 or 3.
    static int valueCount(int sensor);
    // A battery level is a whole percent from 0 to 100, whoever sets it.
    static bool isBatteryLevel(double percent);
    // Whether yaw, pitch and roll lie within the bounds above.
    static bool isHeadPose(double yaw, double pitch, double roll);

    int sensor = 0;
    std::array<float, 3> values = {0.0f, 0.0f, 0.0f};
};
