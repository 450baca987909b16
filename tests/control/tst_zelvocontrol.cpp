#include "../util/TestFiles.h"
#include "ui/Button.h"
#include "ControlRig.h"
#include "NearTokens.h"
#include "ResidentMemory.h"
#include "control/ZelvoControlServer.h"
#include "control/ZelvoControlSession.h"
#include "ZelvoControlToken.h"
#include "ui/ZelvoEmulator.h"
#include "ui/sensor/ZelvoSensorList.h"
#include "comm/ZelvoServer.h"

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QTcpSocket>
#include <QTest>
#include <QTextEdit>

#include <memory>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

enum { Plus = 0, Minus = 1 };
enum { Pressed = 0, Released = 1, Clicked = 2, LongPressed = 3 };

// A button event as the glasses write it, with no content on display.
QByteArray buttonEvent(int button, int gesture)
{
    return "{\n"
           "    \"appId\": \"\",\n"
           "    \"contentId\": \"-1\",\n"
           "    \"data\": {\n"
           "        \"type\": 4,\n"
           "        \"values\": [\n"
           "            \"" + QByteArray::number(button) + ".000\",\n"
           "            \"" + QByteArray::number(gesture) + ".000\",\n"
           "            \"0.000\",\n"
           "            \"0.000\"\n"
           "        ]\n"
           "    },\n"
           "    \"what_changed\": \"event\"\n"
           "}\n";
}

QJsonObject contentAction(const QString& appId, int contentId)
{
    return {{"command.type", "agent_content"}, {"appId", appId},         {"layoutId", "0"},
            {"contentId", contentId},          {"images.id", QJsonArray()}, {"texts", QJsonArray{"hello"}}};
}

QJsonObject buttonRequest(const QString& button, const QString& gesture)
{
    return {{"cmd", "button"}, {"button", button}, {"gesture", gesture}};
}

QString homePath(const QString& name)
{
    return QDir::home().filePath(name);
}

} // namespace

class TestZelvoControl final : public QObject
{
    Q_OBJECT

private slots:
    void tokenFileIsPrivateAndPerRun();
    void admission_data();
    void admission();
    void nearTokenRefused_data();
    void nearTokenRefused();
    void authenticatedConnectionServes();
    void requestErrors_data();
    void requestErrors();
    void linesSplitAndBatched();
    void overlongLineClosesConnection();
    void unreadAnswersStayBounded();
    void buttonGesturesReachAgents_data();
    void buttonGesturesReachAgents();
    void longPressLeavesOthersServed();
    void heldButtonRules();
    void connectionGoneDuringLongPress();
    void sensorShots_data();
    void sensorShots();
    void sensorStartStop();
    void screenshotEqualsDisplay_data();
    void screenshotEqualsDisplay();
    void screenshotOnFullDiskFails();
    void tokenRefusedInSharedFolder();
    void stateShowsContent();
    void fullScreen();
    void waitForContent();
    void controlPortTaken();
};

void TestZelvoControl::tokenFileIsPrivateAndPerRun()
{
    QByteArray first;
    {
        ControlRig rig;
        QVERIFY(rig.started);
        const QFileInfo file(ZelvoControlToken::filePath());
        QVERIFY(file.exists());
        QCOMPARE(file.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
                 QFile::Permissions());
        first = ControlClient::token();
        QCOMPARE(first.size(), 64);
        QVERIFY(QByteArray::fromHex(first).toHex() == first);
    }
    QVERIFY(!QFile::exists(ZelvoControlToken::filePath()));
    ControlRig rig;
    QVERIFY(rig.started);
    QVERIFY(ControlClient::token() != first);
}

void TestZelvoControl::admission_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("error");

    QTest::newRow("state before auth") << QByteArray(R"({"id":7,"cmd":"state"})") << "the first request must be";
    QTest::newRow("wrong token") << QByteArray(R"({"id":7,"cmd":"auth","token":"00"})") << "wrong token";
    QTest::newRow("no token") << QByteArray(R"({"id":7,"cmd":"auth"})") << "wrong token";
    QTest::newRow("token as number") << QByteArray(R"({"id":7,"cmd":"auth","token":12})") << "wrong token";
    QTest::newRow("bad JSON") << QByteArray("{\"cmd\":") << "bad JSON";
    QTest::newRow("array") << QByteArray("[1,2]") << "one JSON object";
}

