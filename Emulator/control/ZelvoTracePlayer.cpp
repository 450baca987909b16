#include "control/ZelvoTracePlayer.h"

#include "clock/ZelvoClock.h"
#include "util/ZelvoMemory.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace {

// A reading reaches every agent and the record; with hundreds of agents a
// few dozen take a few milliseconds, short enough for the window and the
// channel to wait.
constexpr int readingsPerSlice = 32;

} // namespace

ZelvoTracePlayer::ZelvoTracePlayer(ZelvoClock* clock, QObject* parent)
    : QObject(parent)
    , clock(clock)
    , timer(new ZelvoClockTimer(clock, this))
{
    timer->setSingleShot(true);
    connect(timer, &ZelvoClockTimer::timeout, this, &ZelvoTracePlayer::onTimeout);
}

ZelvoTracePlayer::~ZelvoTracePlayer() = default;

void ZelvoTracePlayer::play(ZelvoTrace::Readings readings)
{
    trace = std::move(readings);
    total = int(trace.size());
    played = 0;
    nextPose = 0;
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
    // Every reading whose time has come goes, so that a late wake-up never
    // lets the trace fall behind for good; but a slice at a time. The rest
    // is due at once, on the clock, so that no timer due later fires
    // before it and the clock still reads its time when it goes.
    for (int slice = 0; playing && played < total && trace[size_t(played)].millis <= elapsed(); ++slice) {
        if (slice == readingsPerSlice) {
            timer->start(0);
            return;
        }
        emitReading(size_t(played++));
    }
    if (!playing)
        return;
    if (played == total) {
        finish(true);
        return;
    }
    timer->start(int(std::min<qint64>(trace[size_t(played)].millis - elapsed(), std::numeric_limits<int>::max())));
}

void ZelvoTracePlayer::emitReading(size_t index)
{
    const ZelvoTrace::TimedReading& timed = trace[index];
    if (timed.reading.sensor != ZelvoSensorReading::HeadPose) {
        emit readingDue(timed.reading);
        return;
    }
    nextPose = std::max(nextPose, index + 1);
    while (nextPose < trace.size() && trace[nextPose].reading.sensor != ZelvoSensorReading::HeadPose)
        ++nextPose;
    const bool last = nextPose == trace.size();
    const ZelvoTrace::TimedReading& next = last ? timed : trace[nextPose];
    emit poseDue(timed.reading, startMillis + timed.millis, next.reading, last ? -1 : startMillis + next.millis);
}

qint64 ZelvoTracePlayer::elapsed() const
{
    return clock->now() - startMillis;
}

void ZelvoTracePlayer::finish(bool completed)
{
    timer->stop();
    playing = false;
    // Its memory goes back now, not when the next trace replaces it.
    ZelvoTrace::Readings().swap(trace);
    ZelvoMemory::giveBack();
    emit finished(completed);
}
