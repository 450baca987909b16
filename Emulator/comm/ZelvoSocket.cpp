#include "comm/ZelvoSocket.h"

#include "comm/ZelvoAction.h"
#include "comm/ZelvoConnection.h"
#include "comm/ZelvoFrame.h"
#include "util/ZelvoLog.h"

#include <QDebug>
#include <QMetaEnum>
#include <QTcpSocket>
#include <QTimer>

#include <new>
#include <utility>

int ZelvoSocket::pollCountdown = 3;
qint64 ZelvoSocket::unfinishedBytes = 0;

ZelvoSocket::ZelvoSocket(QTcpSocket* socket, ZelvoConnection* connection)
    : connection(connection)
    , tcpSocket(socket)
    , pollTimer(std::make_unique<QTimer>())
    , stallTimer(new QTimer(this))
{
    if (tcpSocket)
        tcpSocket->setParent(this);
    init();
}

ZelvoSocket::~ZelvoSocket()
{
    qCDebug(zelvoLog) << "Invoked Destructor of ZelvoSocket";
    unwire();
    releaseFrame();
    delete tcpSocket;
    tcpSocket = nullptr;
    qCDebug(zelvoLog) << "ZelvoSocket::~ZelvoSocket socket null";
    pollTimer.reset();
}

void ZelvoSocket::init()
{
    if (tcpSocket) {
        connect(tcpSocket, &QAbstractSocket::stateChanged, this, &ZelvoSocket::statusSlot);
        qCDebug(zelvoLog) << "Connected SIGNAL of Socket";
        connect(tcpSocket, &QIODevice::readyRead, this, &ZelvoSocket::readPkg);
        // Bytes that the socket read before we listened had their readyRead
        // already; without this they would wait for the agent's next write.
        if (tcpSocket->bytesAvailable() > 0)
            QMetaObject::invokeMethod(this, &ZelvoSocket::readPkg, Qt::QueuedConnection);
    }
    pollTimer->setInterval(2000);
    pollTimer->setSingleShot(false);
    connect(pollTimer.get(), &QTimer::timeout, this, &ZelvoSocket::pollAvailable);
    stallTimer->setSingleShot(true);
    stallTimer->setInterval(ZelvoFrame::frameStallMillis);
    connect(stallTimer, &QTimer::timeout, this, [this] {
        abortConnection(QStringLiteral("ZelvoSocket::readPkg NO BYTES FOR %1 ms IN THE MIDDLE OF A FRAME")
                            .arg(ZelvoFrame::frameStallMillis));
    });
}

void ZelvoSocket::unwire()
{
    if (tcpSocket) {
        disconnect(tcpSocket, &QAbstractSocket::stateChanged, this, &ZelvoSocket::statusSlot);
        disconnect(tcpSocket, &QIODevice::readyRead, this, &ZelvoSocket::readPkg);
    }
    disconnect(pollTimer.get(), &QTimer::timeout, this, &ZelvoSocket::pollAvailable);
    pollTimer->stop();
    stallTimer->stop();
}

void ZelvoSocket::abortConnection(const QString& reason)
{
    qWarning().noquote() << "\033[31m" + reason + ", CLOSING THE CONNECTION\033[0m";
    releaseFrame();
    stallTimer->stop();
    if (tcpSocket)
        tcpSocket->abort();
}

bool ZelvoSocket::sendData(const QByteArray& data)
{
    if (!tcpSocket) {
        qCDebug(zelvoLog) << "ZelvoSocket::sendData Null Socket return";
        return false;
    }
    qCDebug(zelvoLog) << "\033[96mZelvoSocket::sendData Size" << data.size() << "\033[0m";
    const QByteArray frame = ZelvoFrame::encode(data);
    qCDebug(zelvoLog) << "ZelvoSocket::sendData dataSize" << frame.left(ZelvoFrame::headerSize).toHex();
    tcpSocket->write(frame);
    tcpSocket->flush();
    pollTimer->start();
    return true;
}

bool ZelvoSocket::sendCommand(const ZelvoAction& action)
{
    qCDebug(zelvoLog) << "ZelvoSocket::sendCommand" << action.commandType();
    return sendData(action.toBinary());
}