void TestZelvoControl::admission()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, error);

    ControlRig rig;
    QVERIFY(rig.started);
    ControlClient client(rig.control.port());
    client.send(line + '\n' + R"({"id":8,"cmd":"state"})" + '\n');
    const QJsonObject answer = client.next();
    QCOMPARE(answer.value("ok"), QJsonValue(false));
    QVERIFY2(answer.value("error").toString().contains(error), qPrintable(answer.value("error").toString()));
    QVERIFY(client.waitClosed());
    // Nothing after the refused line was served.
    QVERIFY(client.answers.isEmpty());
}

void TestZelvoControl::nearTokenRefused_data()
{
    NearTokens::addRows();
}

void TestZelvoControl::nearTokenRefused()
{
    QFETCH(int, change);

    ControlRig rig;
    QVERIFY(rig.started);
    ControlClient client(rig.control.port());
    const QByteArray wrong = NearTokens::changed(ControlClient::token(), change);
    QCOMPARE(client.call({{"cmd", "auth"}, {"token", QString::fromLatin1(wrong)}}).value("error"), QJsonValue("wrong token"));
    QVERIFY(client.waitClosed());
}

void TestZelvoControl::authenticatedConnectionServes()
{
    ControlRig rig;
    QVERIFY(rig.started);
    ControlClient client(rig.control.port());
    const QJsonObject auth = client.call({{"cmd", "auth"}, {"token", QString::fromLatin1(ControlClient::token())}});
    QCOMPARE(auth.value("ok"), QJsonValue(true));
    QCOMPARE(auth.value("id"), QJsonValue(1));
    QCOMPARE(client.call({{"cmd", "state"}}).value("ok"), QJsonValue(true));
    // A wrong token later on ends the connection as well.
    QCOMPARE(client.call({{"cmd", "auth"}, {"token", "x"}}).value("error"), QJsonValue("wrong token"));
    QVERIFY(client.waitClosed());
}

