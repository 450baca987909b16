#include "AgentProcess.h"
#include "Desktop.h"
#include "EmulatorProcess.h"
#include "ScreenPixels.h"
#include "ZIImage.h"
#include "ZIImageUtil.h"

#include <QColor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

constexpr int startTimeoutMillis = 60000;
constexpr int reactionTimeoutMillis = 20000;
const QString agentHash = QStringLiteral("e2e-agent");

// Window geometry: the display item shows the 320 x 240 display image
// scaled by 0.8 at (200, 150), the content area below the 24-pixel strip.
const QRect displayRect(200, 150, 256, 192);
const QPoint plusButton(570 + 39 / 2, 140 + 43 / 2);
const QPoint sensorButton(570 + 39 / 2, 60 + 43 / 2);
const QPoint fullScreenButton(606 + 28 / 2, 4 + 28 / 2);

QPoint contentPoint(int x, int y)
{
    return QPoint(200 + qRound(x * 0.8), 150 + qRound((24 + y) * 0.8));
}

QRect contentRect(int x, int y, int width, int height)
{
    return QRect(contentPoint(x, y), contentPoint(x + width - 1, y + height - 1));
}

// Sensor panel rows: 62-pixel headers and 48-pixel single-shot rows, below
// a one-pixel frame; start/stop and single-shot buttons at the right end.
constexpr int panelButtonX = 215;
constexpr int accelerometerSingleShotY = 1 + 62 + 48 + 62 + 24;
constexpr int lightSensorHeaderY = 1 + 3 * (62 + 48) + 31;
const QPoint accelerometerFieldX(39, accelerometerSingleShotY);
const QPoint accelerometerFieldY(103, accelerometerSingleShotY);

using ScreenPixels::countPixels;
using ScreenPixels::looksLike;

bool isContentGreen(QRgb pixel)
{
    return qGreen(pixel) > 160 && qRed(pixel) < 120 && qBlue(pixel) < 120;
}

// Anything an agent could have drawn: saturated red, green or blue.
bool isAgentColour(QRgb pixel)
{
    const int high = qMax(qRed(pixel), qMax(qGreen(pixel), qBlue(pixel)));
    const int low = qMin(qRed(pixel), qMin(qGreen(pixel), qBlue(pixel)));
    return high - low > 120;
}

// Waits by the wall clock. Every look at the screen runs a program and
// takes a while, which QTRY_* would count as one short step.
bool waitFor(const std::function<bool()>& condition, int timeoutMillis = reactionTimeoutMillis)
{
    return QTest::qWaitFor(condition, timeoutMillis);
}

QByteArray eventText(const QString& appId, int contentId, int type, const QList<double>& values)
{
    QByteArray text = "{\n    \"appId\": \"" + appId.toUtf8() + "\",\n    \"contentId\": \""
                      + QByteArray::number(contentId) + "\",\n    \"data\": {\n        \"type\": "
                      + QByteArray::number(type) + ",\n        \"values\": [\n";
    for (int i = 0; i < values.size(); ++i)
        text += "            \"" + QByteArray::number(values.at(i), 'f', 3) + (i + 1 < values.size() ? "\",\n" : "\"\n");
    return text + "        ]\n    },\n    \"what_changed\": \"event\"\n}\n";
}

} // namespace

// The real program under Xvfb, used the way a developer uses it. The
// functions run in order and share one emulator; the last one closes it.
class TestEndToEnd final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void contentShownAndExpired();
    void clickReachesEveryAgent();
    void sensorPanel();
    void fullScreen();
    void secondCopyRefused();
    void confirmedClose();

private:
    QImage screenshot(const QString& keepAs = QString());
    AgentResult agent(const QStringList& arguments) const
    {
        return AgentProcess::run(arguments, emulator.ports().agent);
    }

    Desktop desktop;
    EmulatorProcess emulator{&desktop, QStringLiteral("endtoend/emulator")};
    QTemporaryDir files;
    QString window;
    QImage windowMode;
};

