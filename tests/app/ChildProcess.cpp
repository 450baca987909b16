#include "ChildProcess.h"

#include <csignal>
#include <sys/prctl.h>

ChildProcess::ChildProcess(QObject* parent)
    : QProcess(parent)
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
    terminate();
    if (!waitForFinished(10000)) {
        kill();
        waitForFinished(10000);
    }
}

void ChildProcess::setupChildProcess()
{
    // A test that crashes or is killed by its timeout takes its X server
    // and its emulator along.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
}
