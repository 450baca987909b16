#pragma once

#include "recording/ZelvoAnimationFrame.h"

#include <QByteArray>
#include <QVector>

// Joins PNG frames of one size and format into an animated PNG that loops
// forever. The frames' image data is taken as it is: each frame's IDAT
// chunks become the animation's frame data, so nothing is compressed twice.
class ZelvoApngWriter final
{
public:
    // An empty array when there are no frames or a frame is no PNG of the
    // first frame's size and format.
    static QByteArray encode(const QVector<ZelvoAnimationFrame>& frames);
    // The CRC-32 of a PNG chunk (type and data).
    static quint32 crc(const QByteArray& bytes);
};