void TestEndToEnd::initTestCase()
{
    // The second copy below must meet this one on the default ports.
    emulator.useDefaultPorts();
    QVERIFY2(emulator.waitForFreePorts(5 * startTimeoutMillis), "port 2000 or 2001 stays taken");
    QVERIFY2(desktop.start(), qPrintable(desktop.errorString()));
    QVERIFY(files.isValid());
    qInfo().noquote() << "Screenshots and logs:" << QDir(Desktop::artifactsPath()).filePath(QStringLiteral("endtoend"));
    window = emulator.startWithWindow(startTimeoutMillis);
    QVERIFY2(!window.isEmpty(), qPrintable("no window; see " + emulator.logPath()));
    QCOMPARE(desktop.geometry(window).size(), QSize(640, 480));
    // The start-up picture: the glasses with an empty display.
    QVERIFY(waitFor([&] { return !(windowMode = screenshot()).isNull(); }));
    Desktop::keep(windowMode, QStringLiteral("endtoend/started.png"));
}

QImage TestEndToEnd::screenshot(const QString& keepAs)
{
    const QImage picture = desktop.screenshot(window);
    if (!keepAs.isEmpty())
        Desktop::keep(picture, QStringLiteral("endtoend/%1.png").arg(keepAs));
    return picture;
}

void TestEndToEnd::contentShownAndExpired()
{
    QImage stripes(150, 200, QImage::Format_RGB32);
    stripes.fill(Qt::red);
    QPainter(&stripes).fillRect(0, 100, 150, 100, Qt::blue);
    const QString stripesPath = files.filePath(QStringLiteral("stripes.png"));
    QVERIFY(stripes.save(stripesPath));
    QImage mark(100, 60, QImage::Format_RGB32);
    mark.fill(Qt::white);
    QPainter(&mark).fillRect(20, 10, 60, 40, Qt::green);
    const QString markPath = files.filePath(QStringLiteral("mark.zi"));
    QVERIFY(ZIImageUtil::ziCompress(mark).save(markPath));

    QCOMPARE(agent({"timing", "--min", "300", "--max", "5000"}).exitCode, 0);
    QCOMPARE(agent({"config", "--app", agentHash, stripesPath, markPath}).exitCode, 0);
    QCOMPARE(agent({"content", "--app", agentHash, "--layout", "2", "--content-id", "11", "--image", "0", "--text",
                    "Hello glasses"}).exitCode, 0);
    QElapsedTimer lifetime;
    lifetime.start();

    // Layout 2: the picture on the left half, the text in green on the right.
    QImage picture;
    const QRect textArea = contentRect(162, 0, 158, 216);
    QVERIFY(waitFor([&] {
        picture = screenshot();
        return looksLike(picture.pixel(contentPoint(75, 50)), Qt::red)
               && looksLike(picture.pixel(contentPoint(75, 150)), Qt::blue)
               && countPixels(picture, textArea, isContentGreen) > 200;
    }));
    screenshot(QStringLiteral("content-shown"));
    QVERIFY2(lifetime.elapsed() < 4000, "the content showed too late to time its end");

    const QRect contentArea = contentRect(0, 0, 320, 216);
    const auto displayEmpty = [&] { return countPixels(screenshot(), contentArea, isAgentColour) == 0; };
    QVERIFY(waitFor(displayEmpty));
    QVERIFY2(lifetime.elapsed() >= 4000, qPrintable(QStringLiteral("gone after %1 ms").arg(lifetime.elapsed())));
    screenshot(QStringLiteral("content-expired"));

    const QDir agentDir(QDir(emulator.home()).filePath(QStringLiteral("Pictures/Zelvo/") + agentHash));
    QCOMPARE(agentDir.entryList(QDir::Files, QDir::Name),
             QStringList({agentHash + QStringLiteral("_0.png"), agentHash + QStringLiteral("_1.zi")}));
    QCOMPARE(QImage(agentDir.filePath(agentHash + QStringLiteral("_0.png"))).convertToFormat(QImage::Format_RGB32), stripes);
    QFile sentZi(markPath);
    QFile storedZi(agentDir.filePath(agentHash + QStringLiteral("_1.zi")));
    QVERIFY(sentZi.open(QIODevice::ReadOnly) && storedZi.open(QIODevice::ReadOnly));
    QCOMPARE(storedZi.readAll(), sentZi.readAll());

    // The ZI picture alone in layout 1: lit pixels green on white.
    QCOMPARE(agent({"content", "--app", agentHash, "--layout", "1", "--content-id", "12", "--image", "1"}).exitCode, 0);
    QVERIFY(waitFor([&] {
        picture = screenshot();
        return isContentGreen(picture.pixel(contentPoint(50, 30))) && looksLike(picture.pixel(contentPoint(6, 5)), Qt::white)
               && looksLike(picture.pixel(contentPoint(90, 55)), Qt::white);
    }));
    screenshot(QStringLiteral("zi-shown"));
    QVERIFY(waitFor(displayEmpty));
}

