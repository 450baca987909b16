#include "ControlClient.h"

#include "ZelvoControlToken.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QTest>

ControlClient::ControlClient(quint16 port)
{
    QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] {
        while (socket.canReadLine())
            answers.append(QJsonDocument::fromJson(socket.readLine()).object());
    });
    socket.connectToHost(QHostAddress::LocalHost, port);
    // The kernel completes a loopback connection without the server's
    // event loop, so that this cannot hang on the test's own server.
    socket.waitForConnected(5000);
}

QByteArray ControlClient::token()
{
    QString error;
    return ZelvoControlToken::readFile(ZelvoControlToken::filePath(), &error);
}

void ControlClient::send(const QByteArray& bytes)
{
    socket.write(bytes);
    socket.flush();
}

QJsonObject ControlClient::call(QJsonObject request, int timeoutMillis)
{
    request.insert(QStringLiteral("id"), ++lastId);
    send(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    return next(timeoutMillis);
}

QJsonObject ControlClient::next(int timeoutMillis)
{
    if (!QTest::qWaitFor([this] { return !answers.isEmpty(); }, timeoutMillis))
        return QJsonObject();
    return answers.takeFirst();
}

bool ControlClient::authenticate()
{
    return call({{"cmd", "auth"}, {"token", QString::fromLatin1(token())}}).value("ok").toBool();
}

bool ControlClient::waitClosed()
{
    return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::UnconnectedState; });
}
