#include "ZelvoAction.h"

#include <QDataStream>
#include <QIODevice>

#include <limits>

namespace {

constexpr int streamVersion = QDataStream::Qt_4_6;

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
    bool number = false;
    const double asDouble = value.toDouble(&number);
    const bool outside = number
        && (asDouble > std::numeric_limits<int>::max() || asDouble < std::numeric_limits<int>::min());
    if (clamped)
        *clamped = outside;
    if (outside)
        return asDouble > 0 ? std::numeric_limits<int>::max() : std::numeric_limits<int>::min();
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
