#include "ControlRig.h"
#include "record/ZelvoRecorder.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QTest>

namespace {

// The events of the head pose in the record, in order: kind, values and
// milliseconds on the device clock since from.
struct Reading
{
    int type;
    QJsonArray values;
    qint64 millis;
};

QList<Reading> poseReadings(const ZelvoRecorder& recorder, qint64 fromEpochMillis)
{
    QList<Reading> readings;
    for (int index = 0; index < recorder.size(); ++index) {
        const ZelvoRecord& record = recorder.at(index);
        if (record.kind != ZelvoRecord::Kind::EventSent || !record.fromPose)
            continue;
        const QJsonObject json = record.toJson();
        readings.append({*record.eventType, json.value("values").toArray(), record.timeMillis - fromEpochMillis});
    }
    return readings;
}

} // namespace

class TestZelvoControlPose final : public QObject
{
    Q_OBJECT

private slots:
    void nodOnTheManualClock();
    void traceMovesTheHeadBetweenPoseLines();
};

// A nod takes its 800 ms of device time by itself: 40 readings of each
// sensor at 50 a second, compass before accelerometer, the head down 20°
// at 200 and 600 ms and level again at the end; the same nod again gives
// the same bytes.
void TestZelvoControlPose::nodOnTheManualClock()
{
    ControlRig rig(ZelvoClock::Mode::Manual);
    ControlClient client(rig.control.port());
    TestAgent agent(rig.server);
    QVERIFY(isReady(rig, {&client}, {&agent}));

    QList<QList<QByteArray>> runs;
    for (int run = 0; run < 2; ++run) {
        QVERIFY(client.call({{"cmd", "reset"}}).value("ok").toBool());
        const qint64 start = rig.clock.epochMillis();
        const QJsonObject answer = client.call({{"cmd", "pose"}, {"action", "gesture"}, {"gesture", "nod"}});
        QCOMPARE(answer.value("completed"), QJsonValue(true));
        QCOMPARE(answer.value("pose").toObject().value("pitch"), QJsonValue(0));
        QCOMPARE(rig.clock.epochMillis() - start, qint64(800));

        const QList<Reading> readings = poseReadings(*rig.services.recorder.get(), start);
        QCOMPARE(readings.size(), 80);
        for (int tick = 0; tick < 40; ++tick) {
            const Reading& compass = readings.at(2 * tick);
            const Reading& accelerometer = readings.at(2 * tick + 1);
            QCOMPARE(compass.type, 32);
            QCOMPARE(accelerometer.type, 16);
            QCOMPARE(compass.millis, qint64(20 * (tick + 1)));
            QCOMPARE(accelerometer.millis, compass.millis);
        }
        QCOMPARE(readings.at(2 * 9).values.at(1).toDouble(), -20.0);
        QCOMPARE(readings.at(2 * 29).values.at(1).toDouble(), -20.0);
        QCOMPARE(readings.at(78).values.at(1).toDouble(), 0.0);
        QCOMPARE(float(readings.at(79).values.at(1).toDouble()), float(9.80665));
        QVERIFY(TestAgent::waitForAllSent(rig.server, {&agent}));
        runs.append(agent.takeEvents());
        QCOMPARE(runs.last().size(), 80);
    }
    QCOMPARE(runs.at(1), runs.at(0));
}

// Pose lines are moves from one to the next, at the pose rate, among the
// trace's other readings.
void TestZelvoControlPose::traceMovesTheHeadBetweenPoseLines()
{
    ControlRig rig(ZelvoClock::Mode::Manual);
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}));
    const QString path = QDir::home().filePath("turn.csv");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("milliseconds,sensor,v0,v1,v2\n"
               "0,pose,0,0,0\n"
               "100,light,55\n"
               "200,pose,90,0,0\n");
    file.close();

    const qint64 start = rig.clock.epochMillis();
    const QJsonObject answer = client.call({{"cmd", "trace"}, {"file", path}, {"wait", true}});
    QCOMPARE(answer.value("completed"), QJsonValue(true));
    QCOMPARE(answer.value("readings"), QJsonValue(3));

    // Placed at 0, then ten steps of each sensor on the way to 90°.
    const QList<Reading> readings = poseReadings(*rig.services.recorder.get(), start);
    QCOMPARE(readings.size(), 22);
    QCOMPARE(readings.at(0).millis, qint64(0));
    QCOMPARE(readings.at(0).values.at(0).toDouble(), 0.0);
    // Halfway in time, halfway round: the move eases in and out alike.
    QCOMPARE(readings.at(10).millis, qint64(100));
    QCOMPARE(readings.at(10).values.at(0).toDouble(), 45.0);
    QCOMPARE(readings.at(20).millis, qint64(200));
    QCOMPARE(readings.at(20).values.at(0).toDouble(), 90.0);
    QCOMPARE(client.call({{"cmd", "pose"}, {"action", "state"}}).value("pose").toObject().value("yaw"), QJsonValue(90));

    QFile bad(QDir::home().filePath("bad.csv"));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("0,pose,0,95,0\n");
    bad.close();
    QVERIFY(client.call({{"cmd", "trace"}, {"file", bad.fileName()}}).value("error").toString().contains("line 1: pose"));
}

QTEST_MAIN(TestZelvoControlPose)
#include "tst_zelvocontrolpose.moc"
