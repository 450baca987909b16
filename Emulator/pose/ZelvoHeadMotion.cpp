#include "pose/ZelvoHeadMotion.h"

#include "clock/ZelvoClock.h"
#include "clock/ZelvoClockTimer.h"
#include "ZelvoVocabulary.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <utility>

namespace {

// One stretch of a gesture: where the head goes, relative to where the
// gesture began, and in how long.
struct Keyframe
{
    double yaw;
    double pitch;
    double roll;
    int millis;
};

struct Gesture
{
    ZelvoVocabulary::HeadGesture gesture;
    std::vector<Keyframe> keyframes;
};

// Amplitudes and times of a brisk, clear gesture, the kind a detector
// should take; the documentation lists the same.
const std::array<Gesture, 6>& gestures()
{
    static const std::array<Gesture, 6> table = {{
        {ZelvoVocabulary::Nod, {{0, -20, 0, 200}, {0, 0, 0, 200}, {0, -20, 0, 200}, {0, 0, 0, 200}}},
        {ZelvoVocabulary::Shake, {{-30, 0, 0, 200}, {30, 0, 0, 300}, {-30, 0, 0, 300}, {0, 0, 0, 200}}},
        {ZelvoVocabulary::TiltLeft, {{0, 0, -30, 300}, {0, 0, -30, 400}, {0, 0, 0, 300}}},
        {ZelvoVocabulary::TiltRight, {{0, 0, 30, 300}, {0, 0, 30, 400}, {0, 0, 0, 300}}},
        {ZelvoVocabulary::LookUp, {{0, 30, 0, 300}, {0, 30, 0, 400}, {0, 0, 0, 300}}},
        {ZelvoVocabulary::LookDown, {{0, -30, 0, 300}, {0, -30, 0, 400}, {0, 0, 0, 300}}},
    }};
    return table;
}

const Gesture* gestureNamed(const QString& name)
{
    const auto& table = gestures();
    const auto found = std::find_if(table.cbegin(), table.cend(), [&name](const Gesture& gesture) {
        return name == ZelvoVocabulary::headGestureName(gesture.gesture);
    });
    return found == table.cend() ? nullptr : &*found;
}

} // namespace

ZelvoHeadMotion::ZelvoHeadMotion(ZelvoClock* clock, QObject* parent)
    : QObject(parent)
    , clock(clock)
    , timer(new ZelvoClockTimer(clock, this))
{
    timer->setSingleShot(true);
    connect(timer, &ZelvoClockTimer::timeout, this, &ZelvoHeadMotion::onTimeout);
}

ZelvoHeadMotion::~ZelvoHeadMotion() = default;

int ZelvoHeadMotion::gestureMillis(const QString& name)
{
    const Gesture* gesture = gestureNamed(name);
    if (!gesture)
        return 0;
    return std::accumulate(gesture->keyframes.cbegin(), gesture->keyframes.cend(), 0,
                           [](int millis, const Keyframe& keyframe) { return millis + keyframe.millis; });
}

void ZelvoHeadMotion::setRate(int readingsPerSecond)
{
    perSecond = std::clamp(readingsPerSecond, minRate, maxRate);
}

void ZelvoHeadMotion::set(const ZelvoHeadPose& pose)
{
    sendDue();
    end(false);
    current = pose;
    emit poseChanged();
    emit readings(current.compassReading(), current.accelerometerReading());
}

void ZelvoHeadMotion::move(const ZelvoHeadPose& target, qint64 overMillis, qint64 startMillis)
{
    sendDue();
    end(false);
    if (overMillis <= 0) {
        set(target);
        emit finished(true);
        return;
    }
    begin({{current, target, 0, overMillis}}, startMillis < 0 ? clock->now() : startMillis);
}

bool ZelvoHeadMotion::gesture(const QString& name, int times)
{
    const Gesture* gesture = gestureNamed(name);
    if (!gesture)
        return false;
    sendDue();
    end(false);
    std::vector<Segment> path;
    ZelvoHeadPose from = current;
    qint64 at = 0;
    for (int round = 0; round < times; ++round) {
        for (const Keyframe& keyframe : gesture->keyframes) {
            const ZelvoHeadPose to(current.yaw() + keyframe.yaw, current.pitch() + keyframe.pitch,
                                   current.roll() + keyframe.roll);
            path.push_back({from, to, at, keyframe.millis});
            from = to;
            at += keyframe.millis;
        }
    }
    begin(std::move(path), clock->now());
    return true;
}

void ZelvoHeadMotion::stop()
{
    sendDue();
    end(false);
}

void ZelvoHeadMotion::reset()
{
    end(false);
    perSecond = defaultRate;
    current = ZelvoHeadPose();
    emit poseChanged();
}

void ZelvoHeadMotion::begin(std::vector<Segment> path, qint64 startMillis)
{
    segments = std::move(path);
    totalMillis = segments.back().startMillis + segments.back().millis;
    startedAt = startMillis;
    movingRate = perSecond;
    ticks = 0;
    moving = true;
    onTimeout();
}

void ZelvoHeadMotion::end(bool completed)
{
    if (!moving)
        return;
    moving = false;
    timer->stop();
    segments.clear();
    emit finished(completed);
}

qint64 ZelvoHeadMotion::nextTickMillis() const
{
    // The k-th reading at k/rate seconds, rounded to the millisecond.
    const qint64 k = ticks + 1;
    return std::min(totalMillis, (2 * k * 1000 + movingRate) / (2 * movingRate));
}

void ZelvoHeadMotion::sendDue()
{
    // A late wake-up sends what it owes, each reading as it was due, so
    // that no reading is lost to a busy moment.
    const qint64 elapsed = clock->now() - startedAt;
    while (moving && nextTickMillis() <= elapsed) {
        const qint64 at = nextTickMillis();
        ++ticks;
        sendAt(at);
        if (at == totalMillis)
            end(true);
    }
}

void ZelvoHeadMotion::onTimeout()
{
    sendDue();
    if (moving)
        timer->start(int(nextTickMillis() - (clock->now() - startedAt)));
}

void ZelvoHeadMotion::sendAt(qint64 millis)
{
    const auto segment = std::find_if(segments.cbegin(), segments.cend(), [millis](const Segment& each) {
        return millis <= each.startMillis + each.millis;
    });
    const double seconds = double(segment->millis) / 1000;
    const double u = double(millis - segment->startMillis) / double(segment->millis);
    // Minimum jerk: s = 10u³ - 15u⁴ + 6u⁵, still at both ends.
    const double s = u * u * u * (10 - 15 * u + 6 * u * u);
    const double acceleration = (60 * u - 180 * u * u + 120 * u * u * u) / (seconds * seconds);
    const ZelvoHeadPose& from = segment->from;
    const ZelvoHeadPose& to = segment->to;
    current = from.towards(to, s);
    emit poseChanged();
    emit readings(current.compassReading(),
                  current.accelerometerReading(from.yawTurnTo(to) * acceleration, (to.pitch() - from.pitch()) * acceleration,
                                               from.rollTurnTo(to) * acceleration));
}
