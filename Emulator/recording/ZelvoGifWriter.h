#pragma once

#include "recording/ZelvoAnimationFrame.h"

#include <QByteArray>
#include <QVector>

// Encodes PNG frames as an animated GIF that loops forever, through giflib.
// GIF has no partial transparency, so the frames are shown on black, as the
// glasses show them.
class ZelvoGifWriter final
{
public:
    // An empty array when there are no frames or one cannot be read.
    static QByteArray encode(const QVector<ZelvoAnimationFrame>& frames);
};
