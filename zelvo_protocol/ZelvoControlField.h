#pragma once

#include <QJsonValue>
#include <QString>
#include <QStringList>

// One member of a control request as its command declares it: its JSON
// key, what it holds and within which bounds, its default, and how
// zelvo-ctl takes it from the command line. The channel checks requests
// against it and zelvo-ctl builds its arguments, help and usage errors from
// it, so that the two cannot drift apart. Built by chained calls:
//   ZelvoControlField::whole("hold", 0, 3600000).option("hold", "MS", "Release after MS ms.")
class ZelvoControlField
{
public:
    enum class Type {
        Text,    // any string; with a noun, a non-empty one
        Path,    // an absolute path (zelvo-ctl makes a relative one absolute)
        Choice,  // one of the choices
        Switch,  // true or false; "on" or "off" on the command line
        Whole,   // a whole number within the bounds
        Number,  // a number within the bounds
        Numbers, // a list of numbers that fit a float
    };
    // Where zelvo-ctl takes the value from.
    enum class Form {
        Positional, // the next argument, required unless optional()
        Rest,       // all remaining arguments
        Option,     // --name VALUE
        Flag,       // --name alone means true
        Hidden,     // not on the command line: zelvo-ctl sets it itself
    };

    static ZelvoControlField text(const QString& key, const QString& noun = QString());
    static ZelvoControlField path(const QString& key);
    static ZelvoControlField choice(const QString& key, const QStringList& choices);
    static ZelvoControlField onOff(const QString& key);
    static ZelvoControlField whole(const QString& key, double minimum, double maximum);
    // With exclusive, the value must lie above minimum.
    static ZelvoControlField number(const QString& key, double minimum, double maximum, bool exclusive = false);
    static ZelvoControlField numbers(const QString& key);

    // The command-line spellings; shown is the value's name in the usage
    // line ("FILE", "plus|minus").
    ZelvoControlField positional(const QString& shown) const;
    ZelvoControlField rest(const QString& shown) const;
    ZelvoControlField option(const QString& name, const QString& valueName, const QString& description) const;
    ZelvoControlField flag(const QString& name, const QString& description) const;
    ZelvoControlField hidden() const;
    ZelvoControlField optional() const;
    ZelvoControlField required() const;
    ZelvoControlField byDefault(const QJsonValue& value) const;
    // Milliseconds in the request, seconds (fractions allowed) on the command line.
    ZelvoControlField inSeconds() const;
    // The answer comes the value (times millisPerUnit) milliseconds later
    // (a hold, a wait): the client waits that much longer for it.
    ZelvoControlField delaysAnswer(double millisPerUnit = 1) const;
    // Taken by zelvo-ctl for itself and never sent (where a screenshot
    // goes, how records are printed).
    ZelvoControlField toolOnly() const;

    // Whether value is one this field takes.
    bool accepts(const QJsonValue& value) const;
    // What the field takes, in words: "a whole number from 0 to 100",
    // "\"plus\" or \"minus\""; for the command line in its own units and
    // spellings ("on or off", "plus or minus").
    QString expected(bool commandLine = false) const;
    // "--hold", or the usage name of a positional argument.
    QString commandLineName() const;
    // The usage text: "plus|minus", "[--hold MS]", "V...".
    QString usage() const;
    // The command-line text as the request's value, or an undefined value
    // when it cannot be one (a word that is not a number, on or off).
    QJsonValue fromCommandLine(const QString& text) const;
    bool isOnCommandLine() const { return form != Form::Hidden; }
    bool isOption() const { return form == Form::Option || form == Form::Flag; }

    QString key;
    Type type = Type::Text;
    Form form = Form::Hidden;
    QString noun;
    QStringList choices;
    double minimum = 0;
    double maximum = 0;
    bool exclusiveMinimum = false;
    bool isRequired = false;
    QJsonValue fallback = QJsonValue::Undefined;
    QString shown;
    QString commandLineOption;
    QString description;
    // Command-line value times scale is the request's value.
    double scale = 1;
    // Zero unless the value delays the answer.
    double answerDelayPerUnit = 0;
    bool sent = true;
};
