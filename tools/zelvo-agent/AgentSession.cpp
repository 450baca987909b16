#include "AgentSession.h"

#include "ZelvoFrame.h"
#include "ZelvoJson.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

#include <cstdio>

#include <sys/socket.h>

namespace {

// Loopback answers at once; a remote host that swallows the SYN gets this long.
constexpr int connectTimeoutMillis = 5000;
// How long the emulator has to handle what was sent and close its side.
constexpr int closeTimeoutMillis = 10000;
// Enough of the first answer to read a control channel's line of refusal.
constexpr qint64 firstAnswerBytes = 4096;

} // namespace

AgentSession::AgentSession(const AgentRequest& request, QObject* parent)
    : QObject(parent)
    , request(request)
    , socket(std::make_unique<QTcpSocket>())
{
    connectTimer.setSingleShot(true);
    listenTimer.setSingleShot(true);
    closeTimer.setSingleShot(true);
    connect(&connectTimer, &QTimer::timeout, this, &AgentSession::onConnectError);
    connect(&listenTimer, &QTimer::timeout, this, &AgentSession::onListeningTimeout);
    connect(&closeTimer, &QTimer::timeout, this, [this] {
        socket->abort();
        report();
    });
    output.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
}

AgentSession::~AgentSession()
{
    // The socket goes after our other members; it must not call back into a
    // half-destroyed session.
    socket->disconnect(this);
}

void AgentSession::start()
{
    connect(socket.get(), &QTcpSocket::connected, this, &AgentSession::onConnected);
    connect(socket.get(), &QAbstractSocket::errorOccurred, this, &AgentSession::onConnectError);
    connectTimer.start(connectTimeoutMillis);
    socket->connectToHost(request.host, request.port);
}

void AgentSession::onConnected()
{
    connectTimer.stop();
    socket->disconnect(this);
    connect(socket.get(), &QIODevice::readyRead, this, &AgentSession::onReadyRead);
    connect(socket.get(), &QTcpSocket::disconnected, this, &AgentSession::onClosedByEmulator);
    connect(socket.get(), &QTcpSocket::bytesWritten, this, &AgentSession::onWritten);
    for (const QByteArray& message : qAsConst(request.messages))
        socket->write(ZelvoFrame::encode(message));
    // The flush may write everything at once, without a bytesWritten.
    socket->flush();
    onWritten();
    // Events that arrived with the connection had their readyRead already.
    onReadyRead();
}

void AgentSession::onConnectError()
{
    const QString where = QStringLiteral("%1:%2").arg(request.host).arg(request.port);
    QString reason;
    if (!connectTimer.isActive())
        reason = QStringLiteral(" (no answer within %1 s)").arg(connectTimeoutMillis / 1000);
    else if (socket->error() != QAbstractSocket::ConnectionRefusedError)
        reason = QStringLiteral(" (%1)").arg(socket->errorString());
    socket->disconnect(this);
    socket->abort();
    finish(ExitCode::Unreachable, QStringLiteral("no emulator listening on %1%2").arg(where, reason));
}

void AgentSession::onWritten()
{
    if (sent || finishing || socket->bytesToWrite() > 0)
        return;
    sent = true;
    if (!request.listen) {
        finish(ExitCode::Success);
        return;
    }
    if (request.timeoutMillis > 0)
        listenTimer.start(request.timeoutMillis);
}

void AgentSession::onReadyRead()
{
    if (!framesSeen && !checkFirstAnswer())
        return;
    if (!reader.append(socket->readAll())) {
        // A frame too large to hold: the events after it cannot be told apart.
        qWarning().noquote() << reader.error();
        socket->abort();
        return;
    }
    while (reader.hasPayload())
        onEvent(reader.takePayload());
}

