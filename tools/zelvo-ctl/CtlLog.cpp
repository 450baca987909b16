#include "CtlLog.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

QString CtlLog::line(const QJsonObject& record, bool json)
{
    if (json)
        return QString::fromUtf8(QJsonDocument(record).toJson(QJsonDocument::Compact));
    const QString time = QDateTime::fromMSecsSinceEpoch(qint64(record.value(QStringLiteral("time")).toDouble()))
                             .toString(QStringLiteral("HH:mm:ss.zzz"));
    QString text = QStringLiteral("%1 %2 %3 %4")
                       .arg(qint64(record.value(QStringLiteral("seq")).toDouble()))
                       .arg(time, record.value(QStringLiteral("direction")).toString(),
                            record.value(QStringLiteral("kind")).toString());
    const QString agent = record.value(QStringLiteral("agent")).toString();
    if (!agent.isEmpty())
        text += QLatin1Char(' ') + agent;
    return text + QStringLiteral(": ") + record.value(QStringLiteral("sentence")).toString();
}
