#include "ControlRig.h"
#include "pose/ZelvoHeadMotion.h"
#include "record/ZelvoRecorder.h"
#include "recording/ZelvoDisplayRecorder.h"
#include "recording/ZelvoSessionRecorder.h"
#include "ui/device/ZelvoDevicePanel.h"
#include "ui/sensor/ZelvoSensorList.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QString>
#include <QTest>

#include <cstdlib>

namespace {

QJsonObject linkRequest(const QString& action, const QString& key = QString(), const QJsonValue& value = {})
{
    QJsonObject request{{"cmd", "link"}, {"action", action}};
    if (!key.isEmpty())
        request.insert(key, value);
    return request;
}

// The kinds of the records after `since`, oldest first.
QStringList kindsSince(const ZelvoRecorder& recorder, quint64 since)
{
    QStringList kinds;
    for (const ZelvoRecord& record : recorder.since(since))
        kinds.append(ZelvoRecord::kindName(record.kind));
    return kinds;
}

// Antialiasing differs between processors: a few channel steps off on a
// few pixels is the same picture.
bool looksLike(const QImage& actual, const QImage& expected)
{
    const QImage a = actual.convertToFormat(QImage::Format_ARGB32);
    const QImage b = expected.convertToFormat(QImage::Format_ARGB32);
    int off = 0;
    for (int i = 0; a.size() == b.size() && i < a.width() * a.height(); ++i) {
        const QRgb p = a.pixel(i % a.width(), i / a.width());
        const QRgb q = b.pixel(i % a.width(), i / a.width());
        off += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q))
                   + std::abs(qAlpha(p) - qAlpha(q)) > 24;
    }
    return a.size() == b.size() && off <= a.width() * a.height() / 50;
}

} // namespace

class TestZelvoDeviceFaults final : public QObject
{
    Q_OBJECT

private slots:
    void refusedAgentsSeeTheirConnectionClose();
    void dropClosesEveryAgent();
    void delayedMessagesLeaveLateAndInOrder();
    void heldEventsDroppedTruthfullyAndReleased();
    void battery_data();
    void battery();
    void batteryReadingsLeaveTheShownLevel();
    void panelFollowsAndDrives();
};

void TestZelvoDeviceFaults::refusedAgentsSeeTheirConnectionClose()
{
    ControlRig rig;
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}));
    const quint64 since = rig.services.recorder.get()->lastSequence();

    QJsonObject answer = client.call(linkRequest("refuse", "on", true));
    QCOMPARE(answer.value("ok"), QJsonValue(true));
    QCOMPARE(answer.value("refused"), QJsonValue(true));

    TestAgent refused(rig.server.serverPort());
    QVERIFY(refused.waitForConnected());
    QTRY_COMPARE(refused.socket.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(rig.server.connections().size(), 0);
    // The port stays taken while refusing.
    QVERIFY(rig.server.isListening());

    QCOMPARE(client.call(linkRequest("refuse", "on", false)).value("refused"), QJsonValue(false));
    TestAgent welcome(rig.server);
    QVERIFY(TestAgent::waitUntilServed(rig.server, {&welcome}));
    QCOMPARE(kindsSince(*rig.services.recorder.get(), since),
             QStringList({"command", "link_refusal", "refused", "command", "link_refusal", "opened"}));
}