void TestZelvoControl::requestErrors_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("error");

    const auto row = [](const char* name, const QByteArray& line, const QString& error) {
        QTest::newRow(name) << line << error;
    };
    row("bad JSON", "{\"id\":", "bad JSON at offset");
    row("array", "[42]", "one JSON object");
    row("no cmd", R"({"id":3})", "\"cmd\" must name a command");
    row("unknown command", R"({"id":3,"cmd":"jump"})", "unknown command \"jump\"");
    row("button without name", R"({"id":3,"cmd":"button","gesture":"click"})",
        "\"button\" is missing; it must be \"plus\" or \"minus\"");
    row("button middle", R"({"id":3,"cmd":"button","button":"middle","gesture":"click"})", "\"button\" must be");
    row("gesture missing", R"({"id":3,"cmd":"button","button":"plus"})", "\"gesture\" is missing; it must be");
    row("gesture double", R"({"id":3,"cmd":"button","button":"plus","gesture":"double"})", "\"gesture\" must be");
    row("hold negative", R"({"id":3,"cmd":"button","button":"plus","gesture":"press","hold":-5})", "\"hold\" must be");
    row("hold fraction", R"({"id":3,"cmd":"button","button":"plus","gesture":"press","hold":1.5})", "\"hold\" must be");
    row("hold text", R"({"id":3,"cmd":"button","button":"plus","gesture":"press","hold":"1s"})", "\"hold\" must be");
    row("sensor unknown", R"({"id":3,"cmd":"sensor","sensor":"altimeter","values":[1]})", "\"sensor\" must be");
    row("sensor without values", R"({"id":3,"cmd":"sensor","sensor":"compass"})", "\"values\" is missing");
    row("compass one value", R"({"id":3,"cmd":"sensor","sensor":"compass","values":[1]})", "compass takes 3 numbers");
    row("accelerometer two values", R"({"id":3,"cmd":"sensor","sensor":"accelerometer","values":[1,2]})",
        "accelerometer takes 3 numbers");
    row("light two values", R"({"id":3,"cmd":"sensor","sensor":"light","values":[1,2]})", "light takes 1 number ");
    row("value as text", R"({"id":3,"cmd":"sensor","sensor":"light","values":["1"]})",
        "\"values\" must be numbers that fit a float");
    row("value beyond float", R"({"id":3,"cmd":"sensor","sensor":"light","values":[1e300]})", "fit a float");
    row("sensor pause", R"({"id":3,"cmd":"sensor","sensor":"light","action":"pause"})", "\"action\" must be");
    row("trace relative", R"({"id":3,"cmd":"trace","file":"trace.csv"})", "absolute path");
    row("trace missing", R"({"id":3,"cmd":"trace","file":"/nonexistent/trace.csv"})", "cannot read");
    row("trace fifo", "{\"id\":3,\"cmd\":\"trace\",\"file\":\"" + homePath("trace.fifo").toUtf8() + "\"}",
        "trace.fifo is not a regular file");
    row("trace device", R"({"id":3,"cmd":"trace","file":"/dev/urandom"})", "/dev/urandom is not a regular file");
    row("trace rewind", R"({"id":3,"cmd":"trace","action":"rewind"})", "\"action\" must be");
    row("screenshot relative", R"({"id":3,"cmd":"screenshot","path":"shot.png"})", "absolute path");
    row("screenshot unwritable", "{\"id\":3,\"cmd\":\"screenshot\",\"path\":\"" + homePath("file/shot.png").toUtf8() + "\"}",
        "cannot write");
    row("screenshot device", R"({"id":3,"cmd":"screenshot","path":"/dev/full"})", "not a regular file");
    row("fullscreen maybe", R"({"id":3,"cmd":"fullscreen","mode":"maybe"})", "\"mode\" must be");
    row("wait without agent", R"({"id":3,"cmd":"wait"})", "\"contentOf\" is missing; it must be an agent hash");
    row("wait empty agent", R"({"id":3,"cmd":"wait","contentOf":""})", "\"contentOf\" must be an agent hash");
    // One text for each kind of mistake, naming the field.
    row("level as text", R"({"id":3,"cmd":"battery","level":"50"})", "\"level\" must be a whole number from 0 to 100");
    row("level 101", R"({"id":3,"cmd":"battery","level":101})", "\"level\" must be a whole number from 0 to 100");
    row("charging as number", R"({"id":3,"cmd":"battery","level":5,"charging":1})", "\"charging\" must be true or false");
    row("unknown field", R"({"id":3,"cmd":"state","verbose":true})", "\"verbose\" is not a field of state");
    row("hold with click", R"({"id":3,"cmd":"button","button":"plus","gesture":"click","hold":5})",
        "\"hold\" is not a field of button click");
    row("gesture as number", R"({"id":3,"cmd":"button","button":"plus","gesture":1})",
        "\"gesture\" must be \"click\", \"press\", \"release\" or \"long\"");
    row("record without what", R"({"id":3,"cmd":"record"})", "\"what\" is missing");
    row("seconds 0", R"({"id":3,"cmd":"record","what":"display","file":"/tmp/x.png","seconds":0})",
        "\"seconds\" must be a number above 0 up to 3600");
    row("delay without millis", R"({"id":3,"cmd":"link","action":"delay"})", "\"millis\" is missing");
    row("log since negative", R"({"id":3,"cmd":"log","since":-1})", "\"since\" must be a whole number from 0");
    row("wait timeout text", R"({"id":3,"cmd":"wait","contentOf":"a","timeout":"soon"})", "\"timeout\" must be");
}

