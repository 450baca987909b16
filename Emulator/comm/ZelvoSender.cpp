#include "comm/ZelvoSender.h"

#include "clock/ZelvoClock.h"
#include "ZelvoFrame.h"
#include "ZelvoLog.h"
#include "comm/ZelvoSocket.h"

#include <QDebug>

#include <limits>

ZelvoSender::ZelvoSender(ZelvoSocket* socket, ZelvoClock* clock, int delayMillis)
    : socket(socket)
    , delayMillis(delayMillis)
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
    if (delayMillis <= 0 && waiting.isEmpty())
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

void ZelvoSender::setDelay(int millis)
{
    delayMillis = millis;
    // Not through the due timer: a manual clock would hold messages that
    // are already due until it is next advanced.
    dueTimer->stop();
    sendDue();
}

bool ZelvoSender::sendData(const QByteArray& data)
{
    if (socket->bytesToWrite() > ZelvoFrame::maxUnsentSize) {
        socket->abortConnection(
            ZelvoRecord::Reason::EventsUnread, QStringLiteral("ZelvoSender::sendData AGENT READS NOTHING: %1 BYTES UNSENT").arg(socket->bytesToWrite()));
        return false;
    }
    return socket->sendData(data);
}

qint64 ZelvoSender::unsentBytes() const
{
    return waitingBytes + socket->bytesToWrite();
}

bool ZelvoSender::sendCommand(const ZelvoAction& action)
{
    return socket->sendCommand(action);
}

void ZelvoSender::sendDue()
{
    // One delay for all, so the due times keep the order of sending.
    while (!waiting.isEmpty() && waiting.head().sentAt + delayMillis <= clock->now()) {
        const Delayed next = waiting.dequeue();
        waitingBytes -= next.data.size();
        // Once the connection has ended (a failed write aborts it), the rest
        // has no one to go to; the connection's deletion is only deferred.
        if (!socket->isConnected() || !sendData(next.data)) {
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
    const qint64 due = waiting.head().sentAt + delayMillis;
    dueTimer->start(int(qBound(qint64(0), due - clock->now(), qint64(std::numeric_limits<int>::max()))));
}
