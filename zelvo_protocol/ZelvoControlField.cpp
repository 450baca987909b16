#include "ZelvoControlField.h"

#include <QFileInfo>
#include <QJsonArray>

#include <cfloat>
#include <cmath>

namespace {

ZelvoControlField made(const QString& key, ZelvoControlField::Type type)
{
    ZelvoControlField field;
    field.key = key;
    field.type = type;
    return field;
}

// Whole numbers without a fraction, the rest as short as they are exact.
QString shortNumber(double value)
{
    return QString::number(value, 'g', 15);
}

QString listed(const QStringList& words, bool quoted)
{
    QStringList shown;
    for (const QString& word : words)
        shown.append(quoted ? QLatin1Char('"') + word + QLatin1Char('"') : word);
    const QString last = shown.takeLast();
    return shown.isEmpty() ? last : shown.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

bool isWithin(const ZelvoControlField& field, double value)
{
    // Written so that NaN fails.
    return (field.exclusiveMinimum ? value > field.minimum : value >= field.minimum) && value <= field.maximum;
}

} // namespace

ZelvoControlField ZelvoControlField::text(const QString& key, const QString& noun)
{
    ZelvoControlField field = made(key, Type::Text);
    field.noun = noun;
    return field;
}

ZelvoControlField ZelvoControlField::path(const QString& key)
{
    return made(key, Type::Path);
}

ZelvoControlField ZelvoControlField::choice(const QString& key, const QStringList& choices)
{
    ZelvoControlField field = made(key, Type::Choice);
    field.choices = choices;
    return field;
}

ZelvoControlField ZelvoControlField::onOff(const QString& key)
{
    return made(key, Type::Switch);
}

ZelvoControlField ZelvoControlField::whole(const QString& key, double minimum, double maximum)
{
    ZelvoControlField field = made(key, Type::Whole);
    field.minimum = minimum;
    field.maximum = maximum;
    return field;
}

ZelvoControlField ZelvoControlField::number(const QString& key, double minimum, double maximum, bool exclusive)
{
    ZelvoControlField field = made(key, Type::Number);
    field.minimum = minimum;
    field.maximum = maximum;
    field.exclusiveMinimum = exclusive;
    return field;
}

ZelvoControlField ZelvoControlField::numbers(const QString& key)
{
    return made(key, Type::Numbers);
}

ZelvoControlField ZelvoControlField::positional(const QString& shownName) const
{
    ZelvoControlField field = *this;
    field.form = Form::Positional;
    field.shown = shownName;
    field.isRequired = true;
    return field;
}

ZelvoControlField ZelvoControlField::rest(const QString& shownName) const
{
    ZelvoControlField field = positional(shownName);
    field.form = Form::Rest;
    return field;
}

ZelvoControlField ZelvoControlField::option(const QString& name, const QString& valueName,
                                            const QString& help) const
{
    ZelvoControlField field = *this;
    field.form = Form::Option;
    field.shown = valueName;
    field.commandLineOption = name;
    field.description = help;
    return field;
}

ZelvoControlField ZelvoControlField::flag(const QString& name, const QString& help) const
{
    ZelvoControlField field = option(name, QString(), help);
    field.form = Form::Flag;
    return field;
}

ZelvoControlField ZelvoControlField::hidden() const
{
    ZelvoControlField field = *this;
    field.form = Form::Hidden;
    return field;
}

ZelvoControlField ZelvoControlField::optional() const
{
    ZelvoControlField field = *this;
    field.isRequired = false;
    return field;
}

ZelvoControlField ZelvoControlField::required() const
{
    ZelvoControlField field = *this;
    field.isRequired = true;
    return field;
}

ZelvoControlField ZelvoControlField::byDefault(const QJsonValue& value) const
{
    ZelvoControlField field = *this;
    field.fallback = value;
    return field;
}

ZelvoControlField ZelvoControlField::inSeconds() const
{
    ZelvoControlField field = *this;
    field.scale = 1000;
    return field;
}

ZelvoControlField ZelvoControlField::delaysAnswer(double millisPerUnit) const
{
    ZelvoControlField field = *this;
    field.answerDelayPerUnit = millisPerUnit;
    return field;
}

ZelvoControlField ZelvoControlField::toolOnly() const
{
    ZelvoControlField field = *this;
    field.sent = false;
    return field;
}

bool ZelvoControlField::accepts(const QJsonValue& value) const
{
    switch (type) {
    case Type::Text:
        return value.isString() && (noun.isEmpty() || !value.toString().isEmpty());
    case Type::Path:
        return value.isString() && value.toString().startsWith(QLatin1Char('/'));
    case Type::Choice:
        return value.isString() && choices.contains(value.toString());
    case Type::Switch:
        return value.isBool();
    case Type::Whole:
        return value.isDouble() && isWithin(*this, value.toDouble()) && value.toDouble() == std::floor(value.toDouble());
    case Type::Number:
        return value.isDouble() && isWithin(*this, value.toDouble());
    case Type::Numbers:
        if (!value.isArray())
            return false;
        for (const QJsonValue element : value.toArray()) {
            if (!element.isDouble() || !(std::fabs(element.toDouble()) <= FLT_MAX))
                return false;
        }
        return true;
    }
    return false;
}

QString ZelvoControlField::expected(bool commandLine) const
{
    const double unit = commandLine ? scale : 1;
    const QString bounds = (exclusiveMinimum ? QStringLiteral("above %1 up to %2") : QStringLiteral("from %1 to %2"))
                               .arg(shortNumber(minimum / unit), shortNumber(maximum / unit));
    switch (type) {
    case Type::Text:
        return noun.isEmpty() ? QStringLiteral("a text") : noun;
    case Type::Path:
        return commandLine ? QStringLiteral("a file name") : QStringLiteral("an absolute path");
    case Type::Choice:
        return listed(choices, !commandLine);
    case Type::Switch:
        return commandLine ? QStringLiteral("on or off") : QStringLiteral("true or false");
    case Type::Whole:
        // Seconds on the command line may have fractions; the request takes
        // whole milliseconds.
        return (unit == 1 ? QStringLiteral("a whole number ") : QStringLiteral("a number ")) + bounds;
    case Type::Number:
        return QStringLiteral("a number ") + bounds;
    case Type::Numbers:
        return QStringLiteral("numbers that fit a float");
    }
    return QString();
}

QString ZelvoControlField::commandLineName() const
{
    return isOption() ? QStringLiteral("--") + commandLineOption : shown;
}

QString ZelvoControlField::usage() const
{
    switch (form) {
    case Form::Positional:
        return isRequired ? shown : QLatin1Char('[') + shown + QLatin1Char(']');
    case Form::Rest:
        return shown;
    case Form::Option:
    case Form::Flag: {
        const QString spelled = form == Form::Flag ? commandLineName() : commandLineName() + QLatin1Char(' ') + shown;
        return isRequired ? spelled : QLatin1Char('[') + spelled + QLatin1Char(']');
    }
    case Form::Hidden:
        break;
    }
    return QString();
}

QJsonValue ZelvoControlField::fromCommandLine(const QString& text) const
{
    switch (type) {
    case Type::Switch:
        if (text == QLatin1String("on") || text == QLatin1String("off"))
            return text == QLatin1String("on");
        return QJsonValue::Undefined;
    case Type::Whole:
    case Type::Number: {
        bool ok = false;
        const double value = text.toDouble(&ok) * scale;
        if (!ok)
            return QJsonValue::Undefined;
        // Seconds with fractions become whole milliseconds.
        return scale != 1 && type == Type::Whole ? std::round(value) : value;
    }
    case Type::Numbers: {
        bool ok = false;
        const double value = text.toDouble(&ok);
        return ok ? QJsonValue(value) : QJsonValue(QJsonValue::Undefined);
    }
    case Type::Path:
        return QFileInfo(text).absoluteFilePath();
    default:
        return text;
    }
}
