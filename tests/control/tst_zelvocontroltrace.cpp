#include "ControlRig.h"
#include "ResidentMemory.h"
#include "control/ZelvoControlCommands.h"
#include "ZelvoFrame.h"
#include "ui/sensor/ZelvoSensorList.h"
#include "control/ZelvoTracePlayer.h"
#include "control/ZelvoTraceReader.h"
#include "record/ZelvoRecorder.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace {

QString writeTrace(const QString& name, const QByteArray& csv)
{
    const QString path = QDir::home().filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size())
        return QString();
    return path;
}

QJsonObject playRequest(const QString& path, bool wait = false)
{
    return {{"cmd", "trace"}, {"file", path}, {"wait", wait}};
}

} // namespace

class TestZelvoControlTrace final : public QObject
{
    Q_OBJECT

private slots:
    void readingsArriveOnTime();
    void malformedTracePlaysNothing();
    void stopEndsPlaying();
    void longTraceIsReadBetweenRequests();
    void manyReadingsAtOnceLeaveTheChannelServed();
    void slicesKeepTheManualClock();
};

void TestZelvoControlTrace::readingsArriveOnTime()
{
    ControlRig rig;
    QVERIFY(rig.started);

    // The agent stamps every frame as it arrives; a loop of its own wakes
    // for each one instead of polling.
    QElapsedTimer clock;
    QList<qint64> arrivals;
    QList<QByteArray> frames;
    QByteArray pending;
    QTcpSocket agent;
    QEventLoop loop;
    const int count = 50;
    QObject::connect(&agent, &QTcpSocket::readyRead, &agent, [&] {
        pending += agent.readAll();
        while (pending.size() >= ZelvoFrame::headerSize) {
            const qint64 length = ZelvoFrame::payloadSize(pending.constData());
            if (pending.size() < ZelvoFrame::headerSize + length)
                break;
            arrivals.append(clock.elapsed());
            frames.append(pending.mid(ZelvoFrame::headerSize, int(length)));
            pending.remove(0, int(ZelvoFrame::headerSize + length));
        }
        if (frames.size() >= count)
            loop.quit();
    });
    agent.connectToHost(QHostAddress::LocalHost, rig.server.serverPort());
    QVERIFY(agent.waitForConnected(5000));
    QTRY_COMPARE(rig.server.connections().size(), 1);

    QByteArray csv = "milliseconds,sensor,v0,v1,v2\n";
    QList<qint64> times;
    const char* sensors[] = {"accelerometer", "compass", "light", "battery"};
    for (int i = 0; i < count; ++i) {
        times.append(i * 20 + (i % 3) * 5);
        csv += QByteArray::number(times.constLast()) + ',' + sensors[i % 4] + ',' + QByteArray::number(i) + ",1,2\n";
    }
    const QString path = writeTrace("walk.csv", csv);
    QVERIFY(!path.isEmpty());

    ControlClient client(rig.control.port());
    QVERIFY(client.authenticate());
    clock.start();
    const QJsonObject answer = client.call(playRequest(path));
    QCOMPARE(answer.value("ok"), QJsonValue(true));
    QCOMPARE(answer.value("readings"), QJsonValue(count));
    QCOMPARE(answer.value("duration"), QJsonValue(double(times.constLast())));
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    if (frames.size() < count)
        loop.exec();

    QCOMPARE(frames.size(), count);
    // The trace starts between the request and its answer; the reading that
    // came soonest after its time bounds that start, transport included.
    qint64 start = std::numeric_limits<qint64>::max();
    for (int i = 0; i < count; ++i)
        start = std::min(start, arrivals.at(i) - times.at(i));
    // The device clock counts whole milliseconds: a reading may be due up to
    // one millisecond before this timer says so.
    QVERIFY2(start >= -1 && start <= 250, qPrintable(QString::number(start)));
    // On time as a rule: half of the readings within 20 ms. A busy machine
    // may hold back a few, but none by a quarter of a second, as readings
    // sent all at once or the schedule ignored would be.
    const int types[] = {16, 32, 64, 2};
    QList<qint64> lateness;
    for (int i = 0; i < count; ++i) {
        QCOMPARE(TestAgent::eventType(frames.at(i)), types[i % 4]);
        QCOMPARE(TestAgent::eventValues(frames.at(i)).at(0).toString(), QString::number(i) + ".000");
        const qint64 late = arrivals.at(i) - start - times.at(i);
        QVERIFY2(late <= 250,
                 qPrintable(QStringLiteral("reading %1 due at %2 ms came %3 ms late").arg(i).arg(times.at(i)).arg(late)));
        lateness.append(late);
    }
    std::sort(lateness.begin(), lateness.end());
    QVERIFY2(lateness.at(count / 2) <= 20, qPrintable(QStringLiteral("half the readings came %1 ms late or more")
                                                         .arg(lateness.at(count / 2))));
    QTRY_COMPARE(client.call({{"cmd", "state"}}).value("trace").toObject().value("playing"), QJsonValue(false));
}

