#include "control/ZelvoControlRequest.h"

#include <QJsonArray>

#include <algorithm>

ZelvoControlRequest::ZelvoControlRequest(const QJsonObject& json, const QString& action,
                                         const QList<ZelvoControlField>& fields, QObject* client)
    : json(json)
    , actionName(action)
    , fields(fields)
    , asker(client)
{
}

QJsonValue ZelvoControlRequest::value(const QString& key) const
{
    QJsonValue given = json.value(key);
    if (!given.isUndefined())
        return given;
    const auto field = std::find_if(fields.cbegin(), fields.cend(),
                                    [&key](const ZelvoControlField& each) { return each.key == key; });
    Q_ASSERT_X(field != fields.cend(), "ZelvoControlRequest", "an operation reads a field its command does not declare");
    return field == fields.cend() ? QJsonValue() : field->fallback;
}

QString ZelvoControlRequest::text(const QString& key) const
{
    return value(key).toString();
}

bool ZelvoControlRequest::isOn(const QString& key) const
{
    return value(key).toBool();
}

int ZelvoControlRequest::whole(const QString& key) const
{
    return int(value(key).toDouble());
}

double ZelvoControlRequest::number(const QString& key) const
{
    return value(key).toDouble();
}

QJsonArray ZelvoControlRequest::numbers(const QString& key) const
{
    return value(key).toArray();
}
