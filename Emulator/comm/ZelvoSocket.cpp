#include "comm/ZelvoSocket.h"

#include "ZelvoAction.h"
#include "ZelvoFrame.h"
#include "ZelvoLog.h"
#include "clock/ZelvoClock.h"
#include "ZelvoFrameBudget.h"

#include <QDebug>
#include <QMetaEnum>
#include <QScopedValueRollback>
#include <QTcpSocket>
#include <QTimer>

int ZelvoSocket::pollCountdown = 3;

ZelvoSocket::ZelvoSocket(QTcpSocket* socket, std::shared_ptr<ZelvoFrameBudget> budget, ZelvoClock* clock)
    : tcpSocket(socket)
    , ownClock(clock ? nullptr : std::make_unique<ZelvoClock>())
    , pollTimer(std::make_unique<ZelvoClockTimer>(clock ? clock : ownClock.get()))
    , stallTimer(new ZelvoClockTimer(pollTimer->clock(), this))
    , reader(std::move(budget))
{
    if (tcpSocket)
        tcpSocket->setParent(this);
    init();
}

ZelvoSocket::~ZelvoSocket()
{
    qCDebug(zelvoLinkLog) << "Invoked Destructor of ZelvoSocket";
    unwire();
    reader.clear();
    delete tcpSocket;
    tcpSocket = nullptr;
    qCDebug(zelvoLinkLog) << "ZelvoSocket::~ZelvoSocket socket null";
    pollTimer.reset();
}

void ZelvoSocket::init()
{
    if (tcpSocket) {
        tcpSocket->setReadBufferSize(ZelvoFrame::readAheadSize);
        connect(tcpSocket, &QAbstractSocket::stateChanged, this, &ZelvoSocket::statusSlot);
        qCDebug(zelvoLinkLog) << "Connected SIGNAL of Socket";
        connect(tcpSocket, &QIODevice::readyRead, this, &ZelvoSocket::readPkg);
        // Bytes that the socket read before we listened had their readyRead
        // already; without this they would wait for the agent's next write.
        if (tcpSocket->bytesAvailable() > 0)
            QMetaObject::invokeMethod(this, &ZelvoSocket::readPkg, Qt::QueuedConnection);
    }
    pollTimer->setInterval(2000);
    pollTimer->setSingleShot(false);
    connect(pollTimer.get(), &ZelvoClockTimer::timeout, this, &ZelvoSocket::pollAvailable);
    stallTimer->setSingleShot(true);
    stallTimer->setInterval(ZelvoFrame::frameStallMillis);
    connect(stallTimer, &ZelvoClockTimer::timeout, this, [this] {
        abortConnection(ZelvoRecord::Reason::FrameStalled,
                        QStringLiteral("ZelvoSocket::readPkg NO BYTES FOR %1 ms IN THE MIDDLE OF A FRAME")
                            .arg(ZelvoFrame::frameStallMillis));
    });
}

void ZelvoSocket::unwire()
{
    if (tcpSocket) {
        disconnect(tcpSocket, &QAbstractSocket::stateChanged, this, &ZelvoSocket::statusSlot);
        disconnect(tcpSocket, &QIODevice::readyRead, this, &ZelvoSocket::readPkg);
    }
    disconnect(pollTimer.get(), &ZelvoClockTimer::timeout, this, &ZelvoSocket::pollAvailable);
    pollTimer->stop();
    stallTimer->stop();
}

void ZelvoSocket::abortConnection(ZelvoRecord::Reason reason, const QString& logLine)
{
    qCWarning(zelvoLinkLog).noquote() << "\033[31m" + logLine + ", CLOSING THE CONNECTION\033[0m";
    abortReason = reason;
    reader.clear();
    emit frameAnnounced(0);
    stallTimer->stop();
    if (tcpSocket)
        tcpSocket->abort();
}

void ZelvoSocket::setPaused(bool paused)
{
    this->paused = paused;
    // Held in the middle of a frame, the agent's silence is ours.
    if (paused)
        stallTimer->stop();
    else if (reader.inFrame())
        stallTimer->start();
    if (!paused && !readScheduled) {
        readScheduled = true;
        QTimer::singleShot(0, this, [this] {
            readScheduled = false;
            readPkg();
        });
    }
}

bool ZelvoSocket::sendData(const QByteArray& data)
{
    if (!tcpSocket) {
        qCDebug(zelvoLinkLog) << "ZelvoSocket::sendData Null Socket return";
        return false;
    }
    qCDebug(zelvoLinkLog) << "\033[96mZelvoSocket::sendData Size" << data.size() << "\033[0m";
    const QByteArray frame = ZelvoFrame::encode(data);
    qCDebug(zelvoLinkLog) << "ZelvoSocket::sendData dataSize" << frame.left(ZelvoFrame::headerSize).toHex();
    // Written at once while the agent keeps up; behind a backlog the write
    // notifier is armed already, and a write per message to a full socket
    // (one per agent and event for agents that never read) would only fail.
    const bool backlog = tcpSocket->bytesToWrite() > 0;
    tcpSocket->write(frame);
    if (backlog)
        backlogPeak = qMax(backlogPeak, tcpSocket->bytesToWrite());
    else
        tcpSocket->flush();
    pollTimer->start();
    return true;
}