void TestZelvoControl::requestErrors()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, error);

    // A regular file where the screenshot row expects a directory.
    QFile blocker(homePath("file"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    // Opening a FIFO for reading waits for a writer that never comes.
    QVERIFY(QFileInfo::exists(homePath("trace.fifo")) || ::mkfifo(qPrintable(homePath("trace.fifo")), 0600) == 0);

    ControlRig rig;
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}));
    client.send(line + '\n');
    const QJsonObject answer = client.next();
    QCOMPARE(answer.value("ok"), QJsonValue(false));
    QVERIFY2(answer.value("error").toString().contains(error), qPrintable(answer.value("error").toString()));
    const QJsonDocument request = QJsonDocument::fromJson(line);
    QCOMPARE(answer.value("id"), request.isObject() ? request.object().value("id") : QJsonValue(QJsonValue::Null));
    // The connection goes on.
    QCOMPARE(client.call({{"cmd", "state"}}).value("ok"), QJsonValue(true));
    QCOMPARE(rig.window.plusControl()->isPressed(), false);
    QVERIFY(!QFileInfo("/dev/full").isFile());
}

void TestZelvoControl::linesSplitAndBatched()
{
    ControlRig rig;
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}));

    const QByteArray request = R"({"id":"split","cmd":"state"})";
    // Real time between the pieces, so that each arrives in a read of its own.
    client.send(request.left(5));
    QTest::qWait(20);
    client.send(request.mid(5, 10));
    QTest::qWait(20);
    QVERIFY(client.answers.isEmpty());
    client.send(request.mid(15) + '\n');
    QCOMPARE(client.next().value("id"), QJsonValue("split"));

    client.send(R"({"id":1,"cmd":"state"})" "\n" R"({"id":2,"cmd":"jump"})" "\n" R"({"id":3,"cmd":"state"})" "\n");
    QList<QJsonValue> ids;
    for (int i = 0; i < 3; ++i)
        ids.append(client.next().value("id"));
    QCOMPARE(ids, (QList<QJsonValue>{1, 2, 3}));
}

void TestZelvoControl::overlongLineClosesConnection()
{
    ControlRig rig;
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}));
    client.send(QByteArray(int(ZelvoControlSession::maxLineLength) + 10, ' '));
    const QJsonObject answer = client.next();
    QVERIFY(answer.value("error").toString().startsWith("line longer than"));
    QVERIFY(client.waitClosed());
}

// A client that sends request after request and reads no answer holds
// a bounded part of the emulator, while other clients are answered and
// none of its own requests is lost.
void TestZelvoControl::unreadAnswersStayBounded()
{
    ControlRig rig;
    ControlClient other(rig.control.port());
    QVERIFY(isReady(rig, {&other}));
    QTcpSocket hoarder;
    // Takes one byte off the network and leaves the rest in the kernel.
    hoarder.setReadBufferSize(1);
    hoarder.connectToHost(QHostAddress::LocalHost, rig.control.port());
    QVERIFY(hoarder.waitForConnected(5000));
    const qint64 before = residentKilobytes();

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // More answers than the channel holds back, and few enough
    // for a sanitizer build on a loaded machine.
    const int count = 8000;
#else
    const int count = 40000;
#endif
    QByteArray requests = R"({"cmd":"auth","token":")" + ControlClient::token() + "\"}\n";
    for (int i = 0; i < count; ++i)
        requests += R"({"cmd":"state"})" "\n";
    hoarder.write(requests);
    for (int i = 0; i < 20; ++i)
        QCOMPARE(other.call({{"cmd", "state"}}).value("ok"), QJsonValue(true));
#if !defined(__SANITIZE_ADDRESS__)
    // Its answers, all held, would take 40 MB.
    QVERIFY2(residentKilobytes() - before < 16 * 1024, qPrintable(QString::number(residentKilobytes() - before)));
#endif

    hoarder.setReadBufferSize(0);
    int answers = 0;
    QTRY_VERIFY_WITH_TIMEOUT((answers += hoarder.readAll().count('\n')) == count + 1, 120000);
}

