#include "recording/ZelvoDisplayRecorder.h"

#include "clock/ZelvoClock.h"
#include "pending/ZelvoPendingReply.h"
#include "record/ZelvoRecorder.h"
#include "recording/ZelvoApngWriter.h"
#include "recording/ZelvoGifWriter.h"
#include "util/ZelvoBackground.h"
#include "util/ZelvoOrderedWork.h"
#include "ZelvoLog.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QThreadPool>

#include <optional>
#include <utility>

namespace {

// Longer than any recording a person or a test makes.
constexpr double maxSeconds = 24 * 3600;
// The pictures of the frames taken and not yet written: seconds of a
// display that changes 60 times a second, far more than a machine that
// keeps up ever holds, yet little beside the program.
constexpr qint64 maxPendingBytes = 64 * 1024 * 1024;

} // namespace

ZelvoDisplayRecorder::ZelvoDisplayRecorder(ZelvoClock* clock, QObject* parent)
    : QObject(parent)
    , encoders(std::make_unique<QThreadPool>())
    , encoded(std::make_unique<ZelvoOrderedWork<QByteArray>>(
          this, [this](const QByteArray& bytes) { write(bytes); }, encoders.get()))
    , ownClock(clock ? nullptr : std::make_unique<ZelvoClock>())
    , clock(clock ? clock : ownClock.get())
    , limit(new ZelvoClockTimer(this->clock, this))
{
    // One worker leaves the other cores to the window and the agents.
    encoders->setMaxThreadCount(1);
    limit->setSingleShot(true);
    connect(limit, &ZelvoClockTimer::timeout, this, &ZelvoDisplayRecorder::stop);
}

ZelvoDisplayRecorder::~ZelvoDisplayRecorder()
{
    next.reset();
    stop();
    finishNow();
}

void ZelvoDisplayRecorder::finishNow()
{
    // The worker holds copies of the pictures only; what it still encodes
    // is dropped, and what it has not begun is not begun.
    encoded->cancel();
    encoders->clear();
    while (!pending.isEmpty())
        write(encode(pending.head().image));
}

qint64 ZelvoDisplayRecorder::remainingMillis() const
{
    return limit->remainingTime();
}

qint64 ZelvoDisplayRecorder::elapsed() const
{
    return clock->now() - startMillis;
}

bool ZelvoDisplayRecorder::start(const QString& path, double seconds, QString* error)
{
    const auto fail = [error](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (recording && (!stopping || next))
        return fail(QStringLiteral("the display is being recorded into %1; stop it first")
                        .arg(next ? next->path : file.fileName()));
    if (path.isEmpty() || QDir::isRelativePath(path))
        return fail(QStringLiteral("the recording's file must be an absolute path"));
    const QFileInfo target(path);
    if (target.exists() && !target.isFile())
        return fail(QStringLiteral("cannot write %1: not a regular file").arg(path));
    if (!target.absoluteDir().exists())
        return fail(QStringLiteral("cannot write %1: no such directory").arg(path));
    if (!(seconds >= 0 && seconds <= maxSeconds))
        return fail(QStringLiteral("the recording's length must be from 0 to %1 seconds").arg(maxSeconds));
    // The last recording's frames are still being encoded: this one begins
    // as soon as that file is finished (it may be the same file), with the
    // display as it stands then.
    if (stopping)
        next = Next{path, seconds};
    else if (!begin(path, seconds, error))
        return false;
    ++requested;
    return true;
}

bool ZelvoDisplayRecorder::begin(const QString& path, double seconds, QString* error)
{
    file.setFileName(path);
    // Unbuffered: each frame reaches the file whole as soon as it is written.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        const QString reason = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        if (error)
            *error = reason;
        return false;
    }
    if (path.endsWith(QLatin1String(".gif"), Qt::CaseInsensitive)) {
        writer = std::make_unique<ZelvoGifWriter>(&file);
        encode = &ZelvoGifWriter::encodeFrame;
    } else {
        auto animation = std::make_unique<ZelvoApngWriter>(&file);
        animation->setShownAt(clock->epochMillis());
        writer = std::move(animation);
        encode = &ZelvoApngWriter::encodeFrame;
    }
    frames = 0;
    dropped = 0;
    failed.clear();
    openFrameMillis = -1;
    lastRecorded = QImage();
    const bool wasRecording = std::exchange(recording, true);
    startMillis = clock->now();
    if (seconds > 0)
        limit->start(int(seconds * 1000));
    // The first frame is what the display shows now.
    if (!current.isNull())
        addFrame(current);
    qCDebug(zelvoRecordingsLog, "ZelvoDisplayRecorder::start recording the display into %s", qUtf8Printable(path));
    if (!wasRecording)
        emit recordingChanged(true);
    return true;
}

void ZelvoDisplayRecorder::stop()
{
    if (!recording) {
        failed.clear();
        return;
    }
    if (stopping) {
        // One asked for meanwhile begins with the display as it stands and
        // ends there.
        if (next)
            next->stopped = true;
        return;
    }
    stopping = true;
    limit->stop();
    endMillis = elapsed();
    // The display as it stands at the end is in the file, whatever the bound.
    if (!waiting.image.isNull())
        take(std::exchange(waiting, Frame()));
    if (pending.isEmpty())
        finishFile(QString());
}

