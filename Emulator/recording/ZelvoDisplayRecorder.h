#pragma once

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QObject>
#include <QQueue>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QThreadPool;
class ZelvoAnimationWriter;
class ZelvoClock;
class ZelvoPendingReply;
class ZelvoRecorder;
class ZelvoClockTimer;
template <typename T>
class ZelvoOrderedWork;

// Records the display as an animation: one frame per change of the display
// image, each shown as long as the display showed it. The file is an
// animated PNG, or a GIF when its name ends in ".gif". Frames are encoded on
// a worker thread as they come and written to the file in order, on this
// object's thread, as soon as each is encoded: the display never waits for
// an encoding, memory stays flat however long the recording runs, and a
// killed program leaves every frame encoded until then. Should the display
// change faster than its frames are encoded for seconds on end, the
// pictures waiting are bounded: changes beyond the bound are dropped, said
// so in the log, and the display as it stands is kept for the next frame,
// so the file still ends on what the display showed. Frames last as long
// as the device clock says, which is a real-time clock of its own unless
// one is given. A frame that cannot be written (a full disk) ends the
// recording at once: the file is cut back to its whole frames and
// finished, so that it plays as far as it was written, and failure() says
// why.
class ZelvoDisplayRecorder final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoDisplayRecorder)

public:
    using Done = std::function<void(const QString& path, int frames, const QString& error)>;

    explicit ZelvoDisplayRecorder(ZelvoClock* clock = nullptr, QObject* parent = nullptr);
    // A recording still running is finished here, its last frames encoded
    // on this thread: the program is ending, and the file must be whole.
    ~ZelvoDisplayRecorder() override;

    // Each frame notes the newest record of recorder when it was shown,
    // where the format can carry it (animated PNG), so that a report puts
    // the frames among the records.
    void followRecord(const ZelvoRecorder* recorder) { record = recorder; }

    // Starts recording into path (absolute, replaced), for seconds or, when
    // seconds is 0, until stop(). False with a reason when it cannot start.
    // While a recording stopped is still being finished, the new one begins
    // once that file is written, with the display as it stands then; should
    // its file not open then, it ends with that reason, as by a failure.
    bool start(const QString& path, double seconds, QString* error = nullptr);
    // Takes no more frames and finishes the file once the frames still
    // being encoded are written, without waiting for them: finished() says
    // how it went, at once when none are pending. Forgets the failure of
    // a recording that stopped by itself; does nothing more otherwise.
    void stop();
    // Calls done from the event loop once the recording started last ends,
    // with what finished() says of it; the call is dropped should context
    // go first or the wait returned be cancelled.
    ZelvoPendingReply* whenFinished(QObject* context, const Done& done);
    // True from start() until the file is finished.
    bool isRecording() const { return recording; }
    // Why the recording stopped by itself; empty when it did not, and
    // again after stop() or start().
    const QString& failure() const { return failed; }
    QString path() const { return file.fileName(); }
    // Frames taken into the recording so far.
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
    // A recording ended, by stop(), at its time or by a failure, once its
    // file is finished; error is empty when the file was written.
    void finished(const QString& path, int frames, const QString& error);
    // The recording stopped by itself, for reason.
    void stoppedByFailure(const QString& path, const QString& reason);

private:
    struct Frame
    {
        qint64 millis = 0;
        // Kept until the frame is written, for the shutdown path to encode.
        QImage image;
        // The newest record when it was shown.
        quint64 shownAfter = 0;
    };

    qint64 elapsed() const;
    void addFrame(const QImage& image);
    // Hands the frame to the workers.
    void take(const Frame& frame);
    // Writes the oldest frame taken, now encoded; on a failure, ends the
    // recording.
    void write(const QByteArray& encodedFrame);
    void stopAfterFailure();
    // Opens the file and takes the display as it stands as the first frame.
    bool begin(const QString& path, double seconds, QString* error);
    // Finishes a stopped recording at once, encoding here the frames the
    // worker has not delivered.
    void finishNow();
    // Ends the file after its whole frames and tells why it ended, reason
    // being empty when it ran to its end.
    void finishFile(QString reason);

    const ZelvoRecorder* record = nullptr;
    QImage current;
    QImage lastRecorded;
    // Frames taken and not yet written, oldest first, and their pictures' bytes.
    QQueue<Frame> pending;
    qint64 pendingBytes = 0;
    // The newest change that did not fit among the pending ones.
    Frame waiting;
    // Changes left out since they came faster than they were encoded.
    int dropped = 0;
    QByteArray (*encode)(const QImage&) = nullptr;
    // A pool of its own: on the shared one an encoding would hold up the
    // parsing of the agents' frames behind it, the content it records.
    std::unique_ptr<QThreadPool> encoders;
    std::unique_ptr<ZelvoOrderedWork<QByteArray>> encoded;
    std::unique_ptr<ZelvoAnimationWriter> writer;
    QFile file;
    // When the frame written last was taken, while its length is still open.
    qint64 openFrameMillis = -1;
    int frames = 0;
    std::unique_ptr<ZelvoClock> ownClock;
    ZelvoClock* clock = nullptr;
    qint64 startMillis = 0;
    // Device time into the recording at which it was stopped.
    qint64 endMillis = 0;
    ZelvoClockTimer* limit = nullptr;
    bool recording = false;
    bool stopping = false;
    // A recording asked for while the last one is being finished.
    struct Next
    {
        QString path;
        double seconds = 0;
        // stop() came before it began.
        bool stopped = false;
    };
    std::optional<Next> next;
    // Recordings asked for and ended, so that a wait for the last one is
    // not answered by the end of the one before.
    int requested = 0;
    int ended = 0;
    QString failed;
};
