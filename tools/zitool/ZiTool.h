#pragma once

#include <QTextStream>

#include <optional>

class QByteArray;
class QCommandLineParser;
class QString;
class QStringList;

// The zitool commands. Results go to standard output, one line per error to
// standard error; run() returns the exit code: 0 done, 1 failed, 2 usage.
class ZiTool final
{
public:
    enum ExitCode { Success = 0, Failure = 1, UsageError = 2 };

    ZiTool();

    int run(const QStringList& arguments);

private:
    int encode(const QStringList& arguments);
    int decode(const QStringList& arguments);
    int info(const QStringList& arguments);

    // Parses a command's arguments, which must hold exactly `files` file
    // names; the exit code when the command ends here (help or misuse).
    std::optional<int> parse(QCommandLineParser& parser, const QStringList& arguments, int files);
    void printHelp(const QCommandLineParser& parser);
    bool readZi(const QString& path, QByteArray& bytes);
    int fail(const QString& message);
    int usageError(const QString& message, const QString& command);

    QTextStream out;
    QTextStream err;
};
