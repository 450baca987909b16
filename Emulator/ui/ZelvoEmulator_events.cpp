#include "ui/ZelvoEmulator.h"
#include "ZelvoEventMessage.h"
#include "ZelvoLog.h"
#include "comm/ZelvoServer.h"
#include "record/ZelvoRecorder.h"
#include "ZelvoVocabulary.h"

#include <QByteArray>
#include <QDebug>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <iterator>
#include <utility>

void ZelvoEmulator::dispatchSensorEvent(const ZelvoEvent& event, const QString& appId, int contentId, bool fromPose)
{
    const QByteArray text = ZelvoEventMessage::encode(event.type, event.values, appId, contentId);
    qCDebug(zelvoLinkLog).noquote() << QStringLiteral("### dispatchSensorEvent ->  EVENT: ") + QString::fromUtf8(text);
    const QStringList dropped = server->sendMessageToClients(text);

    ZelvoRecord record(ZelvoRecord::Direction::Out, ZelvoRecord::Kind::EventSent, ZelvoRecord::Outcome::Sent);
    record.agent = appId;
    record.contentId = contentId;
    record.eventType = event.type;
    record.fromPose = fromPose;
    record.eventValues.emplace();
    std::copy(std::begin(event.values), std::end(event.values), record.eventValues->begin());
    record.agents = server->connections().size() - dropped.size();
    // Sent to no one but dropped for some: only the drops are news.
    if (record.agents > 0 || dropped.isEmpty())
        messageRecorder->append(record);
    record.outcome = ZelvoRecord::Outcome::Dropped;
    record.reason = ZelvoRecord::Reason::DelayedEventsFull;
    record.agents = 0;
    for (const QString& peer : dropped) {
        record.source.peer = peer;
        messageRecorder->append(record);
    }
}

void ZelvoEmulator::broadcastSensorEvent(const ZelvoEvent& event)
{
    dispatchSensorEvent(event, QString(), -1);
}

void ZelvoEmulator::sendButtonEvent(int button, int gesture)
{
    ZelvoEvent event(ZelvoVocabulary::ButtonEvent);
    event.values[0] = float(button);
    event.values[1] = float(gesture);
    dispatchSensorEvent(event, currentAgentHash, currentContentId);
}

void ZelvoEmulator::onPlusPressed()
{
    // Holding plus shows the status strip, as on the glasses, but never over
    // an agent's content.
    if (!contentOnDisplay)
        redrawStatusStrip(true);
    qCDebug(zelvoLinkLog) << (server->connections().isEmpty() ? "Disconnected" : "Connected");
    sendButtonEvent(ZelvoVocabulary::PlusButton, ZelvoVocabulary::Pressed);
}

void ZelvoEmulator::onPlusReleased()
{
    if (!contentOnDisplay)
        redrawStatusStrip(false);
    sendButtonEvent(ZelvoVocabulary::PlusButton, ZelvoVocabulary::Released);
}

void ZelvoEmulator::onPlusClicked()
{
    sendButtonEvent(ZelvoVocabulary::PlusButton, ZelvoVocabulary::Clicked);
}

void ZelvoEmulator::onPlusLongPressed()
{
    sendButtonEvent(ZelvoVocabulary::PlusButton, ZelvoVocabulary::LongPressed);
}

void ZelvoEmulator::onMinusPressed()
{
    sendButtonEvent(ZelvoVocabulary::MinusButton, ZelvoVocabulary::Pressed);
}

void ZelvoEmulator::onMinusReleased()
{
    sendButtonEvent(ZelvoVocabulary::MinusButton, ZelvoVocabulary::Released);
}

void ZelvoEmulator::onMinusClicked()
{
    sendButtonEvent(ZelvoVocabulary::MinusButton, ZelvoVocabulary::Clicked);
}

void ZelvoEmulator::onMinusLongPressed()
{
    sendButtonEvent(ZelvoVocabulary::MinusButton, ZelvoVocabulary::LongPressed);
}
