#pragma once

#include "model/ZelvoHeadPose.h"

#include <QObject>
#include <QString>

#include <vector>

class ZelvoClock;
class ZelvoClockTimer;

// The wearer's head on the device clock: set to a pose, moved to another
// over a time, or made to nod, shake, tilt and look up or down. Setting
// gives one compass and one accelerometer reading; a move or a gesture
// gives them at the pose rate along the way and last at the pose where it
// ends. A move eases in and out as a head does (minimum jerk), so the
// accelerometer feels the turn starting and stopping. Gestures start and
// end at the pose they start from.
class ZelvoHeadMotion final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoHeadMotion)

public:
    static constexpr int defaultRate = 50;
    static constexpr int minRate = 1;
    static constexpr int maxRate = 100;

    explicit ZelvoHeadMotion(ZelvoClock* clock, QObject* parent = nullptr);
    ~ZelvoHeadMotion() override;

    // How long one gesture of that name (ZelvoVocabulary::headGestureNames())
    // takes; 0 for an unknown name.
    static int gestureMillis(const QString& name);

    const ZelvoHeadPose& pose() const { return current; }
    bool isMoving() const { return moving; }
    // Readings a second during moves and gestures.
    int rate() const { return perSecond; }
    // Clamped to minRate .. maxRate; a move under way keeps the rate it began with.
    void setRate(int readingsPerSecond);

    // Each of these first sends what a move under way owes until now, then
    // ends it (finished(false)) and begins anew from where the head is.
    void set(const ZelvoHeadPose& pose);
    // Ends at target overMillis after startMillis on the clock (now when
    // negative; a trace gives the time its line was due).
    void move(const ZelvoHeadPose& target, qint64 overMillis, qint64 startMillis = -1);
    // False, changing nothing, for an unknown name.
    bool gesture(const QString& name, int times = 1);
    // The head stays where the last reading put it.
    void stop();
    // Level, facing north, the default rate, nothing sent: as at start.
    void reset();

signals:
    void readings(const ZelvoEvent& compass, const ZelvoEvent& accelerometer);
    void poseChanged();
    // completed is false when something else ended the move.
    void finished(bool completed);

private:
    struct Segment
    {
        ZelvoHeadPose from;
        ZelvoHeadPose to;
        qint64 startMillis = 0;
        qint64 millis = 0;
    };

    void begin(std::vector<Segment> path, qint64 startMillis);
    void end(bool completed);
    // Sends every reading whose time has come, in order.
    void sendDue();
    void onTimeout();
    // The time of the next reading, from the start of the move.
    qint64 nextTickMillis() const;
    // The pose and the readings at millis from the start of the move.
    void sendAt(qint64 millis);

    ZelvoClock* clock = nullptr;
    ZelvoClockTimer* timer = nullptr;
    ZelvoHeadPose current;
    int perSecond = defaultRate;
    bool moving = false;
    std::vector<Segment> segments;
    qint64 totalMillis = 0;
    qint64 startedAt = 0;
    int movingRate = defaultRate;
    // Readings sent of the move under way.
    qint64 ticks = 0;
};
