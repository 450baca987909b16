#include "comm/ZelvoConnection.h"

#include "ZelvoAction.h"
#include "ZelvoFrame.h"
#include "ZelvoLog.h"
#include "ZelvoMessage.h"
#include "clock/ZelvoClock.h"
#include "comm/ZelvoReceiver.h"
#include "comm/ZelvoSender.h"
#include "comm/ZelvoServer.h"
#include "comm/ZelvoSocket.h"
#include "record/ZelvoRecorder.h"
#include "util/ZelvoMemory.h"

#include <QDebug>
#include <QMap>
#include <QString>
#include <QTcpSocket>

#include <utility>

namespace {
constexpr qint64 heldManyBytes = 64 * 1024;
constexpr qint64 strangerUnsentShare = 1024 * 1024;
}

ZelvoConnection::ZelvoConnection(ZelvoServer* server, QTcpSocket* socket, int number, ZelvoClock* clock,
                                 ZelvoRecorder* recorder, ZelvoImageWriter* pictures)
    : tcpSocket(socket)
    , server(server)
    , deviceClock(clock)
    , messageRecorder(recorder)
    , pictures(pictures)
    , peerName(socket ? QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort()) : QString())
    , connectionNumber(number)
{
    qCDebug(zelvoLinkLog) << "\033[94mZelvoConnection::ZelvoConnection \033[0m";
}

ZelvoConnection::~ZelvoConnection()
{
    qCDebug(zelvoLinkLog) << "Invoked Destructor of ZelvoConnection";
    // Events an agent never read stay with the C library once freed; many
    // such agents would leave the emulator tens of megabytes larger.
    const bool heldMany = zelvoSocket && zelvoSocket->largestBacklog() > heldManyBytes;
    zelvoSocket.reset();
    if (heldMany)
        ZelvoMemory::giveBackSoon();
}

