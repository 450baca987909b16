#pragma once

#include "ZelvoControlField.h"

#include <QList>
#include <QString>

class QJsonObject;

// One command of the control channel, declared once: its name, its help,
// its fields and, where it does several things, its actions. The channel
// checks and dispatches requests by these declarations, and zelvo-ctl makes
// its commands, options, help and usage errors from them. A new command is
// one more entry in all(), and its operation in the channel's table.
class ZelvoControlCommand
{
public:
    struct Action
    {
        // Empty for a command that does one thing.
        QString name;
        // The action's own help where zelvo-ctl calls it as a command.
        QString help;
        QList<ZelvoControlField> fields;
    };

    // Every command of the channel, in the order zelvo-ctl lists them.
    static const QList<ZelvoControlCommand>& all();
    static const ZelvoControlCommand* find(const QString& name);

    // The request checked against its command's declaration: the command
    // and action it asks for, or a non-empty text naming the first member
    // that is wrong.
    static QString check(const QJsonObject& request, const ZelvoControlCommand** command, const Action** action);
    // What an error answer carries besides its text when the request itself
    // is wrong (check()'s mistakes, a count of values that does not fit):
    // {"usage": true}, which tells a usage error from a refusal of a
    // well-formed request.
    static QJsonObject usageError();
    static bool isUsageError(const QJsonObject& answer);

    const Action* action(const QString& actionName) const;
    // The command's own fields, then the action's.
    QList<ZelvoControlField> fieldsOf(const Action& action) const;
    // "button click", "state": what the channel looks its operation up by.
    QString operationName(const Action& action) const;

    QString name;
    QString help;
    // The member naming the action ("gesture", "action", "what"); empty
    // when the command does one thing.
    QString actionKey;
    // The action of a request that names none; empty when it must.
    QString defaultAction;
    // zelvo-ctl calls each action a command of its own: "click plus", not
    // "button click plus".
    bool actionsAreCommands = false;
    QList<ZelvoControlField> fields;
    QList<Action> actions;
};
