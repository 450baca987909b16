#pragma once

#include <QProcess>

// A process that cannot outlive the test: it is killed when the test
// process dies, however it dies, and stopped when this object goes away.
class ChildProcess final : public QProcess
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ChildProcess)

public:
    explicit ChildProcess(QObject* parent = nullptr);
    ~ChildProcess() override;

    // Ends the process if it still runs and waits until it is gone.
    void stop();

protected:
    void setupChildProcess() override;
};
