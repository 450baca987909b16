#include "web/ZelvoWebViewer.h"

#include "control/ZelvoControlCommands.h"
#include "record/ZelvoRecorder.h"
#include "web/ZelvoWebServer.h"
#include "ZelvoJson.h"
#include "ZelvoLog.h"
#include "ZelvoVocabulary.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QPointer>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>

namespace {

// What the page may ask for: the glasses' buttons, sensors, battery and
// the wearer's head.
// Files, recordings, traces and the link stay with the control channel,
// whose users are the machine's own.
bool isPageCommand(const QString& command)
{
    return command == QLatin1String("button") || command == QLatin1String("sensor")
           || command == QLatin1String("battery") || command == QLatin1String("pose")
           || command == QLatin1String("state");
}

} // namespace

ZelvoWebViewer::ZelvoWebViewer(QWebSocket* socket, ZelvoWebServer* server, const ZelvoRecorder* recorder)
    : QObject(server)
    , socket(socket)
    , server(server)
    , messageRecorder(recorder)
    , flushTimer(new QTimer(this))
{
    socket->setParent(this);
    socket->setMaxAllowedIncomingMessageSize(maxRequestBytes);
    socket->setMaxAllowedIncomingFrameSize(maxRequestBytes);
    // Read a bounded slice at a time, so that one write of many requests is
    // taken apart over several turns of the event loop.
    socket->setReadBufferSize(maxRequestBytes);
    flushTimer->setSingleShot(true);
    flushTimer->setInterval(0);
    connect(flushTimer, &QTimer::timeout, this, &ZelvoWebViewer::flush);
    connect(socket, &QWebSocket::bytesWritten, this, &ZelvoWebViewer::scheduleFlush);
    connect(socket, &QWebSocket::textMessageReceived, this, &ZelvoWebViewer::onRequest);
    connect(socket, &QWebSocket::disconnected, this, &ZelvoWebViewer::onDisconnected);
    connect(server, &ZelvoWebServer::frameChanged, this, &ZelvoWebViewer::scheduleFlush);
    connect(server, &ZelvoWebServer::stateChanged, this, [this] {
        stateDirty = true;
        scheduleFlush();
    });
    connect(messageRecorder, &ZelvoRecorder::appended, this, &ZelvoWebViewer::scheduleFlush);
    connect(messageRecorder, &ZelvoRecorder::cleared, this, [this] {
        recordsCleared = true;
        scheduleFlush();
    });
    const quint64 last = messageRecorder->lastSequence();
    recordSent = last > quint64(recordsAtOnce) ? last - recordsAtOnce : 0;
    scheduleFlush();
}

ZelvoWebViewer::~ZelvoWebViewer() = default;

void ZelvoWebViewer::scheduleFlush()
{
    if (!closing && !flushTimer->isActive())
        flushTimer->start();
}

void ZelvoWebViewer::flush()
{
    if (closing)
        return;
    if (flooded) {
        socket->abort();
        return;
    }
    if (socket->bytesToWrite() > cutOffBytes) {
        qCWarning(zelvoWebLog, "\033[31mZelvoWebViewer::flush a viewer read nothing of %lld bytes, closing it\033[0m",
                 socket->bytesToWrite());
        socket->abort();
        return;
    }
    for (int handled = 0; !requests.isEmpty() && socket->bytesToWrite() <= maxUnsentBytes && !closing; ++handled) {
        if (handled == requestsAtOnce) {
            scheduleFlush();
            break;
        }
        const QString message = requests.dequeue();
        requestBytes -= message.size();
        handleRequest(message);
    }
    if (stateDirty) {
        stateDirty = false;
        socket->sendTextMessage(QString::fromUtf8(QByteArray("{\"type\":\"state\",\"state\":") + server->state() + '}'));
    }
    if (socket->bytesToWrite() > maxUnsentBytes)
        return;
    // The picture first: a record update on its way never holds it back.
    if (frameSent < server->frameNumber() && framesUnshown < maxUnshown) {
        // The part that differs from what the page shows: a content's
        // change is mostly a small part of the display.
        const QByteArray change = server->encodedChange(imageSent);
        frameSent = server->frameNumber();
        imageSent = server->image();
        if (!change.isEmpty()) {
            ++framesUnshown;
            socket->sendBinaryMessage(change);
        }
    }
    if (!recordsUnshown && (recordsCleared || recordSent < messageRecorder->lastSequence())
        && socket->bytesToWrite() <= maxUnsentBytes) {
        // A viewer held back gets the newest records; older ones it missed
        // are in zelvo-ctl log.
        const quint64 last = messageRecorder->lastSequence();
        const quint64 since = std::max(recordSent, last > quint64(recordsAtOnce) ? last - recordsAtOnce : 0);
        QJsonArray records;
        for (const ZelvoRecord& record : messageRecorder->since(since))
            records.append(record.toJson());
        QJsonObject message{{QStringLiteral("type"), QStringLiteral("records")}, {QStringLiteral("records"), records}};
        if (recordsCleared)
            message.insert(QStringLiteral("cleared"), true);
        recordsCleared = false;
        recordSent = last;
        recordsUnshown = true;
        sendText(message);
    }
}

