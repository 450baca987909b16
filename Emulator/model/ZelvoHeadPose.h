#pragma once

#include "model/ZelvoEvent.h"

// Where the wearer's head looks and how it leans, in degrees, and what the
// glasses' compass and accelerometer read in that pose. The glasses' axes:
// x to the wearer's right, y up, z out of the back of the head (so a level
// head's accelerometer reads about 0, 9.8, 0). The compass reads heading,
// pitch and roll, in that order.
class ZelvoHeadPose
{
public:
    // Standard gravity, in m/s².
    static constexpr double gravity = 9.80665;
    // How far the glasses sit from the neck, about which the head turns,
    // in metres: a turn that speeds up or slows down moves them that much.
    static constexpr double leverMetres = 0.1;

    ZelvoHeadPose() = default;
    // The heading is taken modulo 360, into [0, 360); the pitch stops at
    // straight up or down; a roll beyond 180 is one the other way.
    ZelvoHeadPose(double yaw, double pitch, double roll);

    // Heading, clockwise from north.
    double yaw() const { return yawDegrees; }
    // Looking up is positive, -90 to 90.
    double pitch() const { return pitchDegrees; }
    // Right ear down is positive, above -180 up to 180.
    double roll() const { return rollDegrees; }

    // Heading 0 to 360, pitch and roll as above.
    ZelvoEvent compassReading() const;
    // Gravity as the glasses measure it, in m/s², plus the push of a turn
    // that speeds up or slows down: its angular accelerations in degrees
    // per second², by the same signs as the pose.
    ZelvoEvent accelerometerReading(double yawAcceleration = 0, double pitchAcceleration = 0,
                                    double rollAcceleration = 0) const;

    // The pose a fraction (0 to 1) of the way to target; the heading and
    // the lean turn the shorter way round, clockwise (or to the right)
    // when both ways are equal.
    ZelvoHeadPose towards(const ZelvoHeadPose& target, double fraction) const;
    // How far the heading and the lean turn on the way to target, above
    // -180 up to 180.
    double yawTurnTo(const ZelvoHeadPose& target) const;
    double rollTurnTo(const ZelvoHeadPose& target) const;

    bool operator==(const ZelvoHeadPose& other) const;
    bool operator!=(const ZelvoHeadPose& other) const { return !(*this == other); }

private:
    double yawDegrees = 0;
    double pitchDegrees = 0;
    double rollDegrees = 0;
};
