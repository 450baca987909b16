#include "ControlRig.h"
#include "../util/TestFiles.h"
#include "ZelvoFrame.h"
#include "clock/ZelvoClock.h"
#include "control/ZelvoControlCommands.h"
#include "record/ZelvoRecorder.h"
#include "ui/Button.h"

#include <QDir>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QSignalSpy>
#include <QString>
#include <QTest>

#include <functional>

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
    if (!TestAgent::waitForAllSent(rig.server, {&agent}))
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

class TestZelvoControlClock final : public QObject
{
    Q_OBJECT

private slots:
    void deadlines_data();
    void deadlines();
    void controlRequest();
    void sameRunTwice();
    void minimumOfZero_data();
    void minimumOfZero();
    void burstAtOneInstant();
    void servesDuringAdvance();
    void waitsMoveThePausedClock_data();
    void waitsMoveThePausedClock();
    void holdAtTheLongPress_data();
    void holdAtTheLongPress();
    void waitEndsWithItsCommand_data();
    void waitEndsWithItsCommand();
};

void TestZelvoControlClock::deadlines_data()
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
void TestZelvoControlClock::deadlines()
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

void TestZelvoControlClock::controlRequest()
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
    // Real time on purpose: the paused clock stands still while it passes.
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
void TestZelvoControlClock::sameRunTwice()
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
        QVERIFY(TestAgent::waitForAllSent(rig.server, {&agent}));
        *events = agent.takeEvents();
        for (const QJsonValue& value : client.call({{"cmd", "log"}}).value("records").toArray()) {
            QJsonObject record = value.toObject();
            // The time stamp starts from the wall time of the run.
            record.remove("time");
            // The agent's port differs from run to run.
            if (record.value("kind") == "connection_opened")
                record.remove("detail");
            record.remove("peer");
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

void TestZelvoControlClock::minimumOfZero_data()
{
    QTest::addColumn<bool>("manual");

    QTest::newRow("real") << false;
    QTest::newRow("manual") << true;
}

// Two contents in one write, a minimum of 0: the second is drawn, however
// the bytes came.
void TestZelvoControlClock::minimumOfZero()
{
    QFETCH(bool, manual);

    ControlRig rig(manual ? ZelvoClock::Mode::Manual : ZelvoClock::Mode::Real);
    TestAgent agent(rig.server);
    QVERIFY(isReady(rig, {}, {&agent}));
    QVERIFY(agent.setPersistingTimes(0, 10000));
    const auto frame = [](int contentId) {
        return ZelvoFrame::encode(QJsonDocument(content(contentId)).toJson(QJsonDocument::Compact));
    };
    agent.send(frame(1) + frame(2));
    QTRY_COMPARE(rig.window.contentIdOnDisplay(), 2);
    QStringList sentences;
    for (int index = 0; index < rig.services.recorder.get()->size(); ++index) {
        const ZelvoRecord& record = rig.services.recorder.get()->at(index);
        if (record.kind == ZelvoRecord::Kind::AgentContent)
            sentences.append(record.sentence());
    }
    QCOMPARE(sentences, (QStringList{"content 1 drawn with layout 0", "content 2 drawn with layout 0"}));
}

// 300 trace readings due at one instant and a removal due later: in
// deadline order, each stamped with its own time.
void TestZelvoControlClock::burstAtOneInstant()
{
    ControlRig rig(ZelvoClock::Mode::Manual);
    TestAgent agent(rig.server);
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}, {&agent}));
    QVERIFY(agent.setPersistingTimes(0, 1500));
    QVERIFY(agent.show("timed", 1, "0", {}, {"hello"}));
    QByteArray csv;
    for (int value = 0; value < 300; ++value)
        csv += "1000,light," + QByteArray::number(value) + '\n';
    QVERIFY(client.call({{"cmd", "trace"}, {"file", writeFile("burst.csv", csv)}}).value("ok").toBool());
    const qint64 start = rig.clock.epochMillis();
    const int before = rig.services.recorder.get()->size();
    QVERIFY(client.call(advance(2000)).value("ok").toBool());

    QStringList seen;
    for (int index = before; index < rig.services.recorder.get()->size(); ++index) {
        const ZelvoRecord& record = rig.services.recorder.get()->at(index);
        if (record.kind == ZelvoRecord::Kind::EventSent)
            seen.append(QStringLiteral("%1@%2").arg((*record.eventValues)[0]).arg(record.timeMillis - start));
        else if (record.kind == ZelvoRecord::Kind::ContentRemoved)
            seen.append(QStringLiteral("removed@%1").arg(record.timeMillis - start));
    }
    QStringList expected;
    for (int value = 0; value < 300; ++value)
        expected.append(QStringLiteral("%1@1000").arg(value));
    expected.append("removed@1500");
    QCOMPARE(seen, expected);
}

