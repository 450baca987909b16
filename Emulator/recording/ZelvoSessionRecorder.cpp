#include "recording/ZelvoSessionRecorder.h"

#include "record/ZelvoRecorder.h"
#include "recording/ZelvoAnimationWriter.h"
#include "ZelvoLog.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

ZelvoSessionRecorder::ZelvoSessionRecorder(ZelvoRecorder* source, QObject* parent)
    : QObject(parent)
    , source(source)
{
}

ZelvoSessionRecorder::~ZelvoSessionRecorder() = default;

bool ZelvoSessionRecorder::start(const QString& path, QString* error)
{
    const auto fail = [error](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (isRecording())
        return fail(QStringLiteral("the session is being recorded into %1; stop it first").arg(file.fileName()));
    if (path.isEmpty() || QDir::isRelativePath(path))
        return fail(QStringLiteral("the recording's file must be an absolute path"));
    const QFileInfo target(path);
    if (target.exists() && !target.isFile())
        return fail(QStringLiteral("cannot write %1: not a regular file").arg(path));
    file.setFileName(path);
    // Unbuffered: each line reaches the file whole, in one write, as soon
    // as its record is made, so that a killed program loses none.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    lines = 0;
    written = 0;
    failed.clear();
    connect(source, &ZelvoRecorder::appended, this, &ZelvoSessionRecorder::write);
    qCDebug(zelvoRecordingsLog, "ZelvoSessionRecorder::start recording the session into %s", qUtf8Printable(path));
    emit recordingChanged(true);
    return true;
}

bool ZelvoSessionRecorder::stop(QString* error)
{
    const QString reason = failed;
    failed.clear();
    if (error)
        *error = reason;
    if (!isRecording())
        return reason.isEmpty();
    disconnect(source, &ZelvoRecorder::appended, this, &ZelvoSessionRecorder::write);
    file.close();
    qCDebug(zelvoRecordingsLog, "ZelvoSessionRecorder::stop %d lines written into %s", lines,
            qUtf8Printable(file.fileName()));
    emit recordingChanged(false);
    return true;
}

void ZelvoSessionRecorder::write(const ZelvoRecord& record)
{
    QJsonObject json = record.toJson();
    if (!record.payload.isEmpty()) {
        const QString text = QString::fromUtf8(record.payload);
        if (text.toUtf8() == record.payload)
            json.insert(QStringLiteral("payload"), text);
        else
            json.insert(QStringLiteral("payloadBase64"), QString::fromLatin1(record.payload.toBase64()));
    }
    QByteArray line = QJsonDocument(json).toJson(QJsonDocument::Compact);
    line.append('\n');
    if (ZelvoAnimationWriter::writeWhole(&file, line)) {
        written += line.size();
        ++lines;
        return;
    }
    // Lines written after a cut one would make the file unreadable, even
    // once space comes back.
    disconnect(source, &ZelvoRecorder::appended, this, &ZelvoSessionRecorder::write);
    failed = QStringLiteral("cannot write %1: %2; it holds the %3 records written before")
                 .arg(file.fileName(), file.errorString())
                 .arg(lines);
    file.resize(written);
    file.close();
    qCWarning(zelvoRecordingsLog, "\033[31mZelvoSessionRecorder::write the session recording stopped: %s\033[0m",
              qUtf8Printable(failed));
    emit recordingChanged(false);
    emit stoppedByFailure(file.fileName(), failed);
}
