#include "recording/ZelvoDisplayRecorder.h"

#include "clock/ZelvoClock.h"
#include "recording/ZelvoApngWriter.h"
#include "recording/ZelvoGifWriter.h"
#include "ZelvoLog.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QtConcurrent>

namespace {

// Longer than any recording a person or a test makes.
constexpr double maxSeconds = 24 * 3600;
// Frames handed to the workers and not yet written: half a second of a
// display that changes 30 times a second, more than a machine that keeps
// up ever holds.
constexpr int maxEncoding = 16;

} // namespace

ZelvoDisplayRecorder::ZelvoDisplayRecorder(ZelvoClock* clock, QObject* parent)
    : QObject(parent)
    , ownClock(clock ? nullptr : std::make_unique<ZelvoClock>())
    , clock(clock ? clock : ownClock.get())
    , limit(new ZelvoClockTimer(this->clock, this))
{
    limit->setSingleShot(true);
    connect(limit, &ZelvoClockTimer::timeout, this, [this] { stop(); });
    connect(&oldest, &QFutureWatcher<QByteArray>::finished, this, &ZelvoDisplayRecorder::writeEncoded);
}

ZelvoDisplayRecorder::~ZelvoDisplayRecorder()
{
    // The workers hold copies of the frames only; let them end.
    for (Frame& frame : encoding)
        frame.encoded.waitForFinished();
}

qint64 ZelvoDisplayRecorder::remainingMillis() const
{
    return limit->remainingTime();
}

bool ZelvoDisplayRecorder::start(const QString& path, double seconds, QString* error)
{
    const auto fail = [error](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (recording)
        return fail(QStringLiteral("the display is being recorded into %1; stop it first").arg(file.fileName()));
    if (path.isEmpty() || QDir::isRelativePath(path))
        return fail(QStringLiteral("the recording's file must be an absolute path"));
    const QFileInfo target(path);
    if (target.exists() && !target.isFile())
        return fail(QStringLiteral("cannot write %1: not a regular file").arg(path));
    if (!target.absoluteDir().exists())
        return fail(QStringLiteral("cannot write %1: no such directory").arg(path));
    if (!(seconds >= 0 && seconds <= maxSeconds))
        return fail(QStringLiteral("the recording's length must be from 0 to %1 seconds").arg(maxSeconds));
    file.setFileName(path);
    // Unbuffered: each frame reaches the file whole as soon as it is written.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    if (path.endsWith(QLatin1String(".gif"), Qt::CaseInsensitive)) {
        writer = std::make_unique<ZelvoGifWriter>(&file);
        encode = &ZelvoGifWriter::encodeFrame;
    } else {
        writer = std::make_unique<ZelvoApngWriter>(&file);
        encode = &ZelvoApngWriter::encodeFrame;
    }
    frames = 0;
    failed.clear();
    openFrameMillis = -1;
    lastRecorded = QImage();
    recording = true;
    startMillis = clock->now();
    if (seconds > 0)
        limit->start(int(seconds * 1000));
    // The first frame is what the display shows now.
    if (!current.isNull())
        addFrame(current);
    qCDebug(zelvoRecordingsLog, "ZelvoDisplayRecorder::start recording the display into %s", qUtf8Printable(path));
    emit recordingChanged(true);
    return true;
}

bool ZelvoDisplayRecorder::stop(QString* error)
{
    if (!recording)
        return takeFailure(error);
    const qint64 end = clock->now() - startMillis;
    for (Frame& frame : encoding)
        frame.encoded.waitForFinished();
    writeEncoded();
    if (!recording)
        return takeFailure(error);
    if (openFrameMillis >= 0)
        writer->setLastDelay(int(end - openFrameMillis));
    QString reason;
    if (frames == 0) {
        reason = QStringLiteral("nothing to write into %1: the display showed no picture").arg(file.fileName());
        file.remove();
    } else if (!writer->finish()) {
        reason = QStringLiteral("cannot write %1: %2").arg(file.fileName(), writer->errorString());
    }
    finishFile(frames, reason);
    if (error)
        *error = reason;
    return reason.isEmpty();
}

