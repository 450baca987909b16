#pragma once

#include "ZelvoTrace.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>

class QTimer;

// Plays a trace's readings in real time.
class ZelvoTracePlayer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoTracePlayer)

public:
    explicit ZelvoTracePlayer(QObject* parent = nullptr);
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

    QList<ZelvoTrace::TimedReading> trace;
    int played = 0;
    bool playing = false;
    QElapsedTimer clock;
    QTimer* timer = nullptr;
};
