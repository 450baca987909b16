#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

// Writes an animation into its file frame by frame as the frames come, so
// that a recording's memory stays flat however long it runs, and the file
// holds every frame so far should the program be killed. A frame is
// appended once its picture is encoded, shown "until further notice"; its
// real length is set when the next frame comes or the recording ends.
class ZelvoAnimationWriter
{
    Q_DISABLE_COPY_MOVE(ZelvoAnimationWriter)

public:
    // A frame appended with this is shown as long as the format allows,
    // until setLastDelay() says otherwise.
    static constexpr int openDelay = -1;

    // Writes into file, an open, seekable device the writer does not own.
    explicit ZelvoAnimationWriter(QIODevice* file);
    virtual ~ZelvoAnimationWriter();

    // Appends one frame, as the format's encodeFrame() made it; false with
    // errorString() on a write error or a frame that does not fit the first.
    virtual bool append(const QByteArray& frame, int delayMillis) = 0;
    // The record after which the next frame was shown, for a format that
    // can carry it.
    void setShownAfter(quint64 sequence) { nextShownAfter = sequence; }
    // How long the last appended frame is shown.
    virtual bool setLastDelay(int delayMillis) = 0;
    // Writes what ends the file.
    virtual bool finish() = 0;

    QString errorString() const { return error; }
    // Writes bytes whole, or false with the device's errorString() saying
    // why: a short write, which sets no error, is followed by one more try
    // for the rest (a full disk then says so).
    static bool writeWhole(QIODevice* device, const QByteArray& bytes);
    // After a failed write, the writes that follow are tried again: the
    // end of a file cut back to its whole frames.
    void clearError() { error.clear(); }
    // The bytes of the frames appended whole, and their count.
    qint64 size() const { return end; }
    int frameCount() const { return frames; }

protected:
    quint64 nextShownAfter = 0;

    bool write(const QByteArray& bytes);
    // Overwrites bytes already written, at position.
    bool writeAt(qint64 position, const QByteArray& bytes);
    bool fail(const QString& reason);

    // Frames appended so far.
    int frames = 0;

private:
    QIODevice* file = nullptr;
    qint64 end = 0;
    QString error;
};
