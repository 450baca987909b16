#pragma once

#include "control/ZelvoSensorReading.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>

class QByteArray;
class QString;
class QTimer;

// Plays a recorded series of sensor readings in real time. A trace is CSV,
// one reading a line: "milliseconds,sensor,v0[,v1,v2]", the time counted
// from the start of playing, the sensor by its control name. A header line
// first, empty lines and lines starting with '#' are allowed.
class ZelvoTracePlayer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoTracePlayer)

public:
    struct TimedReading
    {
        qint64 millis = 0;
        ZelvoSensorReading reading;
    };

    explicit ZelvoTracePlayer(QObject* parent = nullptr);
    ~ZelvoTracePlayer() override;

    // All readings of a trace, or false with *error naming the first bad line.
    static bool parse(const QByteArray& csv, QList<TimedReading>* readings, QString* error);

    // Replaces nothing: a trace that plays must be stopped first.
    void play(const QList<TimedReading>& readings);
    void stop();

    bool isPlaying() const { return playing; }
    int playedCount() const { return played; }
    int readingCount() const { return trace.size(); }

signals:
    void readingDue(const ZelvoSensorReading& reading);
    // completed is false when stop() ended it.
    void finished(bool completed);

private:
    void onTimeout();
    void finish(bool completed);

    QList<TimedReading> trace;
    int played = 0;
    bool playing = false;
    QElapsedTimer clock;
    QTimer* timer = nullptr;
};