void TestZelvoControlTrace::malformedTracePlaysNothing()
{
    ControlRig rig(ZelvoClock::Mode::Manual);
    TestAgent agent(rig.server);
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}, {&agent}));

    const QString path = writeTrace("broken.csv", "0,light,1\n10,light,2\n20,light\n");
    const QJsonObject answer = client.call(playRequest(path));
    QCOMPARE(answer.value("error"), QJsonValue(path + ": line 3: expected milliseconds,sensor,v0[,v1,v2]"));
    const QString empty = writeTrace("empty.csv", "milliseconds,sensor,v0\n");
    QCOMPARE(client.call(playRequest(empty)).value("error"), QJsonValue(empty + " holds no readings"));
    QVERIFY(rig.clock.advance(50));
    QVERIFY(TestAgent::waitForAllSent(rig.server, {&agent}));
    QVERIFY(agent.takeEvents().isEmpty());
}

void TestZelvoControlTrace::stopEndsPlaying()
{
    ControlRig rig;
    ControlClient player(rig.control.port());
    ControlClient stopper(rig.control.port());
    QVERIFY(isReady(rig, {&player, &stopper}));

    const QString path = writeTrace("long.csv", "0,light,1\n60000,light,2\n");
    player.send(QJsonDocument(playRequest(path, true)).toJson(QJsonDocument::Compact) + '\n');
    QTRY_COMPARE(rig.control.controlCommands()->tracePlayer()->playedCount(), 1);
    QJsonObject state = stopper.call({{"cmd", "state"}}).value("trace").toObject();
    QCOMPARE(state, (QJsonObject{{"playing", true}, {"played", 1}, {"readings", 2}}));
    QCOMPARE(stopper.call(playRequest(path)).value("error"), QJsonValue("a trace is playing; stop it first"));

    const QJsonObject stopped = stopper.call({{"cmd", "trace"}, {"action", "stop"}});
    QCOMPARE(stopped.value("stopped"), QJsonValue(true));
    QCOMPARE(stopped.value("playing"), QJsonValue(false));
    const QJsonObject ended = player.next();
    QCOMPARE(ended.value("completed"), QJsonValue(false));
    QCOMPARE(ended.value("played"), QJsonValue(1));
    QCOMPARE(stopper.call({{"cmd", "trace"}, {"action", "stop"}}).value("stopped"), QJsonValue(false));
}