void TestZelvoControl::buttonGesturesReachAgents_data()
{
    QTest::addColumn<QList<QJsonObject>>("requests");
    QTest::addColumn<QList<QByteArray>>("events");

    QTest::newRow("plus click") << QList<QJsonObject>{buttonRequest("plus", "click")}
                                << QList<QByteArray>{buttonEvent(Plus, Pressed), buttonEvent(Plus, Released),
                                                     buttonEvent(Plus, Clicked)};
    QTest::newRow("minus click") << QList<QJsonObject>{buttonRequest("minus", "click")}
                                 << QList<QByteArray>{buttonEvent(Minus, Pressed), buttonEvent(Minus, Released),
                                                      buttonEvent(Minus, Clicked)};
    QTest::newRow("plus long") << QList<QJsonObject>{buttonRequest("plus", "long")}
                               << QList<QByteArray>{buttonEvent(Plus, Pressed), buttonEvent(Plus, LongPressed),
                                                    buttonEvent(Plus, Released), buttonEvent(Plus, Clicked)};
    QTest::newRow("minus press, release")
        << QList<QJsonObject>{buttonRequest("minus", "press"), buttonRequest("minus", "release")}
        << QList<QByteArray>{buttonEvent(Minus, Pressed), buttonEvent(Minus, Released), buttonEvent(Minus, Clicked)};
    QJsonObject held = buttonRequest("plus", "press");
    held.insert("hold", 200);
    QTest::newRow("plus press, hold 200") << QList<QJsonObject>{held}
                                          << QList<QByteArray>{buttonEvent(Plus, Pressed), buttonEvent(Plus, Released),
                                                               buttonEvent(Plus, Clicked)};
}

void TestZelvoControl::buttonGesturesReachAgents()
{
    QFETCH(QList<QJsonObject>, requests);
    QFETCH(QList<QByteArray>, events);

    ControlRig rig;
    TestAgent agent(rig.server);
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}, {&agent}));

    QElapsedTimer clock;
    clock.start();
    for (const QJsonObject& request : requests)
        QCOMPARE(client.call(request).value("ok"), QJsonValue(true));
    const qint64 answered = clock.elapsed();
    if (requests.constFirst().value("gesture") == "long")
        QVERIFY2(answered >= 740, qPrintable(QString::number(answered)));
    // No upper bound: a slow machine answers late, and a hold that ran into
    // the long press would show in the events below.
    if (requests.constFirst().contains("hold"))
        QVERIFY2(answered >= 190, qPrintable(QString::number(answered)));
    QTRY_COMPARE(agent.frames(), events);
    QVERIFY(!rig.window.plusControl()->isPressed());
    QVERIFY(!rig.window.minusControl()->isPressed());
}

void TestZelvoControl::longPressLeavesOthersServed()
{
    ControlRig rig;
    ControlClient pressing(rig.control.port());
    ControlClient watching(rig.control.port());
    QVERIFY(isReady(rig, {&pressing, &watching}));

    pressing.send(R"({"id":"long","cmd":"button","button":"minus","gesture":"long"})" "\n"
                  R"({"id":"after","cmd":"state"})" "\n");
    const QJsonObject during = watching.call({{"cmd", "state"}});
    QCOMPARE(during.value("minusHeld"), QJsonValue(true));
    QVERIFY(pressing.answers.isEmpty());
    QCOMPARE(pressing.next().value("id"), QJsonValue("long"));
    const QJsonObject after = pressing.next();
    QCOMPARE(after.value("id"), QJsonValue("after"));
    QCOMPARE(after.value("minusHeld"), QJsonValue(false));
}

void TestZelvoControl::heldButtonRules()
{
    ControlRig rig;
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}));

    QCOMPARE(client.call(buttonRequest("plus", "release")).value("error"), QJsonValue("plus is not held"));
    QCOMPARE(client.call(buttonRequest("plus", "press")).value("ok"), QJsonValue(true));
    QVERIFY(rig.window.plusControl()->isPressed());
    for (const char* gesture : {"press", "click", "long"}) {
        QCOMPARE(client.call(buttonRequest("plus", gesture)).value("error"),
                 QJsonValue("plus is already held; release it first"));
    }
    // The mouse lets go during a long press of the channel.
    QCOMPARE(client.call(buttonRequest("plus", "release")).value("ok"), QJsonValue(true));
    client.send(R"({"id":"long","cmd":"button","button":"plus","gesture":"long"})" "\n");
    QTRY_VERIFY(rig.window.plusControl()->isPressed());
    rig.window.releaseControl(ZelvoEmulator::Control::Plus);
    QCOMPARE(client.next().value("error"), QJsonValue("plus was released before the long press"));
}

