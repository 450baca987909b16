#pragma once

#include "ZelvoSensorReading.h"

#include <QList>

class QByteArray;
class QString;

// A recorded series of sensor readings, as scripts write it and the emulator
// plays it. A trace is CSV, one reading a line: "milliseconds,sensor,v0[,v1,v2]",
// the time counted from the start of playing, the sensor by its control
// name. A header line first, empty lines and lines starting with '#' are
// allowed.
class ZelvoTrace
{
public:
    struct TimedReading
    {
        qint64 millis = 0;
        ZelvoSensorReading reading;
    };

    // All readings of a trace, or false with *error naming the first bad line.
    static bool parse(const QByteArray& csv, QList<TimedReading>* readings, QString* error);
};
