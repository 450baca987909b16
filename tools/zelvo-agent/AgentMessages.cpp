#include "AgentMessages.h"

#include "ZelvoAction.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace {

QByteArray toPayload(const QJsonObject& action)
{
    return QJsonDocument(action).toJson(QJsonDocument::Compact);
}

} // namespace

QByteArray AgentMessages::zelvoConfig(int minPersistingTimeMillis, int maxPersistingTimeMillis)
{
    return toPayload({
        {QStringLiteral("command.type"), commandZelvoConfig},
        {QStringLiteral("minPersistingTimeMillis"), minPersistingTimeMillis},
        {QStringLiteral("maxPersistingTimeMillis"), maxPersistingTimeMillis},
    });
}

QByteArray AgentMessages::agentConfig(const QString& agentHash, const QList<QByteArray>& images)
{
    QJsonArray encoded;
    for (const QByteArray& image : images)
        encoded.append(QString::fromLatin1(image.toBase64()));
    return toPayload({
        {QStringLiteral("command.type"), commandAgentConfig},
        {QStringLiteral("appId"), agentHash},
        {QStringLiteral("images"), encoded},
    });
}

QByteArray AgentMessages::agentContent(const QString& agentHash, const QString& layoutId, int contentId,
                                       const QList<QString>& imageIds, const QList<QString>& texts)
{
    return toPayload({
        {QStringLiteral("command.type"), commandAgentContent},
        {QStringLiteral("appId"), agentHash},
        {QStringLiteral("layoutId"), layoutId},
        {QStringLiteral("contentId"), contentId},
        {QStringLiteral("images.id"), QJsonArray::fromStringList(imageIds)},
        {QStringLiteral("texts"), QJsonArray::fromStringList(texts)},
    });
}