qint64 ZelvoSocket::bytesToWrite() const
{
    return tcpSocket ? tcpSocket->bytesToWrite() : 0;
}

bool ZelvoSocket::isConnected() const
{
    return tcpSocket && tcpSocket->state() == QAbstractSocket::ConnectedState;
}

bool ZelvoSocket::sendCommand(const ZelvoAction& action)
{
    qCDebug(zelvoLinkLog) << "ZelvoSocket::sendCommand" << action.commandType();
    return sendData(action.toBinary());
}

void ZelvoSocket::statusSlot(QAbstractSocket::SocketState state)
{
    const QByteArray line = QByteArrayLiteral("ZelvoSocket::statusSlot ")
        + QMetaEnum::fromType<QAbstractSocket::SocketState>().valueToKey(state);
    switch (state) {
    case QAbstractSocket::UnconnectedState:
        emit disconnected();
        qCDebug(zelvoLinkLog) << line.constData();
        break;
    case QAbstractSocket::ClosingState:
        qCDebug(zelvoLinkLog) << line.constData();
        emit disconnected();
        // The unconnected state that follows must not report the end twice.
        unwire();
        break;
    default:
        qCDebug(zelvoLinkLog) << line.constData();
        break;
    }
}

void ZelvoSocket::readPkg()
{
    // The rest of a burst already waits for its turn; reading now would let
    // it jump the queue.
    if (readScheduled)
        return;
    // One readyRead may bring several frames; none of them may wait for the
    // agent's next write or for the poll timer. A long burst goes on in the
    // next turns of the event loop, in order. A held agent's bytes wait in
    // the kernel beyond the read-ahead, as those of a long burst do.
    bool handedOn = false;
    {
        // A frame handed on may empty the inbox of a connection whose agent
        // has closed, which then goes unless frames of this turn still wait.
        const QScopedValueRollback<bool> turn(reading, true);
        for (int frames = 0; frames < ZelvoFrame::framesPerTurn; ++frames) {
            if (paused)
                return;
            if (!readFrame()) {
                handedOn = true;
                break;
            }
        }
    }
    if (handedOn) {
        // What a closed socket still held has been handed on.
        if (tcpSocket->state() == QAbstractSocket::UnconnectedState)
            emit drained();
        return;
    }
    readScheduled = true;
    QTimer::singleShot(0, this, [this] {
        readScheduled = false;
        readPkg();
    });
}

void ZelvoSocket::pollAvailable()
{
    // Shared by all sockets: polling also ends at every third tick overall.
    if (--pollCountdown == 0) {
        pollCountdown = 3;
        pollTimer->stop();
    }
    const qint64 pending = tcpSocket->bytesAvailable();
    qCDebug(zelvoLinkLog) << "pollAvailable Available" << pending;
    if (pending == 0)
        pollTimer->stop();
    else
        readPkg();
}

bool ZelvoSocket::readFrame()
{
    qCDebug(zelvoLinkLog) << "ZelvoSocket::readPkg";
    // A header is read only once it is complete, so that a frame begun
    // always has a payload length for the stall timer.
    const bool startsFrame = !reader.inFrame();
    if (startsFrame && tcpSocket->bytesAvailable() < ZelvoFrame::headerSize)
        return false;
    qCDebug(zelvoLinkLog) << "ZelvoSocket::readPkg enought data";
    if (startsFrame) {
        reader.readFrom(tcpSocket);
        qCDebug(zelvoLinkLog).nospace() << "readPkg READED REMAINING<<<<<< "
                                    << reader.announcedSize() - tcpSocket->bytesAvailable();
        if (reader.announcedSize() > ZelvoFrame::maxPayloadSize)
            emit frameSkipped(reader.announcedSize(), ZelvoFrame::maxPayloadSize);
        else if (reader.inFrame())
            emit frameAnnounced(reader.announcedSize());
        // Counted whole before a byte of it is read: held back, it waits in
        // the kernel for room.
        if (paused)
            return false;
    }
    if (reader.inFrame()) {
        const qint64 before = reader.bytesWanted();
        if (!reader.readFrom(tcpSocket)) {
            abortConnection(ZelvoRecord::Reason::FrameNotHeld, reader.error());
            return false;
        }
        if (reader.inFrame()) {
            if (startsFrame || reader.bytesWanted() < before)
                stallTimer->start();
            return false;
        }
    }
    stallTimer->stop();
    if (reader.hasPayload())
        pkgReaded();
    return true;
}

void ZelvoSocket::pkgReaded()
{
    const QByteArray payload = reader.takePayload();
    qCDebug(zelvoLinkLog) << "pkgReaded!!!!";
    emit dataReceived(payload);
}