bool ZelvoDisplayRecorder::takeFailure(QString* error)
{
    if (error)
        *error = failed;
    const bool ok = failed.isEmpty();
    failed.clear();
    return ok;
}

void ZelvoDisplayRecorder::finishFile(int frames, const QString& reason)
{
    recording = false;
    limit->stop();
    file.close();
    writer.reset();
    lastRecorded = QImage();
    if (reason.isEmpty())
        qCDebug(zelvoRecordingsLog, "ZelvoDisplayRecorder::stop %d frames written into %s", frames,
                qUtf8Printable(file.fileName()));
    else
        qCWarning(zelvoRecordingsLog, "\033[33mZelvoDisplayRecorder::stop %s\033[0m", qUtf8Printable(reason));
    emit recordingChanged(false);
    emit finished(file.fileName(), frames, reason);
}

void ZelvoDisplayRecorder::stopAfterFailure()
{
    for (Frame& frame : encoding)
        frame.encoded.waitForFinished();
    encoding.clear();
    const int written = writer->frameCount();
    failed = QStringLiteral("cannot write %1: %2; it holds the %3 frames written before")
                 .arg(file.fileName(), writer->errorString())
                 .arg(written);
    // A frame cut by the failed write goes, and the file ends after the
    // whole ones as a finished recording does; without one, no file.
    if (written == 0) {
        file.remove();
    } else {
        file.resize(writer->size());
        writer->clearError();
        if (openFrameMillis >= 0)
            writer->setLastDelay(int(clock->now() - startMillis - openFrameMillis));
        writer->finish();
    }
    finishFile(written, failed);
    emit stoppedByFailure(file.fileName(), failed);
}

QImage ZelvoDisplayRecorder::opaque(const QImage& image)
{
    QImage shown(image.size(), QImage::Format_RGB32);
    shown.fill(Qt::black);
    QPainter painter(&shown);
    painter.drawImage(0, 0, image);
    return shown;
}

void ZelvoDisplayRecorder::showImage(const QImage& image)
{
    current = image;
    emit imageShown(image);
    // A recomposition that changed nothing is no new frame.
    if (recording && image != lastRecorded)
        addFrame(image);
}

void ZelvoDisplayRecorder::addFrame(const QImage& image)
{
    lastRecorded = image;
    const qint64 millis = clock->now() - startMillis;
    // On a machine too busy to encode as fast as the display changes, the
    // display waits for the oldest frame, so that memory and the time to
    // stop stay bounded and no frame is lost.
    if (encoding.size() >= maxEncoding) {
        encoding.head().encoded.waitForFinished();
        writeEncoded();
        if (!recording)
            return;
    }
    // The frame written last was shown until now.
    if (encoding.isEmpty() && openFrameMillis >= 0) {
        writer->setLastDelay(int(millis - openFrameMillis));
        openFrameMillis = -1;
    }
    encoding.enqueue({millis, QtConcurrent::run(encode, image)});
    ++frames;
    if (encoding.size() == 1)
        oldest.setFuture(encoding.head().encoded);
}

void ZelvoDisplayRecorder::writeEncoded()
{
    // In the order they were shown, however the workers finish.
    while (!encoding.isEmpty() && encoding.head().encoded.isFinished()) {
        const Frame frame = encoding.dequeue();
        const int delay = encoding.isEmpty() ? ZelvoAnimationWriter::openDelay
                                             : int(encoding.head().millis - frame.millis);
        if (!writer->append(frame.encoded.result(), delay)) {
            stopAfterFailure();
            return;
        }
        openFrameMillis = encoding.isEmpty() ? frame.millis : -1;
    }
    if (!encoding.isEmpty())
        oldest.setFuture(encoding.head().encoded);
}
