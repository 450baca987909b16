#pragma once

#include "ZelvoControlCommand.h"
#include "ZelvoControlField.h"

#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QtContainerFwd> // QStringList, which Qt 6 makes an alias

class QCommandLineParser;
class ZelvoInstance;

// Turns the arguments of one run into one control request:
//   zelvo-ctl COMMAND [options] [ARGUMENTS...]
// The commands, their arguments, options, help and usage errors all come
// from the channel's declarations (ZelvoControlCommand::all()), plus the
// few options zelvo-ctl takes for itself (extraFields()).
class CtlCommandLine final
{
public:
    enum class Status { Run, Help, UsageError };

    // One command of zelvo-ctl: a channel command, or one action of it
    // where its actions are commands of their own ("click").
    struct Verb
    {
        QString name;
        const ZelvoControlCommand* command = nullptr;
        // Empty unless the verb is one action of its command.
        QString action;
        QString help;
    };
    // Every command zelvo-ctl takes, in the order --help lists them; "ready"
    // is its own and asks for the state.
    static const QList<Verb>& verbs();
    // The options zelvo-ctl takes for itself on top of an operation's
    // declared fields ("screenshot": where the picture goes, and the golden
    // comparison).
    static QList<ZelvoControlField> extraFields(const QString& operationName);

    Status parse(const QStringList& arguments);

    const QJsonObject& request() const { return parsed; }
    // The emulator to talk to: the environment, then --ports-file, then
    // --port; false with *error when the ports file is not there (yet).
    bool locate(ZelvoInstance* instance, QString* error) const;
    // Whether the command waits for the emulator to come up.
    bool waitsUntilReady() const { return readyCommand; }
    // How long to wait for the answer: --timeout, plus the time a command
    // waits by design (a hold, a trace played to its end, the wait itself).
    qint64 answerMillis() const { return waitMillis; }
    // A value zelvo-ctl took for itself (extraFields()); undefined when not given.
    QJsonValue extra(const QString& key) const { return extras.value(key, QJsonValue::Undefined); }
    // Where a screenshot goes; "-" for standard output.
    QString outputPath() const { return extra(QStringLiteral("output")).toString(); }
    // screenshot --expect: the golden picture, the tolerance and where the
    // difference picture goes; golden is empty without --expect.
    QString goldenPath() const { return extra(QStringLiteral("expect")).toString(); }
    int comparisonTolerance() const;
    QString differencePath() const;
    // The words of the command as given, without its options: "sensor start compass".
    const QString& words() const { return commandWords; }
    // The help text after Help; a one-line message after an error.
    const QString& text() const { return message; }

private:
    Status usageError(const QString& reason, const QString& verb = QString());
    // The verb's options, of every action it may run, added to the parser.
    static QList<ZelvoControlField> addOptions(const Verb& verb, QCommandLineParser* parser);
    // The action the arguments ask for, its word taken from positional;
    // null with *error when they name none.
    static const ZelvoControlCommand::Action* chosenAction(const Verb& verb, QStringList* positional, QString* error);
    // The operation's fields from the arguments into the request; an error
    // text when one is missing or wrong.
    QString take(const QList<ZelvoControlField>& fields, const QCommandLineParser& parser, QStringList* positional);
    // What zelvo-ctl does for itself before sending (see extraFields()).
    QString finish(const QString& operationName);

    QJsonObject parsed;
    QHash<QString, QJsonValue> extras;
    quint16 controlPort = 0;
    QString portsFile;
    bool readyCommand = false;
    qint64 waitMillis = 0;
    QString commandWords;
    QString message;
};