void TestZelvoControl::connectionGoneDuringLongPress()
{
    ControlRig rig;
    TestAgent agent(rig.server);
    auto client = std::make_unique<ControlClient>(rig.control.port());
    QVERIFY(isReady(rig, {client.get()}, {&agent}));
    client->send(R"({"id":1,"cmd":"button","button":"plus","gesture":"long"})" "\n");
    QTRY_VERIFY(rig.window.plusControl()->isPressed());
    client.reset();
    // The gesture ends as begun: a button never stays held for a gone script.
    QTRY_COMPARE(agent.frames().size(), 4);
    QVERIFY(!rig.window.plusControl()->isPressed());
}

void TestZelvoControl::sensorShots_data()
{
    QTest::addColumn<QString>("sensor");
    QTest::addColumn<QJsonArray>("values");
    QTest::addColumn<int>("eventType");
    QTest::addColumn<QJsonArray>("eventValues");

    QTest::newRow("battery 55") << "battery" << QJsonArray{55} << 2
                                << QJsonArray{"55.000", "0.000", "0.000", "0.000"};
    QTest::newRow("accelerometer 1 2 3") << "accelerometer" << QJsonArray{1, 2, 3} << 16
                                         << QJsonArray{"1.000", "2.000", "3.000", "0.000"};
    QTest::newRow("compass 10.5 -20.25 359.999") << "compass" << QJsonArray{10.5, -20.25, 359.999} << 32
                                                 << QJsonArray{"10.500", "-20.250", "359.999", "0.000"};
    QTest::newRow("light 0.125") << "light" << QJsonArray{0.125} << 64
                                 << QJsonArray{"0.125", "0.000", "0.000", "0.000"};
}

void TestZelvoControl::sensorShots()
{
    QFETCH(QString, sensor);
    QFETCH(QJsonArray, values);
    QFETCH(int, eventType);
    QFETCH(QJsonArray, eventValues);

    ControlRig rig;
    TestAgent agent(rig.server);
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}, {&agent}));

    QCOMPARE(client.call({{"cmd", "sensor"}, {"sensor", sensor}, {"values", values}}).value("ok"), QJsonValue(true));
    QVERIFY(TestAgent::waitForAllSent(rig.server, {&agent}));
    const QList<QByteArray> events = agent.takeEvents();
    QCOMPARE(events.size(), 1);
    QCOMPARE(TestAgent::eventType(events.constFirst()), eventType);
    QCOMPARE(TestAgent::eventValues(events.constFirst()), eventValues);
    // The panel shows what was sent, as if typed.
    const int panelSensor = QStringList{"battery", "accelerometer", "compass", "light"}.indexOf(sensor) + 1;
    QCOMPARE(rig.window.sensorPanel()->valueEdit(panelSensor, 0)->toPlainText().toDouble(), values.at(0).toDouble());
}

void TestZelvoControl::sensorStartStop()
{
    ControlRig rig;
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}));
    const auto sensorRequest = [](const char* sensor, const char* action) {
        return QJsonObject{{"cmd", "sensor"}, {"sensor", sensor}, {"action", action}};
    };

    QJsonObject answer = client.call(sensorRequest("compass", "start"));
    QCOMPARE(answer.value("running"), QJsonValue(true));
    QCOMPARE(answer.value("changed"), QJsonValue(true));
    QVERIFY(rig.window.sensorPanel()->isRunning(ZelvoSensorList::Compass));
    answer = client.call(sensorRequest("compass", "start"));
    QCOMPARE(answer.value("running"), QJsonValue(true));
    QCOMPARE(answer.value("changed"), QJsonValue(false));

    QCOMPARE(client.call(sensorRequest("battery", "start")).value("running"), QJsonValue(true));
    QJsonObject state = client.call({{"cmd", "state"}});
    QCOMPARE(state.value("charging"), QJsonValue(true));
    QCOMPARE(state.value("sensors").toObject(),
             (QJsonObject{{"battery", true}, {"accelerometer", false}, {"compass", true}, {"light", false}}));

    answer = client.call(sensorRequest("compass", "stop"));
    QCOMPARE(answer.value("running"), QJsonValue(false));
    QCOMPARE(answer.value("changed"), QJsonValue(true));
    QCOMPARE(client.call(sensorRequest("light", "stop")).value("changed"), QJsonValue(false));
    QVERIFY(!rig.window.sensorPanel()->isRunning(ZelvoSensorList::Compass));
}

