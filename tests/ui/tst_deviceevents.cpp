#include "ui/Button.h"
#include "EmulatorWindow.h"
#include "TestAgent.h"
#include "ui/ZelvoEmulator.h"
#include "model/ZelvoEvent.h"
#include "comm/ZelvoServer.h"
#include "services/ZelvoServices.h"
#include "ZelvoVocabulary.h"

#include <QByteArray>
#include <QHostAddress>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QMetaMethod>
#include <QMetaObject>
#include <QPoint>
#include <QRect>
#include <QRegularExpression>
#include <QString>
#include <QTest>

#include <algorithm>
#include <limits>
#include <memory>

namespace {

enum { Plus = 0, Minus = 1 };
enum { Pressed = 0, Released = 1, Clicked = 2, LongPressed = 3 };

// The event message written line by line as agents expect it, from the
// already escaped appId and the value texts.
QByteArray eventText(const QByteArray& escapedAppId, const QByteArray& contentId, int type,
                     const QList<QByteArray>& values)
{
    QByteArray text = "{\n"
                      "    \"appId\": \"" + escapedAppId + "\",\n"
                      "    \"contentId\": \"" + contentId + "\",\n"
                      "    \"data\": {\n"
                      "        \"type\": " + QByteArray::number(type) + ",\n"
                      "        \"values\": [\n";
    for (int i = 0; i < values.size(); ++i)
        text += "            \"" + values.at(i) + (i + 1 < values.size() ? "\",\n" : "\"\n");
    text += "        ]\n"
            "    },\n"
            "    \"what_changed\": \"event\"\n"
            "}\n";
    return text;
}

QJsonObject contentAction(const QString& appId, int contentId)
{
    return {
        {"command.type", "agent_content"},
        {"appId", appId},
        {"layoutId", "0"},
        {"contentId", contentId},
        {"images.id", QJsonArray()},
        {"texts", QJsonArray{"hello"}},
    };
}

QPoint viewportPosition(const ZelvoEmulator& window, const Button* button)
{
    return window.mapFromScene(button->sceneBoundingRect().center());
}

const QRect batteryIconArea(290, 0, 24, 24);

} // namespace

class TestDeviceEvents : public QObject
{
    Q_OBJECT

private slots:
    void eventMessage_data();
    void eventMessage();
    void buttonGestures_data();
    void buttonGestures();
    void buttonEventsAfterContentExpired();
    void plusShowsStatusStrip_data();
    void plusShowsStatusStrip();
    void plusLeavesContentAlone();
    void slotsInDeclaredOrder_data();
    void slotsInDeclaredOrder();
    void declaresOnlyTheseSlots();
};

