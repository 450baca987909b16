#include "CtlCommandLine.h"

#include "ToolArguments.h"
#include "ZelvoControlCommand.h"
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

namespace {

using Field = ZelvoControlField;

const QCommandLineOption portOption(QStringLiteral("port"),
    QStringLiteral("Control port of the emulator (default %1, or $%2, or the ports file's).")
        .arg(ZelvoPorts::control).arg(QLatin1String(ZelvoInstance::controlPortVariable)), QStringLiteral("PORT"));
const QCommandLineOption portsFileOption(QStringLiteral("ports-file"),
    QStringLiteral("The ports file the emulator wrote (--ports-file): its control port and token."),
    QStringLiteral("FILE"));
const QCommandLineOption answerTimeoutOption(QStringLiteral("timeout"),
    QStringLiteral("Give up when nothing answers within SECONDS (fractions allowed, default 30)."),
    QStringLiteral("SECONDS"), QStringLiteral("30"));
// How long an answer may take beyond the time a command waits by design.
constexpr qint64 answerAllowanceMillis = 30000;
constexpr double maxSeconds = 3600;

// How long a trace file plays: the time of its last reading. A file the
// emulator will refuse plays for no time.
qint64 traceMillis(const QString& path)
{
    QFile file(path);
    ZelvoTrace::Readings readings;
    QString error;
    if (!file.open(QIODevice::ReadOnly) || !ZelvoTrace::parse(file.readAll(), &readings, &error))
        return 0;
    qint64 last = 0;
    for (const ZelvoTrace::TimedReading& timed : readings)
        last = std::max(last, timed.millis);
    return last;
}

// The fields of one operation as zelvo-ctl takes them: the declared ones,
// then zelvo-ctl's own.
QList<Field> fieldsOf(const ZelvoControlCommand& command, const ZelvoControlCommand::Action& action)
{
    return command.fieldsOf(action) + CtlCommandLine::extraFields(command.operationName(action));
}

// The actions a verb may run: its own, or all of its command's.
QList<const ZelvoControlCommand::Action*> actionsOf(const CtlCommandLine::Verb& verb)
{
    QList<const ZelvoControlCommand::Action*> actions;
    for (const ZelvoControlCommand::Action& action : verb.command->actions) {
        if (verb.action.isEmpty() || action.name == verb.action)
            actions.append(&action);
    }
    return actions;
}

// The action word as a choice, for its usage name and its error.
Field actionField(const ZelvoControlCommand& command)
{
    QStringList names;
    for (const ZelvoControlCommand::Action& action : command.actions)
        names.append(action.name);
    return Field::choice(command.actionKey, names).positional(names.join(QLatin1Char('|')));
}

// "plus|minus [--hold MS]", and for a command of several actions each one
// by its word: "NAME V... | start NAME | stop NAME".
QString synopsis(const CtlCommandLine::Verb& verb)
{
    QStringList forms;
    bool bareDefault = false;
    for (const ZelvoControlCommand::Action* action : actionsOf(verb)) {
        QStringList words;
        if (verb.action.isEmpty() && !action->name.isEmpty() && action->name != verb.command->defaultAction)
            words.append(action->name);
        for (const Field& field : fieldsOf(*verb.command, *action)) {
            if (field.isOnCommandLine())
                words.append(field.usage());
        }
        bareDefault = bareDefault || words.isEmpty();
        if (!words.isEmpty())
            forms.append(words.join(QLatin1Char(' ')));
    }
    const QString joined = forms.join(QStringLiteral(" | "));
    // A command that does something without any words: "link [drop | ...]".
    return bareDefault && !joined.isEmpty() ? QLatin1Char('[') + joined + QLatin1Char(']') : joined;
}

QString overview()
{
    QString text = QStringLiteral("Usage: zelvo-ctl COMMAND [options] [ARGUMENTS]\n"
                                  "Drives a running Zelvo Emulator as a person at the mouse would.\n\nCommands:\n");
    for (const CtlCommandLine::Verb& verb : CtlCommandLine::verbs())
        text += QStringLiteral("  %1 %2").arg(verb.name, -11).arg(synopsis(verb)).trimmed().prepend(QStringLiteral("  "))
                + QLatin1Char('\n');
    text += QStringLiteral(
        "\nEvery command takes --port PORT, --ports-file FILE, --timeout SECONDS and\n"
        "--help; it returns when the emulator has applied it, or gives up when nothing\n"
        "answers within SECONDS (default 30) on top of the time the command waits by\n"
        "design. The port and the token come from --port, then the ports file, then\n"
        "$%1 and $%2 (the token in DIR/control-token);\n"
        "else port %3 and %4.\n"
        "\nExit codes: as for every Zelvo tool; see \"Exit codes\" in the README.\n")
        .arg(QLatin1String(ZelvoInstance::controlPortVariable), QLatin1String(ZelvoInstance::dataDirVariable))
        .arg(ZelvoPorts::control)
        .arg(ZelvoControlToken::filePath());
    return text;
}

QString takesText(const Field& field, const QString& given)
{
    return QStringLiteral("%1 takes %2, not '%3'").arg(field.commandLineName(), field.expected(true), given);
}

// The value of one argument, or an undefined one with *error set.
QJsonValue valueOf(const Field& field, const QString& text, QString* error)
{
    QJsonValue value = field.fromCommandLine(text);
    const bool fits = field.type == Field::Type::Numbers ? value.isDouble() && field.accepts(QJsonArray{value})
                                                         : !value.isUndefined() && field.accepts(value);
    if (fits)
        return value;
    *error = takesText(field, text);
    return QJsonValue::Undefined;
}

} // namespace

