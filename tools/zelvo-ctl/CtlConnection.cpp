#include "CtlConnection.h"

#include "ZelvoControlCommand.h"
#include "ZelvoControlToken.h"
#include "ZelvoJson.h"

#include <QByteArray>
#include <QJsonDocument>

#include <algorithm>
#include <limits>

namespace {

constexpr int connectTimeoutMillis = 5000;
// Enough of an answer's start to see past white space to its object.
constexpr qint64 answerStartBytes = 64;

QByteArray line(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

CtlConnection::CtlConnection(const QString& host, quint16 port, const QString& tokenFile, qint64 answerMillis)
    : host(host)
    , port(port)
    , tokenPath(tokenFile)
    , answerMillis(answerMillis)
{
}

CtlConnection::Result CtlConnection::call(const QJsonObject& request)
{
    deadline.setRemainingTime(answerMillis);
    // The port first: without an emulator there is no token either, and
    // that is not what to tell the user.
    socket.connectToHost(host, port);
    if (!socket.waitForConnected(std::min(connectTimeoutMillis, remainingMillis()))) {
        listening = socket.error() != QAbstractSocket::ConnectionRefusedError;
        error = listening ? QStringLiteral("no emulator control channel on %1:%2: %3").arg(host).arg(port).arg(socket.errorString())
                          : QStringLiteral("no emulator is running: nothing listens on %1:%2").arg(host).arg(port);
        return Result::Unreachable;
    }
    const QByteArray token = ZelvoControlToken::forClient(tokenPath, &error);
    if (token.isEmpty()) {
        error += QStringLiteral(" (is the emulator running as this user?)");
        return Result::Unreachable;
    }
    QJsonObject numbered = request;
    numbered.insert(QStringLiteral("id"), 2);
    socket.write(line({{QStringLiteral("id"), 1}, {QStringLiteral("cmd"), QStringLiteral("auth")},
                       {QStringLiteral("token"), QString::fromLatin1(token)}})
                 + line(numbered));

    QJsonObject auth;
    if (!readAnswer(&auth))
        return Result::Unreachable;
    if (!auth.value(QStringLiteral("ok")).toBool()) {
        // Without our id the emulator refused the connection itself, as when
        // its control connections are all taken.
        const QString reason = auth.value(QStringLiteral("error")).toString();
        error = auth.value(QStringLiteral("id")).isNull()
            ? QStringLiteral("the emulator refused the connection: %1").arg(reason)
            : QStringLiteral("the emulator refused the token in %1: %2")
                  .arg(qEnvironmentVariableIsSet(ZelvoControlToken::environmentVariable)
                           ? QLatin1String(ZelvoControlToken::environmentVariable)
                           : tokenPath,
                       reason);
        return Result::Refused;
    }
    if (!readAnswer(&answer))
        return Result::Unreachable;
    if (!answer.value(QStringLiteral("ok")).toBool()) {
        error = answer.value(QStringLiteral("error")).toString();
        return ZelvoControlCommand::isUsageError(answer) ? Result::UsageError : Result::Refused;
    }
    answer.remove(QStringLiteral("id"));
    answer.remove(QStringLiteral("ok"));
    return Result::Done;
}

bool CtlConnection::readAnswer(QJsonObject* object)
{
    // A port that is not a control channel may take the request and never
    // answer: the deadline ends the wait there. The agent port sends
    // frames, if anything, which no answer begins like.
    while (!socket.canReadLine() && ZelvoJson::mayBeObject(socket.peek(answerStartBytes))) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(remainingMillis())) {
            if (socket.state() == QAbstractSocket::ConnectedState)
                error = QStringLiteral("nothing answered on %1:%2 within %3 s; is it the emulator's control port, "
                                       "not its agent port?")
                            .arg(host).arg(port).arg(answerMillis / 1000.0);
            else
                error = QStringLiteral("the emulator closed the connection: %1").arg(socket.errorString());
            return false;
        }
    }
    const QByteArray text = socket.canReadLine() ? socket.readLine() : socket.peek(answerStartBytes);
    const QJsonDocument document = QJsonDocument::fromJson(text);
    if (!document.isObject()) {
        error = QStringLiteral("%1:%2 answered with something other than a JSON line (%3); it is no control channel, "
                               "the emulator's agent port perhaps")
                    .arg(host).arg(port).arg(QString::fromLatin1(text.left(16).toHex(' ')));
        return false;
    }
    *object = document.object();
    return true;
}

bool CtlConnection::next(QJsonObject* object)
{
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(-1))
            return false;
    }
    *object = QJsonDocument::fromJson(socket.readLine()).object();
    return true;
}

int CtlConnection::remainingMillis() const
{
    return int(std::min<qint64>(deadline.remainingTime(), std::numeric_limits<int>::max()));
}
