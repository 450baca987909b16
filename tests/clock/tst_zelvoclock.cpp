#include "../control/ControlRig.h"
#include "../util/TestFiles.h"
#include "clock/ZelvoClock.h"
#include "clock/ZelvoClockTimer.h"

#include <QDir>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QTest>

#include <functional>
#include <memory>
#include <vector>

namespace {

QJsonObject advance(int millis)
{
    return {{"cmd", "clock"}, {"action", "advance"}, {"ms", millis}};
}

QString writeFile(const QString& name, const QByteArray& bytes)
{
    const QString path = QDir::home().filePath(name);
    return TestFiles::write(path, bytes) ? path : QString();
}

QJsonObject content(int contentId)
{
    return {{"command.type", "agent_content"}, {"appId", "timed"},         {"layoutId", "0"},
            {"contentId", contentId},          {"images.id", QJsonArray()}, {"texts", QJsonArray{"hello"}}};
}

// The kinds of the events the agent received since the last look.
QList<int> eventTypes(ControlRig& rig, TestAgent& agent)
{
    QList<int> types;
    if (!TestAgent::waitForAllSent(rig.window, {&agent}))
        return {-1};
    for (const QByteArray& frame : agent.takeEvents())
        types.append(TestAgent::eventType(frame));
    return types;
}

// The line at the foot of the window that says the clock is manual; empty
// when none shows.
QString clockMark(const ZelvoEmulator& window)
{
    for (const QGraphicsItem* item : window.scene()->items()) {
        const auto* text = dynamic_cast<const QGraphicsSimpleTextItem*>(item);
        if (text && text->isVisible())
            return text->text();
    }
    return QString();
}

} // namespace

class TestZelvoClock final : public QObject
{
    Q_OBJECT

private slots:
    void firesInDeadlineOrder_data();
    void firesInDeadlineOrder();
    void deadlines_data();
    void deadlines();
    void controlRequest();
    void sameRunTwice();
};

// Timers started in this order with these intervals, repeating or not;
// "fired" lists each expiry as "index@time" in the order they fired.
void TestZelvoClock::firesInDeadlineOrder_data()
{
    QTest::addColumn<QList<int>>("intervals");
    QTest::addColumn<QList<bool>>("repeating");
    QTest::addColumn<int>("advanceBy");
    QTest::addColumn<QStringList>("fired");

    QTest::newRow("started late, due first") << QList<int>{300, 100, 200} << QList<bool>{false, false, false} << 300
                                             << QStringList{"1@100", "2@200", "0@300"};
    QTest::newRow("same deadline in start order") << QList<int>{50, 50, 50} << QList<bool>{false, false, false} << 60
                                                  << QStringList{"0@50", "1@50", "2@50"};
    QTest::newRow("one before the deadline") << QList<int>{100} << QList<bool>{false} << 99 << QStringList{};
    QTest::newRow("repeating between one-shots") << QList<int>{40, 100} << QList<bool>{true, false} << 130
                                                 << QStringList{"0@40", "0@80", "1@100", "0@120"};
    QTest::newRow("zero waits for an advance") << QList<int>{0} << QList<bool>{false} << 0 << QStringList{"0@0"};
}

void TestZelvoClock::firesInDeadlineOrder()
{
    QFETCH(QList<int>, intervals);
    QFETCH(QList<bool>, repeating);
    QFETCH(int, advanceBy);
    QFETCH(QStringList, fired);

    ZelvoClock clock(ZelvoClock::Mode::Manual);
    QStringList seen;
    std::vector<std::unique_ptr<ZelvoClockTimer>> timers;
    for (int i = 0; i < intervals.size(); ++i) {
        timers.push_back(std::make_unique<ZelvoClockTimer>(&clock));
        ZelvoClockTimer* timer = timers.back().get();
        timer->setSingleShot(!repeating.at(i));
        connect(timer, &ZelvoClockTimer::timeout, this,
                [&seen, &clock, i] { seen.append(QStringLiteral("%1@%2").arg(i).arg(clock.now())); });
        timer->start(intervals.at(i));
    }
    QVERIFY(seen.isEmpty());
    QVERIFY(clock.advance(advanceBy));
    QCOMPARE(seen, fired);
    QCOMPARE(clock.now(), qint64(advanceBy));
}

void TestZelvoClock::deadlines_data()
{
    QTest::addColumn<QString>("behaviour");
    QTest::addColumn<int>("deadline");

    QTest::newRow("content removed at its maximum time") << "max" << 6000;
    QTest::newRow("second content skipped during the minimum time") << "min" << 4000;
    QTest::newRow("long press") << "long" << 750;
    QTest::newRow("compass readings") << "compass" << 2000;
    QTest::newRow("trace line") << "trace" << 1500;
    QTest::newRow("link delay") << "delay" << 300;
    QTest::newRow("display recording length") << "recording" << 1000;
}

