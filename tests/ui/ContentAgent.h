#pragma once

#include "../util/TestFiles.h"
#include "AgentProbe.h"
#include "ZIImage.h"
#include "ZIImageUtil.h"
#include "ZelvoServer.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QPainter>
#include <QSignalSpy>
#include <QStandardPaths>
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

    // Where the emulator keeps the images of the agent with this hash.
    static QString imageDirectory(const QString& hash)
    {
        return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) + QStringLiteral("/Zelvo/")
            + hash;
    }

    // Opaque, so that composing the display cannot round any pixel: white,
    // the left half in color, the lower right quarter blue, a black
    // diagonal. As ZI, green gives lit pixels and everything else background.
    static QImage picture(int width, int height, const QColor& color)
    {
        QImage image(width, height, QImage::Format_ARGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.fillRect(0, 0, width / 2, height, color);
        painter.fillRect(width / 2, height / 2, width - width / 2, height - height / 2, Qt::blue);
        painter.drawLine(0, 0, width - 1, height - 1);
        return image;
    }

    static QByteArray ziPayload(int width, int height)
    {
        return ZIImageUtil::ziCompress(picture(width, height, Qt::green)).toByteArray();
    }

    static QByteArray pngPayload(int width, int height)
    {
        return TestFiles::png(picture(width, height, QColor(200, 90, 10)));
    }

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
