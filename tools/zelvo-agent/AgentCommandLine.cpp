#include "AgentCommandLine.h"
#include "AgentLayouts.h"

#include "AgentMessages.h"
#include "AgentPicture.h"
#include "ToolArguments.h"
#include "ZelvoFrame.h"
#include "ZelvoInstance.h"
#include "ZelvoPorts.h"

#include <QCommandLineOption>
#include <QByteArray>
#include <QCommandLineParser>
#include <QStringList>

#include <algorithm>
#include <limits>

namespace {

const QString configCommand = QStringLiteral("config");
const QString contentCommand = QStringLiteral("content");
const QString timingCommand = QStringLiteral("timing");
const QString eventsCommand = QStringLiteral("events");
const QString layoutsCommand = QStringLiteral("layouts");

const QCommandLineOption hostOption(QStringLiteral("host"),
    QStringLiteral("Emulator host (default 127.0.0.1, or $%1).").arg(QLatin1String(ZelvoInstance::hostVariable)),
    QStringLiteral("HOST"));
const QCommandLineOption portOption(QStringLiteral("port"),
    QStringLiteral("Emulator port (default %1, or $%2, or the ports file's).")
        .arg(ZelvoPorts::agent).arg(QLatin1String(ZelvoInstance::agentPortVariable)), QStringLiteral("PORT"));
const QCommandLineOption portsFileOption(QStringLiteral("ports-file"),
    QStringLiteral("The ports file the emulator wrote (--ports-file): its agent and control ports."),
    QStringLiteral("FILE"));
const QCommandLineOption verboseOption(QStringLiteral("verbose"),
    QStringLiteral("Write the protocol log to standard error."));
const QCommandLineOption listenOption(QStringLiteral("listen"),
    QStringLiteral("After sending, stay connected and print events as the events command does."));
const QCommandLineOption countOption(QStringLiteral("count"),
    QStringLiteral("Stop after N events; fewer before the end of listening is an error."), QStringLiteral("N"));
const QCommandLineOption timeoutOption(QStringLiteral("timeout"),
    QStringLiteral("Stop listening after SECONDS (fractions allowed)."), QStringLiteral("SECONDS"));
const QCommandLineOption rawOption(QStringLiteral("raw"),
    QStringLiteral("Write each event exactly as received instead of one compact JSON line."));
const QCommandLineOption appOption(QStringLiteral("app"),
    QStringLiteral("The agent hash (\"appId\")."), QStringLiteral("HASH"));
const QCommandLineOption ziOption(QStringLiteral("zi"),
    QStringLiteral("Convert every picture to one-bit ZI (dark is lit), as zitool encode --mono does."));
const QCommandLineOption layoutOption(QStringLiteral("layout"),
    QStringLiteral("Layout number, 0 to 4 (\"layoutId\")."), QStringLiteral("N"));
const QCommandLineOption contentIdOption(QStringLiteral("content-id"),
    QStringLiteral("The agent's number for this content (default 0)."), QStringLiteral("N"), QStringLiteral("0"));
const QCommandLineOption imageOption(QStringLiteral("image"),
    QStringLiteral("Number of a configured picture for the next image area; repeat in layout order."), QStringLiteral("ID"));
const QCommandLineOption textOption(QStringLiteral("text"),
    QStringLiteral("Text for the next text area; repeat in layout order."), QStringLiteral("TEXT"));
const QCommandLineOption forceOption(QStringLiteral("force"),
    QStringLiteral("Send the content even when it does not fit its layout, to see how the emulator treats it."));
const QCommandLineOption minOption(QStringLiteral("min"),
    QStringLiteral("Minimum time content stays on the display, in milliseconds."), QStringLiteral("MS"));
const QCommandLineOption maxOption(QStringLiteral("max"),
    QStringLiteral("Maximum time content stays on the display, in milliseconds."), QStringLiteral("MS"));

QString overview()
{
    return QStringLiteral(
        "Usage: zelvo-agent COMMAND [options]\n"
        "Talks to a running Zelvo Emulator the way an agent does.\n"
        "\n"
        "Commands:\n"
        "  config   Send the agent's pictures (\"agent_config\").\n"
        "  content  Show pictures and texts in a layout (\"agent_content\").\n"
        "  timing   Set how long content stays on the display (\"zelvo_config\").\n"
        "  events   Print the emulator's button and sensor events.\n"
        "  layouts  Print the layouts: the images and texts each takes, with their sizes.\n"
        "\n"
        "Every command takes --host HOST (default 127.0.0.1), --port PORT (default %1),\n"
        "--ports-file FILE and --help. Run 'zelvo-agent COMMAND --help' for the options\n"
        "of a command. ZELVO_AGENT_PORT, ZELVO_CONTROL_PORT and ZELVO_DATA_DIR name the\n"
        "emulator as they do for the emulator itself, ZELVO_HOST its host; the options\n"
        "win over them.\n"
        "\n"
        "Exit codes: as for every Zelvo tool; see \"Exit codes\" in the README.\n").arg(ZelvoPorts::agent);
}

struct CommandSyntax
{
    QString arguments;
    QString description;
};

CommandSyntax syntaxOf(const QString& command)
{
    if (command == configCommand)
        return {QStringLiteral("config --app HASH FILE..."),
                QStringLiteral("Sends an \"agent_config\" with the pictures in the order given: ZI and PNG files as\n"
                               "they are, other pictures converted to PNG. Their numbers 0, 1, ... are the\n"
                               "image ids of the content command.")};
    if (command == contentCommand)
        return {QStringLiteral("content --app HASH --layout N"),
                QStringLiteral("Sends an \"agent_content\": the layout, the configured pictures and the texts to show.\n"
                               "Content that does not fit its layout is refused before sending (unless --force).\n"
                               "When the emulator's control channel is reachable, prints what became of the\n"
                               "content and exits with 1 when it was not drawn.")};
    if (command == timingCommand)
        return {QStringLiteral("timing --min MS --max MS"),
                QStringLiteral("Sends a \"zelvo_config\" with the minimum and maximum persisting times of content.")};
    return {QStringLiteral("events"),
            QStringLiteral("Stays connected and prints each event of the emulator as one compact JSON line.")};
}

bool isCommand(const QString& name)
{
    return name == configCommand || name == contentCommand || name == timingCommand || name == eventsCommand;
}

bool readInt(const QCommandLineParser& parser, const QCommandLineOption& option, int minimum, int* value)
{
    bool ok = false;
    *value = parser.value(option).toInt(&ok);
    return ok && *value >= minimum;
}

} // namespace

