#include "clock/ZelvoClock.h"

#include <QDateTime>
#include <QTimer>

#include <algorithm>
#include <limits>

ZelvoClock::ZelvoClock(Mode mode, QObject* parent)
    : QObject(parent)
    , clockMode(mode)
    , startEpochMillis(QDateTime::currentMSecsSinceEpoch())
    , wake(new QTimer(this))
{
    running.start();
    wake->setSingleShot(true);
    wake->setTimerType(Qt::PreciseTimer);
    connect(wake, &QTimer::timeout, this, [this] {
        fireDue(now());
        arm();
    });
}

ZelvoClock::~ZelvoClock()
{
    for (auto& entry : timers)
        entry.second->scheduled = false;
}

QString ZelvoClock::modeName(Mode mode)
{
    return mode == Mode::Manual ? QStringLiteral("manual") : QStringLiteral("real");
}

bool ZelvoClock::modeNamed(const QString& name, Mode* mode)
{
    if (name == QLatin1String("real"))
        *mode = Mode::Real;
    else if (name == QLatin1String("manual"))
        *mode = Mode::Manual;
    else
        return false;
    return true;
}

qint64 ZelvoClock::now() const
{
    return clockMode == Mode::Manual ? manualNow : running.elapsed() + offset;
}

void ZelvoClock::pause()
{
    setMode(Mode::Manual);
}

void ZelvoClock::resume()
{
    setMode(Mode::Real);
}

void ZelvoClock::setMode(Mode mode)
{
    if (mode == clockMode)
        return;
    if (mode == Mode::Manual) {
        manualNow = now();
        clockMode = mode;
        wake->stop();
    } else {
        offset = manualNow - running.elapsed();
        clockMode = mode;
        arm();
    }
    emit modeChanged(mode);
}

bool ZelvoClock::advance(qint64 millis)
{
    if (clockMode != Mode::Manual || millis < 0)
        return false;
    const qint64 target = manualNow + millis;
    fireDue(target);
    manualNow = std::max(manualNow, target);
    emit advanced(manualNow);
    return true;
}

void ZelvoClock::schedule(ZelvoClockTimer* timer, qint64 deadline)
{
    unschedule(timer);
    timer->deadline = deadline;
    timer->order = nextOrder++;
    timer->scheduled = true;
    timers.emplace(Key(deadline, timer->order), timer);
    if (clockMode == Mode::Real && (!wake->isActive() || deadline < wakeDeadline))
        arm();
}

void ZelvoClock::unschedule(ZelvoClockTimer* timer)
{
    if (!timer->scheduled)
        return;
    timers.erase(Key(timer->deadline, timer->order));
    timer->scheduled = false;
    // A wake-up for a timer that is gone finds nothing due and sets itself
    // for the next one; cheaper than setting it anew at every restart.
}

void ZelvoClock::fireDue(qint64 upTo)
{
    while (!timers.empty() && timers.begin()->first.first <= upTo) {
        ZelvoClockTimer* timer = timers.begin()->second;
        const qint64 due = timers.begin()->first.first;
        timers.erase(timers.begin());
        timer->scheduled = false;
        if (clockMode == Mode::Manual)
            manualNow = std::max(manualNow, due);
        if (!timer->oneShot) {
            // Never a period of 0: a manual advance would not end.
            const qint64 period = std::max(1, timer->intervalMillis);
            qint64 next = due + period;
            if (clockMode == Mode::Real && next <= now())
                next = now() + period;
            schedule(timer, next);
        }
        // The slot may stop, restart or delete the timer, or start others.
        emit timer->timeout();
    }
}

void ZelvoClock::arm()
{
    if (clockMode != Mode::Real || timers.empty()) {
        wake->stop();
        return;
    }
    wakeDeadline = timers.begin()->first.first;
    const qint64 wait = std::clamp<qint64>(wakeDeadline - now(), 0, std::numeric_limits<int>::max());
    wake->start(int(wait));
}
