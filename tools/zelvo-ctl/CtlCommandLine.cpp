#include "CtlCommandLine.h"

#include "ToolArguments.h"
#include "ZelvoControlToken.h"
#include "ZelvoImageComparison.h"
#include "ZelvoInstance.h"
#include "ZelvoPorts.h"
#include "ZelvoTrace.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

const QCommandLineOption portOption(QStringLiteral("port"),
    QStringLiteral("Control port of the emulator (default %1, or $%2, or the ports file's).")
        .arg(ZelvoPorts::control).arg(QLatin1String(ZelvoInstance::controlPortVariable)), QStringLiteral("PORT"));
const QCommandLineOption portsFileOption(QStringLiteral("ports-file"),
    QStringLiteral("The ports file the emulator wrote (--ports-file): its control port and token."),
    QStringLiteral("FILE"));
const QCommandLineOption holdOption(QStringLiteral("hold"),
    QStringLiteral("Release after MS milliseconds and return then."), QStringLiteral("MS"));
const QCommandLineOption waitOption(QStringLiteral("wait"),
    QStringLiteral("Return when the trace has ended instead of when it starts."));
const QCommandLineOption contentOfOption(QStringLiteral("content-of"),
    QStringLiteral("The agent hash (\"appId\") whose content to wait for."), QStringLiteral("HASH"));
const QCommandLineOption contentIdOption(QStringLiteral("content-id"),
    QStringLiteral("Wait for this content id of the agent only."), QStringLiteral("N"));
const QCommandLineOption followOption(QStringLiteral("follow"),
    QStringLiteral("Keep printing new records until the emulator ends or the command is stopped."));
const QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("Print each record as one JSON line."));
const QCommandLineOption agentOption(QStringLiteral("agent"),
    QStringLiteral("Only the records of this agent hash."), QStringLiteral("HASH"));
const QCommandLineOption sinceOption(QStringLiteral("since"),
    QStringLiteral("Only the records after this sequence number."), QStringLiteral("SEQ"));
const QCommandLineOption chargingOption(QStringLiteral("charging"),
    QStringLiteral("Show the charging bolt (on) or not (off); unchanged when not given."), QStringLiteral("on|off"));
const QCommandLineOption answerTimeoutOption(QStringLiteral("timeout"),
    QStringLiteral("Give up when nothing answers within SECONDS (fractions allowed, default 30)."),
    QStringLiteral("SECONDS"), QStringLiteral("30"));
const QCommandLineOption waitTimeoutOption(QStringLiteral("timeout"),
    QStringLiteral("Give up after SECONDS (fractions allowed, default 10)."), QStringLiteral("SECONDS"),
    QStringLiteral("10"));
const QCommandLineOption secondsOption(QStringLiteral("seconds"),
    QStringLiteral("Record for SECONDS (fractions allowed)."), QStringLiteral("SECONDS"));
const QCommandLineOption untilStoppedOption(QStringLiteral("until-stopped"),
    QStringLiteral("Record until 'zelvo-ctl record stop'."));
const QCommandLineOption expectOption(QStringLiteral("expect"),
    QStringLiteral("Compare the display with this golden picture; exit 1 when they differ."), QStringLiteral("GOLDEN.png"));
const QCommandLineOption toleranceOption(QStringLiteral("tolerance"),
    QStringLiteral("Largest channel difference (0 to 255) that still counts as equal (default %1).")
        .arg(ZelvoImageComparison::defaultTolerance),
    QStringLiteral("N"), QString::number(ZelvoImageComparison::defaultTolerance));
const QCommandLineOption diffOption(QStringLiteral("diff"),
    QStringLiteral("Where the difference picture goes when the display differs (default GOLDEN-diff.png)."),
    QStringLiteral("OUT.png"));
const QCommandLineOption opaqueOption(QStringLiteral("opaque"),
    QStringLiteral("The display on its black background, as the glasses show it, instead of transparent."));
// How long an answer may take beyond the time a command waits by design.
constexpr qint64 answerAllowanceMillis = 30000;
constexpr double maxSeconds = 3600;

