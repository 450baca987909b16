#include "ChildProcess.h"

#include <QSignalSpy>

#include <sys/prctl.h>

namespace {

// Run in the child between fork and exec.
void dieWithParent(int signal)
{
    ::prctl(PR_SET_PDEATHSIG, signal);
}

} // namespace

ChildProcess::ChildProcess(int deathSignal, QObject* parent)
    : QProcess(parent)
    , deathSignal(deathSignal)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    setChildProcessModifier([signal = this->deathSignal] { dieWithParent(signal); });
#endif
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

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
void ChildProcess::setupChildProcess()
{
    dieWithParent(deathSignal);
}
#endif