void TestEndToEnd::clickReachesEveryAgent()
{
    QCOMPARE(agent({"timing", "--min", "0", "--max", "600000"}).exitCode, 0);
    QCOMPARE(agent({"content", "--app", agentHash, "--layout", "0", "--content-id", "42", "--text", "Click plus"}).exitCode, 0);
    QVERIFY(waitFor([&] { return countPixels(screenshot(), displayRect, isContentGreen) > 200; }));

    AgentProcess first(emulator.ports().agent);
    AgentProcess second(emulator.ports().agent);
    first.start({"events", "--raw", "--count", "3", "--timeout", "120"});
    second.start({"events", "--raw", "--count", "3", "--timeout", "120"});
    QTRY_COMPARE_WITH_TIMEOUT(emulator.acceptedAgents(), 2, startTimeoutMillis);
    QVERIFY(desktop.click(window, plusButton));

    const QByteArray expected = eventText(agentHash, 42, 4, {0, 0, 0, 0}) + eventText(agentHash, 42, 4, {0, 1, 0, 0})
                                + eventText(agentHash, 42, 4, {0, 2, 0, 0});
    for (AgentProcess* listener : {&first, &second}) {
        const AgentResult result = listener->finish();
        QCOMPARE(result.err, QByteArray());
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.out, expected);
    }
}

void TestEndToEnd::sensorPanel()
{
    AgentProcess listener(emulator.ports().agent);
    listener.start({"events", "--count", "2", "--timeout", "120"});
    QTRY_COMPARE_WITH_TIMEOUT(emulator.acceptedAgents(), 1, startTimeoutMillis);

    QVERIFY(desktop.click(window, sensorButton));
    const QStringList ofEmulator{"--pid", QString::number(emulator.pid())};
    const QString panel = desktop.waitForWindow(ofEmulator, {window}, reactionTimeoutMillis);
    QVERIFY(!panel.isEmpty());
    const QRect panelGeometry = desktop.geometry(panel);
    QCOMPARE(panelGeometry.size(), QSize(240, 450));
    QCOMPARE(panelGeometry.topLeft(), desktop.geometry(window).topRight() + QPoint(1, 0));
    Desktop::keep(desktop.screenshot(panel), QStringLiteral("endtoend/sensor-panel.png"));

    // One accelerometer reading typed in, then the light sensor started.
    QVERIFY(desktop.click(panel, accelerometerFieldX));
    QVERIFY(desktop.pressKeys(panel, {"ctrl+a"}));
    QVERIFY(desktop.type(panel, "1.5"));
    QVERIFY(desktop.click(panel, accelerometerFieldY));
    QVERIFY(desktop.pressKeys(panel, {"ctrl+a"}));
    QVERIFY(desktop.type(panel, "-2"));
    QVERIFY(desktop.click(panel, QPoint(panelButtonX, accelerometerSingleShotY)));
    QVERIFY(desktop.click(panel, QPoint(panelButtonX, lightSensorHeaderY)));
    Desktop::keep(desktop.screenshot(panel), QStringLiteral("endtoend/sensor-panel-running.png"));

    const AgentResult result = listener.finish();
    QCOMPARE(result.err, QByteArray());
    QCOMPARE(result.exitCode, 0);
    const QList<QByteArray> lines = result.out.split('\n');
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.at(0), QByteArray(R"({"appId":"","contentId":"-1","data":{"type":16,"values":["1.500","-2.000","0.000","0.000"]},"what_changed":"event"})"));
    const QJsonObject light = QJsonDocument::fromJson(lines.at(1)).object();
    QCOMPARE(light.value("appId").toString(), QString());
    QCOMPARE(light.value("contentId").toString(), QStringLiteral("-1"));
    QCOMPARE(light.value("data").toObject().value("type").toInt(), 64);
    const QJsonArray values = light.value("data").toObject().value("values").toArray();
    const double level = values.at(0).toString().toDouble();
    QVERIFY2(level > 0 && level < 100, qPrintable(values.at(0).toString()));
    QCOMPARE(values.at(1).toString(), QStringLiteral("0.000"));

    // Stopped, the light sensor is silent for more than two of its periods.
    QVERIFY(desktop.click(panel, QPoint(panelButtonX, lightSensorHeaderY)));
    const AgentResult silence = agent({"events", "--timeout", "4.5"});
    QCOMPARE(silence.exitCode, 0);
    QCOMPARE(silence.out, QByteArray());

    QVERIFY(desktop.click(window, sensorButton));
    QVERIFY(waitFor([&] { return !desktop.findWindows(ofEmulator).contains(panel); }));
}

