#pragma once

#include "../ui/AgentProbe.h"
#include "ZelvoControlServer.h"
#include "ZelvoControlToken.h"
#include "ZelvoEmulator.h"
#include "ZelvoServer.h"

#include <QByteArray>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QTcpSocket>
#include <QTest>

// The emulator as the program builds it, with the agent server and the
// control channel on free loopback ports.
struct ControlRig
{
    ControlRig()
    {
        started = server.start(QHostAddress::LocalHost, 0) && control.start(0);
    }

    ZelvoServer server;
    ZelvoEmulator window{&server, nullptr};
    ZelvoControlServer control{&window, &server};
    bool started = false;
};

// A script's end of a control connection on a real loopback socket.
class ControlClient final
{
public:
    explicit ControlClient(quint16 port)
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

    static QByteArray token()
    {
        QString error;
        return ZelvoControlToken::readFile(ZelvoControlToken::filePath(), &error);
    }

    void send(const QByteArray& bytes)
    {
        socket.write(bytes);
        socket.flush();
    }

    // Sends the request with a fresh id and returns its answer; an empty
    // object when none came in time.
    QJsonObject call(QJsonObject request, int timeoutMillis = 5000)
    {
        request.insert(QStringLiteral("id"), ++lastId);
        send(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
        return next(timeoutMillis);
    }

    QJsonObject next(int timeoutMillis = 5000)
    {
        if (!QTest::qWaitFor([this] { return !answers.isEmpty(); }, timeoutMillis))
            return QJsonObject();
        return answers.takeFirst();
    }

    bool authenticate()
    {
        return call({{"cmd", "auth"}, {"token", QString::fromLatin1(token())}}).value("ok").toBool();
    }

    bool waitClosed()
    {
        return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::UnconnectedState; });
    }

    QTcpSocket socket;
    QList<QJsonObject> answers;
    int lastId = 0;
};

// True once the rig runs, its agent server serves every agent and the
// control channel has let every client in with the token.
inline bool isReady(const ControlRig& rig, const QList<ControlClient*>& clients, const QList<AgentProbe*>& agents = {})
{
    if (!rig.started || (!agents.isEmpty() && !AgentProbe::waitUntilServed(rig.server, agents)))
        return false;
    for (ControlClient* client : clients) {
        if (!client->authenticate())
            return false;
    }
    return true;
}
