#include "ControlReference.h"

#include "ZelvoControlCommand.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

namespace {

// A table cell: the declarations' help is wrapped for a terminal, and a
// pipe would end the cell.
QString cell(QString text)
{
    return text.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('|'), QStringLiteral("\\|"));
}

QString code(const QString& text)
{
    return QLatin1Char('`') + text + QLatin1Char('`');
}

QString json(const QJsonValue& value)
{
    const QByteArray inArray = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(inArray.mid(1, inArray.size() - 2));
}

QString takes(const ZelvoControlField& field)
{
    QString text = field.expected();
    if (field.isRequired)
        text += QStringLiteral(", required");
    if (!field.fallback.isUndefined())
        text += QStringLiteral(", default ") + code(json(field.fallback));
    return text;
}

QString row(const ZelvoControlField& field)
{
    const QString commandLine = field.isOnCommandLine() ? code(field.usage()) : QStringLiteral("(set by zelvo-ctl)");
    return QStringLiteral("| %1 | %2 | %3 | %4 |\n")
        .arg(code(json(field.key)), cell(takes(field)), cell(commandLine), cell(field.description));
}

QString actionSection(const ZelvoControlCommand& command, const ZelvoControlCommand::Action& action)
{
    QString markdown;
    if (!action.name.isEmpty()) {
        markdown += QStringLiteral("### %1\n\n").arg(code(command.operationName(action)));
        if (!action.help.isEmpty())
            markdown += cell(action.help) + QStringLiteral("\n\n");
        if (action.name == command.defaultAction)
            markdown += QStringLiteral("A request without %1 asks for this one.\n\n").arg(code(json(command.actionKey)));
    }
    QList<ZelvoControlField> fields;
    for (const ZelvoControlField& field : command.fieldsOf(action)) {
        if (field.sent)
            fields.append(field);
    }
    if (fields.isEmpty() && command.actionKey.isEmpty())
        return markdown + QStringLiteral("The request takes no member besides `\"cmd\"`.\n\n");
    markdown += QStringLiteral("| member | takes | zelvo-ctl | what |\n|---|---|---|---|\n");
    if (!command.actionKey.isEmpty()) {
        const QString spelled = command.actionsAreCommands ? action.name : command.name + QLatin1Char(' ') + action.name;
        markdown += QStringLiteral("| %1 | %2 | %3 | |\n")
                        .arg(code(json(command.actionKey)), code(json(action.name)), code(spelled));
    }
    for (const ZelvoControlField& field : fields)
        markdown += row(field);
    return markdown + QLatin1Char('\n');
}

} // namespace

QString ControlReference::markdown()
{
    QString markdown = QStringLiteral(
        "# Control channel commands\n\n"
        "<!-- Written by zelvo-reference (tools/reference) from the commands' declarations; scripts/docs writes it again. -->\n\n"
        "Every command of the control channel, as the emulator declares it: the same\n"
        "declarations check each request and give `zelvo-ctl` its commands, options\n"
        "and help. A request is one JSON line with `\"cmd\"`, the members below and an\n"
        "optional `\"id\"`; a member that is missing, unknown or out of bounds is a usage\n"
        "error naming it. How to connect and what each answer carries: [the control\n"
        "channel](../control-channel.md). In the tables, \"zelvo-ctl\" is how\n"
        "`zelvo-ctl` spells the member (its own units: seconds where the request\n"
        "takes milliseconds).\n\n");
    for (const ZelvoControlCommand& command : ZelvoControlCommand::all()) {
        markdown += QStringLiteral("## %1\n\n").arg(code(command.name));
        if (!command.help.isEmpty())
            markdown += cell(command.help) + QStringLiteral("\n\n");
        if (!command.actionKey.isEmpty()) {
            QStringList names;
            for (const ZelvoControlCommand::Action& action : command.actions)
                names.append(code(action.name));
            markdown += QStringLiteral("%1 picks what it does: %2.\n\n").arg(code(json(command.actionKey)), names.join(QStringLiteral(", ")));
        }
        for (const ZelvoControlCommand::Action& action : command.actions)
            markdown += actionSection(command, action);
    }
    markdown.chop(1);
    return markdown;
}
