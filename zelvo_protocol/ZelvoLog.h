#pragma once

#include <QLoggingCategory>

// The log lines of the emulator and its tools go to the category named "default", the one of
// qDebug(), so that rules and handlers treat them alike. Through qCDebug a
// line whose debug output is off is not even formatted.
Q_DECLARE_LOGGING_CATEGORY(zelvoLog)
