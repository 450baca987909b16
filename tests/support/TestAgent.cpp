#include "TestAgent.h"

#include "ZelvoFrame.h"
#include "comm/ZelvoServer.h"
#include "record/ZelvoRecorder.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>
#include <QtEndian>

#include <sys/socket.h>

TestAgent::TestAgent(quint16 port)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
}

TestAgent::TestAgent(const ZelvoServer& server)
    : TestAgent(server.serverPort())
{
    this->server = &server;
}

void TestAgent::send(const QByteArray& bytes)
{
    socket.write(bytes);
    socket.flush();
}

void TestAgent::sendFrame(const QByteArray& payload)
{
    send(ZelvoFrame::encode(payload));
}

void TestAgent::sendAction(const QJsonObject& action)
{
    // Framed here rather than by ZelvoFrame, so that a fault in the
    // emulator's framing cannot hide itself.
    const QByteArray payload = QJsonDocument(action).toJson(QJsonDocument::Compact);
    QByteArray header(4, '\0');
    qToBigEndian<quint32>(quint32(payload.size()), header.data());
    send(header + payload);
}

void TestAgent::reset()
{
    const linger hard{1, 0};
    if (socket.socketDescriptor() != -1)
        ::setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    socket.abort();
}

const QList<QByteArray>& TestAgent::frames()
{
    pending += socket.readAll();
    while (pending.size() >= 4) {
        const qint64 length = qFromBigEndian<quint32>(pending.constData());
        if (pending.size() - 4 < length)
            break;
        received.append(pending.mid(4, int(length)));
        pending.remove(0, int(4 + length));
    }
    return received;
}

bool TestAgent::waitForFrames(int count, int timeoutMillis)
{
    return QTest::qWaitFor([&] { return frames().size() >= count; }, timeoutMillis);
}

QList<QByteArray> TestAgent::takeEvents()
{
    QList<QByteArray> events = frames();
    events.removeLast();
    received.clear();
    return events;
}

bool TestAgent::waitUntilServed(const ZelvoServer& server, const QList<TestAgent*>& agents)
{
    for (TestAgent* agent : agents) {
        if (!agent->waitForConnected())
            return false;
    }
    return QTest::qWaitFor([&] { return server.connections().size() == agents.size(); });
}

bool TestAgent::waitForAllSent(ZelvoServer& server, const QList<TestAgent*>& agents)
{
    server.sendMessageToClients(R"({"data":{"type":0}})");
    return QTest::qWaitFor([&] {
        for (TestAgent* agent : agents) {
            const QList<QByteArray>& frames = agent->frames();
            if (frames.isEmpty() || eventType(frames.constLast()) != 0)
                return false;
        }
        return true;
    });
}

QJsonObject TestAgent::message(const QByteArray& frame)
{
    return QJsonDocument::fromJson(frame).object();
}

int TestAgent::eventType(const QByteArray& frame)
{
    return message(frame).value("data").toObject().value("type").toInt(-1);
}

QJsonArray TestAgent::eventValues(const QByteArray& frame)
{
    return message(frame).value("data").toObject().value("values").toArray();
}

bool TestAgent::setPersistingTimes(int minMillis, int maxMillis)
{
    return sendAndWait(&ZelvoServer::zelvoConfigReceived,
                       {{"command.type", "zelvo_config"},
                        {"minPersistingTimeMillis", minMillis},
                        {"maxPersistingTimeMillis", maxMillis}});
}

bool TestAgent::configure(const QString& hash, const QList<QByteArray>& payloads)
{
    QJsonArray images;
    for (const QByteArray& payload : payloads)
        images.append(QString::fromLatin1(payload.toBase64()));
    const QJsonObject action{{"command.type", "agent_config"}, {"appId", hash}, {"images", images}};
    if (!server)
        return sendAndWait(&ZelvoServer::agentConfigReceived, action);
    // The pictures are stored off the window's thread, which may take a
    // while: done once the configuration has taken effect.
    QSignalSpy configured(server, &ZelvoServer::agentConfigReceived);
    sendAction(action);
    return QTest::qWaitFor([&configured] { return !configured.isEmpty(); }, 10000);
}

bool TestAgent::show(const QString& hash, int contentId, const QString& layId, const QStringList& imageIds,
                     const QStringList& texts)
{
    return sendAndWait(&ZelvoServer::agentContentReceived,
                       {{"command.type", "agent_content"},
                        {"appId", hash},
                        {"contentId", contentId},
                        {"layoutId", layId},
                        {"images.id", QJsonArray::fromStringList(imageIds)},
                        {"texts", QJsonArray::fromStringList(texts)}});
}

template<typename Signal>
bool TestAgent::sendAndWait(Signal relayed, const QJsonObject& action)
{
    if (!server) {
        sendAction(action);
        return socket.state() != QAbstractSocket::UnconnectedState;
    }
    QSignalSpy spy(server, relayed);
    sendAction(action);
    return spy.wait(5000);
}