void TestEndToEnd::fullScreen()
{
    QVERIFY(desktop.click(window, fullScreenButton));
    QVERIFY(waitFor([&] { return desktop.geometry(window) == QRect(0, 0, 1280, 1024); }));
    // After the delayed layout: black margins, the display at (100, 100)
    // filling the rest, the full-screen button at the right edge.
    QImage picture;
    QVERIFY(waitFor([&] {
        picture = screenshot();
        return looksLike(picture.pixel(50, 500), Qt::black) && looksLike(picture.pixel(640, 980), Qt::black)
               && countPixels(picture, QRect(100, 100, 1080, 824), isContentGreen) > 5000
               && countPixels(picture, QRect(1280 - 34, 4, 28, 28), [](QRgb pixel) { return qGray(pixel) > 200; }) > 20;
    }));
    screenshot(QStringLiteral("fullscreen"));

    QVERIFY(desktop.pressKeys(window, {"Escape"}));
    QVERIFY(waitFor([&] { return desktop.geometry(window).size() == QSize(640, 480); }));
    // The window-mode picture again, display content aside.
    const auto outsideDisplayLikeAtStart = [&] {
        picture = screenshot();
        if (picture.size() != windowMode.size())
            return false;
        int same = 0;
        int total = 0;
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                if (displayRect.contains(x, y))
                    continue;
                ++total;
                same += looksLike(picture.pixel(x, y), QColor(windowMode.pixel(x, y))) ? 1 : 0;
            }
        }
        return same > total * 98 / 100;
    };
    QVERIFY(waitFor(outsideDisplayLikeAtStart));
    screenshot(QStringLiteral("fullscreen-left"));
}

void TestEndToEnd::secondCopyRefused()
{
    EmulatorProcess second(&desktop, QStringLiteral("endtoend/second-copy"));
    second.setHome(emulator.home());
    second.useDefaultPorts();
    QVERIFY(second.start());
    const QString box = desktop.waitForWindow({"--pid", QString::number(second.pid())}, {}, startTimeoutMillis);
    QVERIFY2(!box.isEmpty(), "the second copy shows no message");
    Desktop::keep(desktop.screenshot(box), QStringLiteral("endtoend/second-copy.png"));
    QVERIFY(desktop.pressKeys(box, {"Return"}));
    QCOMPARE(second.waitForExit(startTimeoutMillis), 1);

    QVERIFY(emulator.isRunning());
    QCOMPARE(agent({"timing", "--min", "0", "--max", "1"}).exitCode, 0);
}

void TestEndToEnd::confirmedClose()
{
    const QStringList ofEmulator{"--pid", QString::number(emulator.pid())};
    QVERIFY(desktop.askToClose(window));
    const QString question = desktop.waitForWindow(ofEmulator, {window}, reactionTimeoutMillis);
    QVERIFY2(!question.isEmpty(), "closing asks nothing");
    Desktop::keep(desktop.screenshot(question), QStringLiteral("endtoend/close-question.png"));
    QVERIFY(desktop.pressKeys(question, {"Escape"}));
    QVERIFY(waitFor([&] { return !desktop.findWindows(ofEmulator).contains(question); }));
    QVERIFY(emulator.isRunning());
    QVERIFY(desktop.findWindows(ofEmulator).contains(window));

    QVERIFY(desktop.askToClose(window));
    const QString confirmation = desktop.waitForWindow(ofEmulator, {window}, reactionTimeoutMillis);
    QVERIFY(!confirmation.isEmpty());
    // Cancel has the focus as the default button; OK stands before it.
    QVERIFY(desktop.pressKeys(confirmation, {"shift+Tab", "space"}));
    QCOMPARE(emulator.waitForExit(startTimeoutMillis), 0);
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
