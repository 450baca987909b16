#include "ZelvoTrace.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cmath>

namespace {

bool parseLine(const QByteArray& line, ZelvoTrace::TimedReading* timed, QString* error)
{
    const QList<QByteArray> fields = line.split(',');
    if (fields.size() < 3 || fields.size() > 5) {
        *error = QStringLiteral("expected milliseconds,sensor,v0[,v1,v2]");
        return false;
    }
    bool ok = false;
    timed->millis = fields.at(0).trimmed().toLongLong(&ok);
    if (!ok || timed->millis < 0) {
        *error = QStringLiteral("'%1' is not a time in milliseconds").arg(QString::fromUtf8(fields.at(0).trimmed()));
        return false;
    }
    const QString name = QString::fromUtf8(fields.at(1).trimmed());
    ZelvoSensorReading& reading = timed->reading;
    reading.sensor = ZelvoSensorReading::sensorNamed(name);
    if (reading.sensor == 0) {
        *error = QStringLiteral("unknown sensor '%1'").arg(name);
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
            *error = QStringLiteral("'%1' is not a finite number").arg(QString::fromUtf8(text));
            return false;
        }
    }
    return true;
}

} // namespace

bool ZelvoTrace::parse(const QByteArray& csv, QList<TimedReading>* readings, QString* error)
{
    readings->clear();
    const QList<QByteArray> lines = csv.split('\n');
    bool first = true;
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        // A first line whose time is no number at all names the columns.
        bool number = false;
        line.left(line.indexOf(',')).trimmed().toDouble(&number);
        const bool header = first && !number;
        first = false;
        if (header)
            continue;
        TimedReading timed;
        QString reason;
        if (!parseLine(line, &timed, &reason)) {
            *error = QStringLiteral("line %1: %2").arg(i + 1).arg(reason);
            return false;
        }
        if (!readings->isEmpty() && timed.millis < readings->constLast().millis) {
            *error = QStringLiteral("line %1: time %2 comes before the previous reading's %3")
                         .arg(i + 1).arg(timed.millis).arg(readings->constLast().millis);
            return false;
        }
        readings->append(timed);
    }
    return true;
}
