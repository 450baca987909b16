#include "CtlCommandLine.h"
#include "CtlConnection.h"
#include "ExitCode.h"
#include "CtlLog.h"
#include "ZelvoImageComparison.h"
#include "ZelvoFile.h"
#include "ZelvoInstance.h"
#include "ZelvoReport.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {

int fail(ExitCode exitCode, const QString& message)
{
    std::fprintf(stderr, "zelvo-ctl: %s\n", qUtf8Printable(message));
    return toInt(exitCode);
}

// screenshot --expect: the display against the golden picture.
int compareWithGolden(const CtlCommandLine& commandLine, const QByteArray& png)
{
    const QImage shown = QImage::fromData(png, "PNG");
    const QImage golden(commandLine.goldenPath());
    if (golden.isNull())
        return fail(ExitCode::Failure, QStringLiteral("cannot read the golden picture %1").arg(commandLine.goldenPath()));
    const QString output = commandLine.outputPath();
    if (!output.isEmpty() && output != QLatin1String("-") && !shown.save(output, "PNG"))
        return fail(ExitCode::Failure, QStringLiteral("cannot write %1").arg(output));
    const ZelvoImageComparison comparison = ZelvoImageComparison::compare(shown, golden, commandLine.comparisonTolerance());
    if (comparison.matches())
        return toInt(ExitCode::Success);
    const QString diff = commandLine.differencePath();
    if (!comparison.difference.save(diff, "PNG"))
        return fail(ExitCode::Failure, QStringLiteral("the display differs from %1, and %2 cannot be written")
                                           .arg(commandLine.goldenPath(), diff));
    if (!comparison.sameSize)
        return fail(ExitCode::Failure, QStringLiteral("the display is %1 x %2, %3 is %4 x %5; the display is in %6")
                                           .arg(shown.width()).arg(shown.height()).arg(commandLine.goldenPath())
                                           .arg(golden.width()).arg(golden.height()).arg(diff));
    return fail(ExitCode::Failure, QStringLiteral("the display differs from %1 in %2 pixels (by up to %3); see %4")
                                       .arg(commandLine.goldenPath()).arg(comparison.differingPixels)
                                       .arg(comparison.largestDifference).arg(diff));
}

// Asks until the emulator answers, or the time is up: it may still be
// starting, with neither its ports file nor its token written yet.
int waitUntilReady(const CtlCommandLine& commandLine)
{
    constexpr int retryMillis = 50;
    QDeadlineTimer deadline(commandLine.answerMillis());
    QString error;
    // A refused token may be an earlier run's, until this run writes its own.
    ExitCode last = ExitCode::Unreachable;
    do {
        ZelvoInstance instance;
        if (commandLine.locate(&instance, &error)) {
            CtlConnection connection(instance.host, instance.controlPort, instance.tokenFile(),
                                     std::max<qint64>(1, deadline.remainingTime()));
            const CtlConnection::Result result = connection.call(commandLine.request());
            if (result == CtlConnection::Result::Done)
                return toInt(ExitCode::Success);
            last = result == CtlConnection::Result::Refused ? ExitCode::Failure : ExitCode::Unreachable;
            error = connection.errorString();
        }
        QThread::msleep(std::min<qint64>(retryMillis, deadline.remainingTime()));
    } while (!deadline.hasExpired());
    return fail(last, QStringLiteral("not ready after %1 s: %2").arg(commandLine.answerMillis() / 1000.0).arg(error));
}

// What a recording wrote, one line each: "display: FILE, 42 frames, 81234
// bytes"; for one that has only begun, until when it runs.
QString recordingSummary(const QJsonObject& request, const QJsonObject& results)
{
    const QString what = request.value(QStringLiteral("what")).toString();
    if (what != QLatin1String("stop") && !results.contains(QStringLiteral("bytes")))
        return QStringLiteral("%1: recording to %2 until 'zelvo-ctl record stop'\n")
            .arg(what, results.value(QStringLiteral("file")).toString());
    const QJsonObject written = what == QLatin1String("stop") ? results : QJsonObject{{what, results}};
    QString text;
    for (const QString& recording : {QStringLiteral("display"), QStringLiteral("session")}) {
        const QJsonObject done = written.value(recording).toObject();
        if (done.isEmpty())
            continue;
        const QString counted = recording == QLatin1String("display") ? QStringLiteral("frames") : QStringLiteral("records");
        text += QStringLiteral("%1: %2, %3 %4, %5 bytes\n")
                    .arg(recording, done.value(QStringLiteral("file")).toString())
                    .arg(done.value(counted).toInt())
                    .arg(counted)
                    .arg(qint64(done.value(QStringLiteral("bytes")).toDouble()));
    }
    return text;
}

// report: the HTML written where --out says, and what it holds in one line.
int writeReport(const QString& path, const QByteArray& html, int records, int frames)
{
    QString reason;
    if (!ZelvoFile::writeWhole(path, html, &reason))
        return fail(ExitCode::Failure, QStringLiteral("cannot write %1: %2").arg(path, reason));
    std::printf("report: %s, %d records, %d display changes, %lld bytes\n", qUtf8Printable(path), records, frames,
                static_cast<long long>(html.size()));
    return toInt(ExitCode::Success);
}