void TestZelvoControl::screenshotEqualsDisplay_data()
{
    QTest::addColumn<bool>("toFile");
    QTest::newRow("file") << true;
    QTest::newRow("base64") << false;
}

void TestZelvoControl::screenshotEqualsDisplay()
{
    QFETCH(bool, toFile);

    ControlRig rig;
    QVERIFY(rig.started);
    TestAgent agent(rig.server);
    QVERIFY(TestAgent::waitUntilServed(rig.server, {&agent}));
    agent.sendAction(contentAction("shooter", 3));
    QTRY_VERIFY(rig.window.isContentOnDisplay());
    ControlClient client(rig.control.port());
    QVERIFY(client.authenticate());

    QJsonObject request{{"cmd", "screenshot"}};
    const QString path = homePath("shots/display.png");
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    if (toFile)
        request.insert("path", path);
    const QJsonObject answer = client.call(request);
    QCOMPARE(answer.value("ok"), QJsonValue(true));
    QCOMPARE(answer.value("width"), QJsonValue(320));
    QCOMPARE(answer.value("height"), QJsonValue(240));
    const QImage shot = toFile ? QImage(path)
                               : QImage::fromData(QByteArray::fromBase64(answer.value("png").toString().toLatin1()), "PNG");
    const QImage display = rig.window.displayImage();
    QCOMPARE(shot.size(), QSize(320, 240));
    QCOMPARE(shot.convertToFormat(QImage::Format_ARGB32), display.convertToFormat(QImage::Format_ARGB32));
}

// The file size limit stands in for a full disk: the PNG's bytes sit in
// the file's buffer until it is closed, and fail only then.
void TestZelvoControl::screenshotOnFullDiskFails()
{
    ControlRig rig;
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}));
    const QString path = homePath("full/display.png");
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));

    rlimit unlimited {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &unlimited), 0);
    rlimit limited = unlimited;
    limited.rlim_cur = 100;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
    client.send(R"({"id":1,"cmd":"screenshot","path":")" + path.toUtf8() + "\"}\n");
    const QJsonObject answer = client.next();
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &unlimited), 0);
    std::signal(SIGXFSZ, previousHandler);

    QCOMPARE(answer.value("ok"), QJsonValue(false));
    QVERIFY2(answer.value("error").toString().startsWith("cannot write " + path), qPrintable(answer.value("error").toString()));
    QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

// A link planted as the token's folder, into a folder others can write,
// would let them read the token or aim it at a file of the user's.
void TestZelvoControl::tokenRefusedInSharedFolder()
{
    const QString shared = homePath("shared");
    QVERIFY(QDir().mkpath(shared));
    QVERIFY(QFile::setPermissions(shared, QFile::Permissions(0x7777)));
    const QString victim = homePath("victim");
    QVERIFY(TestFiles::write(victim, "the user's own"));
    const QString folder = QFileInfo(ZelvoControlToken::filePath()).absolutePath();
    QVERIFY(QDir(folder).removeRecursively());
    QVERIFY(QDir().mkpath(QFileInfo(folder).absolutePath()));
    QVERIFY(QFile::link(victim, shared + "/control-token"));
    QVERIFY(QFile::link(shared, folder));

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no control channel: refusing to write the control token"));
    const ControlRig rig;
    QVERIFY(QFile::remove(folder));

    QVERIFY(!rig.started);
    QCOMPARE(TestFiles::read(victim), QByteArray("the user's own"));
}

