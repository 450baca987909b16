#include "ui/ZelvoEmulator.h"
#include "ZelvoLog.h"
#include "comm/ZelvoServer.h"
#include "record/ZelvoRecorder.h"
#include "ZelvoVocabulary.h"

#include <QByteArray>
#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

// Agents parse the values as text with three decimals and never in exponent
// form, whatever the magnitude.
QByteArray valueText(float value)
{
    return QByteArray::number(double(value), 'f', 3);
}

// A JSON string as QJsonDocument writes it. Printable ASCII other than the
// quote and the backslash stands for itself; any other text takes
// QJsonDocument's own escaping, which keeps the bytes exactly its own.
QByteArray jsonString(const QString& text)
{
    const bool plain = std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return c.unicode() >= 0x20 && c.unicode() < 0x80 && c != QLatin1Char('"') && c != QLatin1Char('\\');
    });
    if (plain)
        return '"' + text.toLatin1() + '"';
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

} // namespace

void ZelvoEmulator::dispatchSensorEvent(const ZelvoEvent& event, const QString& appId, int contentId, bool fromPose)
{
    // Byte for byte the indented form of QJsonDocument, which is the one the
    // glasses send: keys in ascending order, final line break included.
    // Written directly, as a QJsonObject and its document cost several
    // times more than the message's few lines.
    QByteArray text = "{\n"
                      "    \"appId\": " + jsonString(appId) + ",\n"
                      "    \"contentId\": \"" + QByteArray::number(contentId) + "\",\n"
                      "    \"data\": {\n"
                      "        \"type\": " + QByteArray::number(event.type) + ",\n"
                      "        \"values\": [\n";
    const int count = int(std::size(event.values));
    for (int i = 0; i < count; ++i)
        text += "            \"" + valueText(event.values[i]) + (i + 1 < count ? "\",\n" : "\"\n");
    text += "        ]\n"
            "    },\n"
            "    \"what_changed\": \"event\"\n"
            "}\n";

    qCDebug(zelvoLinkLog).noquote() << QStringLiteral("### dispatchSensorEvent ->  EVENT: ") + QString::fromUtf8(text);
    const QStringList dropped = server->sendMessageToClients(text);

    ZelvoRecord record(ZelvoRecord::Direction::Out, ZelvoRecord::Kind::EventSent, ZelvoRecord::Outcome::Sent);
    record.agent = appId;
    record.contentId = contentId;
    record.eventType = event.type;
    record.fromPose = fromPose;
    std::copy(std::begin(event.values), std::end(event.values), record.eventValues.begin());
    record.agents = server->connections().size() - dropped.size();
    // Sent to no one but dropped for some: only the drops are news.
    if (record.agents > 0 || dropped.isEmpty())
        server->recorder()->append(record);
    record.outcome = ZelvoRecord::Outcome::Dropped;
    record.reason = ZelvoRecord::Reason::DelayedEventsFull;
    record.agents = 0;
    for (const QString& peer : dropped) {
        record.source.peer = peer;
        server->recorder()->append(record);
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
