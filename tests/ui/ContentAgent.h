#pragma once

#include "AgentProbe.h"
#include "ZelvoServer.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QSignalSpy>
#include <QString>
#include <QStringList>

// An agent that configures itself and shows content, over a real loopback
// socket. Each call returns once the server has relayed the action: the
// window's slot, connected before any test spy, has then run to its end.
class ContentAgent final
{
public:
    explicit ContentAgent(ZelvoServer& server)
        : server(server)
        , probe(server)
    {
    }

    bool isServed() { return AgentProbe::waitUntilServed(server, {&probe}); }

    bool setPersistingTimes(int minMillis, int maxMillis)
    {
        return sendAndWait(&ZelvoServer::zelvoConfigReceived,
                           {{"command.type", "zelvo_config"},
                            {"minPersistingTimeMillis", minMillis},
                            {"maxPersistingTimeMillis", maxMillis}});
    }

    // Payloads are the image files' bytes; they travel in Base64.
    bool configure(const QString& hash, const QList<QByteArray>& payloads)
    {
        QJsonArray images;
        for (const QByteArray& payload : payloads)
            images.append(QString::fromLatin1(payload.toBase64()));
        return sendAndWait(&ZelvoServer::agentConfigReceived,
                           {{"command.type", "agent_config"}, {"appId", hash}, {"images", images}});
    }

    bool show(const QString& hash, int contentId, const QString& layId, const QStringList& imageIds,
              const QStringList& texts)
    {
        return sendAndWait(&ZelvoServer::agentContentReceived,
                           {{"command.type", "agent_content"},
                            {"appId", hash},
                            {"contentId", contentId},
                            {"layoutId", layId},
                            {"images.id", QJsonArray::fromStringList(imageIds)},
                            {"texts", QJsonArray::fromStringList(texts)}});
    }

private:
    template <typename Signal>
    bool sendAndWait(Signal relayed, const QJsonObject& action)
    {
        QSignalSpy spy(&server, relayed);
        probe.sendAction(action);
        return spy.wait(5000);
    }

    ZelvoServer& server;
    AgentProbe probe;
};
