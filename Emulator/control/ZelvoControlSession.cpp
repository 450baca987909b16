#include "control/ZelvoControlSession.h"

#include "control/ZelvoControlCommands.h"
#include "ZelvoControlCommand.h"
#include "ZelvoControlToken.h"
#include "ZelvoJson.h"
#include "ZelvoLog.h"
#include "control/ZelvoControlLog.h"
#include "util/ZelvoMemory.h"

#include <QByteArray>
#include <QDebug>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QPointer>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <utility>

namespace {

constexpr int requestsPerTurn = 64;
// A request may cost much (a reading sent to hundreds of agents): a turn
// also ends after this long, whatever it handled.
constexpr qint64 turnMillis = 5;

// Enough of a line's start to see past the white space before its object.
constexpr qint64 requestStartBytes = 64;

} // namespace

ZelvoControlSession::ZelvoControlSession(QTcpSocket* socket, ZelvoControlCommands* commands, ZelvoRecorder* recorder,
                                         const ZelvoControlToken* token, Admission admit, QObject* parent)
    : QObject(parent)
    , socket(socket)
    , commands(commands)
    , messageRecorder(recorder)
    , token(token)
    , admit(std::move(admit))
    , authTimer(new QTimer(this))
{
    socket->setParent(this);
    // Qt stops reading from the network when this much waits unread: with
    // no line end in it, the line is too long.
    socket->setReadBufferSize(maxLineLength + 1);
    connect(socket, &QTcpSocket::readyRead, this, &ZelvoControlSession::processLines);
    // Requests held back while answers waited go on once they are out.
    connect(socket, &QTcpSocket::bytesWritten, this, [this] {
        if (!processing && this->socket->bytesToWrite() <= ZelvoControlLog::maxUnsentBytes)
            processLines();
    });
    connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    authTimer->setSingleShot(true);
    connect(authTimer, &QTimer::timeout, this, [this] {
        refuse(QJsonValue::Null, QStringLiteral("no \"auth\" request within %1 ms").arg(authTimeoutMillis));
    });
    authTimer->start(authTimeoutMillis);
    processLines();
}

ZelvoControlSession::~ZelvoControlSession()
{
    if (heldMany)
        ZelvoMemory::giveBack();
}

void ZelvoControlSession::processLines()
{
    if (turnScheduled)
        return;
    processing = true;
    QElapsedTimer turn;
    turn.start();
    for (int handled = 0;
         !busy && !closing && !following && socket->bytesToWrite() <= ZelvoControlLog::maxUnsentBytes; ++handled) {
        // A client that pipelines many requests has them handled a few at
        // a time, the window and the other clients served in between.
        if (handled == requestsPerTurn || (handled > 0 && turn.elapsed() >= turnMillis)) {
            turnScheduled = true;
            QTimer::singleShot(0, this, [this] {
                turnScheduled = false;
                processLines();
            });
            break;
        }
        if (socket->canReadLine()) {
            QByteArray line = socket->readLine();
            line.chop(1);
            busy = true;
            handle(line);
        } else if (!authenticated && !ZelvoJson::mayBeObject(socket->peek(requestStartBytes))) {
            // An agent that reached this port by mistake sends a frame, with
            // no line end in it: told at once which port this is, not after
            // the time to authenticate, so that its tool can say so.
            refuse(QJsonValue::Null, QStringLiteral("this is the emulator's control channel, which takes one JSON "
                                                    "request a line; agents connect to its agent port"));
        } else if (socket->bytesAvailable() > maxLineLength) {
            refuse(QJsonValue::Null, QStringLiteral("line longer than %1 bytes").arg(maxLineLength));
        } else {
            break;
        }
    }
    processing = false;
}

void ZelvoControlSession::handle(const QByteArray& line)
{
    QJsonParseError parseError;
    const QJsonDocument document = ZelvoJson::parse(line, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        reject(QStringLiteral("bad JSON at offset %1: %2").arg(parseError.offset).arg(parseError.errorString()));
        return;
    }
    if (!document.isObject()) {
        reject(QStringLiteral("a request must be one JSON object"));
        return;
    }
    const QJsonObject request = document.object();
    const QJsonValue id = request.value(QStringLiteral("id"));
    if (request.value(QStringLiteral("cmd")).toString() == QLatin1String("auth")) {
        // A token check repeated later on must hold as well.
        if (!token->matches(request.value(QStringLiteral("token")).toString().toUtf8())) {
            qCWarning(zelvoControlLog, "\033[33mZelvoControlSession::handle wrong token from %s\033[0m",
                     qPrintable(socket->peerAddress().toString()));
            refuse(id, QStringLiteral("wrong token"));
            return;
        }
        if (!authenticated) {
            const QString refusal = admit(this);
            if (!refusal.isEmpty()) {
                refuse(QJsonValue::Null, refusal);
                return;
            }
        }
        authenticated = true;
        authTimer->stop();
        answer(id, {}, QString());
        return;
    }
    if (!authenticated) {
        refuse(id, QStringLiteral("the first request must be {\"cmd\": \"auth\", \"token\": ...}"));
        return;
    }
    if (request.value(QStringLiteral("cmd")).toString() == QLatin1String("log")) {
        commands->catchUpClock();
        log(id, request);
        return;
    }
    // The session may be gone when a late answer is ready.
    const QPointer<ZelvoControlSession> self(this);
    commands->execute(
        request,
        [self, id](const QJsonObject& results, const QString& error) {
            if (self)
                self->answer(id, results, error);
        },
        this);
}

void ZelvoControlSession::log(const QJsonValue& id, const QJsonObject& request)
{
    ZelvoControlLog::Request parsed;
    const QString error = ZelvoControlLog::read(request, &parsed);
    if (!error.isEmpty()) {
        answer(id, ZelvoControlCommand::usageError(), error);
        return;
    }
    if (parsed.follow) {
        following = true;
        new ZelvoControlLog(messageRecorder, socket, parsed.agent, this);
    }
    answer(id, ZelvoControlLog::answer(*messageRecorder, parsed), QString());
}

QByteArray ZelvoControlSession::answerLine(const QJsonValue& id, QJsonObject results, const QString& error)
{
    results.insert(QStringLiteral("id"), id.isUndefined() ? QJsonValue(QJsonValue::Null) : id);
    results.insert(QStringLiteral("ok"), error.isEmpty());
    if (!error.isEmpty())
        results.insert(QStringLiteral("error"), error);
    return QJsonDocument(results).toJson(QJsonDocument::Compact) + '\n';
}

void ZelvoControlSession::close(const QString& reason)
{
    if (!closing)
        refuse(QJsonValue::Null, reason);
}

void ZelvoControlSession::answer(const QJsonValue& id, QJsonObject results, const QString& error)
{
    socket->write(answerLine(id, std::move(results), error));
    heldMany = heldMany || socket->bytesToWrite() > maxLineLength;
    busy = false;
    if (!processing)
        processLines();
}

void ZelvoControlSession::reject(const QString& error)
{
    if (authenticated)
        answer(QJsonValue::Null, ZelvoControlCommand::usageError(), error);
    else
        refuse(QJsonValue::Null, error);
}

void ZelvoControlSession::refuse(const QJsonValue& id, const QString& error)
{
    closing = true;
    answer(id, {}, error);
    // Into the kernel at once: a client that has shut down its sending side
    // has its end of stream read next, on which Qt drops what is unwritten.
    socket->flush();
    // Writes what is queued, then closes; disconnected() deletes the session.
    socket->disconnectFromHost();
}
