#include "comm/ZelvoConnection.h"

#include "ZelvoAction.h"
#include "ZelvoLog.h"
#include "comm/ZelvoReceiver.h"
#include "comm/ZelvoSender.h"
#include "comm/ZelvoServer.h"
#include "comm/ZelvoSocket.h"
#include "record/ZelvoRecorder.h"

#include <QDebug>
#include <QList>
#include <QPointer>
#include <QScopedValueRollback>
#include <QString>
#include <QTcpSocket>

#include <utility>

ZelvoConnection::ZelvoConnection(ZelvoServer* server, QTcpSocket* socket, int number)
    : tcpSocket(socket)
    , server(server)
    , peerName(socket ? QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort()) : QString())
    , connectionNumber(number)
{
    qCDebug(zelvoLinkLog) << "\033[94mZelvoConnection::ZelvoConnection \033[0m";
}

ZelvoConnection::~ZelvoConnection()
{
    qCDebug(zelvoLinkLog) << "Invoked Destructor of ZelvoConnection";
}

std::shared_ptr<ZelvoFrameBudget> ZelvoConnection::frameBudget() const
{
    return server->frameBudget();
}

void ZelvoConnection::falseRun()
{
    qCDebug(zelvoLinkLog) << "ZelvoConnection::falseRun 1";
    zelvoReceiver = std::make_unique<ZelvoReceiver>(this);
    zelvoSender = std::make_unique<ZelvoSender>(this, server->clock());
    zelvoSocket = std::make_unique<ZelvoSocket>(tcpSocket, this, server->clock());
    connect(zelvoSocket.get(), &ZelvoSocket::dataReceived, zelvoReceiver.get(), &ZelvoReceiver::onDataReceived);
    connect(zelvoSocket.get(), &ZelvoSocket::disconnected, this, &ZelvoConnection::onSocketDisconnected);
    qCDebug(zelvoLinkLog) << "ZelvoConnection::falseRun 2";
}

void ZelvoConnection::stop()
{
    qCDebug(zelvoLinkLog) << "ZelvoConnection::stop DONE";
}

bool ZelvoConnection::sendData(const QByteArray& data, bool* dropped)
{
    return zelvoSender && zelvoSender->send(data, dropped);
}

qint64 ZelvoConnection::unsentBytes() const
{
    return zelvoSender ? zelvoSender->unsentBytes() : 0;
}

int ZelvoConnection::linkDelay() const
{
    return server->linkDelay();
}

void ZelvoConnection::onLinkDelayChanged()
{
    if (zelvoSender)
        zelvoSender->onDelayChanged();
}

void ZelvoConnection::holdFrames()
{
    if (zelvoSocket)
        zelvoSocket->holdFrames();
}

void ZelvoConnection::releaseFrames()
{
    if (zelvoSocket)
        zelvoSocket->releaseFrames();
}

void ZelvoConnection::deleteWhenDone()
{
    if (!zelvoSocket || !zelvoSocket->hasWaitingFrames()) {
        deleteLater();
        return;
    }
    connect(zelvoSocket.get(), &ZelvoSocket::drained, this, &QObject::deleteLater, Qt::UniqueConnection);
}

void ZelvoConnection::drop()
{
    if (zelvoSocket && zelvoSocket->socket())
        zelvoSocket->socket()->abort();
}

bool ZelvoConnection::sendCommand(const ZelvoAction& action)
{
    return zelvoSender && zelvoSender->sendCommand(action);
}

void ZelvoConnection::onSocketDisconnected()
{
    emit disconnected();
}

void ZelvoConnection::onClientDone()
{
    stop();
    server->clientDone(this);
}

ZelvoRecord::Source ZelvoConnection::sourceOf(const ZelvoAction& action) const
{
    return {connectionNumber, peerName, action.lint()};
}

