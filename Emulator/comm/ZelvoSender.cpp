#include "comm/ZelvoSender.h"

#include "clock/ZelvoClock.h"
#include "comm/ZelvoConnection.h"
#include "ZelvoFrame.h"
#include "ZelvoLog.h"
#include "comm/ZelvoSocket.h"

#include <QDebug>
#include <QTcpSocket>

#include <algorithm>
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

bool ZelvoSender::send(const QByteArray& data, int delayMillis)
{
    if (delayMillis <= 0 && waiting.isEmpty())
        return sendData(data);
    // The same bound as for bytes the agent has not read: a slowed link
    // must not grow the emulator without limit either.
    if (waitingBytes + data.size() > ZelvoFrame::maxUnsentSize) {
        qCWarning(zelvoLinkLog).nospace() << "\033[31mZelvoSender::send " << waitingBytes
                              << " BYTES WAIT FOR THE SLOWED LINK, MESSAGE DROPPED\033[0m";
        return false;
    }
    qint64 due = clock->now() + qMax(delayMillis, 0);
    if (!waiting.isEmpty())
        due = std::max(due, waiting.last().due);
    waiting.enqueue({due, data});
    waitingBytes += data.size();
    if (!dueTimer->isActive())
        startDueTimer();
    return true;
}

bool ZelvoSender::sendData(const QByteArray& data)
{
    const QTcpSocket* socket = connection->socket()->socket();
    if (socket && socket->bytesToWrite() > ZelvoFrame::maxUnsentSize) {
        connection->socket()->abortConnection(
            QStringLiteral("ZelvoSender::sendData AGENT READS NOTHING: %1 BYTES UNSENT").arg(socket->bytesToWrite()));
        return false;
    }
    return connection->socket()->sendData(data);
}

bool ZelvoSender::sendCommand(const ZelvoAction& action)
{
    return connection->socket()->sendCommand(action);
}

void ZelvoSender::sendDue()
{
    while (!waiting.isEmpty() && waiting.head().due <= clock->now()) {
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
    dueTimer->start(int(std::min<qint64>(waiting.head().due - clock->now(), std::numeric_limits<int>::max())));
}