// Each behaviour one millisecond before its deadline and at it, on the
// manual clock and with nothing but the clock's advances moving time.
void TestZelvoClock::deadlines()
{
    QFETCH(QString, behaviour);
    QFETCH(int, deadline);

    ControlRig rig(ZelvoClock::Mode::Manual);
    TestAgent agent(rig.server);
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}, {&agent}));

    const auto call = [&client](const QJsonObject& request) {
        const QJsonObject answer = client.call(request);
        return answer.value("ok").toBool() ? answer : QJsonObject{{"failed", answer.value("error")}};
    };
    const auto state = [&call](const QString& key) { return call({{"cmd", "state"}}).value(key); };
    // What "fired" means for the behaviour, looked at after each advance.
    std::function<bool()> fired;
    if (behaviour == "max") {
        QVERIFY(agent.show("timed", 1, "0", {}, {"hello"}));
        fired = [&] { return !state("contentShown").toBool(); };
    } else if (behaviour == "min") {
        QVERIFY(agent.show("timed", 1, "0", {}, {"hello"}));
        fired = [&] { return !state("minPersistingTimer").toBool(); };
    } else if (behaviour == "long") {
        QVERIFY(!call({{"cmd", "button"}, {"button", "plus"}, {"gesture", "press"}}).contains("failed"));
        QCOMPARE(eventTypes(rig, agent), QList<int>{4});
        fired = [&] { return eventTypes(rig, agent) == QList<int>{4}; };
    } else if (behaviour == "compass") {
        QVERIFY(!call({{"cmd", "sensor"}, {"sensor", "compass"}, {"action", "start"}}).contains("failed"));
        fired = [&] { return eventTypes(rig, agent) == QList<int>{32}; };
    } else if (behaviour == "trace") {
        const QString path = writeFile("timed.csv", "0,light,1\n1500,light,2\n");
        QVERIFY(!call({{"cmd", "trace"}, {"file", path}}).contains("failed"));
        QCOMPARE(eventTypes(rig, agent), QList<int>{64});
        fired = [&] { return eventTypes(rig, agent) == QList<int>{64}; };
    } else if (behaviour == "delay") {
        QVERIFY(!call({{"cmd", "link"}, {"action", "delay"}, {"millis", deadline}}).contains("failed"));
        QVERIFY(!call({{"cmd", "sensor"}, {"sensor", "light"}, {"values", QJsonArray{5}}}).contains("failed"));
        fired = [&] {
            // The marker of waitForAllSent waits behind the delayed reading.
            return agent.waitForFrames(1, 200) && TestAgent::eventType(agent.frames().constFirst()) == 64;
        };
    } else if (behaviour == "recording") {
        const QJsonObject started = call(
            {{"cmd", "record"}, {"what", "display"}, {"file", QDir::home().filePath("timed.png")}, {"seconds", 1}});
        QVERIFY(!started.contains("failed"));
        fired = [&] { return !state("recording").toObject().value("display").toBool(); };
    }

    QCOMPARE(call(advance(deadline - 1)).value("clock").toObject().value("now"), QJsonValue(deadline - 1));
    QVERIFY2(!fired(), "fired a millisecond early");
    QCOMPARE(call(advance(1)).value("clock").toObject().value("now"), QJsonValue(deadline));
    QVERIFY2(fired(), "did not fire at its deadline");

    if (behaviour == "compass") {
        QVERIFY(!call(advance(4000)).contains("failed"));
        QCOMPARE(eventTypes(rig, agent), (QList<int>{32, 32}));
    }
    if (behaviour == "min") {
        // The content stays until the maximum time.
        QCOMPARE(state("contentShown"), QJsonValue(true));
        QVERIFY(agent.show("timed", 2, "0", {}, {"again"}));
        QCOMPARE(state("contentId"), QJsonValue(2));
    }
}

