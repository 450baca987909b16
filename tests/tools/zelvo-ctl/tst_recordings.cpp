#include "AgentProcess.h"
#include "CtlProcess.h"
#include "EmulatorProcess.h"
#include "TestAgent.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

// What a row does to the golden picture before the comparison.
using PictureChange = std::function<void(QImage&)>;

} // namespace

Q_DECLARE_METATYPE(PictureChange)

// A session recorded from the real program and played back to it with
// zelvo-agent replay, and the display checked against golden pictures with
// zelvo-ctl screenshot --expect.
class TestRecordings final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void replay_data();
    void replay();
    void screenshotExpect_data();
    void screenshotExpect();
    void recordingSummaries();

private:
    EmulatorProcess emulator{nullptr, QStringLiteral("recordings/emulator")};
    QTemporaryDir work;
    QString session;
    QStringList texts{QStringLiteral("First words"), QStringLiteral("Second words")};
};

void TestRecordings::initTestCase()
{
    if (!emulator.portsAreFree())
        QSKIP("another program holds port 2000 or 2001 on this machine");
    // zelvo-ctl and zelvo-agent find the control token under the test's
    // home, and the emulator on its usual ports.
    emulator.setHome(QDir::homePath());
    emulator.useDefaultPorts();
    QVERIFY(emulator.startUntilListening(90000));
    QVERIFY(QTest::qWaitFor([] { return CtlProcess::run({"state"}).exitCode == 0; }, 30000));

    session = work.filePath("session.jsonl");
    CtlResult result = CtlProcess::run({"record", "session", session});
    QVERIFY2(result.exitCode == 0, result.err.constData());
    // One connection throughout, so that the link sign shows in every
    // picture as it will while the replay's connections are open. No
    // minimum time: content drawn at once makes the replay deterministic.
    TestAgent agent(emulator.ports().agent);
    QVERIFY(agent.waitForConnected());
    QVERIFY(agent.setPersistingTimes(0, 600000));
    QDir().mkpath(work.filePath("golden"));
    for (int i = 0; i < texts.size(); ++i) {
        QVERIFY(agent.show(QStringLiteral("replay-demo"), i + 1, QStringLiteral("0"), {}, {texts.at(i)}));
        result = CtlProcess::run({"wait", "--content-of", "replay-demo", "--content-id", QString::number(i + 1)});
        QVERIFY2(result.exitCode == 0, result.err.constData());
        result = CtlProcess::run({"screenshot", work.filePath(QStringLiteral("golden/content-%1.png").arg(i + 1))});
        QVERIFY2(result.exitCode == 0, result.err.constData());
    }
    result = CtlProcess::run({"record", "stop"});
    QVERIFY2(result.exitCode == 0, result.err.constData());
    agent.close();
    QVERIFY(QTest::qWaitFor([this] { return emulator.acceptedAgents() == 0; }, 10000));
}

void TestRecordings::replay_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    // A line cut short at the end, as an emulator killed while it wrote
    // the line leaves its session.
    QTest::addColumn<QByteArray>("cut");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("differences");

    QTest::newRow("recorded session") << QString() << QString() << QByteArray() << 0 << QStringList();
    QTest::newRow("second text changed") << "Second words" << "Other words" << QByteArray() << 1
                                         << QStringList{"content-2-diff.png"};
    QTest::newRow("last line cut") << QString() << QString()
                                   << QByteArray(R"({"seq":1000,"time":1,"direction":"in","kind":"fra)") << 0
                                   << QStringList();
}

void TestRecordings::replay()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QByteArray, cut);
    QFETCH(int, exitCode);
    QFETCH(QStringList, differences);

    QFile recorded(session);
    QVERIFY(recorded.open(QIODevice::ReadOnly));
    const QByteArray lines = recorded.readAll();
    QCOMPARE(lines.count("\"commandType\":\"agent_content\""), texts.size());
    QTemporaryDir dir;
    const QString played = dir.filePath("session.jsonl");
    QFile file(played);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write((from.isEmpty() ? lines : QByteArray(lines).replace(from.toUtf8(), to.toUtf8())) + cut);
    file.close();
    const QString display = dir.filePath("display");
    QDir().mkpath(display);
    for (int i = 1; i <= texts.size(); ++i) {
        const QString name = QStringLiteral("content-%1.png").arg(i);
        QVERIFY(QFile::copy(work.filePath("golden/" + name), QDir(display).filePath(name)));
    }

    const auto opened = [] { return CtlProcess::run({"log", "--json"}).out.count("\"kind\":\"opened\""); };
    const int openedBefore = opened();
    const AgentResult result = AgentProcess::run({"replay", played, "--speed", "4", "--expect-display", display},
                                                 emulator.ports().agent);
    // One connection recorded, one opened: the timing, which names no
    // agent, goes by the same connection as the content.
    QCOMPARE(opened() - openedBefore, 1);
    QVERIFY2(result.exitCode == exitCode, result.out + result.err);
    QVERIFY2(result.out.contains("0 events recorded, 0 received: the same"), result.out.constData());
    const QString skipped =
        QStringLiteral("%1:%2: the last line is cut short, skipped").arg(played).arg(lines.count('\n') + 1);
    QVERIFY2(result.err.contains(skipped.toUtf8()) == !cut.isEmpty(), result.err.constData());
    QCOMPARE(QDir(display).entryList({"*-diff.png"}, QDir::Files), differences);
    for (const QString& difference : differences)
        QCOMPARE(QImage(QDir(display).filePath(difference)).size(), QSize(320, 240));
}

