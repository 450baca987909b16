#include "ZelvoSocket.h"

#include "ZelvoAction.h"
#include "ZelvoConnection.h"
#include "ZelvoFrame.h"
#include "ZelvoLog.h"

#include <QDebug>
#include <QMetaEnum>
#include <QTcpSocket>
#include <QTimer>

#include <utility>

int ZelvoSocket::pollCountdown = 3;

ZelvoSocket::ZelvoSocket(QTcpSocket* socket, ZelvoConnection* connection)
    : connection(connection)
    , tcpSocket(socket)
    , pollTimer(std::make_unique<QTimer>())
{
    if (tcpSocket)
        tcpSocket->setParent(this);
    init();
}

ZelvoSocket::~ZelvoSocket()
{
    qCDebug(zelvoLog) << "Invoked Destructor of ZelvoSocket";
    unwire();
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
}

void ZelvoSocket::unwire()
{
    if (tcpSocket) {
        disconnect(tcpSocket, &QAbstractSocket::stateChanged, this, &ZelvoSocket::statusSlot);
        disconnect(tcpSocket, &QIODevice::readyRead, this, &ZelvoSocket::readPkg);
    }
    disconnect(pollTimer.get(), &QTimer::timeout, this, &ZelvoSocket::pollAvailable);
    pollTimer->stop();
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
    // One readyRead may bring several frames; none of them may wait for the
    // agent's next write or for the poll timer.
    while (readFrame()) {
    }
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
    readPayload();
    if (remaining > 0)
        return false;
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
        return;
    }
    // Growing a large frame step by step copies it again and again; memory
    // that has not been written to costs no more than its address range.
    buffer.reserve(int(remaining));
}

void ZelvoSocket::readPayload()
{
    const qint64 count = qMin(tcpSocket->bytesAvailable(), remaining);
    if (count <= 0)
        return;
    qint64 taken = 0;
    if (skipping) {
        taken = tcpSocket->skip(count);
    } else {
        // Straight into the frame's buffer, without a temporary array.
        const int collected = buffer.size();
        buffer.resize(collected + int(count));
        taken = tcpSocket->read(buffer.data() + collected, count);
        buffer.resize(collected + int(qMax<qint64>(taken, 0)));
    }
    if (taken > 0)
        remaining -= taken;
}

void ZelvoSocket::pkgReaded()
{
    const QByteArray payload = std::exchange(buffer, QByteArray());
    remaining = 0;
    qCDebug(zelvoLog) << "pkgReaded!!!!";
    emit dataReceived(payload);
}