// report --session: made here from the recordings, with no emulator.
int reportFromFiles(const CtlCommandLine& commandLine)
{
    ZelvoReport report;
    QString error;
    if (!ZelvoReport::fromFiles(commandLine.extra(QStringLiteral("session")).toString(),
                                commandLine.extra(QStringLiteral("display")).toString(), &report, &error))
        return fail(ExitCode::Failure, error);
    const QString title = commandLine.request().value(QStringLiteral("title")).toString();
    if (!title.isEmpty())
        report.title = title;
    report.madeMillis = QDateTime::currentMSecsSinceEpoch();
    return writeReport(commandLine.extra(QStringLiteral("out")).toString(), report.html(), report.records.size(),
                       report.frames.size());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zelvo-ctl"));
    // The user wants one line per error, which this program writes itself.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false\n*.warning=false"));

    CtlCommandLine commandLine;
    switch (commandLine.parse(QCoreApplication::arguments())) {
    case CtlCommandLine::Status::Help:
        std::fputs(qUtf8Printable(commandLine.text()), stdout);
        return toInt(ExitCode::Success);
    case CtlCommandLine::Status::UsageError:
        return fail(ExitCode::UsageError, commandLine.text());
    case CtlCommandLine::Status::Run:
        break;
    }

    if (commandLine.waitsUntilReady())
        return waitUntilReady(commandLine);
    if (!commandLine.extra(QStringLiteral("session")).isUndefined())
        return reportFromFiles(commandLine);
    // Where no emulator has started (yet), what waits for one.
    const QString untilReady = QStringLiteral("; 'zelvo-ctl ready' waits for one to start");
    ZelvoInstance instance;
    QString error;
    if (!commandLine.locate(&instance, &error))
        return fail(ExitCode::Unreachable, error + untilReady);
    CtlConnection connection(instance.host, instance.controlPort, instance.tokenFile(), commandLine.answerMillis());
    switch (connection.call(commandLine.request())) {
    case CtlConnection::Result::Unreachable:
        return fail(ExitCode::Unreachable, connection.errorString() + (connection.reachedPort() ? QString() : untilReady));
    case CtlConnection::Result::UsageError:
        return fail(ExitCode::UsageError, connection.errorString());
    case CtlConnection::Result::Refused:
        return fail(ExitCode::Failure, connection.errorString());
    case CtlConnection::Result::Done:
        break;
    }

    const QJsonObject& results = connection.results();
    const QString command = commandLine.request().value(QStringLiteral("cmd")).toString();
    if (command == QLatin1String("log")) {
        const bool json = commandLine.extra(QStringLiteral("json")).toBool();
        for (const QJsonValue record : results.value(QStringLiteral("records")).toArray())
            std::printf("%s\n", qUtf8Printable(CtlLog::line(record.toObject(), json)));
        std::fflush(stdout);
        if (commandLine.request().value(QStringLiteral("follow")).toBool()) {
            QJsonObject record;
            while (connection.next(&record)) {
                std::printf("%s\n", qUtf8Printable(CtlLog::line(record, json)));
                std::fflush(stdout);
            }
        }
    } else if (command == QLatin1String("state") || command == QLatin1String("link")
               || command == QLatin1String("screen")) {
        std::fputs(QJsonDocument(results).toJson(QJsonDocument::Indented).constData(), stdout);
    } else if (command == QLatin1String("clock")) {
        std::fputs(QJsonDocument(results.value(QStringLiteral("clock")).toObject()).toJson(QJsonDocument::Compact)
                       .append('\n').constData(), stdout);
    } else if (command == QLatin1String("wait") && results.contains(QStringLiteral("sentence"))) {
        std::printf("%s\n", qUtf8Printable(results.value(QStringLiteral("sentence")).toString()));
    } else if (command == QLatin1String("pose")) {
        std::fputs(QJsonDocument(results.value(QStringLiteral("pose")).toObject()).toJson(QJsonDocument::Compact)
                       .append('\n').constData(), stdout);
        if (results.value(QStringLiteral("completed")) == QJsonValue(false))
            std::printf("%s: ended early by another pose, move, gesture, stop or reset\n", qUtf8Printable(commandLine.words()));
    } else if (command == QLatin1String("web")) {
        std::printf("%s\n", qUtf8Printable(results.value(QStringLiteral("url")).toString()));
    } else if (command == QLatin1String("screenshot") && !commandLine.goldenPath().isEmpty()) {
        return compareWithGolden(commandLine,
                                 QByteArray::fromBase64(results.value(QStringLiteral("png")).toString().toLatin1()));
    } else if (command == QLatin1String("report")) {
        return writeReport(commandLine.extra(QStringLiteral("out")).toString(),
                           results.value(QStringLiteral("html")).toString().toUtf8(),
                           results.value(QStringLiteral("records")).toInt(), results.value(QStringLiteral("frames")).toInt());
    } else if (command == QLatin1String("record")) {
        std::fputs(qUtf8Printable(recordingSummary(commandLine.request(), results)), stdout);
    } else if (commandLine.outputPath() == QLatin1String("-")) {
        const QByteArray png = QByteArray::fromBase64(results.value(QStringLiteral("png")).toString().toLatin1());
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly) || out.write(png) != png.size())
            return fail(ExitCode::Failure, QStringLiteral("cannot write the screenshot to standard output"));
    }
    // Done, but to something that already was so: a script should know.
    if (results.value(QStringLiteral("changed")) == QJsonValue(false))
        std::printf("%s: nothing changed, it already was so\n", qUtf8Printable(commandLine.words()));
    return toInt(ExitCode::Success);
}
