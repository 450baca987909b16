#pragma once

#include "ZelvoFrame.h"

#include <QtGlobal>

// The memory that the unfinished frames of one emulator's agents may hold
// together (see ZelvoFrameReader). Each emulator has its own, so that two
// in one process never count against each other.
class ZelvoFrameBudget final
{
    Q_DISABLE_COPY_MOVE(ZelvoFrameBudget)

public:
    explicit ZelvoFrameBudget(qint64 limit = ZelvoFrame::unfinishedFramesBudget)
        : limitBytes(limit)
    {
    }

    // Whether a buffer holding held bytes may grow to wanted.
    bool allows(qint64 held, qint64 wanted) const { return heldBytes - held + wanted <= limitBytes; }
    // A buffer that held from bytes holds to now.
    void change(qint64 from, qint64 to) { heldBytes += to - from; }
    qint64 limit() const { return limitBytes; }
    qint64 held() const { return heldBytes; }

private:
    qint64 limitBytes = 0;
    qint64 heldBytes = 0;
};
