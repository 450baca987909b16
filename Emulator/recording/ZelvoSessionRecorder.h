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
// and "payloadBase64" otherwise.
class ZelvoSessionRecorder final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoSessionRecorder)

public:
    explicit ZelvoSessionRecorder(ZelvoRecorder* source, QObject* parent = nullptr);
    ~ZelvoSessionRecorder() override;

    // Starts writing into path (absolute, replaced); false with a reason.
    bool start(const QString& path, QString* error = nullptr);
    // Stops; false with a reason when not every line could be written.
    // Stopping when not recording does nothing and succeeds.
    bool stop(QString* error = nullptr);
    bool isRecording() const { return file.isOpen(); }
    QString path() const { return file.fileName(); }
    int lineCount() const { return lines; }

signals:
    void recordingChanged(bool recording);

private:
    void write(const ZelvoRecord& record);

    ZelvoRecorder* source = nullptr;
    QFile file;
    int lines = 0;
    bool failed = false;
};