// A long file is read a piece at a time: another client is answered
// meanwhile, and a stop then ends the reading, answering the play once.
void TestZelvoControlTrace::longTraceIsReadBetweenRequests()
{
    ControlRig rig;
    ControlClient player(rig.control.port());
    ControlClient other(rig.control.port());
    QVERIFY(isReady(rig, {&player, &other}));
    // Many pieces, so that the reading is still under way when looked at.
    const QString path = writeTrace("long-file.csv", QByteArray("0,compass,1,2,3\n").repeated(2000000));

    player.send(QJsonDocument(playRequest(path)).toJson(QJsonDocument::Compact) + '\n');
    QTRY_VERIFY(rig.control.controlCommands()->findChild<ZelvoTraceReader*>()->isReading());
    QCOMPARE(other.call({{"cmd", "state"}}).value("trace").toObject().value("playing"), QJsonValue(false));
    QCOMPARE(other.call({{"cmd", "trace"}, {"action", "stop"}}).value("stopped"), QJsonValue(true));
    const QJsonObject answer = player.next();
    QCOMPARE(answer.value("error"), QJsonValue(path + ": stopped before it was read"));
    QCOMPARE(rig.control.controlCommands()->tracePlayer()->playedCount(), 0);
    QCOMPARE(other.call(playRequest(writeTrace("short.csv", "0,light,1\n"))).value("ok"), QJsonValue(true));
}

// Readings due at once go out in slices: a request is answered between
// two of them, not after the whole trace, and the trace's memory goes
// when it ends.
void TestZelvoControlTrace::manyReadingsAtOnceLeaveTheChannelServed()
{
    ControlRig rig;
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}));
#if defined(__SANITIZE_ADDRESS__)
    // Every allocation costs a stack walk under the sanitizers.
    const int count = 20000;
#else
    const int count = 1000000;
#endif
    QByteArray csv;
    for (int i = 0; i < count; ++i)
        csv += "0,compass,1,2,3\n";
    const QString path = writeTrace("burst.csv", csv);
    csv = QByteArray();
    const qint64 before = residentKilobytes();

    // Answered once the trace is read and its first slice has gone.
    QCOMPARE(client.call(playRequest(path), 60000).value("ok"), QJsonValue(true));
    const QJsonObject trace = client.call({{"cmd", "state"}}, 60000).value("trace").toObject();
    QCOMPARE(trace.value("playing"), QJsonValue(true));
    QVERIFY(trace.value("played").toInt() < count);
    QCOMPARE(client.call({{"cmd", "trace"}, {"action", "stop"}}).value("stopped"), QJsonValue(true));
    rig.services.recorder.get()->clear();
#if !defined(__SANITIZE_ADDRESS__)
    // Held as lines and maps, the trace alone took tens of megabytes.
    QVERIFY2(residentKilobytes() - before < 8 * 1024, qPrintable(QString::number(residentKilobytes() - before)));
#endif
}

// On the manual clock every slice of the readings due now goes without
// the clock moving, and the next reading waits for the clock.
void TestZelvoControlTrace::slicesKeepTheManualClock()
{
    ControlRig rig(ZelvoClock::Mode::Manual);
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}));
    const int count = 1000;
    QByteArray csv;
    for (int i = 0; i < count; ++i)
        csv += "0,light,1\n";
    csv += "5000,light,2\n";
    const QString path = writeTrace("manual.csv", csv);
    const ZelvoTracePlayer* player = rig.control.controlCommands()->tracePlayer();

    QCOMPARE(client.call(playRequest(path)).value("ok"), QJsonValue(true));
    QTRY_COMPARE(player->playedCount(), count);
    QCOMPARE(client.call({{"cmd", "state"}}).value("trace").toObject(),
             (QJsonObject{{"playing", true}, {"played", count}, {"readings", count + 1}}));
    QVERIFY(client.call({{"cmd", "clock"}, {"action", "advance"}, {"ms", 4999}}).value("ok").toBool());
    QCOMPARE(player->playedCount(), count);
    QVERIFY(client.call({{"cmd", "clock"}, {"action", "advance"}, {"ms", 1}}).value("ok").toBool());
    QCOMPARE(player->playedCount(), count + 1);
    QVERIFY(!player->isPlaying());
}

QTEST_MAIN(TestZelvoControlTrace)
#include "tst_zelvocontroltrace.moc"
