#pragma once

#include <QString>
#include <QtGlobal>

class QCommandLineParser;

// The argument checks and usage texts of zelvo-agent and zelvo-ctl, which
// follow the same conventions: COMMAND first, then options.
namespace ToolArguments {

// Whether the first argument asks for the overview of all commands.
bool isHelpRequest(const QString& argument);

// Whether the first argument asks for the version.
bool isVersionRequest(const QString& argument);

// "zelvo-ctl 1.1.0~dev.42+g1a2b3c4", as Qt's own --version prints it.
QString versionText(const QString& program);

// A command's help under its own usage line.
QString commandHelp(const QString& usage, const QCommandLineParser& parser);

// A usage error's message; with a command, it points at that command's help.
QString usageError(const QString& program, const QString& reason, const QString& command);

// The TCP port given as text, or 0 with *error set.
quint16 port(const QString& text, QString* error);

// Seconds given as text, rounded to milliseconds; -1 unless the text is a
// number from 0 (if zeroAllowed, else above it) to maximumSeconds.
qint64 milliseconds(const QString& seconds, double maximumSeconds, bool zeroAllowed);

} // namespace ToolArguments
