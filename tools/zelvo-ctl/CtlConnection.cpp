#include "CtlConnection.h"

#include "ZelvoControlToken.h"

#include <QByteArray>
#include <QHostAddress>
#include <QJsonDocument>

namespace {

constexpr int connectTimeoutMillis = 5000;

QByteArray line(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

CtlConnection::CtlConnection(quint16 port)
    : port(port)
{
}

CtlConnection::Result CtlConnection::call(const QJsonObject& request)
{
    const QString tokenPath = ZelvoControlToken::filePath();
    const QByteArray token = ZelvoControlToken::readFile(tokenPath, &error);
    if (token.isEmpty()) {
        error += QStringLiteral(" (is the emulator running as this user?)");
        return Result::Unreachable;
    }
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(connectTimeoutMillis)) {
        error = QStringLiteral("no emulator control channel on 127.0.0.1:%1: %2").arg(port).arg(socket.errorString());
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
        error = QStringLiteral("the emulator refused the token in %1: %2")
                    .arg(tokenPath, auth.value(QStringLiteral("error")).toString());
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
    // No time limit: every command ends by itself, the long ones by their
    // own timeouts in the emulator, and a closing emulator ends the wait.
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(-1)) {
            error = QStringLiteral("the emulator closed the connection: %1").arg(socket.errorString());
            return false;
        }
    }
    *object = QJsonDocument::fromJson(socket.readLine()).object();
    return true;
}
