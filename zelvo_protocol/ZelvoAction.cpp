#include "ZelvoAction.h"

#include <QDataStream>
#include <QIODevice>

#include <cmath>
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