void ZelvoWebViewer::sendText(const QJsonObject& message)
{
    socket->sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

void ZelvoWebViewer::onRequest(const QString& message)
{
    if (closing || flooded)
        return;
    requestBytes += message.size();
    if (requestBytes > maxWaitingRequestBytes) {
        qCWarning(zelvoWebLog, "\033[31mZelvoWebViewer::onRequest a viewer sent %lld bytes of requests while it "
                               "read none of the answers, closing it\033[0m",
                  requestBytes);
        // Closed from the flush, not inside the socket's own signal.
        flooded = true;
        requests.clear();
        requestBytes = 0;
    } else {
        requests.enqueue(message);
    }
    scheduleFlush();
}

void ZelvoWebViewer::handleRequest(const QString& message)
{
    QJsonParseError parseError;
    const QJsonDocument document = ZelvoJson::parse(message.toUtf8(), &parseError);
    const QJsonObject request = document.object();
    const double id = request.value(QStringLiteral("id")).toDouble(-1);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        sendAnswer(id, {}, QStringLiteral("a request is one JSON object"));
        return;
    }
    if (request.contains(QStringLiteral("shown"))) {
        if (request.value(QStringLiteral("shown")).toString() == QLatin1String("records"))
            recordsUnshown = false;
        else
            framesUnshown = std::max(0, framesUnshown - 1);
        scheduleFlush();
        return;
    }
    const QString command = request.value(QStringLiteral("cmd")).toString();
    if (!isPageCommand(command)) {
        sendAnswer(id, {}, QStringLiteral("the page cannot ask for \"%1\"").arg(command));
        return;
    }
    // The answer of a long press comes later; the page may be gone by then.
    QPointer<ZelvoWebViewer> self(this);
    server->controlCommands()->execute(request, [self, id, request](const QJsonObject& results, const QString& error) {
        if (!self)
            return;
        if (error.isEmpty() && request.value(QStringLiteral("cmd")).toString() == QLatin1String("button")) {
            const QString gesture = request.value(QStringLiteral("gesture")).toString();
            const bool plus = request.value(QStringLiteral("button")).toString()
                              == ZelvoVocabulary::buttonName(ZelvoVocabulary::PlusButton);
            if (gesture == QLatin1String("press") && !request.contains(QStringLiteral("hold")))
                (plus ? self->plusHeld : self->minusHeld) = true;
            else if (gesture == QLatin1String("release"))
                (plus ? self->plusHeld : self->minusHeld) = false;
        }
        self->sendAnswer(id, results, error);
    }, this);
}

void ZelvoWebViewer::sendAnswer(double id, const QJsonObject& results, const QString& error)
{
    if (closing)
        return;
    QJsonObject answer = results;
    answer.insert(QStringLiteral("type"), QStringLiteral("answer"));
    answer.insert(QStringLiteral("id"), id);
    answer.insert(QStringLiteral("ok"), error.isEmpty());
    if (!error.isEmpty())
        answer.insert(QStringLiteral("error"), error);
    sendText(answer);
    // What the page did shows at once, not at the next look at the state.
    stateDirty = true;
    scheduleFlush();
}

void ZelvoWebViewer::releaseHeld()
{
    ZelvoControlCommands* commands = server->controlCommands();
    const auto release = [commands](ZelvoVocabulary::Button button) {
        commands->execute({{QStringLiteral("cmd"), QStringLiteral("button")},
                           {QStringLiteral("button"), ZelvoVocabulary::buttonName(button)},
                           {QStringLiteral("gesture"), QStringLiteral("release")}},
                          [](const QJsonObject&, const QString&) {});
    };
    if (plusHeld)
        release(ZelvoVocabulary::PlusButton);
    if (minusHeld)
        release(ZelvoVocabulary::MinusButton);
    plusHeld = minusHeld = false;
}

void ZelvoWebViewer::onDisconnected()
{
    if (closing)
        return;
    closing = true;
    releaseHeld();
    emit closed();
    deleteLater();
}
