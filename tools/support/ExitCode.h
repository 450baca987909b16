#pragma once

// The exit codes of zitool, zelvo-agent and zelvo-ctl, so that a script
// reads all three alike. Usage errors and an emulator out of reach share 2:
// either way the request never reached anything that could act on it.
enum class ExitCode {
    Success = 0,
    Failure = 1,
    UsageError = 2,
    Unreachable = 2,
    // zelvo-agent: fewer events than asked for before listening ended.
    MissingEvents = 3,
};

constexpr int toInt(ExitCode code)
{
    return static_cast<int>(code);
}