void TestRecordings::screenshotExpect_data()
{
    QTest::addColumn<PictureChange>("change");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("same picture") << PictureChange([](QImage&) {}) << 0;
    QTest::newRow("one pixel off by 4") << PictureChange([](QImage& image) {
        const QColor pixel = image.pixelColor(5, 5);
        image.setPixelColor(5, 5, QColor(qMin(pixel.red() + 4, 255), pixel.green(), pixel.blue(), qMax(pixel.alpha(), 4)));
    }) << 0;
    QTest::newRow("a box painted over") << PictureChange([](QImage& image) {
        QPainter(&image).fillRect(100, 100, 40, 30, Qt::magenta);
    }) << 1;
}

void TestRecordings::screenshotExpect()
{
    QFETCH(PictureChange, change);
    QFETCH(int, exitCode);

    QTemporaryDir dir;
    const QString golden = dir.filePath("golden.png");
    CtlResult result = CtlProcess::run({"screenshot", golden});
    QVERIFY2(result.exitCode == 0, result.err.constData());
    QImage picture(golden);
    change(picture);
    QVERIFY(picture.save(golden));

    const QString diff = dir.filePath("diff.png");
    result = CtlProcess::run({"screenshot", "--expect", golden, "--diff", diff});
    QVERIFY2(result.exitCode == exitCode, result.err.constData());
    QCOMPARE(QFile::exists(diff), exitCode != 0);
    if (exitCode != 0) {
        QVERIFY2(result.err.contains("differs from"), result.err.constData());
        // The difference picture marks the box, and nothing far from it.
        const QImage difference(diff);
        QCOMPARE(difference.size(), QSize(320, 240));
        QCOMPARE(difference.pixelColor(120, 115), QColor(Qt::red));
        QVERIFY(difference.pixelColor(10, 200) != QColor(Qt::red));
    }
}

// A script that records and then uploads needs the file written when the
// command returns, and what is in it.
void TestRecordings::recordingSummaries()
{
    const auto summary = [](const QString& what, const QString& path, const QString& counted) {
        return QRegularExpression(QStringLiteral("%1: %2, [1-9][0-9]* %3, %4 bytes\n")
                                      .arg(what, QRegularExpression::escape(path), counted)
                                      .arg(QFileInfo(path).size()));
    };
    const QString timed = work.filePath("timed.png");
    CtlResult result = CtlProcess::run({"record", "display", timed, "--seconds", "0.3"});
    QVERIFY2(result.exitCode == 0, result.err.constData());
    QVERIFY(QFileInfo(timed).size() > 0);
    QVERIFY2(summary("display", timed, "frames").match(QString::fromUtf8(result.out)).hasMatch(), result.out.constData());

    const QString stopped = work.filePath("stopped.gif");
    const QString lines = work.filePath("stopped.jsonl");
    result = CtlProcess::run({"record", "display", stopped, "--until-stopped"});
    QCOMPARE(QString::fromUtf8(result.out),
             QStringLiteral("display: recording to %1 until 'zelvo-ctl record stop'\n").arg(stopped));
    QCOMPARE(CtlProcess::run({"record", "session", lines}).exitCode, 0);
    TestAgent agent(emulator.ports().agent);
    QVERIFY(agent.waitForConnected());
    QVERIFY(agent.show(QStringLiteral("summary"), 1, QStringLiteral("0"), {}, {QStringLiteral("Summed up")}));
    QCOMPARE(CtlProcess::run({"wait", "--content-of", "summary", "--content-id", "1"}).exitCode, 0);
    result = CtlProcess::run({"record", "stop"});
    QVERIFY2(result.exitCode == 0, result.err.constData());
    const QStringList printed = QString::fromUtf8(result.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(printed.size(), 2);
    QVERIFY2(summary("display", stopped, "frames").match(printed.at(0) + QLatin1Char('\n')).hasMatch(), qPrintable(printed.at(0)));
    QVERIFY2(summary("session", lines, "records").match(printed.at(1) + QLatin1Char('\n')).hasMatch(), qPrintable(printed.at(1)));

    // Done, but to what already was so: said, and still a success.
    QCOMPARE(CtlProcess::run({"sensor", "start", "light"}).out, QByteArray());
    result = CtlProcess::run({"sensor", "start", "light"});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QByteArray("sensor start light: nothing changed, it already was so\n"));
    QCOMPARE(CtlProcess::run({"sensor", "stop", "light"}).exitCode, 0);
}

QTEST_GUILESS_MAIN(TestRecordings)
#include "tst_recordings.moc"
