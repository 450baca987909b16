#include "util/ZelvoBackground.h"

#include <QtGlobal>

#if defined(Q_OS_LINUX)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

void ZelvoBackground::lowerCurrentThread()
{
#if defined(Q_OS_LINUX)
    // A nice value, not an idle class: on a machine busy with other work
    // the thread still gets its share, so a recording never starves.
    constexpr int backgroundNice = 10;
    thread_local bool lowered = false;
    if (lowered)
        return;
    lowered = true;
    // On Linux the nice value of a thread id is that thread's own.
    setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), backgroundNice);
#endif
}
