#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QRect>
#include <QString>
#include <QVector>

// A run report: one HTML file, opened from disk with nothing else, that
// shows every record beside the display as it was right after it. The
// emulator makes it from its record and its display history; zelvo-ctl
// from a session recording and a display recording. The viewer and its
// script are compiled in (report.html, display.js).
class ZelvoReport
{
public:
    // One change of the display: the whole display (key) or the rectangle
    // that changed since the frame before, as PNG.
    struct Frame
    {
        // The record after which the display showed it.
        quint64 sequence = 0;
        // Milliseconds since 1970 on the device clock.
        qint64 timeMillis = 0;
        QRect rect;
        bool key = true;
        QByteArray png;
        // What the display shows, as data; empty where nobody recorded it.
        QJsonObject screen;
    };

    QString title;
    qint64 madeMillis = 0;
    // Milliseconds since 1970 at the device clock's 0.
    qint64 startMillis = 0;
    // Records in their JSON form, oldest first.
    QJsonArray records;
    QVector<Frame> frames;
    // Records before the first that were no longer kept, and display
    // changes the history let go.
    qint64 droppedRecords = 0;
    qint64 droppedFrames = 0;

    QByteArray html() const;

    // page with the script it shares with the report put in its place.
    static QByteArray withSharedScript(QByteArray page);

    // The report of a session recording (JSON lines) and, when displayPath
    // is not empty, of a display recording made beside it (animated PNG);
    // false with why when a file cannot be read.
    static bool fromFiles(const QString& sessionPath, const QString& displayPath, ZelvoReport* report,
                          QString* error);

    // Far beyond an hour of records, short of what would not open.
    static constexpr qint64 maxSessionBytes = 512LL * 1024 * 1024;
    static constexpr qint64 maxDisplayBytes = 512LL * 1024 * 1024;
};
