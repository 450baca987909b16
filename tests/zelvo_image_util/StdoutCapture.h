#pragma once

#include <QByteArray>

#include <cstdio>

// Collects what the code under test prints to standard output, so that the
// container's and the packets' printf messages can be compared. Keep the
// capture short: test failures reported meanwhile would be swallowed too.
class StdoutCapture final
{
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    QByteArray text() const;

    template <typename Call>
    static QByteArray of(Call&& call)
    {
        const StdoutCapture capture;
        call();
        return capture.text();
    }

private:
    std::FILE* file = nullptr;
    int savedStdout = -1;
};
