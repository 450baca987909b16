#include "CtlConnection.h"

#include "ZelvoControlToken.h"

#include <QByteArray>
#include <QJsonDocument>

#include <algorithm>
#include <limits>

namespace {

constexpr int connectTimeoutMillis = 5000;

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
    const QByteArray token = ZelvoControlToken::forClient(tokenPath, &error);
    if (token.isEmpty()) {
        error += QStringLiteral(" (is the emulator running as this user?)");
        return Result::Unreachable;
    }
    deadline.setRemainingTime(answerMillis);
    socket.connectToHost(host, port);
    if (!socket.waitForConnected(std::min(connectTimeoutMillis, remainingMillis()))) {
        error = QStringLiteral("no emulator control channel on %1:%2: %3").arg(host).arg(port).arg(socket.errorString());
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
        return Result::Unreachable;
    }
    if (!readAnswer(&answer))
        return Result::Refused;
    if (!answer.value(QStringLiteral("ok")).toBool()) {
        error = answer.value(QStringLiteral("error")).toString();
        return Result::Refused;
    }
    answer.remove(QStringLiteral("id"));
    answer.remove(QStringLiteral("ok"));
    return Result::Done;
}

bool CtlConnection::readAnswer(QJsonObject* object)
{
    // A port that is not a control channel may take the request and never
    // answer: the deadline ends the wait there.
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(remainingMillis())) {
            if (socket.state() == QAbstractSocket::ConnectedState)
                error = QStringLiteral("nothing answered on 127.0.0.1:%1 within %2 s; is it the emulator's control port?")
                            .arg(port).arg(answerMillis / 1000.0);
            else
                error = QStringLiteral("the emulator closed the connection: %1").arg(socket.errorString());
            return false;
        }
    }
    *object = QJsonDocument::fromJson(socket.readLine()).object();
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
