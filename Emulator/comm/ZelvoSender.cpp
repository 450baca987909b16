#include "comm/ZelvoSender.h"

#include "clock/ZelvoClock.h"
#include "comm/ZelvoConnection.h"
#include "ZelvoFrame.h"
#include "ZelvoLog.h"
#include "comm/ZelvoSocket.h"

#include <QDebug>
#include <QTcpSocket>

#include <limits>

ZelvoSender::ZelvoSender(ZelvoConnection* connection, ZelvoClock* clock)
    : connection(connection)
    , clock(clock)
    , dueTimer(new ZelvoClockTimer(clock, this))
{
    dueTimer->setSingleShot(true);
    connect(dueTimer, &ZelvoClockTimer::timeout, this, &ZelvoSender::sendDue);
}

ZelvoSender::~ZelvoSender()
{
    qCDebug(zelvoLinkLog) << "Invoked Destructor of ZelvoSender";
}

bool ZelvoSender::send(const QByteArray& data, bool* dropped)
{
    if (dropped)
        *dropped = false;
    if (connection->linkDelay() <= 0 && waiting.isEmpty())
        return sendData(data);
    // The same bound as for bytes the agent has not read: a slowed link
    // must not grow the emulator without limit either.
    if (waitingBytes + data.size() > ZelvoFrame::maxUnsentSize) {
        qCWarning(zelvoLinkLog).nospace() << "\033[31mZelvoSender::send " << waitingBytes
                              << " BYTES WAIT FOR THE SLOWED LINK, MESSAGE DROPPED\033[0m";
        if (dropped)
            *dropped = true;
        return false;
    }
    waiting.enqueue({clock->now(), data});
    waitingBytes += data.size();
    if (!dueTimer->isActive())
        startDueTimer();
    return true;
}

void ZelvoSender::onDelayChanged()
{
    // Not through the due timer: a manual clock would hold messages that
    // are already due until it is next advanced.
    dueTimer->stop();
    sendDue();
}

bool ZelvoSender::sendData(const QByteArray& data)
{
    const QTcpSocket* socket = connection->socket()->socket();
    if (socket && socket->bytesToWrite() > ZelvoFrame::maxUnsentSize) {
        connection->socket()->abortConnection(
            ZelvoRecord::Reason::EventsUnread, QStringLiteral("ZelvoSender::sendData AGENT READS NOTHING: %1 BYTES UNSENT").arg(socket->bytesToWrite()));
        return false;
    }
    return connection->socket()->sendData(data);
}

qint64 ZelvoSender::unsentBytes() const
{
    const QTcpSocket* socket = connection->socket()->socket();
    return waitingBytes + (socket ? socket->bytesToWrite() : 0);
}

bool ZelvoSender::sendCommand(const ZelvoAction& action)
{
    return connection->socket()->sendCommand(action);
}

void ZelvoSender::sendDue()
{
    // One delay for all, so the due times keep the order of sending.
    while (!waiting.isEmpty() && waiting.head().sentAt + connection->linkDelay() <= clock->now()) {
        const Delayed next = waiting.dequeue();
        waitingBytes -= next.data.size();
        // Once the connection has ended (a failed write aborts it), the rest
        // has no one to go to; the connection's deletion is only deferred.
        const QTcpSocket* socket = connection->socket()->socket();
        if (!socket || socket->state() != QAbstractSocket::ConnectedState || !sendData(next.data)) {
            waiting.clear();
            waitingBytes = 0;
            return;
        }
    }
    if (!waiting.isEmpty())
        startDueTimer();
}

void ZelvoSender::startDueTimer()
{
    const qint64 due = waiting.head().sentAt + connection->linkDelay();
    dueTimer->start(int(qBound(qint64(0), due - clock->now(), qint64(std::numeric_limits<int>::max()))));
}