// How long a trace file plays: the time of its last reading. A file the
// emulator will refuse plays for no time.
qint64 traceMillis(const QString& path)
{
    QFile file(path);
    QList<ZelvoTrace::TimedReading> readings;
    QString error;
    if (!file.open(QIODevice::ReadOnly) || !ZelvoTrace::parse(file.readAll(), &readings, &error))
        return 0;
    qint64 last = 0;
    for (const ZelvoTrace::TimedReading& timed : readings)
        last = std::max(last, timed.millis);
    return last;
}

struct Command
{
    QString name;
    QString arguments;
    QString description;
};

const QList<Command>& commands()
{
    static const QList<Command> list = {
        {QStringLiteral("click"), QStringLiteral("plus|minus"), QStringLiteral("Press and release a button.")},
        {QStringLiteral("press"), QStringLiteral("plus|minus [--hold MS]"),
         QStringLiteral("Press a button and keep it down (until 'release', or for --hold MS).")},
        {QStringLiteral("release"), QStringLiteral("plus|minus"), QStringLiteral("Release a pressed button.")},
        {QStringLiteral("long"), QStringLiteral("plus|minus"),
         QStringLiteral("Hold a button until its long press fires, then release it.")},
        {QStringLiteral("sensor"), QStringLiteral("NAME V... | start NAME | stop NAME"),
         QStringLiteral("Send one reading of battery (1 value), accelerometer (3), compass (3) or\n"
                        "light (1), or start or stop that sensor's simulation. Put -- before\n"
                        "values that begin with a minus sign.")},
        {QStringLiteral("trace"), QStringLiteral("FILE [--wait] | stop"),
         QStringLiteral("Play a CSV trace of readings, one a line: milliseconds,sensor,v0[,v1,v2].")},
        {QStringLiteral("screenshot"), QStringLiteral("[OUT.png|-] [--opaque] [--expect GOLDEN.png [--tolerance N] [--diff OUT.png]]"),
         QStringLiteral("Save the 320 x 240 display as PNG ('-' writes it to standard output), or\n"
                        "compare it with a golden picture.")},
        {QStringLiteral("record"), QStringLiteral("display FILE --seconds N | --until-stopped | session FILE | stop"),
         QStringLiteral("Record the display as animated PNG (GIF when FILE ends in .gif), one frame per\n"
                        "change, or every agent frame and device event as JSON lines; 'stop' ends both.")},
        {QStringLiteral("state"), QString(), QStringLiteral("Print the emulator's state as JSON.")},
        {QStringLiteral("wait"), QStringLiteral("--content-of HASH [--content-id N] [--timeout SECONDS]"),
         QStringLiteral("Return once that agent's content was drawn; fail at once with the reason\n"
                        "when it was skipped, not drawn or refused.")},
        {QStringLiteral("log"), QStringLiteral("[--follow] [--json] [--agent HASH] [--since SEQ]"),
         QStringLiteral("Print what became of the agents' messages, one record a line.")},
        {QStringLiteral("fullscreen"), QStringLiteral("on|off"), QStringLiteral("Switch full-screen mode.")},
        {QStringLiteral("link"), QStringLiteral("[drop | refuse on|off | delay MS]"),
         QStringLiteral("Print the link's state as JSON, after dropping every agent connection,\n"
                        "refusing new agents (or no longer), or sending every message to agents\n"
                        "MS milliseconds late (0 ends it).")},
        {QStringLiteral("battery"), QStringLiteral("LEVEL [--charging on|off]"),
         QStringLiteral("Show the battery at LEVEL percent (0 to 100) and send agents its event.")},
        {QStringLiteral("clock"), QStringLiteral("pause | resume | advance MS | state"),
         QStringLiteral("Stop the device's time, let it run again, move it MS milliseconds on\n"
                        "(every timer due on the way fires first), or print it as JSON.")},
        {QStringLiteral("ready"), QStringLiteral("[--timeout SECONDS]"),
         QStringLiteral("Return as soon as the emulator answers; exit 2 when it has not within\n"
                        "SECONDS (default 30).")},
        {QStringLiteral("reset"), QString(),
         QStringLiteral("Bring the emulator back to the state of a fresh start: no content, default\n"
                        "times, sensors and traces stopped, its agents' images and the message\n"
                        "record deleted. Connected agents stay connected.")},
    };
    return list;
}

