#include "ControlRig.h"
#include "CtlCommandLine.h"
#include "ZelvoControlCommand.h"
#include "control/ZelvoControlCommands.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTest>

#include <algorithm>

namespace {

using Command = ZelvoControlCommand;
using Field = ZelvoControlField;

// A value the field takes, for the request and for the command line.
QJsonValue sample(const Field& field)
{
    switch (field.type) {
    case Field::Type::Text:
        return QStringLiteral("walk");
    case Field::Type::Path:
        return QDir::home().filePath(QStringLiteral("walk-") + field.key);
    case Field::Type::Choice:
        return field.choices.constFirst();
    case Field::Type::Switch:
        return false;
    case Field::Type::Whole:
    case Field::Type::Number:
        return field.exclusiveMinimum ? field.minimum + 1 : field.minimum;
    case Field::Type::Numbers:
        return QJsonArray{1, 2, 3};
    }
    return QJsonValue();
}

QStringList sampleWords(const Field& field)
{
    const QJsonValue value = sample(field);
    switch (field.type) {
    case Field::Type::Switch:
        return {field.form == Field::Form::Flag ? QString() : QStringLiteral("off")};
    case Field::Type::Whole:
    case Field::Type::Number:
        return {QString::number(value.toDouble() / field.scale)};
    case Field::Type::Numbers:
        return {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")};
    default:
        return {value.toString()};
    }
}

// The zelvo-ctl arguments that ask for the action with every field it
// takes from the command line.
QStringList commandLine(const Command& command, const Command::Action& action)
{
    QStringList positional;
    QStringList options;
    const QString verb = command.actionsAreCommands ? action.name : command.name;
    if (!command.actionsAreCommands && !command.actionKey.isEmpty())
        positional.append(action.name);
    const QString operation = command.operationName(action);
    for (const Field& field : command.fieldsOf(action) + CtlCommandLine::extraFields(operation)) {
        // zelvo-ctl's own options choose between forms of the command: the
        // positional ones (where a screenshot goes) are taken as well.
        if (!field.isOnCommandLine() || (!field.sent && field.isOption()))
            continue;
        if (field.isOption()) {
            options.append(QStringLiteral("--") + field.commandLineOption);
            if (field.form == Field::Form::Option)
                options.append(sampleWords(field));
        } else if (!field.sent) {
            positional.append(QDir::home().filePath(QStringLiteral("walk-") + field.key));
        } else {
            positional.append(sampleWords(field));
        }
    }
    return QStringList{QStringLiteral("zelvo-ctl"), verb} + options + positional;
}

} // namespace

// Every declared command is reachable from zelvo-ctl with all its fields,
// documented in its --help, and answered by the channel's own operation.
class TestZelvoControlCommands final : public QObject
{
    Q_OBJECT

private slots:
    void declarations_data();
    void declarations();
    void everyCommandLineVerbIsListed();
};

void TestZelvoControlCommands::declarations_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("action");
    for (const Command& command : Command::all()) {
        for (const Command::Action& action : command.actions)
            QTest::newRow(qPrintable(command.operationName(action))) << command.name << action.name;
    }
}

void TestZelvoControlCommands::declarations()
{
    QFETCH(QString, command);
    QFETCH(QString, action);
    const Command* declared = Command::find(command);
    QVERIFY(declared);
    const Command::Action* chosen = declared->action(action);
    QVERIFY(chosen);
    const QString operation = declared->operationName(*chosen);

    // zelvo-ctl builds the request from its arguments.
    const QStringList arguments = commandLine(*declared, *chosen);
    CtlCommandLine parser;
    QCOMPARE(parser.parse(arguments), CtlCommandLine::Status::Run);
    QJsonObject request = parser.request();
    QCOMPARE(request.value("cmd").toString(), command);
    if (!declared->actionKey.isEmpty())
        QCOMPARE(request.value(declared->actionKey).toString(), action);
    for (const Field& field : declared->fieldsOf(*chosen)) {
        if (field.isOnCommandLine())
            QVERIFY2(request.contains(field.key), qPrintable(field.key));
    }

    // Its help names every option it takes.
    QCOMPARE(parser.parse({arguments.at(0), arguments.at(1), QStringLiteral("--help")}), CtlCommandLine::Status::Help);
    for (const Field& field : declared->fieldsOf(*chosen)) {
        if (field.isOption())
            QVERIFY2(parser.text().contains(field.commandLineName()), qPrintable(field.commandLineName()));
    }

    // The channel accepts it and runs the command's operation; what the
    // operation then says (a missing trace file, a button not held) is its own.
    const Command* checkedCommand = nullptr;
    const Command::Action* checkedAction = nullptr;
    QCOMPARE(Command::check(request, &checkedCommand, &checkedAction), QString());
    QCOMPARE(checkedAction, chosen);
    QVERIFY2(ZelvoControlCommands::operation(operation) || command == QLatin1String("log"), qPrintable(operation));
    ControlRig rig;
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}));
    const QJsonObject answer = client.call(request, 10000);
    QVERIFY2(answer.contains("ok"), qPrintable(operation));
    QVERIFY2(!answer.value("error").toString().startsWith("unknown command"), qPrintable(answer.value("error").toString()));
}

void TestZelvoControlCommands::everyCommandLineVerbIsListed()
{
    CtlCommandLine parser;
    QCOMPARE(parser.parse({QStringLiteral("zelvo-ctl"), QStringLiteral("--help")}), CtlCommandLine::Status::Help);
    const QStringList lines = parser.text().split(QLatin1Char('\n'));
    for (const CtlCommandLine::Verb& verb : CtlCommandLine::verbs()) {
        const bool listed = std::any_of(lines.cbegin(), lines.cend(), [&verb](const QString& line) {
            return line.startsWith(QStringLiteral("  ") + verb.name + QLatin1Char(' ')) || line == QStringLiteral("  ") + verb.name;
        });
        QVERIFY2(listed, qPrintable(verb.name));
    }
}

QTEST_MAIN(TestZelvoControlCommands)
#include "tst_zelvocontrolcommands.moc"
