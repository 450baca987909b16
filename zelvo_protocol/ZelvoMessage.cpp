#include "ZelvoMessage.h"

#include "ZelvoJson.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <utility>

ZelvoMessage ZelvoMessage::decode(const QByteArray& payload)
{
    QJsonParseError error{};
    const QJsonDocument document = ZelvoJson::parse(payload, &error);
    ZelvoMessage message = fromAction(ZelvoAction(document.object().toVariantMap()));
    message.payload = payload;
    if (message.action.args.isEmpty())
        message.fault = error.error != QJsonParseError::NoError ? Fault::NotJson
            : !document.isObject()                              ? Fault::NotObject
                                                                : Fault::NoCommandType;
    return message;
}

ZelvoMessage ZelvoMessage::fromAction(const ZelvoAction& action)
{
    ZelvoMessage message;
    message.action = action;
    const QString type = action.commandType();
    const QString appId = action.args.value(QStringLiteral("appId")).toString();
    if (type == commandZelvoConfig) {
        bool minClamped = false;
        bool maxClamped = false;
        message.kind = Kind::Timing;
        message.timing.minMillis = action.intArg(QStringLiteral("minPersistingTimeMillis"), &minClamped);
        message.timing.maxMillis = action.intArg(QStringLiteral("maxPersistingTimeMillis"), &maxClamped);
        message.timing.clamped = minClamped || maxClamped;
    } else if (type == commandAgentConfig) {
        message.kind = Kind::AgentConfig;
        message.agentConfig = {appId, action.args.value(QStringLiteral("images")).toStringList()};
    } else if (type == commandAgentContent) {
        message.kind = Kind::Content;
        ZelvoContent& content = message.content;
        content.agentHash = appId;
        content.contentId = action.intArg(QStringLiteral("contentId"), &content.contentIdClamped);
        content.layoutId = action.args.value(QStringLiteral("layoutId")).toString();
        content.imageIds = action.args.value(QStringLiteral("images.id")).toStringList();
        content.texts = action.args.value(QStringLiteral("texts")).toStringList();
        content.textCharacters.reserve(content.texts.size());
        for (const QString& text : std::as_const(content.texts))
            content.textCharacters.append(ZelvoContent::characterCount(text));
    }
    message.fault = message.kind != Kind::Invalid ? Fault::None
        : type.isEmpty()                         ? Fault::NoCommandType
                                                 : Fault::UnknownCommandType;
    message.lint = action.lint();
    return message;
}

qsizetype ZelvoContent::characterCount(QStringView text)
{
    qsizetype pairs = 0;
    for (qsizetype i = 1; i < text.size(); ++i)
        pairs += text[i - 1].isHighSurrogate() && text[i].isLowSurrogate();
    return text.size() - pairs;
}
