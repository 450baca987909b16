#pragma once

#include "ZelvoSensorReading.h"

#include <vector>

class QByteArray;
class QString;

// A recorded series of sensor readings, as scripts write it and the emulator
// plays it. A trace is CSV, one reading a line: "milliseconds,sensor,v0[,v1,v2]",
// the time counted from the start of playing, the sensor by its control
// name; "milliseconds,pose,yaw,pitch,roll" places the wearer's head, which
// moves from one pose line to the next. A header line first, empty lines and
// lines starting with '#' are allowed.
class ZelvoTrace
{
public:
    struct TimedReading
    {
        qint64 millis = 0;
        ZelvoSensorReading reading;
    };

    // Held as parsed, side by side: a trace may have millions of readings.
    using Readings = std::vector<TimedReading>;

    // All readings of a trace, or false with *error naming the first bad line.
    static bool parse(const QByteArray& csv, Readings* readings, QString* error);
};
