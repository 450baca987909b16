#include "ChildProcess.h"

#include <QSignalSpy>

#include <sys/prctl.h>

ChildProcess::ChildProcess(int deathSignal, QObject* parent)
    : QProcess(parent)
    , deathSignal(deathSignal)
{
}

ChildProcess::~ChildProcess()
{
    stop();
}

void ChildProcess::stop()
{
    if (state() == QProcess::NotRunning)
        return;
    // SIGTERM lets a server such as Xvfb remove its lock file and socket.
    terminate();
    if (!waitForFinished(10000)) {
        kill();
        waitForFinished(10000);
    }
}

int ChildProcess::waitForExit(int timeoutMillis)
{
    if (state() != QProcess::NotRunning) {
        qRegisterMetaType<QProcess::ExitStatus>();
        QSignalSpy finished(this, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
        finished.wait(timeoutMillis);
    }
    if (state() != QProcess::NotRunning || exitStatus() != QProcess::NormalExit)
        return -1;
    return exitCode();
}

void ChildProcess::setupChildProcess()
{
    ::prctl(PR_SET_PDEATHSIG, deathSignal);
}
