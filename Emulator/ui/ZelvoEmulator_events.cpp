#include "ZelvoEmulator.h"
#include "ZelvoLog.h"
#include "ZelvoServer.h"

#include <QByteArray>
#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace {

// Agents compare buttons and gestures by these numbers.
enum ButtonCode { PlusButton = 0, MinusButton = 1 };
enum GestureCode { Pressed = 0, Released = 1, Clicked = 2, LongPressed = 3 };

// Agents parse the values as text with three decimals and never in exponent
// form, whatever the magnitude.
QString valueText(float value)
{
    return QString::number(double(value), 'f', 3);
}

} // namespace

void ZelvoEmulator::dispatchSensorEvent(const ZelvoEvent& event, const QString& appId, int contentId)
{
    QJsonArray values;
    for (float value : event.values)
        values.append(valueText(value));

    const QJsonObject data{
        {QStringLiteral("type"), event.type},
        {QStringLiteral("values"), values},
    };
    // QJsonObject writes its keys in ascending order and its indented form
    // is byte for byte the one the glasses send, final line break included.
    const QJsonObject message{
        {QStringLiteral("appId"), appId},
        {QStringLiteral("contentId"), QString::number(contentId)},
        {QStringLiteral("data"), data},
        {QStringLiteral("what_changed"), QStringLiteral("event")},
    };
    const QByteArray text = QJsonDocument(message).toJson(QJsonDocument::Indented);

    qCDebug(zelvoLog).noquote() << QStringLiteral("### dispatchSensorEvent ->  EVENT: ") + QString::fromUtf8(text);
    server->sendMessageToClients(text);
}

void ZelvoEmulator::broadcastSensorEvent(const ZelvoEvent& event)
{
    dispatchSensorEvent(event, QString(), -1);
}

void ZelvoEmulator::sendButtonEvent(int button, int gesture)
{
    ZelvoEvent event(ZelvoEvent::ButtonEvent);
    event.values[0] = float(button);
    event.values[1] = float(gesture);
    dispatchSensorEvent(event, currentAgentHash, currentContentId);
}

void ZelvoEmulator::onPlusPressed()
{
    // Holding plus shows the status strip, as on the glasses, but never over
    // an agent's content.
    if (!contentOnDisplay)
        updateDisplay(contentImage, true);
    qCDebug(zelvoLog) << (server->connections().isEmpty() ? "Disconnected" : "Connected");
    sendButtonEvent(PlusButton, Pressed);
}

void ZelvoEmulator::onPlusReleased()
{
    if (!contentOnDisplay)
        updateDisplay(contentImage, false);
    sendButtonEvent(PlusButton, Released);
}

void ZelvoEmulator::onPlusClicked()
{
    sendButtonEvent(PlusButton, Clicked);
}

void ZelvoEmulator::onPlusLongPressed()
{
    sendButtonEvent(PlusButton, LongPressed);
}

void ZelvoEmulator::onMinusPressed()
{
    sendButtonEvent(MinusButton, Pressed);
}

void ZelvoEmulator::onMinusReleased()
{
    sendButtonEvent(MinusButton, Released);
}

void ZelvoEmulator::onMinusClicked()
{
    sendButtonEvent(MinusButton, Clicked);
}

void ZelvoEmulator::onMinusLongPressed()
{
    sendButtonEvent(MinusButton, LongPressed);
}
