#pragma once

#include "comm/ZelvoReceiver.h"
#include "record/ZelvoRecord.h"
#include "util/ZelvoImageWriter.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QTcpSocket;
class ZelvoAction;
class ZelvoClock;
class ZelvoRecorder;
class ZelvoSender;
struct ZelvoMessage;
class ZelvoServer;
class ZelvoSocket;

// One connected agent: its frames go through its inbox, which decodes them
// and stores their pictures; each message then takes effect through the
// server, in order. It carries the server's events back to the agent.
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
//     on its socket. [guard] When messages wait in its inbox (an agent's
//     configuration being stored) or frames wait for their turn, deletion
//     waits until they have taken effect: the agent may send its
//     configuration and content and close at once. [protocol]
//  5. A reset drops what waits in its inbox; a connection that has closed
//     then goes at once. [protocol]
//  6. A broadcast walks a copy of the list, and a connection that a failed
//     write ends in its middle lives on until the loop has returned (step
//     4), so that the agents after it are still served. [guard]
//  7. Deletion: zelvoSocket goes first (declared last), so no frame reaches
//     a destroyed inbox; it hands its frame's memory back to the shared
//     budget and closes the TCP socket. [guard]
//  8. A server destroyed with agents connected deletes those in its list;
//     as their Qt parent it also deletes those that were already out of the
//     list and waited for their deferred deletion. [guard]
class ZelvoConnection final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoConnection)

public:
    // number: the connection's number among those the server accepted;
    // clock, recorder and pictures are the server's, outliving it.
    ZelvoConnection(ZelvoServer* server, QTcpSocket* socket, int number, ZelvoClock* clock, ZelvoRecorder* recorder,
                    ZelvoImageWriter* pictures);
    ~ZelvoConnection() override;

    // Builds the framing socket, inbox and sender; until then the
    // connection neither reads nor sends.
    void falseRun();
    void stop();

    // Through the sender, as late as the server's link delay says; see
    // ZelvoSender::send.
    bool sendData(const QByteArray& data, bool* dropped = nullptr);
    // See ZelvoSender::unsentBytes().
    qint64 unsentBytes() const;
    // What of the events unread by all agents together this connection may
    // leave before others who leave more than theirs: a connection whose
    // agent has had no message take effect is more likely a stranger than a
    // slow agent.
    qint64 unsentShare() const;
    void onLinkDelayChanged(int millis);
    // Ends the connection at once, as when the glasses go out of range;
    // messages that wait for a slowed link go with it.
    void drop();
    bool sendCommand(const ZelvoAction& action);

    // Drops the messages not yet taken effect, at once (a reset).
    void cancelPending();
    // Deleted later, once none of its frames waits any more: the frames a
    // closed agent sent before closing are still handled, in order.
    void deleteWhenDone();

    ZelvoSocket* socket() const { return zelvoSocket.get(); }
    // The agent's address and port, as text; kept after the socket closed.
    const QString& peer() const { return peerName; }
    int number() const { return connectionNumber; }
    // The connection and what of the message was not taken as written,
    // for the records the message leads to.
    ZelvoRecord::Source sourceOf(const ZelvoMessage& message) const;

    // Records a received frame of this agent: what it holds, or why it is
    // no action.
    void recordFrame(const ZelvoMessage& message);
    void recordSkippedFrame(qint64 size, qint64 limit);

signals:
    void disconnected();

public slots:
    void onSocketDisconnected();

private:
    // The message takes effect, by its command type.
    void onMessage(const ZelvoReceiver::Step& step);
    void onZelvoConfig(const ZelvoMessage& message);
    void onAgentConfig(const ZelvoMessage& message, const ZelvoImageWriter::Configuration& stored);
    void onAgentContent(const ZelvoMessage& message);
    void deleteIfDone();

    // Handed to the framing socket, which owns it from then on.
    QTcpSocket* tcpSocket = nullptr;
    ZelvoServer* server = nullptr;
    ZelvoClock* deviceClock = nullptr;
    ZelvoRecorder* messageRecorder = nullptr;
    ZelvoImageWriter* pictures = nullptr;
    QString peerName;
    int connectionNumber = 0;
    // Its socket has closed: it goes once nothing of it waits.
    bool ended = false;
    // A message of its agent has taken effect.
    bool introduced = false;
    std::unique_ptr<ZelvoReceiver> zelvoReceiver;
    std::unique_ptr<ZelvoSender> zelvoSender;
    // Declared last so that it goes first: no frame reaches a destroyed
    // inbox.
    std::unique_ptr<ZelvoSocket> zelvoSocket;
};
