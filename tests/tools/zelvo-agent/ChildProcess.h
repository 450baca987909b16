#pragma once

#include <QProcess>

// A QProcess whose program dies with the test: the kernel sends it
// `signal` when the test process ends, even by a crash or an abort that
// runs no destructor.
class ChildProcess final : public QProcess
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ChildProcess)

public:
    explicit ChildProcess(int signal, QObject* parent = nullptr);

protected:
    void setupChildProcess() override;

private:
    int signal;
};
