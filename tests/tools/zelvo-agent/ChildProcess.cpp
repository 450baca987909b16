#include "ChildProcess.h"

#include <sys/prctl.h>

ChildProcess::ChildProcess(int signal, QObject* parent)
    : QProcess(parent)
    , signal(signal)
{
}

void ChildProcess::setupChildProcess()
{
    ::prctl(PR_SET_PDEATHSIG, signal);
}
