#pragma once

#include <QString>

#include <array>

// One reading of a simulated sensor as the control channel and traces name
// it: the sensor by its number and up to three values; battery and light
// sensor use the first only.
class ZelvoSensorReading
{
public:
    // The sensor panel numbers its sensors the same way.
    enum Sensor { Battery = 1, Accelerometer = 2, Compass = 3, LightSensor = 4 };

    // The number of "battery", "accelerometer", "compass" or "light"; 0 for
    // any other name.
    static int sensorNamed(const QString& name);
    static QString nameOf(int sensor);
    // How many values the sensor's single shot takes: 1 or 3.
    static int valueCount(int sensor);
    // A battery level is a whole percent from 0 to 100, whoever sets it.
    static bool isBatteryLevel(double percent);

    int sensor = 0;
    std::array<float, 3> values = {0.0f, 0.0f, 0.0f};
};
