#pragma once

#include "ZelvoTrace.h"

#include <QObject>

class ZelvoClock;
class ZelvoClockTimer;

// Plays a trace's readings at their times on the device clock. Readings
// that are due go out a slice at a time, the clock ordering the slices
// among its other timers and serving the window, the control channel and
// the agents between them, however many fall due at once.
class ZelvoTracePlayer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoTracePlayer)

public:
    explicit ZelvoTracePlayer(ZelvoClock* clock, QObject* parent = nullptr);
    ~ZelvoTracePlayer() override;

    // Replaces nothing: a trace that plays must be stopped first.
    void play(ZelvoTrace::Readings readings);
    void stop();

    bool isPlaying() const { return playing; }
    int playedCount() const { return played; }
    int readingCount() const { return total; }

signals:
    void readingDue(const ZelvoSensorReading& reading);
    // A pose line, with the next one the head moves to (nextDueAt is -1
    // after the last); both times on the clock.
    void poseDue(const ZelvoSensorReading& pose, qint64 dueAt, const ZelvoSensorReading& next, qint64 nextDueAt);
    // completed is false when stop() ended it.
    void finished(bool completed);

private:
    void onTimeout();
    void finish(bool completed);
    qint64 elapsed() const;
    void emitReading(size_t index);

    ZelvoTrace::Readings trace;
    int total = 0;
    int played = 0;
    // Where the look-ahead for the next pose line stands, so that each
    // line is looked at once however many pose lines there are.
    size_t nextPose = 0;
    bool playing = false;
    ZelvoClock* clock = nullptr;
    // When the trace began, on the clock.
    qint64 startMillis = 0;
    // Waits for the next reading's time, or for the next slice.
    ZelvoClockTimer* timer = nullptr;
};
