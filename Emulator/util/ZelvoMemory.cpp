#include "util/ZelvoMemory.h"

#include <QTimer>

// Any header of the C library says which one it is.
#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void ZelvoMemory::returnLargeBlocks()
{
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
    // Setting the threshold above also fixed this one at its default of
    // 128 kB: each frame's texts and parse, freed at the top of a heap, went
    // back to the system and were faulted in again, zeroed, for the next
    // frame, a quarter of a 4 MB configuration's cost. A few megabytes are
    // kept for reuse; giveBack() still returns them.
    mallopt(M_TRIM_THRESHOLD, 4 * 1024 * 1024);
#endif
}

void ZelvoMemory::giveBack()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

void ZelvoMemory::giveBackSoon()
{
    static bool scheduled = false;
    if (scheduled)
        return;
    scheduled = true;
    QTimer::singleShot(0, [] {
        scheduled = false;
        giveBack();
    });
}
