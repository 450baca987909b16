#pragma once

#include <QImage>

// How far one picture is from another it should look like: pixels count as
// equal while no channel (alpha included) differs by more than a tolerance,
// so that antialiasing that differs between machines does not fail a check.
class ZelvoImageComparison final
{
public:
    // The usual tolerance for drawings made on another machine.
    static constexpr int defaultTolerance = 8;

    static ZelvoImageComparison compare(const QImage& actual, const QImage& expected,
                                        int tolerance = defaultTolerance);

    bool matches() const { return sameSize && differingPixels == 0; }
    bool sameSize = false;
    int differingPixels = 0;
    // The largest channel difference seen, 0 to 255.
    int largestDifference = 0;
    // The expected picture dimmed on black, with every differing pixel in
    // red: a person sees at once where the pictures part. When the sizes
    // differ, the actual picture.
    QImage difference;
};
