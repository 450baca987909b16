#include "clock/ZelvoClock.h"

#include <QDateTime>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace {

// A turn of the event loop fires timers for at most this long, so that
// agents, the window, the web page and the control channel wait no more
// than about twice that, whatever a timer's slot costs.
constexpr qint64 sliceMillis = 8;

} // namespace

ZelvoClock::ZelvoClock(Mode mode, QObject* parent)
    : QObject(parent)
    , clockMode(mode)
    , startEpochMillis(QDateTime::currentMSecsSinceEpoch())
    , wake(new QTimer(this))
    , nextSlice(new QTimer(this))
{
    running.start();
    wake->setSingleShot(true);
    wake->setTimerType(Qt::PreciseTimer);
    connect(wake, &QTimer::timeout, this, [this] {
        QElapsedTimer turn;
        turn.start();
        fireDue(now(), &turn);
        arm();
    });
    nextSlice->setSingleShot(true);
    nextSlice->setInterval(0);
    connect(nextSlice, &QTimer::timeout, this, &ZelvoClock::runAdvances);
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

bool ZelvoClock::resume()
{
    return setMode(Mode::Real);
}

bool ZelvoClock::setMode(Mode mode)
{
    if (mode == clockMode)
        return true;
    // Real time would leave the advance's target behind or run past it.
    if (isAdvancing())
        return false;
    if (mode == Mode::Manual) {
        manualNow = now();
        clockMode = mode;
    } else {
        offset = manualNow - running.elapsed();
        clockMode = mode;
    }
    arm();
    emit modeChanged(mode);
    return true;
}

bool ZelvoClock::advance(qint64 millis)
{
    if (clockMode != Mode::Manual || millis < 0 || isAdvancing())
        return false;
    const qint64 target = manualNow + millis;
    fireDue(target, nullptr);
    manualNow = std::max(manualNow, target);
    arm();
    emit advanced(manualNow);
    return true;
}

bool ZelvoClock::advanceInSlices(qint64 millis, QObject* context, std::function<void()> done)
{
    if (clockMode != Mode::Manual || millis < 0)
        return false;
    advances.push_back({advanceTarget() + millis, context, std::move(done)});
    // From the event loop, not within the request that asked for it.
    nextSlice->start();
    return true;
}

bool ZelvoClock::passWhile(qint64 millis, QObject* owner)
{
    if (!advanceInSlices(millis, owner, [] {}))
        return false;
    advances.back().owned = true;
    return true;
}

void ZelvoClock::endPass(const QObject* owner)
{
    for (Advance& queued : advances) {
        if (queued.owned && queued.context == owner)
            queued.context = nullptr;
    }
}

void ZelvoClock::runAdvances()
{
    QElapsedTimer turn;
    turn.start();
    while (!advances.empty()) {
        // Stays valid while the timers fired queue more advances.
        const Advance& front = advances.front();
        if (front.isCut()) {
            const qint64 left = front.target - manualNow;
            advances.pop_front();
            for (Advance& queued : advances)
                queued.target -= left;
            emit advanced(manualNow);
            continue;
        }
        const bool allFired = fireDue(front.target, &turn, &front);
        if (front.isCut())
            continue;
        if (!allFired) {
            nextSlice->start();
            emit advanced(manualNow);
            return;
        }
        manualNow = std::max(manualNow, advances.front().target);
        const Advance reached = std::move(advances.front());
        advances.pop_front();
        emit advanced(manualNow);
        // The answer may bring the next request, which may queue another.
        if (reached.context)
            reached.done();
    }
    arm();
}

void ZelvoClock::catchUp()
{
    if (timers.empty() || timers.begin()->first.first > now())
        return;
    fireDue(now(), nullptr);
    arm();
}

void ZelvoClock::schedule(ZelvoClockTimer* timer, qint64 deadline)
{
    unschedule(timer);
    timer->deadline = deadline;
    timer->order = nextOrder++;
    timer->scheduled = true;
    timers.emplace(Key(deadline, timer->order), timer);
    if (!wake->isActive() || deadline < wakeDeadline)
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

bool ZelvoClock::fireDue(qint64 upTo, const QElapsedTimer* turn, const Advance* advance)
{
    while (!timers.empty() && timers.begin()->first.first <= upTo) {
        // A cut advance stops at the timer that cut it.
        if ((turn && turn->elapsed() >= sliceMillis) || (advance && advance->isCut()))
            return false;
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
    return true;
}

void ZelvoClock::arm()
{
    if (timers.empty() || (clockMode == Mode::Manual && (isAdvancing() || timers.begin()->first.first > manualNow))) {
        wake->stop();
        return;
    }
    wakeDeadline = timers.begin()->first.first;
    const qint64 wait = std::clamp<qint64>(wakeDeadline - now(), 0, std::numeric_limits<int>::max());
    wake->start(int(wait));
}