ZelvoPendingReply* ZelvoDisplayRecorder::whenFinished(QObject* context, const Done& done)
{
    // The recording asked for last, even when one before it still finishes.
    const int wanted = requested;
    auto* pending = new ZelvoPendingReply(context);
    connect(this, &ZelvoDisplayRecorder::finished, pending,
            [this, pending, wanted, done](const QString& path, int written, const QString& error) {
                // Queued, so that what done does (a dialog, a reply) never
                // runs inside the delivery of a frame; the next recording
                // may end too before it runs.
                if (ended >= wanted)
                    pending->finishLater([done, path, written, error] { done(path, written, error); });
            });
    return pending;
}

void ZelvoDisplayRecorder::finishFile(QString reason)
{
    const int written = writer->frameCount();
    if (written == 0) {
        if (reason.isEmpty())
            reason = QStringLiteral("nothing to write into %1: the display showed no picture").arg(file.fileName());
        file.remove();
    } else {
        // A frame cut by a failed write goes, and the file ends after the
        // whole ones.
        file.resize(writer->size());
        writer->clearError();
        if (openFrameMillis >= 0)
            writer->setLastDelay(int(endMillis - openFrameMillis));
        if (!writer->finish() && reason.isEmpty())
            reason = QStringLiteral("cannot write %1: %2").arg(file.fileName(), writer->errorString());
    }
    stopping = false;
    limit->stop();
    file.close();
    writer.reset();
    lastRecorded = QImage();
    const std::optional<Next> following = std::exchange(next, std::nullopt);
    recording = following.has_value();
    if (!reason.isEmpty())
        qCWarning(zelvoRecordingsLog, "\033[33mZelvoDisplayRecorder::stop %s\033[0m", qUtf8Printable(reason));
    else if (dropped > 0)
        qCWarning(zelvoRecordingsLog,
                  "\033[33mZelvoDisplayRecorder::stop %d frames written into %s; %d changes of the display came "
                  "faster than they could be encoded and were left out\033[0m",
                  written, qUtf8Printable(file.fileName()), dropped);
    else
        qCDebug(zelvoRecordingsLog, "ZelvoDisplayRecorder::stop %d frames written into %s", written,
                qUtf8Printable(file.fileName()));
    const QString path = file.fileName();
    QString failure;
    if (following && !begin(following->path, following->seconds, &failure)) {
        recording = false;
        ++ended;
        emit recordingChanged(false);
        emit finished(path, written, reason);
        // The next recording ends before its first frame.
        failed = failure;
        ++ended;
        emit finished(following->path, 0, failure);
        emit stoppedByFailure(following->path, failure);
        return;
    }
    ++ended;
    if (!following)
        emit recordingChanged(false);
    emit finished(path, written, reason);
    if (following && following->stopped)
        stop();
}

void ZelvoDisplayRecorder::stopAfterFailure()
{
    encoded->cancel();
    pending.clear();
    pendingBytes = 0;
    waiting = Frame();
    const QString reason = QStringLiteral("cannot write %1: %2; it holds the %3 frames written before")
                               .arg(file.fileName(), writer->errorString())
                               .arg(writer->frameCount());
    // Told by finished() to the one who stopped it; otherwise kept for
    // the next stop() to tell.
    if (!stopping) {
        failed = reason;
        endMillis = elapsed();
    }
    const QString path = file.fileName();
    finishFile(reason);
    emit stoppedByFailure(path, reason);
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
    if (recording && !stopping && image != lastRecorded)
        addFrame(image);
}

void ZelvoDisplayRecorder::addFrame(const QImage& image)
{
    lastRecorded = image;
    const Frame frame{elapsed(), image, record ? record->lastSequence() : 0};
    if (pending.isEmpty() || pendingBytes + image.sizeInBytes() <= maxPendingBytes) {
        take(frame);
        return;
    }
    if (!waiting.image.isNull() && dropped++ == 0)
        qCWarning(zelvoRecordingsLog,
                  "\033[33mZelvoDisplayRecorder::addFrame the display changes faster than its frames are encoded: "
                  "changes are left out of %s\033[0m",
                  qUtf8Printable(file.fileName()));
    waiting = frame;
}

void ZelvoDisplayRecorder::take(const Frame& frame)
{
    // The frame written last was shown until now.
    if (pending.isEmpty() && openFrameMillis >= 0) {
        writer->setLastDelay(int(frame.millis - openFrameMillis));
        openFrameMillis = -1;
    }
    pending.enqueue(frame);
    pendingBytes += frame.image.sizeInBytes();
    ++frames;
    encoded->run([encode = encode, image = frame.image] {
        ZelvoBackground::lowerCurrentThread();
        return encode(image);
    });
}

void ZelvoDisplayRecorder::write(const QByteArray& encodedFrame)
{
    // In the order they were shown, however the workers finish.
    const Frame frame = pending.dequeue();
    pendingBytes -= frame.image.sizeInBytes();
    const int delay = pending.isEmpty() ? ZelvoAnimationWriter::openDelay : int(pending.head().millis - frame.millis);
    writer->setShownAfter(frame.shownAfter);
    if (!writer->append(encodedFrame, delay)) {
        stopAfterFailure();
        return;
    }
    openFrameMillis = pending.isEmpty() ? frame.millis : -1;
    if (!waiting.image.isNull() && pendingBytes + waiting.image.sizeInBytes() <= maxPendingBytes)
        take(std::exchange(waiting, Frame()));
    if (stopping && pending.isEmpty())
        finishFile(QString());
}
