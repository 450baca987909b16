#pragma once

#include <QList>
#include <QString>

class QByteArray;

// The JSON payloads of the three actions an agent sends, each one frame.
class AgentMessages final
{
public:
    AgentMessages() = delete;

    static QByteArray zelvoConfig(int minPersistingTimeMillis, int maxPersistingTimeMillis);
    // images: the file bytes of each picture, ZI or PNG.
    static QByteArray agentConfig(const QString& agentHash, const QList<QByteArray>& images);
    static QByteArray agentContent(const QString& agentHash, const QString& layoutId, int contentId,
                                   const QList<QString>& imageIds, const QList<QString>& texts);
};
