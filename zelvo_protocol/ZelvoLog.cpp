#include "ZelvoLog.h"

#include <QByteArray>
#include <QDebug>
#include <QString>

Q_LOGGING_CATEGORY(zelvoLinkLog, "zelvo.link")
Q_LOGGING_CATEGORY(zelvoContentLog, "zelvo.content")
Q_LOGGING_CATEGORY(zelvoControlLog, "zelvo.control")
Q_LOGGING_CATEGORY(zelvoSensorsLog, "zelvo.sensors")
Q_LOGGING_CATEGORY(zelvoRecordingsLog, "zelvo.recordings")
Q_LOGGING_CATEGORY(zelvoWebLog, "zelvo.web")
Q_LOGGING_CATEGORY(zelvoWindowLog, "zelvo.window")

QString ZelvoLog::payload(const QByteArray& utf8)
{
    if (utf8.size() <= payloadQuoted)
        return QString::fromUtf8(utf8);
    int cut = payloadQuoted;
    // Not inside a character: continuation bytes are 10xxxxxx.
    while (cut > 0 && (uchar(utf8.at(cut)) & 0xC0) == 0x80)
        --cut;
    return QString::fromUtf8(utf8.constData(), cut)
        + QStringLiteral("... (%1 bytes left out)").arg(utf8.size() - cut);
}

QString ZelvoLog::payload(const QStringList& list)
{
    // Written as Qt 5 writes a list, ("a", "b"), also on Qt 6, whose QDebug
    // would put QList before it.
    QString text;
    {
        QDebug line(&text);
        line.nospace() << '(';
        for (qsizetype i = 0; i < list.size(); ++i) {
            if (i > 0)
                line << ", ";
            line << list.at(i);
        }
        line << ')';
    }
    return payload(text.toUtf8());
}