// An hour's advance with the sensor simulations and a long trace running:
// another client's request is answered meanwhile, seeing the clock on its
// way, and the advance answers with the clock at its target.
void TestZelvoControlClock::servesDuringAdvance()
{
    ControlRig rig(ZelvoClock::Mode::Manual);
    TestAgent agent(rig.server);
    ControlClient advancing(rig.control.port());
    ControlClient other(rig.control.port());
    QVERIFY(isReady(rig, {&advancing, &other}, {&agent}));
    for (const char* sensor : {"battery", "accelerometer", "compass", "light"})
        QVERIFY(advancing.call({{"cmd", "sensor"}, {"sensor", sensor}, {"action", "start"}}).value("ok").toBool());
    QByteArray csv;
    // A reading every 200 ms: many slices' work, and a sanitizer build's
    // hour still ends within the answer's time-out.
    for (int millis = 0; millis < 3600000; millis += 200)
        csv += QByteArray::number(millis) + ",light,1\n";
    QVERIFY(advancing.call({{"cmd", "trace"}, {"file", writeFile("hour.csv", csv)}}, 60000).value("ok").toBool());
    const double start = rig.clock.now();

    QJsonObject request = advance(3600000);
    request.insert("id", 1);
    advancing.send(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    QTRY_VERIFY(rig.clock.isAdvancing());
    const QJsonObject meanwhile = other.call({{"cmd", "clock"}}).value("clock").toObject();
    QCOMPARE(meanwhile.value("advancingTo"), QJsonValue(start + 3600000));
    QVERIFY(meanwhile.value("now").toDouble() < start + 3600000);
    QCOMPARE(other.call({{"cmd", "clock"}, {"action", "resume"}}).value("error"),
             QJsonValue(QStringLiteral("the clock is advancing to %1 ms; resume it once that advance has answered")
                            .arg(qint64(start) + 3600000)));

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // A loaded machine takes a sanitizer build minutes over the hour.
    const int patience = 480000;
#else
    const int patience = 120000;
#endif
    const QJsonObject answer = advancing.next(patience);
    QCOMPARE(answer.value("clock").toObject(),
             (QJsonObject{{"mode", "manual"}, {"now", start + 3600000}}));
}

void TestZelvoControlClock::waitsMoveThePausedClock_data()
{
    QTest::addColumn<QJsonObject>("request");
    QTest::addColumn<int>("millis");

    QTest::newRow("press --hold 700") << QJsonObject{{"cmd", "button"}, {"button", "plus"}, {"gesture", "press"}, {"hold", 700}}
                                      << 700;
    QTest::newRow("long press") << QJsonObject{{"cmd", "button"}, {"button", "minus"}, {"gesture", "long"}} << 750;
    QTest::newRow("trace --wait") << QJsonObject{{"cmd", "trace"}, {"file", "wait.csv"}, {"wait", true}} << 1200;
    QTest::newRow("record display --seconds 1.5 --wait")
        << QJsonObject{{"cmd", "record"}, {"what", "display"}, {"file", "wait.png"}, {"seconds", 1.5}, {"wait", true}}
        << 1500;
}

// A command that waits on device time answers on a paused clock, which it
// moves by its own length.
void TestZelvoControlClock::waitsMoveThePausedClock()
{
    QFETCH(QJsonObject, request);
    QFETCH(int, millis);

    ControlRig rig(ZelvoClock::Mode::Manual);
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}));
    const QString file = QDir::home().filePath(request.value("file").toString());
    if (request.contains("file"))
        request.insert("file", request.value("cmd") == "trace" ? writeFile("wait.csv", "0,light,1\n1200,light,2\n") : file);
    const qint64 start = rig.clock.now();
    const QJsonObject answer = client.call(request);
    QVERIFY2(answer.value("ok").toBool(), qPrintable(answer.value("error").toString()));
    QCOMPARE(rig.clock.now(), start + millis);
}