void TestDeviceEvents::eventMessage_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QList<float>>("values");
    QTest::addColumn<bool>("broadcast");
    QTest::addColumn<QString>("appId");
    QTest::addColumn<int>("contentId");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("minus clicked on content 7 of abc")
        << 4 << QList<float>{1, 2, 0, 0} << false << "abc" << 7
        << QByteArray("{\n"
                      "    \"appId\": \"abc\",\n"
                      "    \"contentId\": \"7\",\n"
                      "    \"data\": {\n"
                      "        \"type\": 4,\n"
                      "        \"values\": [\n"
                      "            \"1.000\",\n"
                      "            \"2.000\",\n"
                      "            \"0.000\",\n"
                      "            \"0.000\"\n"
                      "        ]\n"
                      "    },\n"
                      "    \"what_changed\": \"event\"\n"
                      "}\n");
    QTest::newRow("battery reading 40")
        << 2 << QList<float>{40, 0, 0, 0} << true << QString() << -1
        << eventText("", "-1", 2, {"40.000", "0.000", "0.000", "0.000"});
    QTest::newRow("value 0.0005")
        << 64 << QList<float>{0.0005f, 0, 0, 0} << true << QString() << -1
        << eventText("", "-1", 64, {"0.001", "0.000", "0.000", "0.000"});
    QTest::newRow("value 1e10")
        << 16 << QList<float>{1e10f, 0, 0, 0} << true << QString() << -1
        << eventText("", "-1", 16, {"10000000000.000", "0.000", "0.000", "0.000"});
    QTest::newRow("values -3.5 123.4567 359.9996 0.0004")
        << 32 << QList<float>{-3.5f, 123.4567f, 359.9996f, 0.0004f} << true << QString() << -1
        << eventText("", "-1", 32, {"-3.500", "123.457", "360.000", "0.000"});
    // Typed into the sensor panel, as QString::toFloat reads them.
    QTest::newRow("values inf -inf nan 0")
        << 64 << QList<float>{std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                              std::numeric_limits<float>::quiet_NaN(), 0}
        << true << QString() << -1 << eventText("", "-1", 64, {"inf", "-inf", "nan", "0.000"});
    QTest::newRow("content id 0")
        << 4 << QList<float>{0, 3, 0, 0} << false << "abc" << 0
        << eventText("abc", "0", 4, {"0.000", "3.000", "0.000", "0.000"});
    QTest::newRow("content id -42")
        << 4 << QList<float>{0, 0, 0, 0} << false << "abc" << -42
        << eventText("abc", "-42", 4, {"0.000", "0.000", "0.000", "0.000"});
    QTest::newRow("appId with quote")
        << 4 << QList<float>{0, 0, 0, 0} << false << "say \"hi\"" << 1
        << eventText("say \\\"hi\\\"", "1", 4, {"0.000", "0.000", "0.000", "0.000"});
    QTest::newRow("appId with backslash")
        << 4 << QList<float>{0, 0, 0, 0} << false << "C:\\agents" << 1
        << eventText("C:\\\\agents", "1", 4, {"0.000", "0.000", "0.000", "0.000"});
    QTest::newRow("appId with newline and tab")
        << 4 << QList<float>{0, 0, 0, 0} << false << "one\ntwo\tthree" << 1
        << eventText("one\\ntwo\\tthree", "1", 4, {"0.000", "0.000", "0.000", "0.000"});
    QTest::newRow("appId with control char 0x01")
        << 4 << QList<float>{0, 0, 0, 0} << false << QStringLiteral("a\u0001b") << 1
        << eventText("a\\u0001b", "1", 4, {"0.000", "0.000", "0.000", "0.000"});
    QTest::newRow("appId non-ASCII")
        << 4 << QList<float>{0, 0, 0, 0} << false << QString::fromUtf8("caf\u00e9 \u20ac \U0001F600") << 1
        << eventText(QString::fromUtf8("caf\u00e9 \u20ac \U0001F600").toUtf8(), "1", 4,
                     {"0.000", "0.000", "0.000", "0.000"});
}

// What every agent reads, byte for byte, and what the log shows.
void TestDeviceEvents::eventMessage()
{
    QFETCH(int, type);
    QFETCH(QList<float>, values);
    QFETCH(bool, broadcast);
    QFETCH(QString, appId);
    QFETCH(int, contentId);
    QFETCH(QByteArray, expected);

    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    ZelvoEmulator window(&server, services, nullptr);
    TestAgent first(server);
    TestAgent second(server);
    QVERIFY(TestAgent::waitUntilServed(server, {&first, &second}));

    ZelvoEvent event(type);
    std::copy(values.cbegin(), values.cend(), event.values);
    const QString logLine = QStringLiteral("### dispatchSensorEvent ->  EVENT: ") + QString::fromUtf8(expected);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(
        QLatin1Char('^') + QRegularExpression::escape(logLine) + QLatin1Char('$')));
    if (broadcast)
        window.broadcastSensorEvent(event);
    else
        window.dispatchSensorEvent(event, appId, contentId);

    QVERIFY(TestAgent::waitForAllSent(server, {&first, &second}));
    const QList<QByteArray> received = first.takeEvents();
    QCOMPARE(received, QList<QByteArray>{expected});
    QJsonParseError error;
    QJsonDocument::fromJson(received.first(), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(second.takeEvents(), received);
}

void TestDeviceEvents::buttonGestures_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("longPress");
    QTest::addColumn<bool>("releaseInside");
    QTest::addColumn<bool>("withContent");
    QTest::addColumn<QList<int>>("gestures");

    const QList<int> click{Pressed, Released, Clicked};
    const QList<int> longClick{Pressed, LongPressed, Released, Clicked};
    QTest::newRow("plus click") << int(Plus) << false << true << false << click;
    QTest::newRow("plus long press") << int(Plus) << true << true << false << longClick;
    QTest::newRow("plus released outside") << int(Plus) << false << false << false << QList<int>{Pressed, Released};
    QTest::newRow("plus long press released outside")
        << int(Plus) << true << false << false << QList<int>{Pressed, LongPressed, Released};
    QTest::newRow("minus click") << int(Minus) << false << true << false << click;
    QTest::newRow("minus long press") << int(Minus) << true << true << false << longClick;
    QTest::newRow("plus click over content") << int(Plus) << false << true << true << click;
    QTest::newRow("minus long press over content") << int(Minus) << true << true << true << longClick;
}

