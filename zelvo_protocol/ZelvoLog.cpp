#include "ZelvoLog.h"

Q_LOGGING_CATEGORY(zelvoLog, "default")

QDebug operator<<(QDebug debug, const ZelvoLogList& list)
{
    const bool spaces = debug.autoInsertSpaces();
    debug.nospace() << '(';
    for (int i = 0; i < list.items.size(); ++i) {
        if (i > 0)
            debug << ", ";
        debug << list.items.at(i);
    }
    debug << ')';
    debug.setAutoInsertSpaces(spaces);
    return debug.maybeSpace();
}