void TestZelvoControlClock::holdAtTheLongPress_data()
{
    QTest::addColumn<bool>("manual");
    QTest::addColumn<int>("hold");
    QTest::addColumn<bool>("longPress");

    for (const bool manual : {false, true}) {
        for (const int hold : {749, 750, 751})
            QTest::addRow("%s clock, --hold %d", manual ? "manual" : "real", hold) << manual << hold << (hold >= 750);
    }
}

// "Held at least 750 ms" is long: at the instant both fall due, the long
// press goes before the release.
void TestZelvoControlClock::holdAtTheLongPress()
{
    QFETCH(bool, manual);
    QFETCH(int, hold);
    QFETCH(bool, longPress);

    ControlRig rig(manual ? ZelvoClock::Mode::Manual : ZelvoClock::Mode::Real);
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}));
    QSignalSpy longPressed(rig.window.plusControl(), &Button::longPressed);
    QSignalSpy released(rig.window.plusControl(), &Button::released);
    const QJsonObject answer =
        client.call({{"cmd", "button"}, {"button", "plus"}, {"gesture", "press"}, {"hold", hold}});
    QCOMPARE(answer.value("releasedElsewhere"), QJsonValue(false));
    QCOMPARE(released.count(), 1);
    QCOMPARE(longPressed.count(), longPress ? 1 : 0);
}

void TestZelvoControlClock::waitEndsWithItsCommand_data()
{
    QTest::addColumn<QList<QJsonObject>>("before");
    QTest::addColumn<QJsonObject>("request");
    QTest::addColumn<QJsonObject>("atOneSecond");
    QTest::addColumn<int>("millis");

    const QJsonObject recording{{"cmd", "record"}, {"what", "display"}, {"file", QDir::home().filePath("a.png")}};
    QJsonObject recordingTwoSeconds = recording;
    recordingTwoSeconds.insert("seconds", 2);
    recordingTwoSeconds.insert("wait", true);
    QTest::newRow("record display --seconds 2 --wait after a reset ended a recording")
        << QList<QJsonObject>{recording, {{"cmd", "reset"}}} << recordingTwoSeconds << QJsonObject() << 2000;
    QTest::newRow("pose move --over 600000, then pose stop")
        << QList<QJsonObject>() << QJsonObject{{"cmd", "pose"}, {"action", "move"}, {"yaw", 90}, {"over", 600000}}
        << QJsonObject{{"cmd", "pose"}, {"action", "stop"}} << 1000;
    QTest::newRow("press --hold 600000, then reset")
        << QList<QJsonObject>()
        << QJsonObject{{"cmd", "button"}, {"button", "plus"}, {"gesture", "press"}, {"hold", 600000}}
        << QJsonObject{{"cmd", "reset"}} << 1000;
}

// A command that waits on the paused clock answers after a reset as before
// it, and one ended early stops the clock where it ended. All run in one
// turn of the loop, so that a recording's frames are still being written.
void TestZelvoControlClock::waitEndsWithItsCommand()
{
    QFETCH(QList<QJsonObject>, before);
    QFETCH(QJsonObject, request);
    QFETCH(QJsonObject, atOneSecond);
    QFETCH(int, millis);

    ControlRig rig(ZelvoClock::Mode::Manual);
    QVERIFY(isReady(rig, {}));
    ZelvoControlCommands* commands = rig.control.controlCommands();
    for (const QJsonObject& given : qAsConst(before))
        commands->execute(given, [](const QJsonObject&, const QString&) {});
    QObject context;
    const qint64 start = rig.clock.now();
    if (!atOneSecond.isEmpty())
        rig.clock.singleShot(1000, &context, [commands, atOneSecond] {
            commands->execute(atOneSecond, [](const QJsonObject&, const QString&) {});
        });
    bool answered = false;
    commands->execute(request, [&answered](const QJsonObject&, const QString&) { answered = true; });
    QTRY_VERIFY(answered);
    QCOMPARE(rig.clock.now(), start + millis);
    QVERIFY(!rig.clock.isAdvancing());
}

QTEST_MAIN(TestZelvoControlClock)
#include "tst_zelvocontrolclock.moc"
