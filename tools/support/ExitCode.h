#pragma once

// The exit codes of zitool, zelvo-agent and zelvo-ctl, one rule for all
// three (the README's "Exit codes"), so that a script reads them alike.
enum class ExitCode {
    Success = 0,
    // A well-formed request that could not be done: the emulator refused
    // it, a file could not be read or written, or a wait ended without
    // what it waited for.
    Failure = 1,
    // A wrong command line, whether the tool or the emulator found it.
    UsageError = 2,
    // No emulator, no answer in time, or something else answered.
    Unreachable = 3,
};

constexpr int toInt(ExitCode code)
{
    return static_cast<int>(code);
}
