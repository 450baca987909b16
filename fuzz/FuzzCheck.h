#pragma once

// A property that does not hold ends the run as a crash, whose input
// libFuzzer keeps.
inline void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}
