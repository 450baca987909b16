#pragma once

#include "ZelvoTrace.h"

#include <QElapsedTimer>
#include <QObject>

class QTimer;

// Plays a trace's readings in real time. Readings that are due go out a
// slice at a time, the event loop serving the window, the control channel
// and the agents between slices, however many fall due at once.
class ZelvoTracePlayer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoTracePlayer)

public:
    explicit ZelvoTracePlayer(QObject* parent = nullptr);
    ~ZelvoTracePlayer() override;

    // Replaces nothing: a trace that plays must be stopped first.
    void play(ZelvoTrace::Readings readings);
    void stop();

    bool isPlaying() const { return playing; }
    int playedCount() const { return played; }
    int readingCount() const { return total; }

signals:
    void readingDue(const ZelvoSensorReading& reading);
    // completed is false when stop() ended it.
    void finished(bool completed);

private:
    void onTimeout();
    void finish(bool completed);

    ZelvoTrace::Readings trace;
    int total = 0;
    int played = 0;
    bool playing = false;
    QElapsedTimer clock;
    QTimer* timer = nullptr;
};
