#pragma once

#include "AgentRequest.h"

#include <QString>
#include <QtContainerFwd> // QStringList, which Qt 6 makes an alias

class QCommandLineParser;

// Turns the arguments of one run into a request:
//   zelvo-agent COMMAND [options] [FILE...]
// with the commands config, content, timing and events. Pictures named on
// the command line are read here, so that a bad file stops the run before
// anything is sent.
class AgentCommandLine final
{
public:
    enum class Status { Run, Help, UsageError, FileError };

    Status parse(const QStringList& arguments);

    const AgentRequest& request() const { return parsed; }
    // The help text after Help; a one-line message after an error.
    const QString& text() const { return message; }

private:
    Status usageError(const QString& reason, const QString& command = QString());
    bool readConnection(const QCommandLineParser& parser);
    bool readListening(const QCommandLineParser& parser, bool sends);
    Status readConfig(const QCommandLineParser& parser, const QStringList& files);
    Status readContent(const QCommandLineParser& parser);
    Status readTiming(const QCommandLineParser& parser);

    AgentRequest parsed;
    QString message;
};
