#pragma once

#include <QObject>
#include <QPointer>

class ZelvoClock;

// A timer on the device clock, used as a QTimer is: an interval, single
// shot or repeating, timeout() when it expires. A repeating timer keeps
// its period on the clock: the next expiry is a period after the last one
// was due, or a period after now when the real clock fell behind.
class ZelvoClockTimer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoClockTimer)

public:
    explicit ZelvoClockTimer(ZelvoClock* clock, QObject* parent = nullptr);
    ~ZelvoClockTimer() override;

    void setInterval(int millis) { intervalMillis = millis; }
    int interval() const { return intervalMillis; }
    void setSingleShot(bool singleShot) { oneShot = singleShot; }
    bool isSingleShot() const { return oneShot; }
    bool isActive() const { return scheduled; }
    // Milliseconds until the next expiry on the clock; -1 when inactive.
    qint64 remainingTime() const;
    ZelvoClock* clock() const;

    // (Re)starts with the interval; a negative one counts as 0.
    void start();
    void start(int millis);
    // (Re)starts, single shot or not, to expire first at deadline on the
    // clock (see ZelvoClock::now()), however late the caller comes to it.
    void startAt(qint64 deadline);
    void stop();

signals:
    void timeout();

private:
    friend class ZelvoClock;

    // A timer may outlive its clock when both are children of one object.
    QPointer<ZelvoClock> deviceClock;
    int intervalMillis = 0;
    bool oneShot = false;
    bool scheduled = false;
    qint64 deadline = 0;
    quint64 order = 0;
};
