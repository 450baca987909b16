#pragma once

#include "clock/ZelvoClock.h"

#include <memory>

class ZelvoDisplayHistory;
class ZelvoDisplayRecorder;
class ZelvoHeadMotion;
class ZelvoImageWriter;
class ZelvoRecorder;
class ZelvoSessionRecorder;

// What the agent link, the window, the control channel and the web page
// share, made once before any of them and handed to each by its
// constructor, so that none reaches them through another. Declared in the
// order they are made; they go in reverse, after everyone using them.
class ZelvoServices final
{
    Q_DISABLE_COPY_MOVE(ZelvoServices)

public:
    explicit ZelvoServices(ZelvoClock::Mode mode = ZelvoClock::Mode::Real);
    ~ZelvoServices();

    const std::unique_ptr<ZelvoClock> clock;
    // What became of every agent message, time-stamped on clock.
    const std::unique_ptr<ZelvoRecorder> recorder;
    // Stores the pictures of every agent's configurations, within one
    // budget of decoded bytes.
    const std::unique_ptr<ZelvoImageWriter> pictureWriter;
    // The wearer's head, whose pose gives compass and accelerometer readings.
    const std::unique_ptr<ZelvoHeadMotion> headMotion;
    // The display recording, following the record for its marks.
    const std::unique_ptr<ZelvoDisplayRecorder> displayRecorder;
    // The record written as it grows, when asked for.
    const std::unique_ptr<ZelvoSessionRecorder> sessionRecorder;
    // The display's changes since the start or the last reset, for reports.
    const std::unique_ptr<ZelvoDisplayHistory> displayHistory;
};
