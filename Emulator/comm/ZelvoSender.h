#pragma once

#include <QByteArray>
#include <QObject>
#include <QQueue>

class ZelvoAction;
class ZelvoClock;
class ZelvoClockTimer;
class ZelvoSocket;

// The outbound side of a connection: every event for an agent leaves here,
// at once or, while the link is slowed down, the link's delay after it was
// sent; in the order it was sent either way. The delay in force counts, so
// lowering it lets waiting messages go sooner.
class ZelvoSender final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoSender)

public:
    // Writes on socket; delays are counted on clock, from delayMillis on.
    ZelvoSender(ZelvoSocket* socket, ZelvoClock* clock, int delayMillis);
    ~ZelvoSender() override;

    // Writes now, or once the link's delay has passed; a message never
    // overtakes one sent before it, so with messages still waiting even a
    // delay of 0 queues. False when it will not go out; *dropped then says
    // whether that is because the waiting messages are at their bound.
    bool send(const QByteArray& data, bool* dropped = nullptr);
    // The link's delay changed: waiting messages are due at their time of
    // sending plus the new delay.
    void setDelay(int millis);
    bool sendData(const QByteArray& data);
    // Events not yet taken by the agent: those its socket holds and those
    // waiting for the slowed link.
    qint64 unsentBytes() const;
    bool sendCommand(const ZelvoAction& action);

private:
    struct Delayed
    {
        qint64 sentAt = 0; // on the clock
        QByteArray data;
    };

    void sendDue();
    void startDueTimer();

    ZelvoSocket* socket = nullptr;
    int delayMillis = 0;
    QQueue<Delayed> waiting;
    qint64 waitingBytes = 0;
    ZelvoClock* clock = nullptr;
    ZelvoClockTimer* dueTimer = nullptr;
};