void ZelvoConnection::falseRun()
{
    qCDebug(zelvoLinkLog) << "ZelvoConnection::falseRun 1";
    zelvoReceiver = std::make_unique<ZelvoReceiver>(server, pictures);
    zelvoSocket = std::make_unique<ZelvoSocket>(tcpSocket, server->frameBudget(), deviceClock);
    zelvoSender = std::make_unique<ZelvoSender>(zelvoSocket.get(), deviceClock, server->linkDelay());
    ZelvoSocket* socket = zelvoSocket.get();
    connect(socket, &ZelvoSocket::dataReceived, zelvoReceiver.get(), &ZelvoReceiver::onDataReceived);
    connect(socket, &ZelvoSocket::frameAnnounced, zelvoReceiver.get(), &ZelvoReceiver::onFrameAnnounced);
    connect(socket, &ZelvoSocket::frameSkipped, this, &ZelvoConnection::recordSkippedFrame);
    connect(socket, &ZelvoSocket::disconnected, this, &ZelvoConnection::onSocketDisconnected);
    connect(socket, &ZelvoSocket::drained, this, &ZelvoConnection::deleteIfDone);
    // A frame comes after every timer due by now, however the bytes were
    // cut: one write of two contents is two contents a moment apart.
    connect(zelvoReceiver.get(), &ZelvoReceiver::decoded, this, [this](const ZelvoMessage& message) {
        deviceClock->catchUp();
        recordFrame(message);
    });
    connect(zelvoReceiver.get(), &ZelvoReceiver::ready, this, &ZelvoConnection::onMessage);
    connect(zelvoReceiver.get(), &ZelvoReceiver::fullChanged, socket, &ZelvoSocket::setPaused);
    connect(zelvoReceiver.get(), &ZelvoReceiver::emptied, this, &ZelvoConnection::deleteIfDone);
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

qint64 ZelvoConnection::unsentShare() const
{
    return introduced ? ZelvoFrame::maxUnsentSize : strangerUnsentShare;
}

void ZelvoConnection::onLinkDelayChanged(int millis)
{
    if (zelvoSender)
        zelvoSender->setDelay(millis);
}

void ZelvoConnection::cancelPending()
{
    if (!zelvoReceiver)
        return;
    zelvoReceiver->cancel();
    deleteIfDone();
}

void ZelvoConnection::deleteWhenDone()
{
    ended = true;
    deleteIfDone();
}

void ZelvoConnection::deleteIfDone()
{
    if (ended && (!zelvoSocket || !zelvoSocket->hasWaitingFrames()) && (!zelvoReceiver || zelvoReceiver->isEmpty())) {
        ended = false;
        deleteLater();
    }
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

ZelvoRecord::Source ZelvoConnection::sourceOf(const ZelvoMessage& message) const
{
    return {connectionNumber, peerName, message.lint};
}

void ZelvoConnection::onMessage(const ZelvoReceiver::Step& step)
{
    const ZelvoMessage& message = step.message;
    qCDebug(zelvoLinkLog) << "ZelvoConnection::onActionReceived ACTION" << message.action.toString();
    introduced = introduced || message.kind != ZelvoMessage::Kind::Invalid;
    switch (message.kind) {
    case ZelvoMessage::Kind::Timing:
        onZelvoConfig(message);
        break;
    case ZelvoMessage::Kind::AgentConfig:
        onAgentConfig(message, step.stored);
        break;
    case ZelvoMessage::Kind::Content:
        onAgentContent(message);
        break;
    case ZelvoMessage::Kind::Invalid:
        // A frame that is no JSON object with members was recorded as such
        // already; an action of no known type is recorded once more, as
        // the action it is.
        if (!message.action.args.isEmpty()) {
            ZelvoMessage action = message;
            action.payload.clear();
            recordFrame(action);
        }
        break;
    }
}

void ZelvoConnection::recordFrame(const ZelvoMessage& message)
{
    ZelvoRecord record(ZelvoRecord::Direction::In, ZelvoRecord::Kind::FrameReceived, ZelvoRecord::Outcome::Info);
    // A frame is either no action at all, or an action whose own record
    // (without the frame) says whether the emulator acts on its type.
    if (message.fault != ZelvoMessage::Fault::None && (message.action.args.isEmpty() || message.payload.isEmpty())) {
        static const QMap<ZelvoMessage::Fault, ZelvoRecord::Reason> reasons = {
            {ZelvoMessage::Fault::NotJson, ZelvoRecord::Reason::NotJson},
            {ZelvoMessage::Fault::NotObject, ZelvoRecord::Reason::NotObject},
            {ZelvoMessage::Fault::NoCommandType, ZelvoRecord::Reason::NoCommandType},
            {ZelvoMessage::Fault::UnknownCommandType, ZelvoRecord::Reason::UnknownCommandType},
        };
        record.outcome = ZelvoRecord::Outcome::NoAction;
        record.reason = reasons.value(message.fault);
    }
    record.source = sourceOf(message);
    record.agent = message.action.args.value(QStringLiteral("appId")).toString();
    record.commandType = message.action.commandType();
    if (message.kind == ZelvoMessage::Kind::Content) {
        record.contentId = message.content.contentId;
        record.clamped = message.content.contentIdClamped;
    }
    if (message.kind == ZelvoMessage::Kind::Timing)
        record.clamped = message.timing.clamped;
    record.size = message.payload.size();
    record.payload = message.payload;
    messageRecorder->append(std::move(record));
}

void ZelvoConnection::recordSkippedFrame(qint64 size, qint64 limit)
{
    ZelvoRecord record(ZelvoRecord::Direction::In, ZelvoRecord::Kind::FrameReceived, ZelvoRecord::Outcome::NoAction,
                       ZelvoRecord::Reason::FrameTooLarge);
    record.source.connection = connectionNumber;
    record.source.peer = peerName;
    record.size = size;
    record.limit = limit;
    messageRecorder->append(std::move(record));
}

void ZelvoConnection::onZelvoConfig(const ZelvoMessage& message)
{
    server->applyTiming(message.timing, sourceOf(message));
    qCDebug(zelvoLinkLog) << "\033[95mZelvoConnection::onZelvoConfig ~~~ \033[0m";
}

void ZelvoConnection::onAgentConfig(const ZelvoMessage& message, const ZelvoImageWriter::Configuration& stored)
{
    server->applyConfiguration(stored, message.agentConfig.images, sourceOf(message));
    qCDebug(zelvoLinkLog) << "mZelvoConnection::onAgentConfig ~~~ AGENT HASH ~~~ ";
}

void ZelvoConnection::onAgentContent(const ZelvoMessage& message)
{
    const ZelvoContent& content = message.content;
    server->applyContent(content, sourceOf(message));
    qCDebug(zelvoLinkLog).noquote() << "\033[95mZelvoConnection::onAgentContent ~~~ AGENT HASH ~~~"
                                    << QLatin1Char('"') + ZelvoLog::payload(content.agentHash.toUtf8()) + QLatin1Char('"')
                                    << "lay id" << QLatin1Char('"') + ZelvoLog::payload(content.layoutId.toUtf8()) + QLatin1Char('"')
                                    << "images id" << ZelvoLog::payload(content.imageIds) << "texts" << ZelvoLog::payload(content.texts)
                                    << "\033[0m";
}
