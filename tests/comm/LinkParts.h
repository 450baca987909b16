#pragma once

#include "clock/ZelvoClock.h"
#include "record/ZelvoRecorder.h"
#include "util/ZelvoImageWriter.h"

// What the program hands the agent server, for tests that read its record
// or wait on its picture writer.
struct LinkParts
{
    ZelvoClock clock;
    ZelvoRecorder recorder{ZelvoRecorder::defaultCapacity, &clock};
    ZelvoImageWriter pictures;
};