void ZelvoSocket::statusSlot(QAbstractSocket::SocketState state)
{
    const QByteArray line = QByteArrayLiteral("ZelvoSocket::statusSlot ")
        + QMetaEnum::fromType<QAbstractSocket::SocketState>().valueToKey(state);
    switch (state) {
    case QAbstractSocket::UnconnectedState:
        emit disconnected();
        if (connection)
            connection->onClientDone();
        qCDebug(zelvoLog) << line.constData();
        break;
    case QAbstractSocket::ClosingState:
        qCDebug(zelvoLog) << line.constData();
        emit disconnected();
        // The unconnected state that follows must not report the end twice.
        unwire();
        break;
    default:
        qCDebug(zelvoLog) << line.constData();
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
    // next turns of the event loop, in order.
    for (int frames = 0; frames < ZelvoFrame::framesPerTurn; ++frames) {
        if (!readFrame()) {
            tcpSocket->setReadBufferSize(0);
            return;
        }
    }
    tcpSocket->setReadBufferSize(ZelvoFrame::backlogReadBufferSize);
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
    qCDebug(zelvoLog) << "pollAvailable Available" << pending;
    if (pending == 0)
        pollTimer->stop();
    else
        readPkg();
}

bool ZelvoSocket::readFrame()
{
    qCDebug(zelvoLog) << "ZelvoSocket::readPkg";
    const bool startsFrame = remaining == 0;
    if (startsFrame && tcpSocket->bytesAvailable() < ZelvoFrame::headerSize)
        return false;
    qCDebug(zelvoLog) << "ZelvoSocket::readPkg enought data";
    if (startsFrame)
        readHeader();
    const qint64 before = remaining;
    if (!readPayload())
        return false;
    if (remaining > 0) {
        if (startsFrame || remaining < before)
            stallTimer->start();
        return false;
    }
    stallTimer->stop();
    if (skipping)
        skipping = false;
    else
        pkgReaded();
    return true;
}

void ZelvoSocket::readHeader()
{
    const QByteArray header = tcpSocket->read(ZelvoFrame::headerSize);
    qCDebug(zelvoLog).nospace() << "readPkg READED SIZE    <<<<<< " << header.toHex();
    for (int i = 0; i < ZelvoFrame::headerSize; ++i) {
        qCDebug(zelvoLog).nospace() << "readPkg READED SIZE[" << i << "] <<<<<< "
                                    << int(quint8(header.at(ZelvoFrame::headerSize - 1 - i)));
    }
    packetSize = ZelvoFrame::payloadSize(header.constData());
    qCDebug(zelvoLog).nospace() << "readPkg READED SIZE <<<<<< " << packetSize;
    qCDebug(zelvoLog).nospace() << "readPkg READED REMAINING<<<<<< " << packetSize - tcpSocket->bytesAvailable();
    // A negative length (top bit set) announces no payload: the frame is
    // delivered empty at once and the next 4 bytes are the next header.
    remaining = qMax<qint64>(packetSize, 0);
    skipping = packetSize > ZelvoFrame::maxPayloadSize;
    if (skipping) {
        qWarning().nospace() << "\033[31mZelvoSocket::readPkg FRAME OF " << packetSize
                             << " BYTES IS OVER THE LIMIT OF " << ZelvoFrame::maxPayloadSize
                             << " BYTES, SKIPPING IT\033[0m";
        if (connection)
            connection->recordSkippedFrame(packetSize, ZelvoFrame::maxPayloadSize);
    }
}

bool ZelvoSocket::readPayload()
{
    const qint64 count = qMin(tcpSocket->bytesAvailable(), remaining);
    if (count <= 0)
        return true;
    qint64 taken = 0;
    if (skipping) {
        taken = tcpSocket->skip(count);
    } else {
        if (!reserveFor(count))
            return false;
        // Straight into the frame's buffer, without a temporary array.
        const int collected = buffer.size();
        buffer.resize(collected + int(count));
        taken = tcpSocket->read(buffer.data() + collected, count);
        buffer.resize(collected + int(qMax<qint64>(taken, 0)));
    }
    if (taken > 0)
        remaining -= taken;
    return true;
}

// The buffer grows with the bytes that arrived, not with the length that
// the header announced: a header alone costs nothing. Doubling keeps the
// copies of a large frame linear, and the frame's own length caps it, so
// that the payload handed on holds no slack.
bool ZelvoSocket::reserveFor(qint64 count)
{
    const qint64 held = buffer.capacity();
    const qint64 needed = buffer.size() + count;
    if (needed <= held)
        return true;
    const qint64 wanted = qMin(qMax(needed, 2 * held), buffer.size() + remaining);
    if (unfinishedBytes - held + wanted > ZelvoFrame::unfinishedFramesBudget) {
        abortConnection(QStringLiteral("ZelvoSocket::readPkg UNFINISHED FRAMES OF ALL AGENTS OVER %1 BYTES")
                            .arg(ZelvoFrame::unfinishedFramesBudget));
        return false;
    }
    try {
        buffer.reserve(int(wanted));
    } catch (const std::bad_alloc&) {
        abortConnection(QStringLiteral("ZelvoSocket::readPkg NO MEMORY FOR A FRAME OF %1 BYTES").arg(packetSize));
        return false;
    }
    unfinishedBytes += buffer.capacity() - held;
    return true;
}

void ZelvoSocket::releaseFrame()
{
    unfinishedBytes -= buffer.capacity();
    buffer = QByteArray();
    remaining = 0;
    skipping = false;
}

void ZelvoSocket::pkgReaded()
{
    unfinishedBytes -= buffer.capacity();
    const QByteArray payload = std::exchange(buffer, QByteArray());
    remaining = 0;
    qCDebug(zelvoLog) << "pkgReaded!!!!";
    emit dataReceived(payload);
}