QString overview()
{
    QString text = QStringLiteral("Usage: zelvo-ctl COMMAND [options] [ARGUMENTS]\n"
                                  "Drives a running Zelvo Emulator as a person at the mouse would.\n\nCommands:\n");
    for (const Command& command : commands())
        text += QStringLiteral("  %1 %2").arg(command.name, -11).arg(command.arguments).trimmed().prepend(QStringLiteral("  ")) + QLatin1Char('\n');
    text += QStringLiteral(
        "\nEvery command takes --port PORT, --ports-file FILE, --timeout SECONDS and\n"
        "--help; it returns when the emulator has applied it, or gives up when nothing\n"
        "answers within SECONDS (default 30) on top of the time the command waits by\n"
        "design. The port and the token come from --port, then the ports file, then\n"
        "$%1 and $%2 (the token in DIR/control-token);\n"
        "else port %3 and %4.\n"
        "\nExit codes: 0 done, 1 the emulator refused the request, 2 usage error, no\n"
        "emulator reachable or no answer in time.\n")
        .arg(QLatin1String(ZelvoInstance::controlPortVariable), QLatin1String(ZelvoInstance::dataDirVariable))
        .arg(ZelvoPorts::control)
        .arg(ZelvoControlToken::filePath());
    return text;
}

} // namespace

