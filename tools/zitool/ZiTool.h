#pragma once

#include "ExitCode.h"

#include <QTextStream>
#include <QtContainerFwd> // QStringList, which Qt 6 makes an alias

#include <optional>

class QByteArray;
class QCommandLineParser;
class QString;

// The zitool commands. Results go to standard output, one line per error to
// standard error; run() returns the exit code.
class ZiTool final
{
public:
    ZiTool();

    ExitCode run(const QStringList& arguments);

private:
    ExitCode encode(const QStringList& arguments);
    ExitCode decode(const QStringList& arguments);
    ExitCode info(const QStringList& arguments);

    // Parses a command's arguments, which must hold exactly `files` file
    // names; the exit code when the command ends here (help or misuse).
    std::optional<ExitCode> parse(QCommandLineParser& parser, const QStringList& arguments, int files);
    void printHelp(const QCommandLineParser& parser);
    bool readZi(const QString& path, QByteArray& bytes);
    ExitCode fail(const QString& message);
    ExitCode usageError(const QString& message, const QString& command);

    QTextStream out;
    QTextStream err;
};
