#include "control/ZelvoTracePlayer.h"

#include "clock/ZelvoClock.h"

#include <algorithm>
#include <limits>

ZelvoTracePlayer::ZelvoTracePlayer(ZelvoClock* clock, QObject* parent)
    : QObject(parent)
    , clock(clock)
    , timer(new ZelvoClockTimer(clock, this))
{
    timer->setSingleShot(true);
    connect(timer, &ZelvoClockTimer::timeout, this, &ZelvoTracePlayer::onTimeout);
}

ZelvoTracePlayer::~ZelvoTracePlayer() = default;

void ZelvoTracePlayer::play(const QList<ZelvoTrace::TimedReading>& readings)
{
    trace = readings;
    played = 0;
    playing = true;
    startMillis = clock->now();
    onTimeout();
}

void ZelvoTracePlayer::stop()
{
    if (playing)
        finish(false);
}

void ZelvoTracePlayer::onTimeout()
{
    // Every reading whose time has come goes now, so that a late wake-up
    // never lets the trace fall behind for good.
    while (playing && played < trace.size() && trace.at(played).millis <= elapsed())
        emit readingDue(trace.at(played++).reading);
    if (!playing)
        return;
    if (played == trace.size()) {
        finish(true);
        return;
    }
    timer->start(int(std::min<qint64>(trace.at(played).millis - elapsed(), std::numeric_limits<int>::max())));
}

qint64 ZelvoTracePlayer::elapsed() const
{
    return clock->now() - startMillis;
}

void ZelvoTracePlayer::finish(bool completed)
{
    timer->stop();
    playing = false;
    emit finished(completed);
}
