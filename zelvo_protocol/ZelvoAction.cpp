#include "ZelvoAction.h"

#include <QDataStream>
#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

namespace {

constexpr int streamVersion = QDataStream::Qt_4_6;

// Digits after an optional sign: an integer, however long.
bool isIntegerText(const QString& text)
{
    const int from = text.startsWith(QLatin1Char('-')) || text.startsWith(QLatin1Char('+')) ? 1 : 0;
    if (text.size() == from)
        return false;
    for (int i = from; i < text.size(); ++i) {
        if (text.at(i) < QLatin1Char('0') || text.at(i) > QLatin1Char('9'))
            return false;
    }
    return true;
}

// The whole number Qt's variant makes of the value before it cuts it to
// an int: a double rounded half up (2.5 to 3, -2.5 to -2), text read as an
// integer only; false when it makes none.
bool wholeNumber(const QVariant& value, double* whole)
{
    const int type = value.userType();
    if (type == QMetaType::Double || type == QMetaType::Float) {
        *whole = std::floor(value.toDouble() + 0.5);
        return true;
    }
    if (type == QMetaType::QString) {
        const QString text = value.toString().trimmed();
        bool ok = false;
        *whole = double(text.toLongLong(&ok));
        // Past 64 bits Qt reads no number at all; it is still one.
        if (!ok && isIntegerText(text)) {
            *whole = text.startsWith(QLatin1Char('-')) ? -HUGE_VAL : HUGE_VAL;
            ok = true;
        }
        return ok;
    }
    bool ok = false;
    *whole = double(value.toLongLong(&ok));
    return ok;
}

// How a command type reads a member.
enum class Reading { Number, Text, LayoutNumber, TextList };

struct Member
{
    const char* key;
    Reading reading;
};

// The members each command type reads. Every type is taken to read
// "appId": the record names the agent by it.
const Member zelvoConfigMembers[] = {
    {"command.type", Reading::Text},
    {"appId", Reading::Text},
    {"minPersistingTimeMillis", Reading::Number},
    {"maxPersistingTimeMillis", Reading::Number},
};
const Member agentConfigMembers[] = {
    {"command.type", Reading::Text},
    {"appId", Reading::Text},
    {"images", Reading::TextList},
};
const Member agentContentMembers[] = {
    {"command.type", Reading::Text},
    {"appId", Reading::Text},
    {"contentId", Reading::Number},
    {"layoutId", Reading::LayoutNumber},
    {"images.id", Reading::TextList},
    {"texts", Reading::TextList},
};

// Values are shown in sentences: a long text or a list of pictures is cut.
constexpr int shownTextChars = 40;
constexpr int shownListChars = 80;

QString scalarJson(const QJsonValue& value)
{
    const QByteArray json = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(json.mid(1, json.size() - 2));
}

// The value as short JSON text: texts and lists cut with an ellipsis,
// objects as {…}; never the whole of megabytes of pictures.
QString shortJson(const QVariant& value)
{
    switch (value.userType()) {
    case QMetaType::QString: {
        const QString text = value.toString();
        return text.size() > shownTextChars ? scalarJson(text.left(shownTextChars) + QChar(0x2026)) : scalarJson(text);
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        QString shown = QStringLiteral("[");
        const QVariantList items = value.toList();
        for (const QVariant& item : items) {
            if (shown.size() > shownListChars) {
                shown += QChar(0x2026);
                break;
            }
            shown += (shown.size() > 1 ? QStringLiteral(",") : QString()) + shortJson(item);
        }
        return shown + QLatin1Char(']');
    }
    case QMetaType::QVariantMap:
        return value.toMap().isEmpty() ? QStringLiteral("{}") : QStringLiteral("{%1}").arg(QChar(0x2026));
    default:
        return scalarJson(QJsonValue::fromVariant(value));
    }
}

bool isNumber(const QVariant& value)
{
    switch (value.userType()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return true;
    default:
        return false;
    }
}

bool isTextList(const QVariant& value)
{
    if (value.userType() == QMetaType::QStringList)
        return true;
    if (value.userType() != QMetaType::QVariantList)
        return false;
    const QVariantList items = value.toList();
    return std::all_of(items.cbegin(), items.cend(),
                       [](const QVariant& item) { return item.userType() == QMetaType::QString; });
}

template <size_t count>
void lintMembers(const ZelvoAction& action, const Member (&members)[count], ZelvoAction::Lint* lint)
{
    const QVariantMap& args = action.args;
    for (auto it = args.cbegin(); it != args.cend(); ++it) {
        const bool read = std::any_of(std::begin(members), std::end(members),
                                      [&it](const Member& member) { return it.key() == QLatin1String(member.key); });
        if (!read)
            lint->ignored.append(it.key());
    }
    for (const Member& member : members) {
        const QString key = QLatin1String(member.key);
        const auto found = args.constFind(key);
        if (found == args.cend())
            continue;
        const QVariant& given = found.value();
        QVariant taken;
        bool asWritten = false;
        switch (member.reading) {
        case Reading::Number: {
            const int whole = action.intArg(key);
            taken = whole;
            asWritten = isNumber(given) && double(whole) == given.toDouble();
            break;
        }
        case Reading::Text:
            taken = given.toString();
            asWritten = given.userType() == QMetaType::QString;
            break;
        case Reading::LayoutNumber: {
            // Empty, the content is dropped for want of a layout; otherwise
            // the text is read as the layout's number, 0 when it is none.
            const QString text = given.toString();
            const int layout = text.toInt();
            taken = text.isEmpty() ? QVariant(text) : QVariant(layout);
            asWritten = given.userType() == QMetaType::QString && (text.isEmpty() || QString::number(layout) == text);
            break;
        }
        case Reading::TextList:
            taken = given.toStringList();
            asWritten = isTextList(given);
            break;
        }
        if (!asWritten)
            lint->coerced.append({key, shortJson(given), shortJson(taken)});
    }
}

} // namespace