AgentCommandLine::Status AgentCommandLine::parse(const QStringList& arguments)
{
    parsed = AgentRequest();
    message.clear();

    const QString command = arguments.value(1);
    if (command.isEmpty())
        return usageError(QStringLiteral("missing command; try 'zelvo-agent --help'"));
    if (ToolArguments::isHelpRequest(command)) {
        message = overview();
        return Status::Help;
    }
    if (ToolArguments::isVersionRequest(command)) {
        message = ToolArguments::versionText(QStringLiteral("zelvo-agent"));
        return Status::Help;
    }
    // Nothing to send: the table is all there is to it.
    if (command == layoutsCommand) {
        message = AgentLayouts::table();
        return Status::Help;
    }
    if (!isCommand(command))
        return usageError(QStringLiteral("unknown command '%1'; try 'zelvo-agent --help'").arg(command));

    const CommandSyntax syntax = syntaxOf(command);
    QCommandLineParser parser;
    parser.setApplicationDescription(syntax.description);
    if (command == configCommand)
        parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("A picture: ZI, PNG or any format Qt reads."),
                                     QStringLiteral("FILE..."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    parser.addOptions({hostOption, portOption, portsFileOption});
    if (command == configCommand)
        parser.addOptions({appOption, ziOption});
    else if (command == contentCommand)
        parser.addOptions({appOption, layoutOption, contentIdOption, imageOption, textOption, forceOption});
    else if (command == timingCommand)
        parser.addOptions({minOption, maxOption});
    const bool sends = command != eventsCommand;
    if (sends)
        parser.addOption(listenOption);
    parser.addOptions({countOption, timeoutOption, rawOption, verboseOption});

    if (!parser.parse(arguments))
        return usageError(parser.errorText(), command);
    if (parser.isSet(helpOption)) {
        message = ToolArguments::commandHelp(QStringLiteral("Usage: zelvo-agent %1 [options]").arg(syntax.arguments),
                                             parser);
        return Status::Help;
    }

    QStringList positional = parser.positionalArguments();
    positional.removeFirst();
    if (command != configCommand && !positional.isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'").arg(positional.first()), command);
    if (!readConnection(parser) || !readListening(parser, sends))
        return usageError(message, command);

    if (command == configCommand)
        return readConfig(parser, positional);
    if (command == contentCommand)
        return readContent(parser);
    if (command == timingCommand)
        return readTiming(parser);
    return Status::Run;
}

AgentCommandLine::Status AgentCommandLine::usageError(const QString& reason, const QString& command)
{
    message = ToolArguments::usageError(QStringLiteral("zelvo-agent"), reason, command);
    return Status::UsageError;
}

bool AgentCommandLine::readConnection(const QCommandLineParser& parser)
{
    ZelvoInstance instance;
    if (!instance.locate(parser.value(portsFileOption), &message))
        return false;
    parsed.host = parser.isSet(hostOption) ? parser.value(hostOption) : instance.host;
    if (parsed.host.isEmpty()) {
        message = QStringLiteral("--host needs a host name or address");
        return false;
    }
    parsed.port = instance.agentPort;
    parsed.controlPort = instance.controlPort;
    parsed.tokenFile = instance.tokenFile();
    if (parser.isSet(portOption))
        parsed.port = ToolArguments::port(parser.value(portOption), &message);
    else if (parsed.port == 0)
        message = QStringLiteral("the agent port must not be 0");
    return parsed.port != 0;
}

bool AgentCommandLine::readListening(const QCommandLineParser& parser, bool sends)
{
    parsed.listen = !sends || parser.isSet(listenOption);
    if (!parsed.listen && (parser.isSet(countOption) || parser.isSet(timeoutOption) || parser.isSet(rawOption))) {
        message = QStringLiteral("--count, --timeout and --raw need --listen");
        return false;
    }
    if (parser.isSet(countOption) && !readInt(parser, countOption, 1, &parsed.count)) {
        message = QStringLiteral("--count needs a positive number, not '%1'").arg(parser.value(countOption));
        return false;
    }
    if (parser.isSet(timeoutOption)) {
        // Past a day the millisecond count would overflow the timer anyway.
        const qint64 millis = ToolArguments::milliseconds(parser.value(timeoutOption), 86400, false);
        if (millis < 0) {
            message = QStringLiteral("--timeout needs a number of seconds from 0 to 86400, not '%1'")
                          .arg(parser.value(timeoutOption));
            return false;
        }
        parsed.timeoutMillis = std::max(1, static_cast<int>(millis));
    }
    parsed.raw = parser.isSet(rawOption);
    return true;
}

AgentCommandLine::Status AgentCommandLine::readConfig(const QCommandLineParser& parser, const QStringList& files)
{
    const QString agentHash = parser.value(appOption);
    if (agentHash.isEmpty())
        return usageError(QStringLiteral("--app HASH is required"), configCommand);
    if (files.isEmpty())
        return usageError(QStringLiteral("no picture files given"), configCommand);

    const AgentPicture::Encoding encoding = parser.isSet(ziOption) ? AgentPicture::Encoding::Zi
                                                                   : AgentPicture::Encoding::Original;
    QList<QByteArray> images;
    for (const QString& file : files) {
        AgentPicture picture(file);
        if (!picture.load(encoding)) {
            message = picture.errorString();
            return Status::FileError;
        }
        images.append(picture.bytes());
    }
    // The emulator skips a frame this large unread; say so here instead.
    const QByteArray config = AgentMessages::agentConfig(agentHash, images);
    if (config.size() > ZelvoFrame::maxPayloadSize) {
        message = QStringLiteral("the configuration makes a message larger than the %1 bytes the emulator takes")
                      .arg(ZelvoFrame::maxPayloadSize);
        return Status::FileError;
    }
    parsed.messages.append(config);
    parsed.outcomeAgent = agentHash;
    parsed.outcomeIsConfiguration = true;
    return Status::Run;
}

AgentCommandLine::Status AgentCommandLine::readContent(const QCommandLineParser& parser)
{
    const QString agentHash = parser.value(appOption);
    if (agentHash.isEmpty())
        return usageError(QStringLiteral("--app HASH is required"), contentCommand);
    if (!parser.isSet(layoutOption))
        return usageError(QStringLiteral("--layout N is required"), contentCommand);
    int contentId = 0;
    if (!readInt(parser, contentIdOption, std::numeric_limits<int>::min(), &contentId)) {
        return usageError(QStringLiteral("--content-id needs a whole number, not '%1'").arg(parser.value(contentIdOption)),
                          contentCommand);
    }
    const QStringList images = parser.values(imageOption);
    const QStringList texts = parser.values(textOption);
    if (!parser.isSet(forceOption)) {
        message = AgentLayouts::check(parser.value(layoutOption), images.size(), texts.size());
        if (!message.isEmpty())
            return Status::UsageError;
    }
    // Layout and image ids go out as the text given: the glasses read them
    // as text too, and an agent may want to see how they treat odd ones.
    parsed.messages.append(AgentMessages::agentContent(agentHash, parser.value(layoutOption), contentId, images, texts));
    parsed.outcomeAgent = agentHash;
    parsed.outcomeContentId = contentId;
    return Status::Run;
}

AgentCommandLine::Status AgentCommandLine::readTiming(const QCommandLineParser& parser)
{
    if (!parser.isSet(minOption) || !parser.isSet(maxOption))
        return usageError(QStringLiteral("--min MS and --max MS are required"), timingCommand);
    int minimum = 0;
    int maximum = 0;
    if (!readInt(parser, minOption, 0, &minimum))
        return usageError(QStringLiteral("--min needs milliseconds, not '%1'").arg(parser.value(minOption)), timingCommand);
    if (!readInt(parser, maxOption, 0, &maximum))
        return usageError(QStringLiteral("--max needs milliseconds, not '%1'").arg(parser.value(maxOption)), timingCommand);
    parsed.messages.append(AgentMessages::zelvoConfig(minimum, maximum));
    return Status::Run;
}
