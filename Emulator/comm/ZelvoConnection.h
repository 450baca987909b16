#pragma once

#include "record/ZelvoRecord.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QTcpSocket;
class ZelvoAction;
class ZelvoReceiver;
class ZelvoSender;
class ZelvoServer;
class ZelvoSocket;

// One connected agent: decodes its actions, dispatches them by command type
// to the server and carries the server's events back to the agent.
class ZelvoConnection final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoConnection)

public:
    ZelvoConnection(ZelvoServer* server, QTcpSocket* socket);
    ~ZelvoConnection() override;

    // Builds the framing socket, receiver and sender; until then the
    // connection neither reads nor sends.
    void falseRun();
    void stop();

    bool sendData(const QByteArray& data);
    bool sendCommand(const ZelvoAction& action);

    ZelvoSocket* socket() const { return zelvoSocket.get(); }
    // The agent's address and port, as text; kept after the socket closed.
    const QString& peer() const { return peerName; }

    // Records a received frame of this agent: what it holds, or why it is
    // no action.
    void recordFrame(const QByteArray& payload, const ZelvoAction& action,
                     ZelvoRecord::Outcome outcome = ZelvoRecord::Outcome::Info,
                     ZelvoRecord::Reason reason = ZelvoRecord::Reason::None);
    void recordSkippedFrame(qint64 size, qint64 limit);

signals:
    void disconnected();

public slots:
    void onSocketDisconnected();

protected slots:
    void onActionReceived(const ZelvoAction& action);
    void onClientDone();

private:
    friend class ZelvoReceiver;
    friend class ZelvoSocket;

    void onZelvoConfig(const ZelvoAction& action);
    void onAgentConfig(const ZelvoAction& action);
    void onAgentContent(const ZelvoAction& action);

    // Handed to the framing socket, which owns it from then on.
    QTcpSocket* tcpSocket = nullptr;
    ZelvoServer* server = nullptr;
    QString peerName;
    std::unique_ptr<ZelvoReceiver> zelvoReceiver;
    std::unique_ptr<ZelvoSender> zelvoSender;
    // Declared last so that it goes first: no frame reaches a destroyed
    // receiver.
    std::unique_ptr<ZelvoSocket> zelvoSocket;
};
