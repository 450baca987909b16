#include "clock/ZelvoClockTimer.h"

#include "clock/ZelvoClock.h"

#include <algorithm>

ZelvoClockTimer::ZelvoClockTimer(ZelvoClock* clock, QObject* parent)
    : QObject(parent)
    , deviceClock(clock)
{
}

ZelvoClockTimer::~ZelvoClockTimer()
{
    stop();
}

ZelvoClock* ZelvoClockTimer::clock() const
{
    return deviceClock;
}

qint64 ZelvoClockTimer::remainingTime() const
{
    if (!scheduled || !deviceClock)
        return -1;
    return std::max<qint64>(0, deadline - deviceClock->now());
}

void ZelvoClockTimer::start()
{
    if (deviceClock)
        deviceClock->schedule(this, deviceClock->now() + std::max(0, intervalMillis));
}

void ZelvoClockTimer::start(int millis)
{
    intervalMillis = millis;
    start();
}

void ZelvoClockTimer::startAt(qint64 deadline)
{
    if (deviceClock)
        deviceClock->schedule(this, deadline);
}

void ZelvoClockTimer::stop()
{
    if (deviceClock)
        deviceClock->unschedule(this);
    else
        scheduled = false;
}
