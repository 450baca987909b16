#pragma once

#include "ZelvoTrace.h"

#include <QByteArray>
#include <QString>

// Reads a trace piece by piece, so that one of millions of lines can be
// read between other work: each piece's whole lines are parsed as it is
// added, the last line kept until the next piece completes it.
class ZelvoTraceParser
{
public:
    // The text's size, when known, lets the readings be allocated once.
    explicit ZelvoTraceParser(qint64 expectedBytes = 0);

    // False, keeping the error, on the first bad line; nothing more is
    // parsed after it.
    bool add(const QByteArray& piece);
    // The end of the text: its last line needs no newline.
    bool finish();

    const QString& error() const { return failure; }
    ZelvoTrace::Readings takeReadings();

private:
    bool parseLine(const QByteArray& line);

    ZelvoTrace::Readings readings;
    QByteArray partial;
    QString failure;
    int number = 0;
    bool first = true;
};
