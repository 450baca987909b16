#include "ToolArguments.h"

#include "ZelvoVersion.h"

#include <QCommandLineParser>
#include <QLatin1String>

#include <cmath>

namespace ToolArguments {

bool isHelpRequest(const QString& argument)
{
    return argument == QLatin1String("--help") || argument == QLatin1String("-h") || argument == QLatin1String("help");
}

bool isVersionRequest(const QString& argument)
{
    return argument == QLatin1String("--version") || argument == QLatin1String("-v");
}

QString versionText(const QString& program)
{
    return QStringLiteral("%1 %2\n").arg(program, QLatin1String(ZelvoVersion::text()));
}

QString commandHelp(const QString& usage, const QCommandLineParser& parser)
{
    // The parser's own usage line names the program by its path and knows
    // nothing of the command.
    const QString help = parser.helpText();
    return usage + QLatin1Char('\n') + help.mid(help.indexOf(QLatin1Char('\n')) + 1);
}

QString usageError(const QString& program, const QString& reason, const QString& command)
{
    return command.isEmpty() ? reason : QStringLiteral("%1 (see '%2 %3 --help')").arg(reason, program, command);
}

quint16 port(const QString& text, QString* error)
{
    bool ok = false;
    const uint number = text.toUInt(&ok);
    if (!ok || number < 1 || number > 65535) {
        *error = QStringLiteral("--port needs a number from 1 to 65535, not '%1'").arg(text);
        return 0;
    }
    return quint16(number);
}

qint64 milliseconds(const QString& seconds, double maximumSeconds, bool zeroAllowed)
{
    bool ok = false;
    const double number = seconds.toDouble(&ok);
    // Written as negations so that NaN fails them too.
    if (!ok || !(zeroAllowed ? number >= 0 : number > 0) || !(number <= maximumSeconds))
        return -1;
    return std::llround(number * 1000);
}

} // namespace ToolArguments
