#include "AnimationFile.h"
#include "clock/ZelvoClock.h"
#include "recording/ZelvoDisplayRecorder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <csignal>
#include <sys/resource.h>

namespace {

QImage picture(QColor colour)
{
    QImage image(320, 240, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.fillRect(20, 40, 100, 60, colour);
    return image;
}

// The file as a kill would leave it with its last write cut in two.
QString cutInLastWrite(const QString& path, qint64 lastFrameStart)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    const QString cut = path + QStringLiteral(".cut") + path.mid(path.lastIndexOf(QLatin1Char('.')));
    QFile out(cut);
    out.open(QIODevice::WriteOnly);
    out.write(bytes.left(lastFrameStart + (bytes.size() - lastFrameStart) / 2));
    return cut;
}

} // namespace

class TestZelvoDisplayRecorder : public QObject
{
    Q_OBJECT

private slots:
    void recordsOneFramePerChange_data();
    void recordsOneFramePerChange();
    void keepsEveryFrameAt60PerSecond_data();
    void keepsEveryFrameAt60PerSecond();
    void endsOnAFullDisk();
    void nextThatCannotOpenAnswersOnce();
};

void TestZelvoDisplayRecorder::recordsOneFramePerChange_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::newRow("display.png") << QStringLiteral("display.png");
    QTest::newRow("display.gif") << QStringLiteral("display.gif");
}

void TestZelvoDisplayRecorder::recordsOneFramePerChange()
{
    QFETCH(QString, fileName);
    QTemporaryDir dir;
    const QString path = dir.filePath(fileName);
    const bool gif = fileName.endsWith(QLatin1String(".gif"));
    const QVector<QImage> shown{picture(Qt::green), picture(Qt::red), picture(QColor(0, 0, 255, 128))};

    // Each frame is held for a time of its own on the device clock, the
    // point of the check: the file gives every frame as long as it was
    // shown, the last until the recording stops.
    const QVector<int> holdMillis{60, 240, 120};
    ZelvoClock clock(ZelvoClock::Mode::Manual);
    ZelvoDisplayRecorder recorder(&clock);
    QSignalSpy changes(&recorder, &ZelvoDisplayRecorder::recordingChanged);
    recorder.showImage(shown.at(0));
    QVERIFY(recorder.start(path, 0));
    qint64 lastFrameStart = 0;
    for (int i = 0; i < shown.size(); ++i) {
        lastFrameStart = QFile(path).size();
        recorder.showImage(shown.at(i));
        // The same picture composed again is no new frame.
        recorder.showImage(shown.at(i));
        // Each frame reaches the file while the recording runs, readable
        // as it would be after a kill.
        QTRY_COMPARE(AnimationFile::read(path).frames.size(), i + 1);
        const AnimationFile sofar = AnimationFile::read(path);
        QVERIFY(!sofar.finished);
        QCOMPARE(sofar.declaredFrames, gif ? -1 : i + 1);
        QVERIFY(clock.advance(holdMillis.at(i)));
    }
    QSignalSpy finished(&recorder, &ZelvoDisplayRecorder::finished);
    recorder.stop();
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(2).toString(), QString());
    QCOMPARE(changes.count(), 2);

    const AnimationFile file = AnimationFile::read(path);
    QVERIFY(file.finished);
    QCOMPARE(file.frames.size(), shown.size());
    QCOMPARE(file.declaredFrames, gif ? -1 : shown.size());
    for (int i = 0; i < file.frames.size(); ++i) {
        // GIF shows the frames on black, which its delays check well enough.
        if (!gif)
            QCOMPARE(file.frames.at(i).image.convertToFormat(QImage::Format_ARGB32),
                     shown.at(i).convertToFormat(QImage::Format_ARGB32));
        // Whole hundredths of a second, which GIF holds as they are.
        QCOMPARE(file.frames.at(i).delayMillis, holdMillis.at(i));
    }

    // A kill inside the last frame's write leaves the frames before it.
    const AnimationFile cut = AnimationFile::read(cutInLastWrite(path, lastFrameStart));
    QVERIFY(!cut.finished);
    QCOMPARE(cut.frames.size(), shown.size() - 1);
}

void TestZelvoDisplayRecorder::keepsEveryFrameAt60PerSecond_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("ending");
    QTest::newRow("display.png, stop") << QStringLiteral("display.png") << QStringLiteral("stop");
    QTest::newRow("display.gif, stop") << QStringLiteral("display.gif") << QStringLiteral("stop");
    QTest::newRow("display.png, stop and start") << QStringLiteral("display.png") << QStringLiteral("stop and start");
    QTest::newRow("display.png, destroyed") << QStringLiteral("display.png") << QStringLiteral("destroyed");
}

