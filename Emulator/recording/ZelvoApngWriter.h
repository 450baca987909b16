#pragma once

#include "recording/ZelvoAnimationWriter.h"

class QImage;

// An animated PNG that loops forever, written as the frames come. Each
// frame is a PNG of its own, encoded off the GUI thread, whose IDAT chunks
// become the animation's frame data, so nothing is compressed twice. The
// frame count in the acTL chunk is kept up to date after every frame: a
// file cut short by a kill still says how many frames it holds, and lacks
// only its IEND.
class ZelvoApngWriter final : public ZelvoAnimationWriter
{
public:
    using ZelvoAnimationWriter::ZelvoAnimationWriter;

    // The frame as a PNG file; safe on any thread.
    static QByteArray encodeFrame(const QImage& image);
    // When the first frame was shown, in milliseconds since 1970 on the
    // device clock, so that a report lines the frames up with the records.
    void setShownAt(qint64 epochMillis) { shownAt = epochMillis; }

    bool append(const QByteArray& frame, int delayMillis) override;
    bool setLastDelay(int delayMillis) override;
    bool finish() override;

private:
    QByteArray header;
    qint64 shownAt = -1;
    quint32 sequence = 0;
    qint64 countAt = 0;
    // The last frame's fcTL chunk, rewritten when its length is known.
    QByteArray lastControl;
    qint64 lastControlAt = 0;
};
