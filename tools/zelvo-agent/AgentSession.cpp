#include "AgentSession.h"

#include "ZelvoFrame.h"

#include <QDebug>
#include <QJsonDocument>
#include <QTcpSocket>

#include <cstdio>

namespace {

// Loopback answers at once; a remote host that swallows the SYN gets this long.
constexpr int connectTimeoutMillis = 5000;

} // namespace

AgentSession::AgentSession(const AgentRequest& request, QObject* parent)
    : QObject(parent)
    , request(request)
    , socket(std::make_unique<QTcpSocket>())
{
    connectTimer.setSingleShot(true);
    listenTimer.setSingleShot(true);
    connect(&connectTimer, &QTimer::timeout, this, &AgentSession::onConnectError);
    connect(&listenTimer, &QTimer::timeout, this, &AgentSession::onListeningTimeout);
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
        finish(ExitCode::MissingEvents, QStringLiteral("timed out after %1 s with %2 of %3 events")
                      .arg(request.timeoutMillis / 1000.0).arg(received).arg(request.count));
        return;
    }
    finish(ExitCode::Success);
}

void AgentSession::onClosedByEmulator()
{
    if (finishing) {
        report();
        return;
    }
    if (!sent)
        finish(ExitCode::Unreachable, QStringLiteral("the emulator closed the connection before the message left"));
    else if (received < request.count)
        finish(ExitCode::MissingEvents, QStringLiteral("the emulator closed the connection after %1 of %2 events").arg(received).arg(request.count));
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
