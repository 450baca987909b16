#pragma once

#include <QFile>
#include <QFuture>
#include <QFutureWatcher>
#include <QImage>
#include <QObject>
#include <QQueue>
#include <QString>

#include <memory>

class ZelvoAnimationWriter;
class ZelvoClock;
class ZelvoClockTimer;

// Records the display as an animation: one frame per change of the display
// image, each shown as long as the display showed it. The file is an
// animated PNG, or a GIF when its name ends in ".gif". Frames are encoded on
// worker threads as they come, so that recording costs the drawing of
// content next to nothing, and written to the file in order as soon as
// each is encoded: memory stays flat however long the recording runs, and a
// killed program leaves every frame encoded until then. Frames last as
// long as the device clock says, which is a real-time clock of its own
// unless one is given. A frame that cannot be written (a full disk) ends
// the recording at once: the file is cut back to its whole frames and
// finished, so that it plays as far as it was written, and failure() says
// why.
class ZelvoDisplayRecorder final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoDisplayRecorder)

public:
    explicit ZelvoDisplayRecorder(ZelvoClock* clock = nullptr, QObject* parent = nullptr);
    ~ZelvoDisplayRecorder() override;

    // Starts recording into path (absolute, replaced), for seconds or, when
    // seconds is 0, until stop(). False with a reason when it cannot start.
    bool start(const QString& path, double seconds, QString* error = nullptr);
    // Stops and finishes the file; false with a reason when it could not be
    // written, also for a recording that had stopped by itself. Stopping
    // otherwise when not recording does nothing and succeeds.
    bool stop(QString* error = nullptr);
    bool isRecording() const { return recording; }
    // Why the recording stopped by itself; empty when it did not, and
    // again after stop() or start().
    const QString& failure() const { return failed; }
    QString path() const { return file.fileName(); }
    int frameCount() const { return frames; }
    // Device time until a recording of a set length ends; -1 without one.
    qint64 remainingMillis() const;

    // The picture with its transparent pixels on black, as the glasses show it.
    static QImage opaque(const QImage& image);

public slots:
    // The display now shows image; the window calls it after each composition.
    void showImage(const QImage& image);

signals:
    // Every composed display, recorded or not, for those who watch it from
    // elsewhere: the window itself declares no signals, since tools reach
    // its slots by index.
    void imageShown(const QImage& image);
    void recordingChanged(bool recording);
    // A recording ended, by stop() or at its time; error is empty when the
    // file was written.
    void finished(const QString& path, int frames, const QString& error);
    // The recording stopped by itself, for reason.
    void stoppedByFailure(const QString& path, const QString& reason);

private:
    struct Frame
    {
        qint64 millis = 0;
        QFuture<QByteArray> encoded;
    };

    void addFrame(const QImage& image);
    // Writes the encoded frames at the head of the queue; on a failure,
    // ends the recording.
    void writeEncoded();
    void stopAfterFailure();
    // Closes the file, which holds frames, and tells why it ended.
    void finishFile(int frames, const QString& reason);
    // What stop() answers when not recording.
    bool takeFailure(QString* error);

    QImage current;
    QImage lastRecorded;
    // Frames still being encoded, oldest first.
    QQueue<Frame> encoding;
    QFutureWatcher<QByteArray> oldest;
    QByteArray (*encode)(const QImage&) = nullptr;
    std::unique_ptr<ZelvoAnimationWriter> writer;
    QFile file;
    // When the frame written last was taken, while its length is still open.
    qint64 openFrameMillis = -1;
    int frames = 0;
    std::unique_ptr<ZelvoClock> ownClock;
    ZelvoClock* clock = nullptr;
    qint64 startMillis = 0;
    ZelvoClockTimer* limit = nullptr;
    bool recording = false;
    QString failed;
};
