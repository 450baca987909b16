#pragma once

#include <QByteArray>

// One picture of a recorded display: a complete PNG file, shown for
// delayMillis before the next one.
struct ZelvoAnimationFrame
{
    QByteArray png;
    int delayMillis = 0;
};