void TestZelvoClock::controlRequest()
{
    ControlRig rig;
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}));

    const auto clockOf = [](const QJsonObject& answer) { return answer.value("clock").toObject(); };
    QCOMPARE(clockOf(client.call({{"cmd", "clock"}, {"action", "state"}})).value("mode"), QJsonValue("real"));
    QCOMPARE(client.call(advance(10)).value("error"), QJsonValue("the clock runs in real time; pause it first"));

    const QJsonObject paused = clockOf(client.call({{"cmd", "clock"}, {"action", "pause"}}));
    QCOMPARE(paused.value("mode"), QJsonValue("manual"));
    const double frozen = paused.value("now").toDouble();
    QTest::qWait(20);
    QCOMPARE(clockOf(client.call({{"cmd", "state"}})), paused);
    QCOMPARE(clockOf(client.call(advance(250))).value("now"), QJsonValue(frozen + 250));
    QCOMPARE(clockMark(rig.window),
             QStringLiteral("Device clock paused at %1 s").arg((frozen + 250) / 1000, 0, 'f', 3));

    QCOMPARE(client.call({{"cmd", "clock"}, {"action", "advance"}}).value("error"),
             QJsonValue("\"ms\" is missing; it must be a whole number from 0 to 3600000"));
    QCOMPARE(client.call({{"cmd", "clock"}, {"action", "advance"}, {"ms", -1}}).value("error"),
             QJsonValue("\"ms\" must be a whole number from 0 to 3600000"));
    QVERIFY(client.call({{"cmd", "clock"}, {"action", "stop"}}).value("error").toString().startsWith("\"action\" must be "));
    QCOMPARE(client.call({{"cmd", "clock"}, {"action", "pause"}, {"ms", 5}}).value("error"),
             QJsonValue("\"ms\" is not a field of clock pause"));

    // A reset keeps the mode; resuming runs on from the advanced time.
    QVERIFY(client.call({{"cmd", "reset"}}).value("ok").toBool());
    QCOMPARE(clockOf(client.call({{"cmd", "state"}})).value("mode"), QJsonValue("manual"));
    const QJsonObject resumed = clockOf(client.call({{"cmd", "clock"}, {"action", "resume"}}));
    QCOMPARE(resumed.value("mode"), QJsonValue("real"));
    QCOMPARE(clockMark(rig.window), QString());
    QVERIFY(resumed.value("now").toDouble() >= frozen + 250);
    QTRY_VERIFY(clockOf(client.call({{"cmd", "state"}})).value("now").toDouble() > frozen + 260);
}

// The same agent messages and control requests on the manual clock give
// the same event bytes and the same record, whatever the machine does.
void TestZelvoClock::sameRunTwice()
{
    const QString trace = writeFile("run.csv", "0,accelerometer,1,2,3\n700,compass,4,5,6\n2500,battery,40\n");
    QVERIFY(!trace.isEmpty());
    const auto run = [&trace](QList<QByteArray>* events, QJsonArray* records) {
        ControlRig rig(ZelvoClock::Mode::Manual);
        TestAgent agent(rig.server);
        ControlClient client(rig.control.port());
        QVERIFY(isReady(rig, {&client}, {&agent}));
        // The battery cycle belongs to the program; a reset starts it anew.
        QVERIFY(client.call({{"cmd", "reset"}}).value("ok").toBool());
        const QList<QJsonObject> requests = {
            {{"cmd", "sensor"}, {"sensor", "accelerometer"}, {"action", "start"}},
            {{"cmd", "sensor"}, {"sensor", "battery"}, {"action", "start"}},
            advance(1000),
            {{"cmd", "trace"}, {"file", trace}},
            {{"cmd", "button"}, {"button", "minus"}, {"gesture", "long"}},
            {{"cmd", "link"}, {"action", "delay"}, {"millis", 120}},
            {{"cmd", "button"}, {"button", "plus"}, {"gesture", "click"}},
            advance(3300),
            {{"cmd", "sensor"}, {"sensor", "compass"}, {"action", "start"}},
            advance(4100),
        };
        int contentId = 0;
        for (const QJsonObject& request : requests) {
            QVERIFY2(client.call(request).value("ok").toBool(), qPrintable(request.value("cmd").toString()));
            if (request.value("action") == "advance")
                continue;
            // Agent frames between the requests, handled at the clock's time.
            QVERIFY(agent.setPersistingTimes(1000, 2500));
            QVERIFY(agent.show("run", ++contentId, "0", {}, {"step"}));
        }
        QVERIFY(client.call({{"cmd", "link"}, {"action", "delay"}, {"millis", 0}}).value("ok").toBool());
        QVERIFY(client.call(advance(200)).value("ok").toBool());
        QVERIFY(TestAgent::waitForAllSent(rig.window, {&agent}));
        *events = agent.takeEvents();
        for (const QJsonValue& value : client.call({{"cmd", "log"}}).value("records").toArray()) {
            QJsonObject record = value.toObject();
            // The time stamp starts from the wall time of the run.
            record.remove("time");
            // The agent's port differs from run to run.
            if (record.value("kind") == "connection_opened")
                record.remove("detail");
            records->append(record);
        }
    };
    QList<QByteArray> firstEvents, secondEvents;
    QJsonArray firstRecords, secondRecords;
    run(&firstEvents, &firstRecords);
    run(&secondEvents, &secondRecords);
    QVERIFY2(firstEvents.size() > 15, qPrintable(QString::number(firstEvents.size())));
    QCOMPARE(secondEvents, firstEvents);
    QCOMPARE(secondRecords, firstRecords);
}

QTEST_MAIN(TestZelvoClock)
#include "tst_zelvoclock.moc"