void ZelvoConnection::onActionReceived(const ZelvoAction& action)
{
    const QScopedValueRollback<QPointer<ZelvoConnection>> relaying(server->relaying, this);
    const QScopedValueRollback<ZelvoRecord::Source> relayedSource(server->relayedSource, sourceOf(action));
    qCDebug(zelvoLinkLog) << "ZelvoConnection::onActionReceived ACTION" << action.toString();
    const QString type = action.commandType();
    if (type == commandZelvoConfig)
        onZelvoConfig(action);
    else if (type == commandAgentConfig)
        onAgentConfig(action);
    else if (type == commandAgentContent)
        onAgentContent(action);
    else
        recordFrame(QByteArray(), action, ZelvoRecord::Outcome::NoAction,
                    type.isEmpty() ? ZelvoRecord::Reason::NoCommandType : ZelvoRecord::Reason::UnknownCommandType);
}

void ZelvoConnection::recordFrame(const QByteArray& payload, const ZelvoAction& action, ZelvoRecord::Outcome outcome,
                                  ZelvoRecord::Reason reason)
{
    ZelvoRecord record(ZelvoRecord::Direction::In, ZelvoRecord::Kind::FrameReceived, outcome, reason);
    record.source = sourceOf(action);
    record.agent = action.args.value(QStringLiteral("appId")).toString();
    record.commandType = action.commandType();
    if (record.commandType == commandAgentContent)
        record.contentId = action.intArg(QStringLiteral("contentId"), &record.clamped);
    if (record.commandType == commandZelvoConfig) {
        bool minClamped = false;
        bool maxClamped = false;
        action.intArg(QStringLiteral("minPersistingTimeMillis"), &minClamped);
        action.intArg(QStringLiteral("maxPersistingTimeMillis"), &maxClamped);
        record.clamped = minClamped || maxClamped;
    }
    record.size = payload.size();
    record.payload = payload;
    server->recorder()->append(std::move(record));
}

void ZelvoConnection::recordSkippedFrame(qint64 size, qint64 limit)
{
    ZelvoRecord record(ZelvoRecord::Direction::In, ZelvoRecord::Kind::FrameReceived, ZelvoRecord::Outcome::NoAction,
                       ZelvoRecord::Reason::FrameTooLarge);
    record.source.connection = connectionNumber;
    record.source.peer = peerName;
    record.size = size;
    record.limit = limit;
    server->recorder()->append(std::move(record));
}

void ZelvoConnection::onZelvoConfig(const ZelvoAction& action)
{
    const int maxPersistingTimeMillis = action.intArg(QStringLiteral("maxPersistingTimeMillis"));
    const int minPersistingTimeMillis = action.intArg(QStringLiteral("minPersistingTimeMillis"));
    server->onZelvoConfig(minPersistingTimeMillis, maxPersistingTimeMillis);
    qCDebug(zelvoLinkLog) << "\033[95mZelvoConnection::onZelvoConfig ~~~ \033[0m";
}

void ZelvoConnection::onAgentConfig(const ZelvoAction& action)
{
    const QString agentHash = action.args.value(QStringLiteral("appId")).toString();
    const QList<QString> images = action.args.value(QStringLiteral("images")).toStringList();
    server->onAgentConfig(agentHash, images);
    qCDebug(zelvoLinkLog) << "mZelvoConnection::onAgentConfig ~~~ AGENT HASH ~~~ ";
}

void ZelvoConnection::onAgentContent(const ZelvoAction& action)
{
    const QString agentHash = action.args.value(QStringLiteral("appId")).toString();
    const QString layId = action.args.value(QStringLiteral("layoutId")).toString();
    const int contentId = action.intArg(QStringLiteral("contentId"));
    const QList<QString> imagesId = action.args.value(QStringLiteral("images.id")).toStringList();
    const QList<QString> texts = action.args.value(QStringLiteral("texts")).toStringList();
    server->onAgentContent(agentHash, contentId, layId, imagesId, texts);
    qCDebug(zelvoLinkLog).noquote() << "\033[95mZelvoConnection::onAgentContent ~~~ AGENT HASH ~~~"
                                    << QLatin1Char('"') + ZelvoLog::payload(agentHash.toUtf8()) + QLatin1Char('"')
                                    << "lay id" << QLatin1Char('"') + ZelvoLog::payload(layId.toUtf8()) + QLatin1Char('"')
                                    << "images id" << ZelvoLog::payload(imagesId) << "texts" << ZelvoLog::payload(texts)
                                    << "\033[0m";
}
