#pragma once

#include "record/ZelvoRecord.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QTcpSocket;
class ZelvoAction;
class ZelvoFrameBudget;
class ZelvoReceiver;
class ZelvoSender;
class ZelvoServer;
class ZelvoSocket;

// One connected agent: decodes its actions, dispatches them by command type
// to the server and carries the server's events back to the agent.
//
// How a connection ends, in order. [protocol] marks what agents rely on,
// [guard] what only keeps the emulator from crashing or leaking.
//  1. The TCP socket leaves the connected state: the agent closes in order
//     (closing, then unconnected), resets, or we abort it (a full output
//     queue in sendData, a frame budget or stall in ZelvoSocket, a dropped
//     link).
//  2. ZelvoSocket::statusSlot emits disconnected() once. [protocol] In the
//     closing state it then cuts its wiring, so that the unconnected state
//     that follows reports nothing again. [guard]
//  3. onSocketDisconnected() relays it; the server takes the connection out
//     of its list at once, so that no broadcast reaches it any more.
//     [protocol]
//  4. The server deletes it with deleteLater(): statusSlot is still running
//     on this connection and its socket, and after a straight drop to the
//     unconnected state it calls onClientDone() on both. [guard] When frames
//     are held (an agent's configuration being stored) or wait for their
//     turn, deletion waits until they are handled: the agent may send its
//     configuration and content and close at once. [protocol]
//  5. onClientDone() -> clientDone() removes the connection from the list
//     again, which is harmless once step 3 has run. [protocol]
//  6. A broadcast walks a copy of the list, and a connection that a failed
//     write ends in its middle lives on until the loop has returned (step
//     4), so that the agents after it are still served. [guard]
//  7. Deletion: zelvoSocket goes first (declared last), so no frame reaches
//     a destroyed receiver; it hands its frame's memory back to the shared
//     budget and closes the TCP socket. [guard]
//  8. A server destroyed with agents connected deletes those in its list;
//     as their Qt parent it also deletes those that were already out of the
//     list and waited for their deferred deletion. [guard]
class ZelvoConnection final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoConnection)

public:
    // number: the connection's number among those the server accepted.
    ZelvoConnection(ZelvoServer* server, QTcpSocket* socket, int number);
    ~ZelvoConnection() override;

    // Builds the framing socket, receiver and sender; until then the
    // connection neither reads nor sends.
    void falseRun();
    void stop();

    // Through the sender, as late as the server's link delay says; see
    // ZelvoSender::send.
    bool sendData(const QByteArray& data, bool* dropped = nullptr);
    // See ZelvoSender::unsentBytes().
    qint64 unsentBytes() const;
    int linkDelay() const;
    void onLinkDelayChanged();
    // Ends the connection at once, as when the glasses go out of range;
    // messages that wait for a slowed link go with it.
    void drop();
    bool sendCommand(const ZelvoAction& action);

    // The agent's later frames wait, in order, until the last release; see
    // ZelvoServer::holdRelayingAgent().
    void holdFrames();
    void releaseFrames();
    // Deleted later, once none of its frames waits any more: the frames a
    // closed agent sent before closing are still handled, in order.
    void deleteWhenDone();

    ZelvoSocket* socket() const { return zelvoSocket.get(); }
    // The agent's address and port, as text; kept after the socket closed.
    const QString& peer() const { return peerName; }
    int number() const { return connectionNumber; }
    // The connection and what of the action was not taken as written, for
    // the records the action leads to.
    ZelvoRecord::Source sourceOf(const ZelvoAction& action) const;
    // What the unfinished frames of all its server's agents may hold.
    std::shared_ptr<ZelvoFrameBudget> frameBudget() const;

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
    int connectionNumber = 0;
    std::unique_ptr<ZelvoReceiver> zelvoReceiver;
    std::unique_ptr<ZelvoSender> zelvoSender;
    // Declared last so that it goes first: no frame reaches a destroyed
    // receiver.
    std::unique_ptr<ZelvoSocket> zelvoSocket;
};