ZelvoAction::ZelvoAction(const QVariantMap& args)
    : args(args)
{
}

QString ZelvoAction::commandType() const
{
    return args.value(QStringLiteral("command.type")).toString();
}

int ZelvoAction::intArg(const QString& key, bool* clamped) const
{
    const QVariant value = args.value(key);
    double whole = 0;
    const bool outside = wholeNumber(value, &whole)
        && (whole > std::numeric_limits<int>::max() || whole < std::numeric_limits<int>::min());
    if (clamped)
        *clamped = outside;
    if (outside)
        return whole > 0 ? std::numeric_limits<int>::max() : std::numeric_limits<int>::min();
    // Qt 5 rounds a number's halves up, -2.5 to -2; Qt 6's toInt() rounds
    // them away from zero. Agents see Qt 5's.
    const int type = value.userType();
    if (type == QMetaType::Double || type == QMetaType::Float)
        return int(whole);
    return value.toInt();
}

ZelvoAction::Lint ZelvoAction::lint() const
{
    Lint lint;
    const QString type = commandType();
    if (type == commandZelvoConfig)
        lintMembers(*this, zelvoConfigMembers, &lint);
    else if (type == commandAgentConfig)
        lintMembers(*this, agentConfigMembers, &lint);
    else if (type == commandAgentContent)
        lintMembers(*this, agentContentMembers, &lint);
    return lint;
}

QString ZelvoAction::shownValue(const QVariant& value)
{
    return shortJson(value);
}

QString ZelvoAction::toString() const
{
    QString text = QStringLiteral("[ZelvoAction]\n###Args:\n(%1) :").arg(args.size());
    for (auto it = args.cbegin(); it != args.cend(); ++it)
        text += QLatin1Char('\n') + it.key() + QLatin1String(" : ") + it.value().toString();
    return text;
}

void ZelvoAction::serialize(QDataStream& stream) const
{
    stream.setVersion(streamVersion);
    stream << qint32(args.size());
    for (auto it = args.cbegin(); it != args.cend(); ++it)
        stream << it.key() << it.value();
}

int ZelvoAction::deserialize(QDataStream& stream)
{
    stream.setVersion(streamVersion);
    qint32 count = 0;
    stream >> count;
    int read = 0;
    // The count comes from outside: a truncated or hostile stream ends the
    // loop by its status, not after count failed reads.
    for (; read < count; ++read) {
        QString key;
        QVariant value;
        stream >> key >> value;
        if (stream.status() != QDataStream::Ok)
            break;
        args.insert(key, value);
    }
    return read;
}

QByteArray ZelvoAction::toBinary() const
{
    QByteArray binary;
    QDataStream stream(&binary, QIODevice::WriteOnly);
    serialize(stream);
    return binary;
}