// Real mouse gestures on the window become events in the order of the
// gesture, addressed to the content on display; every agent reads the same.
void TestDeviceEvents::buttonGestures()
{
    QFETCH(int, button);
    QFETCH(bool, longPress);
    QFETCH(bool, releaseInside);
    QFETCH(bool, withContent);
    QFETCH(QList<int>, gestures);

    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    ZelvoEmulator window(&server, services, nullptr);
    QVERIFY(startAndShow(server, window));
    TestAgent first(server);
    TestAgent second(server);
    QVERIFY(TestAgent::waitUntilServed(server, {&first, &second}));
    if (withContent) {
        first.sendAction(contentAction("abc", 7));
        QTRY_COMPARE(window.contentIdOnDisplay(), 7);
    }

    const Button* control = button == Plus ? window.plusControl() : window.minusControl();
    const QPoint inside = viewportPosition(window, control);
    QTest::mousePress(window.viewport(), Qt::LeftButton, {}, inside);
    if (longPress)
        QTRY_COMPARE(first.frames().size(), 2);
    const QPoint outside = window.mapFromScene(QPointF(20, 460));
    QTest::mouseRelease(window.viewport(), Qt::LeftButton, {}, releaseInside ? inside : outside);

    QVERIFY(TestAgent::waitForAllSent(server, {&first, &second}));
    const QList<QByteArray> events = first.takeEvents();
    QCOMPARE(second.takeEvents(), events);
    QList<int> sent;
    for (const QByteArray& event : events) {
        const QJsonObject message = TestAgent::message(event);
        QCOMPARE(message.value("appId").toString(), withContent ? QString("abc") : QString());
        QCOMPARE(message.value("contentId").toString(), withContent ? QString("7") : QString("-1"));
        QCOMPARE(TestAgent::eventType(event), int(ZelvoVocabulary::ButtonEvent));
        const QJsonArray values = TestAgent::eventValues(event);
        QCOMPARE(values.at(0).toString(), QString::number(button) + ".000");
        sent.append(int(values.at(1).toString().toDouble()));
    }
    QCOMPARE(sent, gestures);
}

void TestDeviceEvents::buttonEventsAfterContentExpired()
{
    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    ZelvoEmulator window(&server, services, nullptr);
    QVERIFY(startAndShow(server, window));
    TestAgent agent(server);
    QVERIFY(TestAgent::waitUntilServed(server, {&agent}));

    agent.sendAction({{"command.type", "zelvo_config"},
                      {"minPersistingTimeMillis", 100},
                      {"maxPersistingTimeMillis", 1000}});
    agent.sendAction(contentAction("abc", 7));
    QTRY_COMPARE(window.contentIdOnDisplay(), 7);
    QTRY_VERIFY(!window.isContentOnDisplay());

    QTest::mouseClick(window.viewport(), Qt::LeftButton, {}, viewportPosition(window, window.minusControl()));
    QVERIFY(TestAgent::waitForAllSent(server, {&agent}));
    const QList<QByteArray> events = agent.takeEvents();
    QCOMPARE(events.size(), 3);
    for (const QByteArray& event : events) {
        QCOMPARE(TestAgent::message(event).value("appId").toString(), QString());
        QCOMPARE(TestAgent::message(event).value("contentId").toString(), QString("-1"));
    }
}

void TestDeviceEvents::plusShowsStatusStrip_data()
{
    QTest::addColumn<bool>("agentConnected");
    QTest::addColumn<QString>("state");

    QTest::newRow("no agent") << false << "Disconnected";
    QTest::newRow("one agent") << true << "Connected";
}

// Holding plus on an empty display shows the status strip until release.
void TestDeviceEvents::plusShowsStatusStrip()
{
    QFETCH(bool, agentConnected);
    QFETCH(QString, state);

    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    ZelvoEmulator window(&server, services, nullptr);
    QVERIFY(startAndShow(server, window));
    std::unique_ptr<TestAgent> agent;
    if (agentConnected) {
        agent = std::make_unique<TestAgent>(server);
        QVERIFY(TestAgent::waitUntilServed(server, {agent.get()}));
    }
    QVERIFY(isTransparent(window.displayImage().copy(batteryIconArea)));

    const QPoint plus = viewportPosition(window, window.plusControl());
    QTest::ignoreMessage(QtDebugMsg, state.toUtf8().constData());
    QTest::mousePress(window.viewport(), Qt::LeftButton, {}, plus);
    const QImage shown = window.displayImage().copy(batteryIconArea);
    QCOMPARE(shown, window.batteryIcon().convertToFormat(shown.format()));

    QTest::mouseRelease(window.viewport(), Qt::LeftButton, {}, plus);
    QVERIFY(isTransparent(window.displayImage().copy(batteryIconArea)));
}

