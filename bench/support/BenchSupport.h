#pragma once

#include <QCoreApplication>
#include <QEventLoop>

#include <vector>

// The value below which the fraction of the samples lies; 0 without any.
double percentile(std::vector<double> values, double fraction);

// Turns the event loop until done() holds: a benchmark measures what the
// program does in its own loop, so it must not sleep beside it.
template<typename Condition>
void waitFor(Condition done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}