// A second of a display changing 60 times, on the device clock, ended while
// every frame is still being encoded: by stop(), which does not wait for
// them, by the next recording started at once, or by the end of the program.
void TestZelvoDisplayRecorder::keepsEveryFrameAt60PerSecond()
{
    QFETCH(QString, fileName);
    QFETCH(QString, ending);
    QTemporaryDir dir;
    const QString path = dir.filePath(fileName);
    const bool gif = fileName.endsWith(QLatin1String(".gif"));
    ZelvoClock clock(ZelvoClock::Mode::Manual);
    auto recorder = std::make_unique<ZelvoDisplayRecorder>(&clock);
    QSignalSpy finished(recorder.get(), &ZelvoDisplayRecorder::finished);
    QVERIFY(recorder->start(path, 0));
    QVector<QImage> shown;
    for (int i = 0; i < 60; ++i) {
        shown.append(picture(QColor(4 * i, 255 - 4 * i, 0)));
        recorder->showImage(shown.last());
        QVERIFY(clock.advance(i % 3 == 2 ? 16 : 17));
    }
    if (ending == QLatin1String("destroyed")) {
        recorder.reset();
        QCOMPARE(finished.count(), 1);
    } else {
        recorder->stop();
        QVERIFY(recorder->isRecording());
        recorder->showImage(picture(Qt::white));
        if (ending == QLatin1String("stop and start")) {
            // Neither waits for the frames still being encoded.
            QVERIFY(recorder->start(dir.filePath(QStringLiteral("next.png")), 0));
            QCOMPARE(finished.count(), 0);
            bool answered = false;
            recorder->whenFinished(recorder.get(), [&answered](const QString& next, int frames, const QString&) {
                answered = next.endsWith(QLatin1String("next.png")) && frames == 1;
            });
            recorder->stop();
            QTRY_COMPARE(finished.count(), 2);
            QTRY_VERIFY(answered);
            QVERIFY(!recorder->isRecording());
            const AnimationFile next = AnimationFile::read(dir.filePath(QStringLiteral("next.png")));
            QCOMPARE(next.frames.size(), 1);
            QCOMPARE(next.frames.at(0).image.pixelColor(50, 50), QColor(Qt::white));
        }
        QTRY_VERIFY(finished.count() >= 1);
    }
    QCOMPARE(finished.at(0).at(1).toInt(), shown.size());
    QCOMPARE(finished.at(0).at(2).toString(), QString());

    const AnimationFile file = AnimationFile::read(path);
    QVERIFY(file.finished);
    QCOMPARE(file.frames.size(), shown.size());
    int millis = 0;
    for (int i = 0; i < file.frames.size(); ++i) {
        if (!gif)
            QCOMPARE(file.frames.at(i).image.convertToFormat(QImage::Format_ARGB32),
                     shown.at(i).convertToFormat(QImage::Format_ARGB32));
        millis += file.frames.at(i).delayMillis;
    }
    // GIF's hundredths of a second, rounded frame by frame.
    QVERIFY2(qAbs(millis - 1000) <= (gif ? 5 * shown.size() : 0), qPrintable(QString::number(millis)));
}

// A frame that cannot be written ends the recording with the frames
// written whole before it, finished, and failure() says why until the
// next stop().
void TestZelvoDisplayRecorder::endsOnAFullDisk()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("display.png"));
    ZelvoClock clock(ZelvoClock::Mode::Manual);
    ZelvoDisplayRecorder recorder(&clock);
    QSignalSpy stopped(&recorder, &ZelvoDisplayRecorder::stoppedByFailure);
    QVERIFY(recorder.start(path, 0));
    recorder.showImage(picture(Qt::green));
    QTRY_COMPARE(AnimationFile::read(path).frames.size(), 1);
    {
        // Room for the end of the file, not for another frame, as on a full
        // disk: a write beyond fails instead of raising the signal.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit before{};
        getrlimit(RLIMIT_FSIZE, &before);
        rlimit full = before;
        full.rlim_cur = rlim_t(QFileInfo(path).size() + 100);
        setrlimit(RLIMIT_FSIZE, &full);
        const auto restore = qScopeGuard([&before] { setrlimit(RLIMIT_FSIZE, &before); });
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot write .*; it holds the 1 frames")));
        for (int i = 1; i <= 3; ++i) {
            QVERIFY(clock.advance(100));
            recorder.showImage(picture(QColor(80 * i, 0, 255)));
        }
        QTRY_COMPARE(stopped.count(), 1);
    }
    QVERIFY(!recorder.isRecording());
    QVERIFY2(recorder.failure().endsWith(QStringLiteral("it holds the 1 frames written before")),
             qPrintable(recorder.failure()));
    QCOMPARE(stopped.at(0).at(1).toString(), recorder.failure());
    const AnimationFile file = AnimationFile::read(path);
    QVERIFY(file.finished);
    QCOMPARE(file.frames.size(), 1);
    QCOMPARE(file.declaredFrames, 1);
    QCOMPARE(file.frames.at(0).delayMillis, 100);
    recorder.stop();
    QVERIFY(recorder.failure().isEmpty());
}

// A recording asked for while the last is finished, whose file cannot be
// opened by then: both end, each told once, and a wait for the first is
// answered once.
void TestZelvoDisplayRecorder::nextThatCannotOpenAnswersOnce()
{
    QTemporaryDir dir;
    ZelvoClock clock(ZelvoClock::Mode::Manual);
    ZelvoDisplayRecorder recorder(&clock);
    QSignalSpy finished(&recorder, &ZelvoDisplayRecorder::finished);
    QVERIFY(recorder.start(dir.filePath(QStringLiteral("first.png")), 0));
    recorder.showImage(picture(Qt::green));
    int answers = 0;
    recorder.whenFinished(&recorder, [&answers](const QString&, int, const QString&) { ++answers; });
    recorder.stop();
    const QString next = dir.filePath(QStringLiteral("next.png"));
    QVERIFY(recorder.start(next, 0));
    QVERIFY(QDir().mkdir(next));
    QTRY_COMPARE(finished.count(), 2);
    QVERIFY(!finished.at(1).at(2).toString().isEmpty());
    QTRY_COMPARE(answers, 1);
    QCoreApplication::processEvents();
    QCOMPARE(answers, 1);
    QVERIFY(!recorder.isRecording());
}

QTEST_GUILESS_MAIN(TestZelvoDisplayRecorder)
#include "tst_zelvodisplayrecorder.moc"
