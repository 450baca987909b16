#include "model/ZelvoHeadPose.h"
#include "ZelvoVocabulary.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double pi = 3.14159265358979323846;

double radians(double degrees)
{
    return degrees * pi / 180;
}

// A turn of up to 360° either way, as the shorter one that ends there.
double shorterTurn(double turn)
{
    if (turn > 180)
        return turn - 360;
    if (turn <= -180)
        return turn + 360;
    return turn;
}

} // namespace

ZelvoHeadPose::ZelvoHeadPose(double yaw, double pitch, double roll)
    : yawDegrees(std::fmod(yaw, 360.0))
    , pitchDegrees(std::clamp(pitch, -90.0, 90.0))
    , rollDegrees(std::fmod(roll, 360.0))
{
    if (yawDegrees < 0)
        yawDegrees += 360;
    // -1e-20 + 360 rounds to 360 itself.
    if (yawDegrees >= 360)
        yawDegrees = 0;
    if (rollDegrees > 180)
        rollDegrees -= 360;
    else if (rollDegrees <= -180)
        rollDegrees += 360;
}

ZelvoEvent ZelvoHeadPose::compassReading() const
{
    ZelvoEvent event(ZelvoVocabulary::CompassEvent);
    event.values[0] = float(yawDegrees);
    event.values[1] = float(pitchDegrees);
    event.values[2] = float(rollDegrees);
    return event;
}

ZelvoEvent ZelvoHeadPose::accelerometerReading(double yawAcceleration, double pitchAcceleration,
                                               double rollAcceleration) const
{
    // The accelerometer feels the floor pushing up: "up" in the glasses'
    // axes after the head pitched (about x), then leaned (about z). The
    // heading turns about up itself and changes nothing.
    const double pitch = radians(pitchDegrees);
    const double roll = radians(rollDegrees);
    double x = -gravity * std::cos(pitch) * std::sin(roll);
    double y = gravity * std::cos(pitch) * std::cos(roll);
    double z = -gravity * std::sin(pitch);
    // The glasses sit in front of the neck for a turn or a nod, above it
    // for a lean: a faster turn right or lean right pushes them right, a
    // faster look up pushes them up.
    x += leverMetres * (radians(yawAcceleration) + radians(rollAcceleration));
    y += leverMetres * radians(pitchAcceleration);
    ZelvoEvent event(ZelvoVocabulary::AccelerometerEvent);
    event.values[0] = float(x);
    event.values[1] = float(y);
    event.values[2] = float(z);
    return event;
}

double ZelvoHeadPose::yawTurnTo(const ZelvoHeadPose& target) const
{
    return shorterTurn(target.yawDegrees - yawDegrees);
}

double ZelvoHeadPose::rollTurnTo(const ZelvoHeadPose& target) const
{
    return shorterTurn(target.rollDegrees - rollDegrees);
}

ZelvoHeadPose ZelvoHeadPose::towards(const ZelvoHeadPose& target, double fraction) const
{
    // Exactly there, not a rounding short of it.
    if (fraction >= 1)
        return target;
    return ZelvoHeadPose(yawDegrees + fraction * yawTurnTo(target),
                         pitchDegrees + fraction * (target.pitchDegrees - pitchDegrees),
                         rollDegrees + fraction * rollTurnTo(target));
}

bool ZelvoHeadPose::operator==(const ZelvoHeadPose& other) const
{
    return yawDegrees == other.yawDegrees && pitchDegrees == other.pitchDegrees && rollDegrees == other.rollDegrees;
}