const QList<CtlCommandLine::Verb>& CtlCommandLine::verbs()
{
    static const QList<Verb> list = [] {
        QList<Verb> made;
        for (const ZelvoControlCommand& command : ZelvoControlCommand::all()) {
            if (!command.actionsAreCommands) {
                made.append({command.name, &command, QString(), command.help});
                continue;
            }
            for (const ZelvoControlCommand::Action& action : command.actions)
                made.append({action.name, &command, action.name, action.help});
        }
        made.append({QStringLiteral("ready"), ZelvoControlCommand::find(QStringLiteral("state")), QString(),
                     QStringLiteral("Return as soon as the emulator answers; exit 3 when it has not within\n"
                                    "SECONDS (default 30).")});
        return made;
    }();
    return list;
}

QList<ZelvoControlField> CtlCommandLine::extraFields(const QString& operationName)
{
    if (operationName == QLatin1String("screenshot")) {
        return {Field::text(QStringLiteral("output")).positional(QStringLiteral("OUT.png|-")).optional().toolOnly(),
                Field::text(QStringLiteral("expect"), QStringLiteral("a file name"))
                    .option(QStringLiteral("expect"), QStringLiteral("GOLDEN.png"),
                            QStringLiteral("Compare the display with this golden picture; exit 1 when they differ."))
                    .toolOnly(),
                Field::whole(QStringLiteral("tolerance"), 0, 255)
                    .option(QStringLiteral("tolerance"), QStringLiteral("N"),
                            QStringLiteral("Largest channel difference (0 to 255) that still counts as equal (default %1).")
                                .arg(ZelvoImageComparison::defaultTolerance))
                    .toolOnly(),
                Field::text(QStringLiteral("diff"), QStringLiteral("a file name"))
                    .option(QStringLiteral("diff"), QStringLiteral("OUT.png"),
                            QStringLiteral("Where the difference picture goes when the display differs (default GOLDEN-diff.png)."))
                    .toolOnly()};
    }
    if (operationName == QLatin1String("report")) {
        return {Field::text(QStringLiteral("out"), QStringLiteral("a file name"))
                    .option(QStringLiteral("out"), QStringLiteral("REPORT.html"),
                            QStringLiteral("Where the report goes (default zelvo-report.html)."))
                    .toolOnly(),
                Field::text(QStringLiteral("session"), QStringLiteral("a file name"))
                    .option(QStringLiteral("session"), QStringLiteral("SESSION.jsonl"),
                            QStringLiteral("Make it from this session recording instead of the running emulator."))
                    .toolOnly(),
                Field::text(QStringLiteral("display"), QStringLiteral("a file name"))
                    .option(QStringLiteral("display"), QStringLiteral("DISPLAY.png"),
                            QStringLiteral("With --session: the display recording (animated PNG) made beside it."))
                    .toolOnly()};
    }
    if (operationName == QLatin1String("log"))
        return {Field::onOff(QStringLiteral("json")).flag(QStringLiteral("json"), QStringLiteral("Print each record as one JSON line.")).toolOnly()};
    if (operationName == QLatin1String("record display")) {
        return {Field::onOff(QStringLiteral("until-stopped"))
                    .flag(QStringLiteral("until-stopped"), QStringLiteral("Record until 'zelvo-ctl record stop'; return at once."))
                    .toolOnly()};
    }
    return {};
}

