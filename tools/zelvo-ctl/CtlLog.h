#pragma once

#include <QString>

class QJsonObject;

// How zelvo-ctl prints the emulator's message records: one line each,
// readable text by default, the record's own JSON with --json.
class CtlLog final
{
public:
    CtlLog() = delete;

    // "12 14:03:22.123 in agent_content abc: content 3 drawn with layout 2"
    static QString line(const QJsonObject& record, bool json);
};
