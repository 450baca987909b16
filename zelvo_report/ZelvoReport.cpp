#include "ZelvoReport.h"

#include "ZelvoFile.h"
#include "ZelvoPngChunks.h"
#include "ZelvoVocabulary.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QList>

#include <algorithm>

namespace {

const QByteArray dataPlaceholder = R"(<script id="report-data" type="application/json">{}</script>)";
const QByteArray sharedPlaceholder = "<script data-shared></script>";

QByteArray resource(const QString& name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonObject frameJson(const ZelvoReport::Frame& frame)
{
    QJsonObject json{{QStringLiteral("seq"), double(frame.sequence)},
                     {QStringLiteral("time"), double(frame.timeMillis)},
                     {QStringLiteral("key"), frame.key},
                     {QStringLiteral("x"), frame.rect.x()},
                     {QStringLiteral("y"), frame.rect.y()},
                     {QStringLiteral("w"), frame.rect.width()},
                     {QStringLiteral("h"), frame.rect.height()},
                     {QStringLiteral("png"), QString::fromLatin1(frame.png.toBase64())}};
    if (!frame.screen.isEmpty())
        json.insert(QStringLiteral("screen"), frame.screen);
    return json;
}

} // namespace

QByteArray ZelvoReport::html() const
{
    QJsonArray frameList;
    for (const Frame& frame : frames)
        frameList.append(frameJson(frame));
    const QJsonObject data{{QStringLiteral("title"), title},
                           {QStringLiteral("made"), double(madeMillis)},
                           {QStringLiteral("startTime"), double(startMillis)},
                           {QStringLiteral("vocabulary"), ZelvoVocabulary::toJson()},
                           {QStringLiteral("dropped"),
                            QJsonObject{{QStringLiteral("records"), double(droppedRecords)},
                                        {QStringLiteral("frames"), double(droppedFrames)}}},
                           {QStringLiteral("records"), records},
                           {QStringLiteral("frames"), frameList}};
    // "<" only stands in JSON strings, where its escape reads the same and
    // no "</script>" in a record can end the script early.
    QByteArray json = QJsonDocument(data).toJson(QJsonDocument::Compact);
    json.replace('<', "\\u003c");
    QByteArray page = withSharedScript(resource(QStringLiteral(":/report/report.html")));
    const int at = page.indexOf(dataPlaceholder);
    if (at < 0)
        return page;
    const QByteArray open = R"(<script id="report-data" type="application/json">)";
    return page.left(at) + open + json + "</script>" + page.mid(at + dataPlaceholder.size());
}

QByteArray ZelvoReport::withSharedScript(QByteArray page)
{
    return page.replace(sharedPlaceholder,
                        "<script>\n" + resource(QStringLiteral(":/report/display.js")) + "</script>");
}

bool ZelvoReport::fromFiles(const QString& sessionPath, const QString& displayPath, ZelvoReport* report,
                            QString* error)
{
    QByteArray session;
    QString reason;
    if (!ZelvoFile::readRegular(sessionPath, maxSessionBytes, &session, &reason)) {
        *error = reason;
        return false;
    }
    const QList<QByteArray> lines = session.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        if (lines.at(i).trimmed().isEmpty())
            continue;
        QJsonParseError parsed;
        const QJsonDocument line = QJsonDocument::fromJson(lines.at(i), &parsed);
        if (!line.isObject()) {
            // A kill in the middle of the last line's write leaves it cut.
            if (i == lines.size() - 1)
                break;
            *error = QStringLiteral("%1 line %2 is no record: %3").arg(sessionPath).arg(i + 1).arg(parsed.errorString());
            return false;
        }
        QJsonObject record = line.object();
        // The pictures an agent sent are in the session file, not in what it shows.
        record.remove(QStringLiteral("payload"));
        record.remove(QStringLiteral("payloadBase64"));
        report->records.append(record);
    }
    qint64 start = report->records.isEmpty() ? 0 : qint64(report->records.first().toObject().value(QStringLiteral("time")).toDouble());
    if (!report->records.isEmpty())
        report->droppedRecords = qint64(report->records.first().toObject().value(QStringLiteral("seq")).toDouble()) - 1;

    if (!displayPath.isEmpty()) {
        QByteArray display;
        if (!ZelvoFile::readRegular(displayPath, maxDisplayBytes, &display, &reason)) {
            *error = reason;
            return false;
        }
        QVector<ZelvoPngChunks::Frame> frames;
        if (!ZelvoPngChunks::frames(display, &frames, &reason)) {
            *error = QStringLiteral("cannot read %1 as a display recording: %2").arg(displayPath, reason);
            return false;
        }
        // A recording that does not say when it began is taken to have
        // begun with the session.
        bool known = false;
        const qint64 shownAt = ZelvoPngChunks::text(display, ZelvoPngChunks::shownAtKeyword).toLongLong(&known);
        const qint64 displayStart = known ? shownAt : start;
        start = report->records.isEmpty() ? displayStart : std::min(start, displayStart);
        int next = 0;
        quint64 shownAfter = 0;
        for (const ZelvoPngChunks::Frame& each : qAsConst(frames)) {
            Frame frame;
            frame.timeMillis = displayStart + each.startMillis;
            frame.png = each.png;
            frame.rect = QRect(QPoint(), each.size);
            // Shown after the record the recording names, or else after the
            // last record made by its time.
            for (; next < report->records.size(); ++next) {
                const QJsonObject record = report->records.at(next).toObject();
                if (qint64(record.value(QStringLiteral("time")).toDouble()) > frame.timeMillis)
                    break;
                shownAfter = quint64(record.value(QStringLiteral("seq")).toDouble());
            }
            frame.sequence = each.shownAfter >= 0 ? quint64(each.shownAfter) : shownAfter;
            report->frames.append(frame);
        }
    }
    report->startMillis = start;
    report->title = QFileInfo(sessionPath).fileName();
    return true;
}
