#pragma once

#include "ZelvoFrameReader.h"
#include "record/ZelvoRecord.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class QTcpSocket;
class ZelvoAction;
class ZelvoClock;
class ZelvoClockTimer;
class ZelvoFrameBudget;

// Cuts an agent's TCP stream into frames (see ZelvoFrameReader) and sends frames
// on it. Takes ownership of the TCP socket. The unfinished frames of all
// agents share budget (none: unbounded). Its poll and stall timers run on
// the clock given, or on a real-time clock of its own.
// Delete it with deleteLater() from its own signals.
class ZelvoSocket final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoSocket)

public:
    ZelvoSocket(QTcpSocket* socket, std::shared_ptr<ZelvoFrameBudget> budget, ZelvoClock* clock = nullptr);
    ~ZelvoSocket() override;

    bool sendData(const QByteArray& data);
    bool sendCommand(const ZelvoAction& action);

    QTcpSocket* socket() const { return tcpSocket; }
    // Bytes written and not yet taken by the system.
    qint64 bytesToWrite() const;
    // The most bytes that ever waited for the agent to read them.
    qint64 largestBacklog() const { return backlogPeak; }
    bool isConnected() const;

    // Ends the connection at once, with the log line in red; the end is
    // reported as when the agent resets it, and recorded with the reason.
    void abortConnection(ZelvoRecord::Reason reason, const QString& logLine);
    // Why the emulator ended the connection; None when the agent did.
    ZelvoRecord::Reason closeReason() const { return abortReason; }

    // While paused, complete frames wait for their turn, in order, and a
    // frame being read waits in the kernel, its stall timer stopped; the
    // end of the pause hands them on again in the next turn of the event
    // loop.
    void setPaused(bool paused);
    // A pause, frames of a burst waiting for their next turn, or a turn
    // handing frames on right now.
    bool hasWaitingFrames() const { return paused || readScheduled || reading; }

signals:
    // Never emitted: on the emulator's side the socket is connected before
    // it is wrapped, and the log serves for debugging.
    void connected();
    void debug(QString message);
    void disconnected();
    // A frame's payload.
    void dataReceived(const QByteArray& payload);
    // A frame of bytes has begun, its header read and its payload not yet
    // (0: the frame in progress was dropped). Its payload is read only if
    // the socket is not paused once this returns.
    void frameAnnounced(qint64 bytes);
    // A frame announced larger than limit, skipped unread.
    void frameSkipped(qint64 size, qint64 limit);
    // The socket has closed and no complete frame of it waits any more.
    void drained();

protected slots:
    void statusSlot(QAbstractSocket::SocketState state);

private slots:
    void readPkg();
    void pollAvailable();

private:
    void init();
    void unwire();
    bool readFrame();
    void pkgReaded();

    QTcpSocket* tcpSocket = nullptr;
    std::unique_ptr<ZelvoClock> ownClock;
    std::unique_ptr<ZelvoClockTimer> pollTimer;
    ZelvoClockTimer* stallTimer = nullptr;
    ZelvoFrameReader reader;
    bool readScheduled = false;
    bool reading = false;
    qint64 backlogPeak = 0;
    ZelvoRecord::Reason abortReason = ZelvoRecord::Reason::None;
    bool paused = false;

    static int pollCountdown;
};