void TestDeviceEvents::plusLeavesContentAlone()
{
    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    ZelvoEmulator window(&server, services, nullptr);
    QVERIFY(startAndShow(server, window));
    TestAgent agent(server);
    QVERIFY(TestAgent::waitUntilServed(server, {&agent}));
    agent.sendAction(contentAction("abc", 7));
    QTRY_COMPARE(window.contentIdOnDisplay(), 7);
    const QImage content = window.displayImage();

    const QPoint plus = viewportPosition(window, window.plusControl());
    QTest::mousePress(window.viewport(), Qt::LeftButton, {}, plus);
    QCOMPARE(window.displayImage(), content);
    QTest::mouseRelease(window.viewport(), Qt::LeftButton, {}, plus);
    QCOMPARE(window.displayImage(), content);

    QVERIFY(TestAgent::waitForAllSent(server, {&agent}));
    QCOMPARE(agent.takeEvents().size(), 3);
}

void TestDeviceEvents::slotsInDeclaredOrder_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QByteArrayList>("parameterNames");

    const struct {
        const char* signature;
        QByteArrayList names;
    } slotTable[] = {
        {"onZelvoConfig(int,int)", {"minPersistingTMillis", "maxPersistingTMillis"}},
        {"onAgentConfig(QString,QList<QString>)", {"agentHash", "imagesArray"}},
        {"onAgentContent(QString,int,QString,QList<QString>,QList<QString>)",
         {"agentHash", "contentId", "layId", "imagesId", "texts"}},
        {"onAgentContentTimeout()", {}},
        {"onFullScreenToggle()", {}},
        {"onFullScreenOn()", {}},
        {"onFullScreenOff()", {}},
        {"onPlusPressed()", {}},
        {"onPlusReleased()", {}},
        {"onPlusClicked()", {}},
        {"onPlusLongPressed()", {}},
        {"onMinusPressed()", {}},
        {"onMinusReleased()", {}},
        {"onMinusClicked()", {}},
        {"onMinusLongPressed()", {}},
        {"onSensorClicked()", {}},
        {"onFullScreenOnSlot()", {}},
        {"onFullScreenOffSlot()", {}},
        {"onSingleShotValue(float*,int)", {"values", "type"}},
        {"onBatteryChanged(int)", {"percent"}},
        {"onStartBattery()", {}},
        {"onStopBattery()", {}},
        {"onStartAccelerometer(float*)", {"values"}},
        {"onStopAccelerometer()", {}},
        {"onStartCompass(float*)", {"values"}},
        {"onStopCompass()", {}},
        {"onStartLightSensor(float*)", {"values"}},
        {"onStopLightSensor()", {}},
        {"onSimulateBattery()", {}},
        {"onSimulateAccelerometer()", {}},
        {"onSimulateCompass()", {}},
        {"onSimulateLightSensor()", {}},
    };
    int index = 0;
    for (const auto& slot : slotTable) {
        QTest::newRow(slot.signature) << index++ << QByteArray(slot.signature) << slot.names;
    }
}

// Tools connect to the window's slots by signature and index.
void TestDeviceEvents::slotsInDeclaredOrder()
{
    QFETCH(int, index);
    QFETCH(QByteArray, signature);
    QFETCH(QByteArrayList, parameterNames);

    const QMetaObject& meta = ZelvoEmulator::staticMetaObject;
    const QMetaMethod method = meta.method(meta.methodOffset() + index);
    // Found by its signature as Qt 5 writes it; Qt 6's moc writes
    // QList<QString> as QStringList, which the lookup takes for the same.
    QCOMPARE(meta.indexOfSlot(signature), method.methodIndex());
    QCOMPARE(method.parameterNames(), parameterNames);
    QCOMPARE(method.methodType(), QMetaMethod::Slot);
    QCOMPARE(method.access(), QMetaMethod::Private);
}

void TestDeviceEvents::declaresOnlyTheseSlots()
{
    const QMetaObject& meta = ZelvoEmulator::staticMetaObject;
    QCOMPARE(meta.methodCount() - meta.methodOffset(), 32);
}

QTEST_MAIN(TestDeviceEvents)
#include "tst_deviceevents.moc"
