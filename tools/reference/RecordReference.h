#pragma once

#include <QString>

// The message record's members as a Markdown page, its table made from
// their declarations (ZelvoRecordMember).
class RecordReference final
{
public:
    static QString markdown();
};
