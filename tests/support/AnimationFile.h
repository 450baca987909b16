#pragma once

#include <QImage>
#include <QString>
#include <QVector>

// An animation the display recording wrote, read the way a viewer reads it:
// frame after frame until the end or the first frame that is not whole, as
// in a file cut short by a kill. An animated PNG is read chunk by chunk
// with every CRC checked, each frame rebuilt as a PNG of its own that Qt
// decodes; a GIF through giflib, record by record.
struct AnimationFile
{
    struct Frame
    {
        // The picture; null for GIF frames, which are checked by their delays.
        QImage image;
        int delayMillis = 0;
    };

    static AnimationFile read(const QString& path);

    // The whole frames, in order.
    QVector<Frame> frames;
    // The frame count the file declares (acTL of an animated PNG), -1 for GIF.
    int declaredFrames = -1;
    // Whether the file has its end (IEND, or the GIF trailer) after the frames.
    bool finished = false;
};
