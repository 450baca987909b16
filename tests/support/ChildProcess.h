#pragma once

#include <QProcess>

#include <csignal>

// A process that cannot outlive the test: the kernel sends it `deathSignal`
// when the test process ends, however it ends, and it is stopped when this
// object goes away.
class ChildProcess final : public QProcess
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ChildProcess)

public:
    explicit ChildProcess(int deathSignal = SIGKILL, QObject* parent = nullptr);
    ~ChildProcess() override;

    // Ends the process if it still runs and waits until it is gone.
    void stop();
    // The exit code once it ended normally within the timeout, else -1.
    // Waiting keeps the caller's event loop turning, so that a server in
    // the test process can serve the program meanwhile.
    int waitForExit(int timeoutMillis);

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
protected:
    // Qt 6 has no such hook: there the constructor hands QProcess a
    // function to run in the child instead.
    void setupChildProcess() override;
#endif

private:
    int deathSignal;
};
