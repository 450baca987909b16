#include "ZelvoLog.h"

Q_LOGGING_CATEGORY(zelvoLog, "default")
