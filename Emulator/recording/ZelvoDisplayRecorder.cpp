#include "recording/ZelvoDisplayRecorder.h"

#include "clock/ZelvoClock.h"
#include "recording/ZelvoApngWriter.h"
#include "recording/ZelvoGifWriter.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QSaveFile>
#include <QtConcurrent>

namespace {

// Longer than any recording a person or a test makes.
constexpr double maxSeconds = 24 * 3600;

QByteArray encodePng(const QImage& image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    // One pixel format for all frames, so that they share one PNG header.
    image.convertToFormat(QImage::Format_ARGB32).save(&buffer, "PNG");
    return png;
}

} // namespace

ZelvoDisplayRecorder::ZelvoDisplayRecorder(ZelvoClock* clock, QObject* parent)
    : QObject(parent)
    , ownClock(clock ? nullptr : std::make_unique<ZelvoClock>())
    , clock(clock ? clock : ownClock.get())
    , limit(new ZelvoClockTimer(this->clock, this))
{
    limit->setSingleShot(true);
    connect(limit, &ZelvoClockTimer::timeout, this, [this] { stop(); });
}

ZelvoDisplayRecorder::~ZelvoDisplayRecorder()
{
    // The workers hold copies of the frames only; let them end.
    for (Frame& frame : frames)
        frame.png.waitForFinished();
}

bool ZelvoDisplayRecorder::start(const QString& path, double seconds, QString* error)
{
    const auto fail = [error](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (recording)
        return fail(QStringLiteral("the display is being recorded into %1; stop it first").arg(filePath));
    if (path.isEmpty() || QDir::isRelativePath(path))
        return fail(QStringLiteral("the recording's file must be an absolute path"));
    const QFileInfo target(path);
    if (target.exists() && !target.isFile())
        return fail(QStringLiteral("cannot write %1: not a regular file").arg(path));
    if (!target.absoluteDir().exists())
        return fail(QStringLiteral("cannot write %1: no such directory").arg(path));
    if (!(seconds >= 0 && seconds <= maxSeconds))
        return fail(QStringLiteral("the recording's length must be from 0 to %1 seconds").arg(maxSeconds));
    filePath = path;
    frames.clear();
    lastRecorded = QImage();
    recording = true;
    startMillis = clock->now();
    if (seconds > 0)
        limit->start(int(seconds * 1000));
    // The first frame is what the display shows now.
    if (!current.isNull())
        addFrame(current);
    emit recordingChanged(true);
    return true;
}

bool ZelvoDisplayRecorder::stop(QString* error)
{
    if (!recording)
        return true;
    const qint64 end = clock->now() - startMillis;
    recording = false;
    limit->stop();
    QVector<ZelvoAnimationFrame> encoded;
    encoded.reserve(frames.size());
    for (int i = 0; i < frames.size(); ++i) {
        const qint64 next = i + 1 < frames.size() ? frames.at(i + 1).millis : end;
        encoded.append({frames[i].png.result(), int(next - frames.at(i).millis)});
    }
    const int count = frames.size();
    frames.clear();
    lastRecorded = QImage();
    const bool gif = filePath.endsWith(QLatin1String(".gif"), Qt::CaseInsensitive);
    const QByteArray bytes = gif ? ZelvoGifWriter::encode(encoded) : ZelvoApngWriter::encode(encoded);
    QString reason;
    if (bytes.isEmpty()) {
        reason = QStringLiteral("nothing to write into %1: the display showed no picture").arg(filePath);
    } else {
        // flush() before commit(): commit() overlooks a failed write of buffered bytes.
        QSaveFile file(filePath);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush() || !file.commit())
            reason = QStringLiteral("cannot write %1: %2").arg(filePath, file.errorString());
    }
    if (error)
        *error = reason;
    emit recordingChanged(false);
    emit finished(filePath, count, reason);
    return reason.isEmpty();
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
    // A recomposition that changed nothing is no new frame.
    if (recording && image != lastRecorded)
        addFrame(image);
}

void ZelvoDisplayRecorder::addFrame(const QImage& image)
{
    lastRecorded = image;
    frames.append({clock->now() - startMillis, QtConcurrent::run(encodePng, image)});
}
