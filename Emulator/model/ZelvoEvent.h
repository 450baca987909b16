#pragma once

// One thing that happened on the glasses, as reported to the agents: a kind
// and four values whose meaning depends on the kind.
class ZelvoEvent
{
public:
    // Distinct powers of two, as the glasses number them.
    enum Kind {
        BatteryEvent = 2,
        ButtonEvent = 4,
        AccelerometerEvent = 16,
        CompassEvent = 32,
        LightSensorEvent = 64
    };

    ZelvoEvent() = default;
    explicit ZelvoEvent(int type);

    int type = 0;
    float values[4] = {0.0f, 0.0f, 0.0f, 0.0f};
};
