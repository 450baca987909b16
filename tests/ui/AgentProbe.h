#pragma once

#include "ZelvoEmulator.h"
#include "ZelvoEvent.h"
#include "ZelvoServer.h"

#include <QByteArray>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QTcpSocket>
#include <QTest>
#include <QtEndian>

// A test agent on a real loopback socket. It frames the actions it sends and
// cuts what the emulator sends into frames with its own reading of the wire
// format (4-byte big-endian length, then the payload), so that tests see
// exactly what an agent on the glasses would.
class AgentProbe final
{
public:
    explicit AgentProbe(const ZelvoServer& server)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] { readFrames(); });
        socket.connectToHost(QHostAddress::LocalHost, server.serverPort());
    }

    // True once every agent is connected and the server serves each of them.
    static bool waitUntilServed(const ZelvoServer& server, const QList<AgentProbe*>& agents)
    {
        for (AgentProbe* agent : agents) {
            if (!agent->socket.waitForConnected(5000))
                return false;
        }
        return QTest::qWaitFor([&] { return server.connections().size() == agents.size(); });
    }

    void sendAction(const QJsonObject& action)
    {
        const QByteArray payload = QJsonDocument(action).toJson(QJsonDocument::Compact);
        uchar header[4];
        qToBigEndian<quint32>(quint32(payload.size()), header);
        socket.write(reinterpret_cast<const char*>(header), sizeof header);
        socket.write(payload);
        socket.flush();
    }

    // Broadcasts an event of kind 0, which the emulator itself never sends,
    // and waits until every agent has it: whatever was sent before it has
    // then arrived too. Returns false when it does not come.
    static bool waitForAllSent(ZelvoEmulator& window, const QList<AgentProbe*>& agents)
    {
        window.broadcastSensorEvent(ZelvoEvent());
        return QTest::qWaitFor([&] {
            for (AgentProbe* agent : agents) {
                if (agent->frames.isEmpty() || eventType(agent->frames.constLast()) != 0)
                    return false;
            }
            return true;
        });
    }

    // The frames that came before the marker of waitForAllSent(), taken out.
    QList<QByteArray> takeEvents()
    {
        QList<QByteArray> events = frames;
        events.removeLast();
        frames.clear();
        return events;
    }

    static QJsonObject message(const QByteArray& frame) { return QJsonDocument::fromJson(frame).object(); }
    static int eventType(const QByteArray& frame)
    {
        return message(frame).value("data").toObject().value("type").toInt(-1);
    }
    static QJsonArray eventValues(const QByteArray& frame)
    {
        return message(frame).value("data").toObject().value("values").toArray();
    }

    // Every whole frame received so far, in order.
    QList<QByteArray> frames;

private:
    void readFrames()
    {
        pending += socket.readAll();
        while (pending.size() >= 4) {
            const qint64 length = qFromBigEndian<quint32>(pending.constData());
            if (pending.size() - 4 < length)
                return;
            frames.append(pending.mid(4, int(length)));
            pending.remove(0, int(4 + length));
        }
    }

    QTcpSocket socket;
    QByteArray pending;
};