CtlCommandLine::Status CtlCommandLine::parse(const QStringList& arguments)
{
    parsed = QJsonObject();
    jsonLines = false;
    readyCommand = false;
    controlPort = 0;
    portsFile.clear();
    waitMillis = 0;
    output.clear();
    golden.clear();
    diff.clear();
    message.clear();

    const QString name = arguments.value(1);
    if (name.isEmpty())
        return usageError(QStringLiteral("missing command; try 'zelvo-ctl --help'"));
    if (ToolArguments::isHelpRequest(name)) {
        message = overview();
        return Status::Help;
    }
    const auto found = std::find_if(commands().cbegin(), commands().cend(),
                                    [&name](const Command& command) { return command.name == name; });
    if (found == commands().cend())
        return usageError(QStringLiteral("unknown command '%1'; try 'zelvo-ctl --help'").arg(name));

    QCommandLineParser parser;
    parser.setApplicationDescription(found->description);
    const QCommandLineOption helpOption = parser.addHelpOption();
    parser.addOptions({portOption, portsFileOption});
    if (name == QLatin1String("press"))
        parser.addOption(holdOption);
    else if (name == QLatin1String("trace"))
        parser.addOption(waitOption);
    if (name == QLatin1String("battery"))
        parser.addOption(chargingOption);
    if (name == QLatin1String("log"))
        parser.addOptions({followOption, jsonOption, agentOption, sinceOption});
    if (name == QLatin1String("record"))
        parser.addOptions({secondsOption, untilStoppedOption});
    if (name == QLatin1String("screenshot"))
        parser.addOptions({expectOption, toleranceOption, diffOption, opaqueOption});
    if (name == QLatin1String("wait"))
        parser.addOptions({contentOfOption, contentIdOption, waitTimeoutOption});
    else
        parser.addOption(answerTimeoutOption);
    if (!parser.parse(arguments))
        return usageError(parser.errorText(), name);
    if (parser.isSet(helpOption)) {
        message = ToolArguments::commandHelp(QStringLiteral("Usage: zelvo-ctl %1 %2 [options]").arg(name, found->arguments),
                                             parser);
        return Status::Help;
    }
    if (parser.isSet(portOption)) {
        QString portError;
        controlPort = ToolArguments::port(parser.value(portOption), &portError);
        if (controlPort == 0)
            return usageError(portError, name);
    }
    if (parser.isSet(portsFileOption))
        portsFile = QFileInfo(parser.value(portsFileOption)).absoluteFilePath();
    ZelvoInstance environment;
    QString environmentError;
    if (!environment.readEnvironment(&environmentError))
        return usageError(environmentError, name);
    bool ok = false;
    if (name != QLatin1String("wait")) {
        waitMillis = ToolArguments::milliseconds(parser.value(answerTimeoutOption), maxSeconds, false);
        if (waitMillis < 0)
            return usageError(QStringLiteral("--timeout needs seconds above 0 up to 3600, not '%1'")
                                  .arg(parser.value(answerTimeoutOption)), name);
    }

    QStringList positional = parser.positionalArguments();
    positional.removeFirst();
    const auto expect = [&](int count) { return positional.size() == count; };

    if (name == QLatin1String("click") || name == QLatin1String("press") || name == QLatin1String("release")
        || name == QLatin1String("long")) {
        if (!expect(1) || (positional.first() != QLatin1String("plus") && positional.first() != QLatin1String("minus")))
            return usageError(QStringLiteral("name the button: plus or minus"), name);
        parsed = {{QStringLiteral("cmd"), QStringLiteral("button")}, {QStringLiteral("button"), positional.first()},
                  {QStringLiteral("gesture"), name}};
        if (parser.isSet(holdOption)) {
            const int hold = parser.value(holdOption).toInt(&ok);
            if (!ok || hold < 0)
                return usageError(QStringLiteral("--hold needs milliseconds, not '%1'").arg(parser.value(holdOption)), name);
            parsed.insert(QStringLiteral("hold"), hold);
            waitMillis += hold;
        }
    } else if (name == QLatin1String("sensor")) {
        const QString first = positional.value(0);
        if (first == QLatin1String("start") || first == QLatin1String("stop")) {
            if (!expect(2))
                return usageError(QStringLiteral("name one sensor to %1").arg(first), name);
            parsed = {{QStringLiteral("cmd"), name}, {QStringLiteral("action"), first},
                      {QStringLiteral("sensor"), positional.at(1)}};
        } else {
            if (positional.size() < 2)
                return usageError(QStringLiteral("give a sensor and its values"), name);
            QJsonArray values;
            for (const QString& text : positional.mid(1)) {
                const double value = text.toDouble(&ok);
                if (!ok || !std::isfinite(value))
                    return usageError(QStringLiteral("'%1' is not a number").arg(text), name);
                values.append(value);
            }
            parsed = {{QStringLiteral("cmd"), name}, {QStringLiteral("sensor"), first}, {QStringLiteral("values"), values}};
        }
    } else if (name == QLatin1String("trace")) {
        if (!expect(1))
            return usageError(QStringLiteral("give one trace file, or 'stop'"), name);
        if (positional.first() == QLatin1String("stop"))
            parsed = {{QStringLiteral("cmd"), name}, {QStringLiteral("action"), QStringLiteral("stop")}};
        else
            parsed = {{QStringLiteral("cmd"), name},
                      {QStringLiteral("file"), QFileInfo(positional.first()).absoluteFilePath()},
                      {QStringLiteral("wait"), parser.isSet(waitOption)}};
        if (parser.isSet(waitOption))
            waitMillis += traceMillis(positional.first());
    } else if (name == QLatin1String("screenshot")) {
        golden = parser.value(expectOption);
        if (golden.isEmpty() ? !expect(1) : positional.size() > 1)
            return usageError(QStringLiteral("give the output file, or '-' for standard output"), name);
        output = positional.value(0);
        parsed = {{QStringLiteral("cmd"), name}, {QStringLiteral("opaque"), parser.isSet(opaqueOption)}};
        // A comparison needs the picture here; the emulator sends it back.
        if (!output.isEmpty() && output != QLatin1String("-") && golden.isEmpty())
            parsed.insert(QStringLiteral("path"), QFileInfo(output).absoluteFilePath());
        if (!golden.isEmpty()) {
            tolerance = parser.value(toleranceOption).toInt(&ok);
            if (!ok || tolerance < 0 || tolerance > 255)
                return usageError(QStringLiteral("--tolerance needs a number from 0 to 255, not '%1'")
                                      .arg(parser.value(toleranceOption)), name);
            diff = parser.isSet(diffOption) ? parser.value(diffOption)
                                            : QFileInfo(golden).path() + QLatin1Char('/') + QFileInfo(golden).completeBaseName()
                                                  + QStringLiteral("-diff.png");
        } else if (parser.isSet(toleranceOption) || parser.isSet(diffOption)) {
            return usageError(QStringLiteral("--tolerance and --diff go with --expect"), name);
        }
    } else if (name == QLatin1String("record")) {
        const QString what = positional.value(0);
        if (what == QLatin1String("stop")) {
            if (!expect(1) || parser.isSet(secondsOption) || parser.isSet(untilStoppedOption))
                return usageError(QStringLiteral("'record stop' takes nothing more"), name);
            parsed = {{QStringLiteral("cmd"), name}, {QStringLiteral("what"), what}};
        } else if (what == QLatin1String("session")) {
            if (!expect(2) || parser.isSet(secondsOption) || parser.isSet(untilStoppedOption))
                return usageError(QStringLiteral("give the session's file; 'record stop' ends it"), name);
            parsed = {{QStringLiteral("cmd"), name}, {QStringLiteral("what"), what},
                      {QStringLiteral("file"), QFileInfo(positional.at(1)).absoluteFilePath()}};
        } else if (what == QLatin1String("display")) {
            if (!expect(2) || parser.isSet(secondsOption) == parser.isSet(untilStoppedOption))
                return usageError(QStringLiteral("give the file and either --seconds N or --until-stopped"), name);
            parsed = {{QStringLiteral("cmd"), name}, {QStringLiteral("what"), what},
                      {QStringLiteral("file"), QFileInfo(positional.at(1)).absoluteFilePath()}};
            if (parser.isSet(secondsOption)) {
                const qint64 millis = ToolArguments::milliseconds(parser.value(secondsOption), maxSeconds, false);
                if (millis <= 0)
                    return usageError(QStringLiteral("--seconds needs seconds above 0 up to 3600, not '%1'")
                                          .arg(parser.value(secondsOption)), name);
                parsed.insert(QStringLiteral("seconds"), double(millis) / 1000);
            }
        } else {
            return usageError(QStringLiteral("record display, session or stop"), name);
        }
    } else if (name == QLatin1String("state") || name == QLatin1String("reset") || name == QLatin1String("ready")) {
        if (!expect(0))
            return usageError(QStringLiteral("unexpected argument '%1'").arg(positional.first()), name);
        // Ready asks for the state: any answer means the emulator is up.
        readyCommand = name == QLatin1String("ready");
        parsed = {{QStringLiteral("cmd"), readyCommand ? QStringLiteral("state") : name}};
    } else if (name == QLatin1String("wait")) {
        if (!expect(0) || parser.value(contentOfOption).isEmpty())
            return usageError(QStringLiteral("--content-of HASH is required"), name);
        const qint64 millis = ToolArguments::milliseconds(parser.value(waitTimeoutOption), maxSeconds, true);
        if (millis < 0)
            return usageError(QStringLiteral("--timeout needs seconds from 0 to 3600, not '%1'").arg(parser.value(waitTimeoutOption)), name);
        waitMillis = millis + answerAllowanceMillis;
        parsed = {{QStringLiteral("cmd"), name}, {QStringLiteral("contentOf"), parser.value(contentOfOption)},
                  {QStringLiteral("timeout"), double(millis)}};
        if (parser.isSet(contentIdOption)) {
            bool ok = false;
            const int contentId = parser.value(contentIdOption).toInt(&ok);
            if (!ok)
                return usageError(QStringLiteral("--content-id needs a whole number, not '%1'").arg(parser.value(contentIdOption)), name);
            parsed.insert(QStringLiteral("contentId"), contentId);
        }
    } else if (name == QLatin1String("log")) {
        if (!expect(0))
            return usageError(QStringLiteral("unexpected argument '%1'").arg(positional.first()), name);
        parsed = {{QStringLiteral("cmd"), name}, {QStringLiteral("follow"), parser.isSet(followOption)}};
        if (parser.isSet(agentOption))
            parsed.insert(QStringLiteral("agent"), parser.value(agentOption));
        if (parser.isSet(sinceOption)) {
            bool ok = false;
            const qulonglong since = parser.value(sinceOption).toULongLong(&ok);
            if (!ok)
                return usageError(QStringLiteral("--since needs a sequence number, not '%1'").arg(parser.value(sinceOption)), name);
            parsed.insert(QStringLiteral("since"), double(since));
        }
        jsonLines = parser.isSet(jsonOption);
    } else if (name == QLatin1String("link")) {
        const QString action = positional.value(0, QStringLiteral("state"));
        parsed = {{QStringLiteral("cmd"), name}, {QStringLiteral("action"), action}};
        const bool alone = (action == QLatin1String("state") || action == QLatin1String("drop")) && positional.size() <= 1;
        const bool switched = action == QLatin1String("refuse") && expect(2)
                              && (positional.at(1) == QLatin1String("on") || positional.at(1) == QLatin1String("off"));
        if (switched) {
            parsed.insert(QStringLiteral("on"), positional.at(1) == QLatin1String("on"));
        } else if (action == QLatin1String("delay") && expect(2)) {
            const int millis = positional.at(1).toInt(&ok);
            if (!ok || millis < 0)
                return usageError(QStringLiteral("delay needs milliseconds from 0, not '%1'").arg(positional.at(1)), name);
            parsed.insert(QStringLiteral("millis"), millis);
        } else if (!alone) {
            return usageError(QStringLiteral("say nothing, drop, refuse on|off or delay MS"), name);
        }
    } else if (name == QLatin1String("battery")) {
        const int level = positional.value(0).toInt(&ok);
        if (!expect(1) || !ok || level < 0 || level > 100)
            return usageError(QStringLiteral("give the level as a whole percent from 0 to 100"), name);
        parsed = {{QStringLiteral("cmd"), name}, {QStringLiteral("level"), level}};
        if (parser.isSet(chargingOption)) {
            const QString charging = parser.value(chargingOption);
            if (charging != QLatin1String("on") && charging != QLatin1String("off"))
                return usageError(QStringLiteral("--charging takes on or off, not '%1'").arg(charging), name);
            parsed.insert(QStringLiteral("charging"), charging == QLatin1String("on"));
        }
    } else if (name == QLatin1String("clock")) {
        const QString action = positional.value(0, QStringLiteral("state"));
        parsed = {{QStringLiteral("cmd"), name}, {QStringLiteral("action"), action}};
        if (action == QLatin1String("advance") && expect(2)) {
            const int millis = positional.at(1).toInt(&ok);
            if (!ok || millis < 0)
                return usageError(QStringLiteral("advance needs milliseconds from 0, not '%1'").arg(positional.at(1)), name);
            parsed.insert(QStringLiteral("ms"), millis);
        } else if (positional.size() > 1 || !QStringList{QStringLiteral("pause"), QStringLiteral("resume"),
                                                         QStringLiteral("state")}.contains(action)) {
            return usageError(QStringLiteral("say pause, resume, advance MS or state"), name);
        }
    } else {
        if (!expect(1) || (positional.first() != QLatin1String("on") && positional.first() != QLatin1String("off")))
            return usageError(QStringLiteral("say on or off"), name);
        parsed = {{QStringLiteral("cmd"), name}, {QStringLiteral("mode"), positional.first()}};
    }
    return Status::Run;
}

bool CtlCommandLine::locate(ZelvoInstance* instance, QString* error) const
{
    if (!instance->locate(portsFile, error))
        return false;
    if (controlPort != 0)
        instance->controlPort = controlPort;
    return true;
}

CtlCommandLine::Status CtlCommandLine::usageError(const QString& reason, const QString& command)
{
    message = ToolArguments::usageError(QStringLiteral("zelvo-ctl"), reason, command);
    return Status::UsageError;
}
