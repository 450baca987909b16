#pragma once

#include <QDebug>
#include <QList>
#include <QLoggingCategory>
#include <QString>

// The log lines of the emulator and its tools go to the category named "default", the one of
// qDebug(), so that rules and handlers treat them alike. Through qCDebug a
// line whose debug output is off is not even formatted.
Q_DECLARE_LOGGING_CATEGORY(zelvoLog)

// A list of texts in a log line as Qt 5 writes it, ("a", "b"), so that the
// log reads the same on Qt 6, which would write QList("a", "b").
struct ZelvoLogList
{
    const QList<QString>& items;
};
QDebug operator<<(QDebug debug, const ZelvoLogList& list);
