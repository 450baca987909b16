#include "ZelvoTrace.h"

#include "ZelvoTraceParser.h"

bool ZelvoTrace::parse(const QByteArray& csv, Readings* readings, QString* error)
{
    ZelvoTraceParser parser(csv.size());
    const bool parsed = parser.add(csv) && parser.finish();
    *readings = parsed ? parser.takeReadings() : Readings();
    if (!parsed)
        *error = parser.error();
    return parsed;
}
