#pragma once

#include <QFuture>
#include <QImage>
#include <QObject>
#include <QString>
#include <QVector>

#include <memory>

class ZelvoClock;
class ZelvoClockTimer;

// Records the display as an animation: one frame per change of the display
// image, each shown as long as the display showed it. The file is an
// animated PNG, or a GIF when its name ends in ".gif"; it is written when
// the recording stops. Frames are compressed on worker threads as they come,
// so that recording costs the drawing of content next to nothing. Frames
// last as long as the device clock says, which is a real-time clock of its
// own unless one is given.
class ZelvoDisplayRecorder final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoDisplayRecorder)

public:
    explicit ZelvoDisplayRecorder(ZelvoClock* clock = nullptr, QObject* parent = nullptr);
    ~ZelvoDisplayRecorder() override;

    // Starts recording into path (absolute), for seconds or, when seconds
    // is 0, until stop(). False with a reason when it cannot start.
    bool start(const QString& path, double seconds, QString* error = nullptr);
    // Stops and writes the file; false with a reason when it cannot be
    // written. Stopping when not recording does nothing and succeeds.
    bool stop(QString* error = nullptr);
    bool isRecording() const { return recording; }
    QString path() const { return filePath; }
    int frameCount() const { return frames.size(); }

    // The picture with its transparent pixels on black, as the glasses show it.
    static QImage opaque(const QImage& image);

public slots:
    // The display now shows image; the window calls it after each composition.
    void showImage(const QImage& image);

signals:
    void recordingChanged(bool recording);
    // A recording ended, by stop() or at its time; error is empty when the
    // file was written.
    void finished(const QString& path, int frames, const QString& error);

private:
    struct Frame
    {
        qint64 millis = 0;
        QFuture<QByteArray> png;
    };

    void addFrame(const QImage& image);

    QImage current;
    QImage lastRecorded;
    QVector<Frame> frames;
    std::unique_ptr<ZelvoClock> ownClock;
    ZelvoClock* clock = nullptr;
    qint64 startMillis = 0;
    ZelvoClockTimer* limit = nullptr;
    QString filePath;
    bool recording = false;
};
