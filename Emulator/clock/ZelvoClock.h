#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <utility>

class QTimer;
class ZelvoClockTimer;

// The device's time, which every timed behaviour of the emulator follows.
// Real by default: it runs with the machine's monotonic clock. Manual: it
// stands still until advance() moves it, firing each timer that falls due
// on the way at its own time and in deadline order, so that a test gets
// the same result however fast or loaded the machine is. On either clock
// a timer due at or before now() fires before anything else happens to
// the device (catchUp()), as a 0 ms timer does in real time.
class ZelvoClock final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoClock)

public:
    enum class Mode { Real, Manual };

    explicit ZelvoClock(Mode mode = Mode::Real, QObject* parent = nullptr);
    ~ZelvoClock() override;

    static QString modeName(Mode mode);
    // False when name is neither "real" nor "manual".
    static bool modeNamed(const QString& name, Mode* mode);

    Mode mode() const { return clockMode; }
    bool isManual() const { return clockMode == Mode::Manual; }
    // Milliseconds since the clock was made, on the device's time.
    qint64 now() const;
    // The wall time the clock started at, moved on by the device's time.
    qint64 epochMillis() const { return startEpochMillis + now(); }

    // Stops the device's time where it is; timers wait for advance().
    void pause();
    // Lets the device's time run on from where it stands; timers that are
    // due fire at once. False, changing nothing, while an advance runs.
    bool resume();
    bool setMode(Mode mode);
    // Manual time only: moves the clock millis on at once and fires every
    // timer due until then, including those that the fired ones start.
    // False, doing nothing, in real time, for a negative millis or while
    // advances in slices are queued.
    bool advance(qint64 millis);
    // Manual time only: moves the clock millis on from where the advances
    // already queued end. The timers due on the way fire in deadline order
    // a slice of the event loop's time at a time, everything else served
    // between slices, during which the clock reads the time of the latest
    // timer fired; done is called when the clock stands at the target,
    // unless context is gone. False in real time or for a negative millis.
    bool advanceInSlices(qint64 millis, QObject* context, std::function<void()> done);
    // The same for the time something takes, as long as owner lives: once
    // it is gone the advance ends where the clock stands, and those queued
    // behind it move up by the time it left.
    bool passWhile(qint64 millis, QObject* owner);
    // Ends the time owner passes where the clock stands, as its going would.
    void endPass(const QObject* owner);
    bool isAdvancing() const { return !advances.empty(); }
    // Where the queued advances end; now() when none runs.
    qint64 advanceTarget() const { return advances.empty() ? now() : advances.back().target; }
    // Fires every timer due at or before now(), so that what comes next
    // from outside (an agent's frame, a control request) finds them fired.
    void catchUp();

    // Calls slot once, millis from now; deleting context cancels it.
    template <typename Slot>
    void singleShot(int millis, QObject* context, Slot slot);
    // The same at deadline on this clock (see now()).
    template <typename Slot>
    void singleShotAt(qint64 deadline, QObject* context, Slot slot);

signals:
    void modeChanged(ZelvoClock::Mode mode);
    // The manual clock moved; not emitted while it runs in real time.
    void advanced(qint64 now);

private:
    friend class ZelvoClockTimer;
    // Deadline, then the order in which the timers were started.
    using Key = std::pair<qint64, quint64>;
    using Schedule = std::map<Key, ZelvoClockTimer*>;

    void schedule(ZelvoClockTimer* timer, qint64 deadline);
    void unschedule(ZelvoClockTimer* timer);
    struct Advance
    {
        qint64 target = 0;
        QPointer<QObject> context;
        std::function<void()> done;
        // Ends early with its context (passWhile()).
        bool owned = false;

        bool isCut() const { return owned && !context; }
    };

    // Fires the timers due until upTo, earliest first; false when it
    // stopped because the turn has run for a slice's time or the advance
    // given was cut.
    bool fireDue(qint64 upTo, const QElapsedTimer* turn, const Advance* advance = nullptr);
    // One slice of the queued advances.
    void runAdvances();
    // The wake-up timer is set for the earliest deadline in real time, and
    // for a timer already due in manual time.
    void arm();

    Mode clockMode;
    QElapsedTimer running;
    // now() = elapsed time of running + offset in real time; frozen in manual time.
    qint64 offset = 0;
    qint64 manualNow = 0;
    qint64 startEpochMillis = 0;
    Schedule timers;
    quint64 nextOrder = 0;
    QTimer* wake = nullptr;
    qint64 wakeDeadline = 0;
    std::deque<Advance> advances;
    // Goes round the event loop between the slices of an advance.
    QTimer* nextSlice = nullptr;
};

#include "clock/ZelvoClockTimer.h"

template <typename Slot>
void ZelvoClock::singleShot(int millis, QObject* context, Slot slot)
{
    singleShotAt(now() + std::max(0, millis), context, std::move(slot));
}

template <typename Slot>
void ZelvoClock::singleShotAt(qint64 deadline, QObject* context, Slot slot)
{
    auto* timer = new ZelvoClockTimer(this, context);
    timer->setSingleShot(true);
    connect(timer, &ZelvoClockTimer::timeout, context, [timer, slot] {
        timer->deleteLater();
        slot();
    });
    timer->startAt(deadline);
}