void TestZelvoControl::stateShowsContent()
{
    ControlRig rig;
    TestAgent agent(rig.server);
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}, {&agent}));

    QJsonObject state = client.call({{"cmd", "state"}});
    QCOMPARE(state.value("agents"), QJsonValue(1));
    QCOMPARE(state.value("contentShown"), QJsonValue(false));
    QCOMPARE(state.value("contentId"), QJsonValue(-1));
    QCOMPARE(state.value("battery"), QJsonValue(rig.window.battery()));

    agent.sendAction(contentAction("stateful", 12));
    QTRY_VERIFY(rig.window.isContentOnDisplay());
    state = client.call({{"cmd", "state"}});
    QCOMPARE(state.value("agent"), QJsonValue("stateful"));
    QCOMPARE(state.value("contentId"), QJsonValue(12));
    QCOMPARE(state.value("contentShown"), QJsonValue(true));
    QCOMPARE(state.value("minPersistingTimer"), QJsonValue(true));
    QCOMPARE(state.value("maxPersistingTimer"), QJsonValue(true));
    QCOMPARE(state.value("fullScreen"), QJsonValue(false));
    QCOMPARE(state.value("trace").toObject().value("playing"), QJsonValue(false));
}

void TestZelvoControl::fullScreen()
{
    ControlRig rig;
    QVERIFY(rig.started);
    rig.window.show();
    ControlClient client(rig.control.port());
    QVERIFY(client.authenticate());

    QJsonObject answer = client.call({{"cmd", "fullscreen"}, {"mode", "on"}});
    QCOMPARE(answer.value("fullScreen"), QJsonValue(true));
    QCOMPARE(answer.value("changed"), QJsonValue(true));
    QVERIFY(rig.window.isFullScreenMode());
    QCOMPARE(client.call({{"cmd", "fullscreen"}, {"mode", "on"}}).value("changed"), QJsonValue(false));
    answer = client.call({{"cmd", "fullscreen"}, {"mode", "off"}});
    QCOMPARE(answer.value("fullScreen"), QJsonValue(false));
    QVERIFY(!rig.window.isFullScreenMode());
    QCOMPARE(client.call({{"cmd", "state"}}).value("fullScreen"), QJsonValue(false));
}

void TestZelvoControl::waitForContent()
{
    ControlRig rig;
    TestAgent agent(rig.server);
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}, {&agent}));

    QCOMPARE(client.call({{"cmd", "wait"}, {"contentOf", "late"}, {"timeout", 50}}).value("error"),
             QJsonValue("no content of late on the display after 50 ms"));

    // No minimum time on display, so that the next content replaces this one.
    agent.sendAction({{"command.type", "zelvo_config"}, {"minPersistingTimeMillis", 0},
                      {"maxPersistingTimeMillis", 60000}});
    client.send(R"({"id":"w","cmd":"wait","contentOf":"late","timeout":5000})" "\n");
    agent.sendAction(contentAction("other", 1));
    QTRY_COMPARE(rig.window.agentOnDisplay(), QString("other"));
    QTRY_VERIFY(!rig.window.isMinPersistingTimerRunning());
    QVERIFY(client.answers.isEmpty());
    agent.sendAction(contentAction("late", 9));
    const QJsonObject answer = client.next();
    QCOMPARE(answer.value("id"), QJsonValue("w"));
    QCOMPARE(answer.value("contentId"), QJsonValue(9));

    // Already on display: at once.
    QCOMPARE(client.call({{"cmd", "wait"}, {"contentOf", "late"}, {"timeout", 0}}).value("contentId"), QJsonValue(9));
}

void TestZelvoControl::controlPortTaken()
{
    ControlRig rig;
    QVERIFY(rig.started);
    const QByteArray token = ControlClient::token();
    ZelvoControlServer second(&rig.window, &rig.server, rig.services);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ZelvoControlServer::start no control channel: port"));
    QVERIFY(!second.start(rig.control.port()));
    // The running channel keeps its token.
    QCOMPARE(ControlClient::token(), token);
}

QTEST_MAIN(TestZelvoControl)
#include "tst_zelvocontrol.moc"
