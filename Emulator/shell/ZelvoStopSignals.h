#pragma once

#include <QObject>

class QSocketNotifier;
class QString;

// Turns SIGTERM, SIGINT and SIGHUP into stopRequested() on the event loop,
// so that a service manager, a CI runner or Ctrl-C ends the program the way
// closing its window does. The handler itself only writes the signal's
// number into a pipe. Once one signal has come, any further one ends the
// process at once, the default way: a stop that hangs can still be ended.
// One object per process.
class ZelvoStopSignals final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoStopSignals)

public:
    explicit ZelvoStopSignals(QObject* parent = nullptr);
    // Gives the signals back their default action.
    ~ZelvoStopSignals() override;

    // False with a reason when the pipe or a handler cannot be set up, or
    // another object has them.
    bool install(QString* error);

    // "SIGTERM" for SIGTERM and so on.
    static QString name(int signal);

signals:
    void stopRequested(int signal);

private:
    void readSignal();

    QSocketNotifier* notifier = nullptr;
};