CtlCommandLine::Status CtlCommandLine::parse(const QStringList& arguments)
{
    parsed = QJsonObject();
    extras.clear();
    readyCommand = false;
    controlPort = 0;
    portsFile.clear();
    waitMillis = 0;
    commandWords.clear();
    message.clear();

    const QString name = arguments.value(1);
    if (name.isEmpty())
        return usageError(QStringLiteral("missing command; try 'zelvo-ctl --help'"));
    if (ToolArguments::isHelpRequest(name)) {
        message = overview();
        return Status::Help;
    }
    if (ToolArguments::isVersionRequest(name)) {
        message = ToolArguments::versionText(QStringLiteral("zelvo-ctl"));
        return Status::Help;
    }
    const auto found = std::find_if(verbs().cbegin(), verbs().cend(), [&name](const Verb& verb) { return verb.name == name; });
    if (found == verbs().cend())
        return usageError(QStringLiteral("unknown command '%1'; try 'zelvo-ctl --help'").arg(name));
    const Verb& verb = *found;
    const ZelvoControlCommand& command = *verb.command;
    readyCommand = name == QLatin1String("ready");

    QCommandLineParser parser;
    parser.setApplicationDescription(verb.help);
    const QCommandLineOption helpOption = parser.addHelpOption();
    parser.addOptions({portOption, portsFileOption});
    const QList<Field> options = addOptions(verb, &parser);
    // A command that waits for a time of its own takes it as --timeout.
    const bool ownTimeout = std::any_of(options.cbegin(), options.cend(), [](const Field& field) {
        return field.commandLineOption == QLatin1String("timeout");
    });
    if (!ownTimeout)
        parser.addOption(answerTimeoutOption);
    if (!parser.parse(arguments))
        return usageError(parser.errorText(), name);
    if (parser.isSet(helpOption)) {
        message = ToolArguments::commandHelp(QStringLiteral("Usage: zelvo-ctl %1 %2 [options]").arg(name, synopsis(verb)),
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
    waitMillis = answerAllowanceMillis;
    if (!ownTimeout) {
        waitMillis = ToolArguments::milliseconds(parser.value(answerTimeoutOption), maxSeconds, false);
        if (waitMillis < 0)
            return usageError(QStringLiteral("--timeout needs seconds above 0 up to 3600, not '%1'")
                                  .arg(parser.value(answerTimeoutOption)), name);
    }

    QStringList positional = parser.positionalArguments();
    positional.removeFirst();
    QString error;
    const ZelvoControlCommand::Action* action = chosenAction(verb, &positional, &error);
    if (!action)
        return usageError(error, name);
    const QList<Field> fields = fieldsOf(command, *action);
    for (const Field& option : qAsConst(options)) {
        const bool belongs = std::any_of(fields.cbegin(), fields.cend(), [&option](const Field& field) {
            return field.commandLineOption == option.commandLineOption;
        });
        if (!belongs && parser.isSet(option.commandLineOption))
            return usageError(QStringLiteral("%1 does not go with '%2'")
                                  .arg(option.commandLineName(), command.operationName(*action)), name);
    }

    parsed.insert(QStringLiteral("cmd"), command.name);
    if (!command.actionKey.isEmpty())
        parsed.insert(command.actionKey, action->name);
    error = take(fields, parser, &positional);
    if (error.isEmpty() && !positional.isEmpty())
        error = QStringLiteral("unexpected argument '%1'").arg(positional.first());
    if (error.isEmpty())
        error = finish(command.operationName(*action));
    if (!error.isEmpty())
        return usageError(error, name);
    commandWords = parser.positionalArguments().join(QLatin1Char(' '));
    if (readyCommand)
        parsed = {{QStringLiteral("cmd"), QStringLiteral("state")}};
    return Status::Run;
}

QList<ZelvoControlField> CtlCommandLine::addOptions(const Verb& verb, QCommandLineParser* parser)
{
    // The options of every action the verb may run; those of another action
    // are refused once the action is known.
    QList<Field> options;
    for (const ZelvoControlCommand::Action* action : actionsOf(verb)) {
        for (const Field& field : fieldsOf(*verb.command, *action)) {
            const bool added = std::any_of(options.cbegin(), options.cend(), [&field](const Field& option) {
                return option.commandLineOption == field.commandLineOption;
            });
            if (!field.isOption() || added)
                continue;
            options.append(field);
            parser->addOption(field.form == Field::Form::Flag
                                  ? QCommandLineOption(field.commandLineOption, field.description)
                                  : QCommandLineOption(field.commandLineOption, field.description, field.shown));
        }
    }
    return options;
}

const ZelvoControlCommand::Action* CtlCommandLine::chosenAction(const Verb& verb, QStringList* positional, QString* error)
{
    const ZelvoControlCommand& command = *verb.command;
    if (!verb.action.isEmpty())
        return command.action(verb.action);
    if (command.actionKey.isEmpty())
        return &command.actions.constFirst();
    // The action's word first; without one, the command's usual action.
    const ZelvoControlCommand::Action* named = command.action(positional->value(0));
    if (named && !positional->isEmpty())
        positional->removeFirst();
    const ZelvoControlCommand::Action* action = named ? named : command.action(command.defaultAction);
    if (!action) {
        const Field word = actionField(command);
        *error = positional->isEmpty() ? QStringLiteral("missing %1").arg(word.shown) : takesText(word, positional->first());
    }
    return action;
}

QString CtlCommandLine::take(const QList<ZelvoControlField>& fields, const QCommandLineParser& parser,
                             QStringList* positional)
{
    for (const Field& field : fields) {
        QJsonValue value = QJsonValue::Undefined;
        QString error;
        switch (field.form) {
        case Field::Form::Positional:
            if (!positional->isEmpty())
                value = valueOf(field, positional->takeFirst(), &error);
            break;
        case Field::Form::Rest: {
            QJsonArray values;
            while (!positional->isEmpty() && error.isEmpty())
                values.append(valueOf(field, positional->takeFirst(), &error));
            if (!values.isEmpty())
                value = values;
            break;
        }
        case Field::Form::Option:
            if (parser.isSet(field.commandLineOption))
                value = valueOf(field, parser.value(field.commandLineOption), &error);
            break;
        case Field::Form::Flag:
            if (parser.isSet(field.commandLineOption))
                value = true;
            break;
        case Field::Form::Hidden:
            break;
        }
        if (!error.isEmpty())
            return error;
        if (value.isUndefined() && field.isRequired && field.isOnCommandLine())
            return QStringLiteral("missing %1").arg(field.isOption() ? field.usage() : field.shown);
        const QJsonValue delay = value.isUndefined() ? field.fallback : value;
        waitMillis += qint64(delay.toDouble() * field.answerDelayPerUnit);
        if (field.sent && value.isUndefined())
            value = field.fallback;
        if (value.isUndefined())
            continue;
        if (field.sent)
            parsed.insert(field.key, value);
        else
            extras.insert(field.key, value);
    }
    return QString();
}

QString CtlCommandLine::finish(const QString& operationName)
{
    if (operationName == QLatin1String("screenshot")) {
        const QString output = outputPath();
        if (goldenPath().isEmpty()) {
            if (output.isEmpty())
                return QStringLiteral("give OUT.png, or '-' for standard output");
            if (extras.contains(QStringLiteral("diff")) || extras.contains(QStringLiteral("tolerance")))
                return QStringLiteral("--tolerance and --diff go with --expect");
        }
        // A comparison needs the picture here; the emulator sends it back.
        if (!output.isEmpty() && output != QLatin1String("-") && goldenPath().isEmpty())
            parsed.insert(QStringLiteral("path"), QFileInfo(output).absoluteFilePath());
    } else if (operationName == QLatin1String("trace play")) {
        if (parsed.value(QStringLiteral("wait")).toBool())
            waitMillis += traceMillis(parsed.value(QStringLiteral("file")).toString());
    } else if (operationName == QLatin1String("report")) {
        if (extras.contains(QStringLiteral("display")) && !extras.contains(QStringLiteral("session")))
            return QStringLiteral("--display goes with --session");
        if (extras.contains(QStringLiteral("session")) && parsed.contains(QStringLiteral("since")))
            return QStringLiteral("--since goes with a running emulator, not with --session");
        if (!extras.contains(QStringLiteral("out")))
            extras.insert(QStringLiteral("out"), QStringLiteral("zelvo-report.html"));
    } else if (operationName == QLatin1String("record display")) {
        const bool forSeconds = parsed.contains(QStringLiteral("seconds"));
        if (forSeconds == extras.contains(QStringLiteral("until-stopped")))
            return QStringLiteral("give either --seconds SECONDS or --until-stopped");
        // Returns with what was written, as a script that uploads the file needs.
        if (forSeconds)
            parsed.insert(QStringLiteral("wait"), true);
    }
    return QString();
}

int CtlCommandLine::comparisonTolerance() const
{
    return extra(QStringLiteral("tolerance")).toInt(ZelvoImageComparison::defaultTolerance);
}

QString CtlCommandLine::differencePath() const
{
    const QJsonValue diff = extra(QStringLiteral("diff"));
    if (!diff.isUndefined())
        return diff.toString();
    const QFileInfo golden(goldenPath());
    return golden.path() + QLatin1Char('/') + golden.completeBaseName() + QStringLiteral("-diff.png");
}

bool CtlCommandLine::locate(ZelvoInstance* instance, QString* error) const
{
    if (!instance->locate(portsFile, error))
        return false;
    if (controlPort != 0)
        instance->controlPort = controlPort;
    return true;
}

CtlCommandLine::Status CtlCommandLine::usageError(const QString& reason, const QString& verb)
{
    message = ToolArguments::usageError(QStringLiteral("zelvo-ctl"), reason, verb);
    return Status::UsageError;
}