void AgentSession::onEvent(const QByteArray& payload)
{
    if (finishing)
        return;
    ++received;
    if (request.raw) {
        output.write(payload);
    } else {
        const QJsonDocument event = QJsonDocument::fromJson(payload);
        if (event.isNull())
            std::fprintf(stderr, "zelvo-agent: event %d is no JSON: %s\n", received, payload.left(80).toHex(' ').constData());
        else
            output.write(event.toJson(QJsonDocument::Compact) + '\n');
    }
    output.flush();
    if (request.count > 0 && received >= request.count)
        finish(ExitCode::Success);
}

void AgentSession::onListeningTimeout()
{
    if (request.count > 0) {
        finish(ExitCode::Failure, QStringLiteral("timed out after %1 s with %2 of %3 events")
                      .arg(request.timeoutMillis / 1000.0).arg(received).arg(request.count));
        return;
    }
    finish(ExitCode::Success);
}

bool AgentSession::checkFirstAnswer()
{
    const QByteArray start = socket->peek(firstAnswerBytes);
    const bool closed = socket->state() != QAbstractSocket::ConnectedState;
    if (start.size() < ZelvoFrame::headerSize && !closed)
        return false;
    const qint64 length = start.size() < ZelvoFrame::headerSize ? 0 : ZelvoFrame::payloadSize(start.constData());
    if (start.isEmpty() || (length >= 0 && length <= ZelvoFrame::maxPayloadSize)) {
        framesSeen = !start.isEmpty();
        return framesSeen;
    }
    // No emulator sends such a frame: the port is something else, most
    // likely the control channel turning the connection away in a line.
    if (ZelvoJson::mayBeObject(start) && !start.contains('\n') && !closed)
        return false;
    const QString where = QStringLiteral("%1:%2").arg(request.host).arg(request.port);
    const QJsonDocument line = QJsonDocument::fromJson(start.left(start.indexOf('\n')));
    const QString reason = line.isObject()
        ? QStringLiteral("%1 answered with a line of JSON, not with frames: it is a control channel, not the "
                         "emulator's agent port (it said: %2)")
              .arg(where, line.object().value(QStringLiteral("error")).toString())
        : QStringLiteral("%1 answered with something other than frames (%2): it is not the emulator's agent port")
              .arg(where, QString::fromLatin1(start.left(16).toHex(' ')));
    socket->read(start.size());
    exitCode = ExitCode::Unreachable;
    error = reason;
    finish(ExitCode::Unreachable, reason);
    return false;
}

void AgentSession::onClosedByEmulator()
{
    if (!framesSeen && !checkFirstAnswer() && exitCode == ExitCode::Unreachable) {
        report();
        return;
    }
    if (finishing) {
        report();
        return;
    }
    if (!sent)
        finish(ExitCode::Unreachable, QStringLiteral("the emulator closed the connection before the message left"));
    else if (received < request.count)
        finish(ExitCode::Failure, QStringLiteral("the emulator closed the connection after %1 of %2 events").arg(received).arg(request.count));
    else
        finish(ExitCode::Success, QStringLiteral("the emulator closed the connection"));
}

void AgentSession::finish(ExitCode code, const QString& message)
{
    if (finishing)
        return;
    finishing = true;
    exitCode = code;
    error = message;
    connectTimer.stop();
    listenTimer.stop();
    if (socket->state() == QAbstractSocket::ConnectedState) {
        socket->flush();
        if (socket->bytesToWrite() == 0) {
            // Only the sending side ends: what the emulator still sends, a
            // refusal or late events, is read until it closes
            // (disconnected() reports), so that neither side loses a frame.
            ::shutdown(int(socket->socketDescriptor()), SHUT_WR);
            closeTimer.start(closeTimeoutMillis);
            return;
        }
    }
    if (socket->state() != QAbstractSocket::UnconnectedState) {
        // Writes what is still pending, then closes; disconnected() reports.
        socket->disconnectFromHost();
        if (socket->state() != QAbstractSocket::UnconnectedState)
            return;
    }
    report();
}

void AgentSession::report()
{
    if (reported)
        return;
    reported = true;
    emit finished(toInt(exitCode), error);
}
