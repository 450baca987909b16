#pragma once

#include <QLoggingCategory>

#include <QStringList>

class QByteArray;
class QString;

// One category per part of the emulator, so that QT_LOGGING_RULES turns one
// part's lines on or off, e.g. "zelvo.link.debug=false". Through qCDebug a
// line whose category is off is not even formatted.
Q_DECLARE_LOGGING_CATEGORY(zelvoLinkLog)       // "zelvo.link": agents' connections, frames and events
Q_DECLARE_LOGGING_CATEGORY(zelvoContentLog)    // "zelvo.content": configurations, images, layouts, drawing
Q_DECLARE_LOGGING_CATEGORY(zelvoControlLog)    // "zelvo.control": the control channel and traces
Q_DECLARE_LOGGING_CATEGORY(zelvoSensorsLog)    // "zelvo.sensors": the simulated sensors and battery
Q_DECLARE_LOGGING_CATEGORY(zelvoRecordingsLog) // "zelvo.recordings": display and session recordings
Q_DECLARE_LOGGING_CATEGORY(zelvoWebLog)        // "zelvo.web": the web page and its viewers
Q_DECLARE_LOGGING_CATEGORY(zelvoWindowLog)     // "zelvo.window": start, stop, the window and its buttons

namespace ZelvoLog {

// The most of a payload a log line quotes: a configuration of megabytes of
// pictures would otherwise make a log line of megabytes.
constexpr int payloadQuoted = 4096;

// The payload whole up to payloadQuoted bytes, else its first bytes up to a
// whole character and the number of bytes left out.
QString payload(const QByteArray& utf8);
// The list as QDebug writes it, cut in the same way.
QString payload(const QStringList& list);

} // namespace ZelvoLog
