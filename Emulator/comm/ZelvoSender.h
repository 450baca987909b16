#pragma once

#include <QByteArray>
#include <QObject>
#include <QQueue>

class ZelvoAction;
class ZelvoClock;
class ZelvoClockTimer;
class ZelvoConnection;

// The outbound side of a connection: every event for an agent leaves here,
// at once or, while the link is slowed down, a given time later; in the
// order it was sent either way.
class ZelvoSender final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoSender)

public:
    // Delays are counted on clock.
    ZelvoSender(ZelvoConnection* connection, ZelvoClock* clock);
    ~ZelvoSender() override;

    // Writes now, or after delayMillis; a message never overtakes one sent
    // before it, so with messages still waiting even a delay of 0 queues.
    bool send(const QByteArray& data, int delayMillis);
    bool sendData(const QByteArray& data);
    bool sendCommand(const ZelvoAction& action);

private:
    struct Delayed
    {
        qint64 due = 0; // on the clock
        QByteArray data;
    };

    void sendDue();
    void startDueTimer();

    ZelvoConnection* connection = nullptr;
    QQueue<Delayed> waiting;
    qint64 waitingBytes = 0;
    ZelvoClock* clock = nullptr;
    ZelvoClockTimer* dueTimer = nullptr;
};
