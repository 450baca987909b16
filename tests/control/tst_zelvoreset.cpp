#include "../util/TestFiles.h"
#include "ControlRig.h"
#include "control/ZelvoControlCommands.h"
#include "pose/ZelvoHeadMotion.h"
#include "record/ZelvoRecorder.h"
#include "ui/Button.h"
#include "util/ZelvoImageStore.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QTest>

class TestZelvoReset final : public QObject
{
    Q_OBJECT

private slots:
    void bringsEveryPartBack();
    void clientLeavingLiftsItsFinger();
};

namespace {

// An answer without what differs from one request to the next: its id
// and the clock's time, which runs on.
QJsonObject comparable(QJsonObject answer)
{
    answer.remove("id");
    QJsonObject clock = answer.value("clock").toObject();
    clock.remove("now");
    answer.insert("clock", clock);
    return answer;
}

} // namespace

// Content with its timers, pictures, a slowed link, a sensor, the battery,
// a recording, a trace of records and three answers waiting: after one
// reset everything is as it was before them, and each answer has come.
void TestZelvoReset::bringsEveryPartBack()
{
    ControlRig rig(ZelvoClock::Mode::Manual);
    TestAgent agent(rig.server);
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}, {&agent}));
    ZelvoControlCommands* commands = rig.control.controlCommands();
    const QJsonObject freshState = comparable(client.call({{"cmd", "state"}}));
    const QJsonObject freshScreen = comparable(client.call({{"cmd", "screen"}}));

    QImage picture(40, 20, QImage::Format_ARGB32);
    picture.fill(Qt::white);
    QVERIFY(agent.setPersistingTimes(1000, 60000));
    QVERIFY(agent.configure("fresh", {TestFiles::png(picture)}));
    QVERIFY(agent.show("fresh", 3, "2", {"0"}, {"before the reset"}));
    const QString pictures = rig.window.imageStore()->agentImagePath("fresh");
    QVERIFY(QFileInfo::exists(pictures));
    for (const QJsonObject& request : {QJsonObject{{"cmd", "link"}, {"action", "delay"}, {"millis", 500}},
                                       QJsonObject{{"cmd", "sensor"}, {"sensor", "compass"}, {"action", "start"}},
                                       QJsonObject{{"cmd", "battery"}, {"level", 20}, {"charging", true}},
                                       QJsonObject{{"cmd", "record"}, {"what", "display"},
                                                   {"file", QDir::home().filePath("reset.png")}}})
        QVERIFY(client.call(request).value("ok").toBool());
    QVERIFY(client.call({{"cmd", "state"}}).value("maxPersistingTimer").toBool());

    QObject waiter;
    QMap<QString, QJsonObject> answers;
    const auto wait = [&](const QString& name, const QJsonObject& request) {
        commands->execute(
            request,
            [&answers, name](QJsonObject results, const QString& error) {
                QVERIFY2(!answers.contains(name), qPrintable(name + " answered twice"));
                results.insert("error", error);
                answers.insert(name, results);
            },
            &waiter);
    };
    wait("content", {{"cmd", "wait"}, {"contentOf", "never"}, {"timeout", 600000}});
    wait("hold", {{"cmd", "button"}, {"button", "plus"}, {"gesture", "press"}, {"hold", 600000}});
    wait("move", {{"cmd", "pose"}, {"action", "move"}, {"yaw", 90}, {"over", 600000}});
    QVERIFY(rig.window.plusControl()->isPressed());
    QVERIFY(rig.clock.isAdvancing());
    QVERIFY(answers.isEmpty());

    commands->resetEmulator();

    QCOMPARE(answers.value("content").value("error"), QJsonValue("reset while waiting for content of never"));
    QCOMPARE(answers.value("hold").value("releasedElsewhere"), QJsonValue(true));
    QCOMPARE(answers.value("move").value("completed"), QJsonValue(false));
    // The time the waits passed on the paused clock ends with them.
    QTRY_VERIFY(!rig.clock.isAdvancing());
    QVERIFY(!rig.window.plusControl()->isPressed());
    QVERIFY(!rig.services.headMotion.get()->isMoving());
    QVERIFY(!QFileInfo::exists(pictures));
    QCOMPARE(rig.services.recorder.get()->size(), 0);
    QCOMPARE(comparable(client.call({{"cmd", "screen"}})), freshScreen);
    // The recording's file is finished once its frames are written.
    QTRY_COMPARE(comparable(client.call({{"cmd", "state"}})), freshState);
    QCOMPARE(client.call({{"cmd", "clock"}, {"action", "state"}}).value("clock").toObject().value("mode"),
             QJsonValue("manual"));
    QCOMPARE(answers.size(), 3);
}

// A client that goes while its press is held lets the button go.
void TestZelvoReset::clientLeavingLiftsItsFinger()
{
    ControlRig rig;
    auto client = std::make_unique<ControlClient>(rig.control.port());
    QVERIFY(isReady(rig, {client.get()}));
    client->send(QJsonDocument(QJsonObject{{"id", 1}, {"cmd", "button"}, {"button", "plus"}, {"gesture", "press"},
                                           {"hold", 600000}})
                     .toJson(QJsonDocument::Compact)
                 + '\n');
    QTRY_VERIFY(rig.window.plusControl()->isPressed());
    client.reset();
    QTRY_VERIFY(!rig.window.plusControl()->isPressed());
}

QTEST_MAIN(TestZelvoReset)
#include "tst_zelvoreset.moc"
