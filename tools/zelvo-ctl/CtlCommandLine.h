#pragma once

#include <QJsonObject>
#include <QString>
#include <QtContainerFwd> // QStringList, which Qt 6 makes an alias

class ZelvoInstance;

// Turns the arguments of one run into one control request:
//   zelvo-ctl COMMAND [options] [ARGUMENTS...]
class CtlCommandLine final
{
public:
    enum class Status { Run, Help, UsageError };

    Status parse(const QStringList& arguments);

    const QJsonObject& request() const { return parsed; }
    // The emulator to talk to: the environment, then --ports-file, then
    // --port; false with *error when the ports file is not there (yet).
    bool locate(ZelvoInstance* instance, QString* error) const;
    // Whether the command waits for the emulator to come up.
    bool waitsUntilReady() const { return readyCommand; }
    // How long to wait for the answer: --timeout, plus the time a command
    // waits by design (a hold, a trace played to its end, the wait itself).
    qint64 answerMillis() const { return waitMillis; }
    // Where a screenshot goes; "-" for standard output.
    const QString& outputPath() const { return output; }
    // screenshot --expect: the golden picture, the tolerance and where the
    // difference picture goes; golden is empty without --expect.
    const QString& goldenPath() const { return golden; }
    int comparisonTolerance() const { return tolerance; }
    const QString& differencePath() const { return diff; }
    // log --json: records as JSON lines.
    bool printsJson() const { return jsonLines; }
    // The help text after Help; a one-line message after an error.
    const QString& text() const { return message; }

private:
    Status usageError(const QString& reason, const QString& command = QString());

    QJsonObject parsed;
    quint16 controlPort = 0;
    QString portsFile;
    bool readyCommand = false;
    qint64 waitMillis = 0;
    QString output;
    QString golden;
    QString diff;
    int tolerance = 0;
    bool jsonLines = false;
    QString message;
};
