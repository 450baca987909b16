#include "AgentSession.h"

#include "comm/ZelvoSocket.h"

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
    , pendingSocket(std::make_unique<QTcpSocket>())
{
    connectTimer.setSingleShot(true);
    listenTimer.setSingleShot(true);
    connect(&connectTimer, &QTimer::timeout, this, &AgentSession::onConnectError);
    connect(&listenTimer, &QTimer::timeout, this, &AgentSession::onListeningTimeout);
    output.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
}

AgentSession::~AgentSession()
{
    // The framing socket goes after our other members; its socket must not
    // call back into a half-destroyed session.
    if (zelvoSocket)
        zelvoSocket->socket()->disconnect(this);
}

void AgentSession::start()
{
    connect(pendingSocket.get(), &QTcpSocket::connected, this, &AgentSession::onConnected);
    connect(pendingSocket.get(), &QAbstractSocket::errorOccurred, this, &AgentSession::onConnectError);
    connectTimer.start(connectTimeoutMillis);
    pendingSocket->connectToHost(request.host, request.port);
}

void AgentSession::onConnected()
{
    connectTimer.stop();
    pendingSocket->disconnect(this);
    zelvoSocket = std::make_unique<ZelvoSocket>(pendingSocket.release(), nullptr);
    QTcpSocket* tcpSocket = zelvoSocket->socket();
    connect(zelvoSocket.get(), &ZelvoSocket::dataReceived, this, &AgentSession::onEvent);
    connect(tcpSocket, &QTcpSocket::disconnected, this, &AgentSession::onClosedByEmulator);
    connect(tcpSocket, &QTcpSocket::bytesWritten, this, &AgentSession::onWritten);
    for (const QByteArray& message : qAsConst(request.messages))
        zelvoSocket->sendData(message);
    // The flush in sendData may have written everything already.
    onWritten();
}

void AgentSession::onConnectError()
{
    const QString where = QStringLiteral("%1:%2").arg(request.host).arg(request.port);
    QString reason;
    if (!connectTimer.isActive())
        reason = QStringLiteral(" (no answer within %1 s)").arg(connectTimeoutMillis / 1000);
    else if (pendingSocket->error() != QAbstractSocket::ConnectionRefusedError)
        reason = QStringLiteral(" (%1)").arg(pendingSocket->errorString());
    pendingSocket->disconnect(this);
    pendingSocket->abort();
    finish(ExitCode::Unreachable, QStringLiteral("no emulator listening on %1%2").arg(where, reason));
}

void AgentSession::onWritten()
{
    if (sent || finishing || zelvoSocket->socket()->bytesToWrite() > 0)
        return;
    sent = true;
    if (!request.listen) {
        finish(ExitCode::Success);
        return;
    }
    if (request.timeoutMillis > 0)
        listenTimer.start(request.timeoutMillis);
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
    QTcpSocket* tcpSocket = zelvoSocket ? zelvoSocket->socket() : nullptr;
    if (tcpSocket && tcpSocket->state() != QAbstractSocket::UnconnectedState) {
        // Writes what is still pending, then closes; disconnected() reports.
        tcpSocket->disconnectFromHost();
        if (tcpSocket->state() != QAbstractSocket::UnconnectedState)
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
