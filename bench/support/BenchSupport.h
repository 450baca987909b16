#pragma once

#include <QCoreApplication>
#include <QEventLoop>

class QString;

namespace benchmark {
class State;
}

#include <functional>
#include <string>
#include <vector>

// The value below which the fraction of the samples lies; 0 without any.
double percentile(std::vector<double> values, double fraction);

// The p50 and p99 of a figure and of its floor, measured in the same run,
// as counters NAME_p50_us ... FLOOR_p99_us, and their ratios ratio_p50 and
// ratio_p99, which scripts/bench tabulates.
void setRatioCounters(benchmark::State& state, const std::string& name, const std::vector<double>& micros,
                      const std::string& floorName, const std::vector<double>& floorMicros);

// Turns the event loop until done() holds: a benchmark measures what the
// program does in its own loop, so it must not sleep beside it.
template<typename Condition>
void waitFor(Condition done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// Before the application is made: pictures and the control token go to the
// run's own home (HOME, and XDG_CONFIG_HOME within it), never over those of
// an emulator the user may have open; the platform is offscreen; the log
// goes nowhere, its debug lines off as well, as for an agent link that
// nobody reads.
void prepareQuietOffscreenRun(const QString& home);

// The main() of a benchmark of the emulator in its own process: large
// blocks of memory come from the system as in the program, a home of its
// own in a temporary folder, prepared as above, the application, then
// the benchmarks, those of registerBenchmarks too, which it calls once the
// application stands; beforeExit lets go of what must go before the
// application does.
int runOffscreenBenchmarks(int argc, char** argv, const std::function<void()>& registerBenchmarks = {},
                           const std::function<void()>& beforeExit = {});
