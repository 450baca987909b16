#include "ZelvoTraceParser.h"

#include "ZelvoQuote.h"

#include <QList>

#include <cmath>

namespace {

// The shortest reading, "0,light,1", and its newline.
constexpr qint64 shortestLine = 10;

bool readLine(const QByteArray& line, ZelvoTrace::TimedReading* timed, QString* error)
{
    const QList<QByteArray> fields = line.split(',');
    if (fields.size() < 3 || fields.size() > 5) {
        *error = QStringLiteral("expected milliseconds,sensor,v0[,v1,v2]");
        return false;
    }
    bool ok = false;
    timed->millis = fields.at(0).trimmed().toLongLong(&ok);
    if (!ok || timed->millis < 0) {
        *error = QStringLiteral("%1 is not a time in milliseconds")
                     .arg(ZelvoQuote::quoted(QString::fromUtf8(fields.at(0).trimmed())));
        return false;
    }
    const QString name = QString::fromUtf8(fields.at(1).trimmed());
    ZelvoSensorReading& reading = timed->reading;
    reading.sensor = ZelvoSensorReading::sensorNamed(name);
    if (reading.sensor == 0) {
        *error = QStringLiteral("unknown sensor %1").arg(ZelvoQuote::quoted(name));
        return false;
    }
    const int given = fields.size() - 2;
    if (given < ZelvoSensorReading::valueCount(reading.sensor)) {
        *error = QStringLiteral("%1 needs %2 values").arg(name).arg(ZelvoSensorReading::valueCount(reading.sensor));
        return false;
    }
    reading.values = {0.0f, 0.0f, 0.0f};
    for (int i = 0; i < given; ++i) {
        const QByteArray text = fields.at(i + 2).trimmed();
        // An unused trailing column may stay empty.
        if (text.isEmpty() && i >= ZelvoSensorReading::valueCount(reading.sensor))
            continue;
        reading.values[size_t(i)] = text.toFloat(&ok);
        if (!ok || !std::isfinite(reading.values[size_t(i)])) {
            *error = QStringLiteral("%1 is not a finite number").arg(ZelvoQuote::quoted(QString::fromUtf8(text)));
            return false;
        }
    }
    if (reading.sensor == ZelvoSensorReading::Battery && !ZelvoSensorReading::isBatteryLevel(reading.values[0])) {
        *error = QStringLiteral("battery takes a whole percent from 0 to 100, not %1").arg(reading.values[0]);
        return false;
    }
    if (reading.sensor == ZelvoSensorReading::HeadPose
        && !ZelvoSensorReading::isHeadPose(reading.values[0], reading.values[1], reading.values[2])) {
        *error = QStringLiteral("pose takes a yaw from -%1 to %1, a pitch from -%2 to %2 and a roll from -%3 to %3")
                     .arg(ZelvoSensorReading::maxYaw).arg(ZelvoSensorReading::maxPitch).arg(ZelvoSensorReading::maxRoll);
        return false;
    }
    return true;
}

} // namespace

ZelvoTraceParser::ZelvoTraceParser(qint64 expectedBytes)
{
    // The shortest line bounds how many lines can be readings; what is
    // reserved and never filled is never touched, so it costs no memory.
    if (expectedBytes > 0)
        readings.reserve(size_t(expectedBytes / shortestLine + 1));
}

bool ZelvoTraceParser::add(const QByteArray& piece)
{
    if (!failure.isEmpty())
        return false;
    int from = 0;
    if (!partial.isEmpty()) {
        const int end = piece.indexOf('\n');
        if (end < 0) {
            partial.append(piece);
            return true;
        }
        partial.append(piece.constData(), end);
        QByteArray line;
        line.swap(partial);
        from = end + 1;
        if (!parseLine(line))
            return false;
    }
    // No copy of the text by lines.
    for (int end = piece.indexOf('\n', from); end >= 0; end = piece.indexOf('\n', from)) {
        if (!parseLine(QByteArray::fromRawData(piece.constData() + from, end - from)))
            return false;
        from = end + 1;
    }
    partial.append(piece.constData() + from, piece.size() - from);
    return true;
}

bool ZelvoTraceParser::finish()
{
    if (!failure.isEmpty())
        return false;
    QByteArray line;
    line.swap(partial);
    return parseLine(line);
}

ZelvoTrace::Readings ZelvoTraceParser::takeReadings()
{
    ZelvoTrace::Readings taken;
    taken.swap(readings);
    return taken;
}

bool ZelvoTraceParser::parseLine(const QByteArray& text)
{
    ++number;
    const QByteArray line = text.trimmed();
    if (line.isEmpty() || line.startsWith('#'))
        return true;
    // A first line whose time is no number at all names the columns.
    bool isNumber = false;
    line.left(line.indexOf(',')).trimmed().toDouble(&isNumber);
    const bool header = first && !isNumber;
    first = false;
    if (header)
        return true;
    ZelvoTrace::TimedReading timed;
    QString reason;
    if (!readLine(line, &timed, &reason)) {
        failure = QStringLiteral("line %1: %2").arg(number).arg(reason);
        return false;
    }
    if (!readings.empty() && timed.millis < readings.back().millis) {
        failure = QStringLiteral("line %1: time %2 comes before the previous reading's %3")
                      .arg(number).arg(timed.millis).arg(readings.back().millis);
        return false;
    }
    readings.push_back(timed);
    return true;
}
