#pragma once

#include "ZelvoTrace.h"

#include <QList>
#include <QObject>

class ZelvoClock;
class ZelvoClockTimer;

// Plays a trace's readings at their times on the device clock.
class ZelvoTracePlayer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoTracePlayer)

public:
    explicit ZelvoTracePlayer(ZelvoClock* clock, QObject* parent = nullptr);
    ~ZelvoTracePlayer() override;

    // Replaces nothing: a trace that plays must be stopped first.
    void play(const QList<ZelvoTrace::TimedReading>& readings);
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
    qint64 elapsed() const;

    QList<ZelvoTrace::TimedReading> trace;
    int played = 0;
    bool playing = false;
    ZelvoClock* clock = nullptr;
    // When the trace began, on the clock.
    qint64 startMillis = 0;
    ZelvoClockTimer* timer = nullptr;
};
