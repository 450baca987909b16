#pragma once

#include "recording/ZelvoAnimationWriter.h"

class QImage;

// An animated GIF that loops forever, written as the frames come. giflib
// compresses each frame off the GUI thread; the writer adds the header, each
// frame's delay and the trailer. A file cut short by a kill is readable up
// to its last whole frame. GIF has no partial transparency, so the frames
// are shown on black, as the glasses show them.
class ZelvoGifWriter final : public ZelvoAnimationWriter
{
public:
    using ZelvoAnimationWriter::ZelvoAnimationWriter;

    // The frame's image descriptor, colour table and compressed pixels;
    // empty when giflib fails. Safe on any thread.
    static QByteArray encodeFrame(const QImage& image);

    bool append(const QByteArray& frame, int delayMillis) override;
    bool setLastDelay(int delayMillis) override;
    bool finish() override;

private:
    quint16 width = 0;
    quint16 height = 0;
    qint64 lastDelayAt = 0;
};
