#include "RecordReference.h"

#include "record/ZelvoRecordMember.h"

QString RecordReference::markdown()
{
    return QStringLiteral(
               "# Record fields\n\n"
               "<!-- Written by zelvo-reference (tools/reference) from the members' declarations; scripts/docs writes it again. -->\n\n"
               "The members of a record of the message record, as `zelvo-ctl log --json`\n"
               "prints them and the control channel's `log` request answers them, stable\n"
               "from release to release. A record carries the members of its kind only.\n"
               "What the record is for: [What became of each message](../message-record.md).\n\n")
        + ZelvoRecordMember::table();
}
