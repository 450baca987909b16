#pragma once

#include <QFile>
#include <QObject>
#include <QString>

class ZelvoRecord;
class ZelvoRecorder;

// Writes every record of the agent link (frames with their full payloads,
// content outcomes, events sent) as one JSON line each, in the message
// record's form, from start() to stop(), each line written as its record
// is made. A received frame's payload is "payload" when it is UTF-8 text
// and "payloadBase64" otherwise. A line that cannot be written whole (a
// full disk) ends the recording at once: the file is cut back to its last
// whole line, so that it replays, and failure() says why.
class ZelvoSessionRecorder final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoSessionRecorder)

public:
    explicit ZelvoSessionRecorder(ZelvoRecorder* source, QObject* parent = nullptr);
    ~ZelvoSessionRecorder() override;

    // Starts writing into path (absolute, replaced); false with a reason.
    bool start(const QString& path, QString* error = nullptr);
    // Stops; false with a reason when not every line could be written,
    // also for a recording that had stopped by itself. Stopping otherwise
    // when not recording does nothing and succeeds.
    bool stop(QString* error = nullptr);
    bool isRecording() const { return file.isOpen(); }
    // Why the recording stopped by itself; empty when it did not, and
    // again after stop() or start().
    const QString& failure() const { return failed; }
    QString path() const { return file.fileName(); }
    int lineCount() const { return lines; }

signals:
    void recordingChanged(bool recording);
    // The recording stopped by itself, for reason.
    void stoppedByFailure(const QString& path, const QString& reason);

private:
    void write(const ZelvoRecord& record);

    ZelvoRecorder* source = nullptr;
    QFile file;
    int lines = 0;
    // The bytes of the whole lines written.
    qint64 written = 0;
    QString failed;
};