void TestZelvoDeviceFaults::dropClosesEveryAgent()
{
    ControlRig rig;
    ControlClient client(rig.control.port());
    TestAgent first(rig.server);
    TestAgent second(rig.server);
    QVERIFY(isReady(rig, {&client}, {&first, &second}));
    // A message held back by a slow link goes down with it.
    QVERIFY(client.call(linkRequest("delay", "millis", 60000)).value("ok").toBool());
    QVERIFY(client.call({{"cmd", "battery"}, {"level", 50}}).value("ok").toBool());
    const quint64 since = rig.services.recorder.get()->lastSequence();

    const QJsonObject answer = client.call(linkRequest("drop"));
    QCOMPARE(answer.value("dropped"), QJsonValue(2));
    QCOMPARE(answer.value("agents"), QJsonValue(0));
    QTRY_COMPARE(first.socket.state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(second.socket.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(kindsSince(*rig.services.recorder.get(), since), QStringList({"command", "link_dropped", "closed", "closed"}));
    QVERIFY(first.frames().isEmpty());

    // The link comes back by itself: the glasses are in range again.
    QVERIFY(client.call(linkRequest("delay", "millis", 0)).value("ok").toBool());
    TestAgent again(rig.server);
    QVERIFY(TestAgent::waitUntilServed(rig.server, {&again}));
}

void TestZelvoDeviceFaults::delayedMessagesLeaveLateAndInOrder()
{
    ControlRig rig;
    ControlClient client(rig.control.port());
    TestAgent agent(rig.server);
    QVERIFY(isReady(rig, {&client}, {&agent}));

    const int delayMillis = 400;
    QCOMPARE(client.call(linkRequest("delay", "millis", delayMillis)).value("delayMillis"), QJsonValue(delayMillis));
    QElapsedTimer clock;
    clock.start();
    for (int level : {10, 20, 30})
        QCOMPARE(client.call({{"cmd", "battery"}, {"level", level}}).value("ok"), QJsonValue(true));
    QVERIFY(agent.waitForFrames(3));
    // Only a lower bound: a slow machine makes it later, never earlier.
    QVERIFY2(clock.elapsed() >= delayMillis, qPrintable(QString::number(clock.elapsed())));
    QStringList levels;
    for (const QByteArray& frame : agent.frames())
        levels.append(TestAgent::eventValues(frame).at(0).toString());
    QCOMPARE(levels, QStringList({"10.000", "20.000", "30.000"}));
    QCOMPARE(client.call(linkRequest("delay", "millis", -5)).value("ok"), QJsonValue(false));
}

// Events held past the bound are dropped and recorded so; a new delay
// counts from each held event's time of sending on the device clock, so
// lowering it releases them.
void TestZelvoDeviceFaults::heldEventsDroppedTruthfullyAndReleased()
{
    ControlRig rig(ZelvoClock::Mode::Manual);
    ControlClient client(rig.control.port());
    TestAgent agent(rig.server);
    QVERIFY(isReady(rig, {&client}, {&agent}));
    // The clock answers once the events due on the way have gone, which
    // takes the sanitizers many seconds.
    const int patience = 120000;
    const auto advance = [&](int millis) {
        return client.call({{"cmd", "clock"}, {"action", "advance"}, {"ms", millis}}, patience).value("ok").toBool();
    };
    QVERIFY(client.call(linkRequest("delay", "millis", 3600000)).value("ok").toBool());
    for (int level : {10, 20})
        QVERIFY(client.call({{"cmd", "battery"}, {"level", level}}).value("ok").toBool());

    // 30 000 readings are more than the 4 MiB held for one agent.
    const int count = 30000;
    QByteArray requests;
    for (int i = 0; i < count; ++i)
        requests += R"({"cmd":"sensor","sensor":"light","values":[5]})" "\n";
    client.send(requests);
    QTRY_COMPARE_WITH_TIMEOUT(client.answers.size(), count, patience);
    client.answers.clear();
    const ZelvoRecorder& recorder = *rig.services.recorder.get();
    const QJsonObject last = recorder.at(recorder.size() - 1).toJson();
    QCOMPARE(last.value("kind"), QJsonValue("event"));
    QCOMPARE(last.value("outcome"), QJsonValue("dropped"));
    QCOMPARE(last.value("reason"), QJsonValue("delayed_events_full"));
    const int dropped = client.call(linkRequest("state")).value("droppedEvents").toInt();
    QVERIFY2(dropped > 0 && dropped < count, qPrintable(QString::number(dropped)));
    const int held = 2 + count - dropped;

    // Sent at 0, due at 1500 under the lower delay.
    QVERIFY(advance(1000));
    QVERIFY(client.call(linkRequest("delay", "millis", 1500)).value("ok").toBool());
    QVERIFY(agent.frames().isEmpty());
    QVERIFY(advance(500));
    QVERIFY(agent.waitForFrames(held, patience));
    QCOMPARE(TestAgent::eventValues(agent.frames().at(0)).at(0).toString(), QString("10.000"));
    QCOMPARE(TestAgent::eventValues(agent.frames().at(1)).at(0).toString(), QString("20.000"));

    // Sent at 1500, due at 3000; with no delay it goes now, without the
    // clock moving.
    QVERIFY(client.call({{"cmd", "battery"}, {"level", 30}}).value("ok").toBool());
    QCOMPARE(agent.frames().size(), held);
    QVERIFY(client.call(linkRequest("delay", "millis", 0)).value("ok").toBool());
    QVERIFY(agent.waitForFrames(held + 1, patience));
    QCOMPARE(TestAgent::eventValues(agent.frames().last()).at(0).toString(), QString("30.000"));
}

void TestZelvoDeviceFaults::battery_data()
{
    QTest::addColumn<QJsonValue>("level");
    QTest::addColumn<QJsonValue>("charging");
    QTest::addColumn<QString>("icon");
    const QJsonValue unset(QJsonValue::Undefined);

    QTest::newRow("40") << QJsonValue(40) << unset << ":/data/battery-040.png";
    QTest::newRow("100 charging") << QJsonValue(100) << QJsonValue(true) << ":/data/battery-100-charging.png";
    QTest::newRow("0 not charging") << QJsonValue(0) << QJsonValue(false) << ":/data/battery-000.png";
    QTest::newRow("101") << QJsonValue(101) << unset << QString();
    QTest::newRow("55.5") << QJsonValue(55.5) << unset << QString();
    QTest::newRow("charging yes") << QJsonValue(60) << QJsonValue("yes") << QString();
}

void TestZelvoDeviceFaults::battery()
{
    QFETCH(QJsonValue, level);
    QFETCH(QJsonValue, charging);
    QFETCH(QString, icon);

    ControlRig rig;
    ControlClient client(rig.control.port());
    TestAgent agent(rig.server);
    QVERIFY(isReady(rig, {&client}, {&agent}));
    // Holding plus shows the status strip on the empty display.
    QVERIFY(client.call({{"cmd", "button"}, {"button", "plus"}, {"gesture", "press"}}).value("ok").toBool());
    QVERIFY(agent.waitForFrames(1));
    agent.takeEvents();

    QJsonObject request{{"cmd", "battery"}, {"level", level}};
    if (!charging.isUndefined())
        request.insert("charging", charging);
    const QJsonObject answer = client.call(request);
    QCOMPARE(answer.value("ok").toBool(), !icon.isEmpty());
    QVERIFY(TestAgent::waitForAllSent(rig.server, {&agent}));
    const QList<QByteArray> events = agent.takeEvents();
    if (icon.isEmpty()) {
        QVERIFY(events.isEmpty());
        QCOMPARE(rig.window.battery(), 20);
        return;
    }
    QCOMPARE(events.size(), 1);
    QCOMPARE(TestAgent::eventType(events.first()), 2);
    QCOMPARE(TestAgent::eventValues(events.first()),
             QJsonArray({QString::number(level.toInt()) + ".000", "0.000", "0.000", "0.000"}));
    QCOMPARE(rig.window.sensorPanel()->batteryPercent(), level.toInt());
    QVERIFY(looksLike(rig.window.displayImage().copy(290, 0, 24, 24), QImage(icon)));
}

// A trace's battery readings and the sensor command's are the panel's
// single shot: sent to the agents, the shown level left to the battery
// command.
void TestZelvoDeviceFaults::batteryReadingsLeaveTheShownLevel()
{
    ControlRig rig;
    ControlClient client(rig.control.port());
    TestAgent agent(rig.server);
    QVERIFY(isReady(rig, {&client}, {&agent}));
    QVERIFY(client.call({{"cmd", "battery"}, {"level", 60}}).value("ok").toBool());
    const QString path = QDir::home().filePath("draining.csv");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("milliseconds,sensor,v0\n0,battery,30\n50,battery,5\n");
    file.close();

    QVERIFY(client.call({{"cmd", "trace"}, {"file", path}, {"wait", true}}).value("ok").toBool());
    QVERIFY(client.call({{"cmd", "sensor"}, {"sensor", "battery"}, {"values", QJsonArray{12}}}).value("ok").toBool());
    QVERIFY(agent.waitForFrames(4));
    QStringList levels;
    for (const QByteArray& frame : agent.frames())
        levels.append(TestAgent::eventValues(frame).at(0).toString());
    QCOMPARE(levels, QStringList({"60.000", "30.000", "5.000", "12.000"}));
    QCOMPARE(rig.window.battery(), 60);
    QCOMPARE(client.call({{"cmd", "state"}}).value("battery"), QJsonValue(60));

    // A level the battery command refuses, a trace may not play either.
    QVERIFY(file.open(QIODevice::Append));
    file.write("100,battery,12.5\n");
    file.close();
    QVERIFY(client.call({{"cmd", "trace"}, {"file", path}}).value("error").toString().contains("line 4: battery takes"));
}

void TestZelvoDeviceFaults::panelFollowsAndDrives()
{
    ControlRig rig;
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}));
    rig.window.toggleDevicePanel();
    ZelvoDevicePanel& panel = *rig.window.devicePanelWindow();
    QVERIFY(panel.isVisible());

    QVERIFY(client.call(linkRequest("refuse", "on", true)).value("ok").toBool());
    QVERIFY(client.call({{"cmd", "battery"}, {"level", 70}, {"charging", true}}).value("ok").toBool());
    QVERIFY(panel.refuseBox()->isChecked());
    QCOMPARE(panel.batterySlider()->value(), 70);
    QVERIFY(panel.chargingBox()->isChecked());

    panel.refuseBox()->click();
    panel.chargingBox()->click();
    panel.batterySlider()->setValue(90);
    const QJsonObject state = client.call({{"cmd", "state"}});
    QCOMPARE(state.value("link").toObject().value("refused"), QJsonValue(false));
    QCOMPARE(state.value("battery"), QJsonValue(90));
    QCOMPARE(state.value("charging"), QJsonValue(false));

    // Recordings started elsewhere show on their buttons.
    QVERIFY(rig.services.displayRecorder.get()->start(QDir::home().filePath("panel.png"), 0));
    QVERIFY(rig.services.sessionRecorder.get()->start(QDir::home().filePath("panel.jsonl")));
    QVERIFY(panel.recordDisplayButton()->isChecked() && !panel.recordDisplayButton()->icon().isNull());
    QVERIFY(panel.recordSessionButton()->isChecked() && !panel.recordSessionButton()->icon().isNull());
    QVERIFY(client.call({{"cmd", "record"}, {"what", "stop"}}).value("ok").toBool());
    QVERIFY(!panel.recordDisplayButton()->isChecked() && panel.recordDisplayButton()->icon().isNull());
    QVERIFY(!panel.recordSessionButton()->isChecked());
    // A click while recording stops it; no file is asked for.
    QVERIFY(rig.services.sessionRecorder.get()->start(QDir::home().filePath("panel.jsonl")));
    panel.recordSessionButton()->click();
    QVERIFY(!rig.services.sessionRecorder.get()->isRecording() && !panel.recordSessionButton()->isChecked());

    // The clock paused elsewhere shows, and resumes from the panel.
    QCOMPARE(panel.clockButton()->text(), QString("Pause"));
    QVERIFY(client.call({{"cmd", "clock"}, {"action", "pause"}}).value("ok").toBool());
    QVERIFY(client.call({{"cmd", "clock"}, {"action", "advance"}, {"ms", 1500}}).value("ok").toBool());
    const QString paused = QString::number(rig.clock.now() / 1000.0, 'f', 3);
    QVERIFY2(panel.clockLabel()->text().contains(paused), qPrintable(panel.clockLabel()->text()));
    panel.clockButton()->click();
    QCOMPARE(client.call({{"cmd", "clock"}}).value("clock").toObject().value("mode"), QJsonValue("real"));
    QCOMPARE(panel.clockButton()->text(), QString("Pause"));

    // The head set elsewhere shows on the sliders; a slider and a gesture
    // button move it.
    QVERIFY(client.call({{"cmd", "pose"}, {"yaw", 90}, {"pitch", -30}}).value("ok").toBool());
    QCOMPARE(panel.poseSliders()[0]->value(), 90);
    QCOMPARE(panel.poseSliders()[1]->value(), -30);
    panel.poseSliders()[2]->setValue(15);
    const QJsonObject pose = client.call({{"cmd", "pose"}, {"action", "state"}}).value("pose").toObject();
    QCOMPARE(pose.value("roll"), QJsonValue(15));
    QCOMPARE(pose.value("yaw"), QJsonValue(90));
    panel.gestureButton("nod")->click();
    QVERIFY(rig.services.headMotion.get()->isMoving());

    rig.window.toggleDevicePanel();
    QVERIFY(!panel.isVisible());
}

QTEST_MAIN(TestZelvoDeviceFaults)
#include "tst_zelvodevicefaults.moc"
