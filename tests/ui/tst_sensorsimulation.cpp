#include "ui/Button.h"
#include "clock/ZelvoClock.h"
#include "EmulatorWindow.h"
#include "TestAgent.h"
#include "ui/ZelvoEmulator.h"
#include "model/ZelvoEvent.h"
#include "ui/sensor/ZelvoSensorList.h"
#include "comm/ZelvoServer.h"
#include "services/ZelvoServices.h"
#include "ZelvoVocabulary.h"

#include <QByteArray>
#include <QHostAddress>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QMetaObject>
#include <QPoint>
#include <QPushButton>
#include <QRegularExpression>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QTextEdit>

namespace {

QStringList valueTexts(const QByteArray& event)
{
    QStringList texts;
    for (const QJsonValue& value : TestAgent::eventValues(event))
        texts.append(value.toString());
    return texts;
}

bool isSensorEvent(const QByteArray& event)
{
    const QJsonObject message = TestAgent::message(event);
    return message.value("appId").toString().isEmpty() && message.value("contentId").toString() == "-1";
}

void click(QPushButton* button)
{
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
}

void simulate(ZelvoEmulator& window, const char* slot)
{
    QVERIFY(QMetaObject::invokeMethod(&window, slot));
}

// Everything the window sent the agent since it last looked is one sensor
// event of this kind with these values.
void compareOnlyEvent(ZelvoServer& server, TestAgent& agent, int type, const QStringList& values)
{
    QVERIFY(TestAgent::waitForAllSent(server, {&agent}));
    const QList<QByteArray> events = agent.takeEvents();
    QCOMPARE(events.size(), 1);
    QVERIFY(isSensorEvent(events.first()));
    QCOMPARE(TestAgent::eventType(events.first()), type);
    QCOMPARE(valueTexts(events.first()), values);
}

} // namespace

class TestSensorSimulation : public QObject
{
    Q_OBJECT

private slots:
    void firstReading_data();
    void firstReading();
    void batteryCycle();
    void singleShot_data();
    void singleShot();
    void unknownSingleShot_data();
    void unknownSingleShot();
    void batteryChanged();
    void chargingBatteryInStatusStrip();
    void panelStartsRestartsAndStops();
};

void TestSensorSimulation::firstReading_data()
{
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("values");

    QTest::newRow("accelerometer") << QByteArray("onSimulateAccelerometer") << int(ZelvoVocabulary::AccelerometerEvent)
                                   << QStringList{"87.462", "76.225", "66.014", "0.000"};
    QTest::newRow("compass") << QByteArray("onSimulateCompass") << int(ZelvoVocabulary::CompassEvent)
                             << QStringList{"157.432", "137.206", "118.825", "0.000"};
    QTest::newRow("light sensor") << QByteArray("onSimulateLightSensor") << int(ZelvoVocabulary::LightSensorEvent)
                                  << QStringList{"43.731", "0.000", "0.000", "0.000"};
}

// Every window starts its generator from the same seed, so a run that starts
// the same sensors in the same order reproduces the same readings.
void TestSensorSimulation::firstReading()
{
    QFETCH(QByteArray, slot);
    QFETCH(int, type);
    QFETCH(QStringList, values);

    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    ZelvoEmulator window(&server, services, nullptr);
    TestAgent agent(server);
    QVERIFY(TestAgent::waitUntilServed(server, {&agent}));

    simulate(window, slot.constData());
    compareOnlyEvent(server, agent, type, values);
}

// The charge cycle belongs to the program, not to a window: it goes on in a
// second window, and a battery single shot leaves it where it was. Other
// tests of this program may have advanced it, so it is checked from wherever
// it stands.
void TestSensorSimulation::batteryCycle()
{
    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    ZelvoEmulator first(&server, services, nullptr);
    ZelvoEmulator second(&server, services, nullptr);
    TestAgent agent(server);
    QVERIFY(TestAgent::waitUntilServed(server, {&agent}));

    for (int i = 0; i < 4; ++i)
        simulate(first, "onSimulateBattery");
    second.sensorPanel()->valueEdit(ZelvoSensorList::Battery)->setPlainText("55");
    click(second.sensorPanel()->singleShotButton(ZelvoSensorList::Battery));
    for (int i = 0; i < 4; ++i)
        simulate(second, "onSimulateBattery");

    QVERIFY(TestAgent::waitForAllSent(server, {&agent}));
    const QList<QByteArray> events = agent.takeEvents();
    QCOMPARE(events.size(), 9);
    QCOMPARE(valueTexts(events.at(4)), (QStringList{"55.000", "0.000", "0.000", "0.000"}));

    QList<int> levels;
    for (int i = 0; i < events.size(); ++i) {
        if (i == 4)
            continue;
        QCOMPARE(TestAgent::eventType(events.at(i)), int(ZelvoVocabulary::BatteryEvent));
        QVERIFY(isSensorEvent(events.at(i)));
        const QStringList values = valueTexts(events.at(i));
        QCOMPARE(values.mid(1), (QStringList{"0.000", "0.000", "0.000"}));
        levels.append(int(values.first().toDouble()));
    }
    QVERIFY2(levels.first() % 20 == 0 && levels.first() >= 0 && levels.first() <= 100,
             qPrintable(QString::number(levels.first())));
    for (int i = 1; i < levels.size(); ++i)
        QCOMPARE(levels.at(i), levels.at(i - 1) == 100 ? 0 : levels.at(i - 1) + 20);
    QCOMPARE(first.battery(), 20);
    QCOMPARE(second.battery(), 20);
}

void TestSensorSimulation::singleShot_data()
{
    QTest::addColumn<int>("sensor");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("values");

    QTest::newRow("battery 55") << int(ZelvoSensorList::Battery) << QStringList{"55"}
                                << int(ZelvoVocabulary::BatteryEvent) << QStringList{"55.000", "0.000", "0.000", "0.000"};
    QTest::newRow("accelerometer 1 2 3")
        << int(ZelvoSensorList::Accelerometer) << QStringList{"1", "2", "3"}
        << int(ZelvoVocabulary::AccelerometerEvent) << QStringList{"1.000", "2.000", "3.000", "0.000"};
    QTest::newRow("compass 90.5 -180 1e3")
        << int(ZelvoSensorList::Compass) << QStringList{"90.5", "-180", "1e3"}
        << int(ZelvoVocabulary::CompassEvent) << QStringList{"90.500", "-180.000", "1000.000", "0.000"};
    QTest::newRow("light sensor 250") << int(ZelvoSensorList::LightSensor) << QStringList{"250"}
                                      << int(ZelvoVocabulary::LightSensorEvent)
                                      << QStringList{"250.000", "0.000", "0.000", "0.000"};
}

// A reading typed into the panel reaches the agents as typed, with no
// content attached, and leaves the window's own battery level alone.
void TestSensorSimulation::singleShot()
{
    QFETCH(int, sensor);
    QFETCH(QStringList, fields);
    QFETCH(int, type);
    QFETCH(QStringList, values);

    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    ZelvoEmulator window(&server, services, nullptr);
    TestAgent agent(server);
    QVERIFY(TestAgent::waitUntilServed(server, {&agent}));

    ZelvoSensorList* panel = window.sensorPanel();
    for (int axis = 0; axis < fields.size(); ++axis)
        panel->valueEdit(sensor, axis)->setPlainText(fields.at(axis));
    click(panel->singleShotButton(sensor));

    compareOnlyEvent(server, agent, type, values);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(window.battery(), 20);
}

void TestSensorSimulation::unknownSingleShot_data()
{
    QTest::addColumn<int>("type");

    QTest::newRow("type 0") << 0;
    QTest::newRow("type 5") << 5;
    QTest::newRow("type -1") << -1;
}

// A kind no agent knows is not sent at all.
void TestSensorSimulation::unknownSingleShot()
{
    QFETCH(int, type);

    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    ZelvoEmulator window(&server, services, nullptr);
    TestAgent agent(server);
    QVERIFY(TestAgent::waitUntilServed(server, {&agent}));

    float values[3] = {1, 2, 3};
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(
        QStringLiteral("onSingleShotValue unknown sensor %1, nothing sent").arg(type)));
    emit window.sensorPanel()->singleShotValue(values, type);

    QVERIFY(TestAgent::waitForAllSent(server, {&agent}));
    QCOMPARE(agent.takeEvents(), QList<QByteArray>());
}

void TestSensorSimulation::batteryChanged()
{
    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    ZelvoEmulator window(&server, services, nullptr);

    QTest::ignoreMessage(QtDebugMsg, "battery percent 60");
    emit window.sensorPanel()->batteryChanged(60);
    QCOMPARE(window.battery(), 60);
}

// While the battery simulation runs, holding plus shows the charging icon.
void TestSensorSimulation::chargingBatteryInStatusStrip()
{
    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    ZelvoEmulator window(&server, services, nullptr);
    QVERIFY(startAndShow(server, window));
    const QRect iconArea(290, 0, 24, 24);
    const QPoint plus = window.mapFromScene(window.plusControl()->sceneBoundingRect().center());
    const auto iconWhileHoldingPlus = [&] {
        QTest::mousePress(window.viewport(), Qt::LeftButton, {}, plus);
        const QImage icon = window.displayImage().copy(iconArea);
        QTest::mouseRelease(window.viewport(), Qt::LeftButton, {}, plus);
        return icon;
    };
    const QImage discharging = iconWhileHoldingPlus();

    QPushButton* batteryButton = window.sensorPanel()->startStopButton(ZelvoSensorList::Battery);
    click(batteryButton);
    QVERIFY(window.isBatteryCharging());
    const QImage charging = iconWhileHoldingPlus();
    QCOMPARE(charging, window.batteryIcon().convertToFormat(charging.format()));
    QVERIFY(charging != discharging);

    click(batteryButton);
    QVERIFY(!window.isBatteryCharging());
    QCOMPARE(iconWhileHoldingPlus(), discharging);
}

// The one test that lets the real 2-second timers run: started from the
// panel every sensor reads within its period. Then, on the device clock,
// every sensor reads once per period, starting a running sensor restarts
// its period, and stopping from the panel ends the readings.
void TestSensorSimulation::panelStartsRestartsAndStops()
{
    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    ZelvoEmulator window(&server, services, nullptr);
    TestAgent agent(server);
    QVERIFY(TestAgent::waitUntilServed(server, {&agent}));
    ZelvoSensorList* panel = window.sensorPanel();
    const QList<int> sensors{ZelvoSensorList::Battery, ZelvoSensorList::Accelerometer, ZelvoSensorList::Compass,
                             ZelvoSensorList::LightSensor};
    const QList<int> readingTypes{ZelvoVocabulary::BatteryEvent, ZelvoVocabulary::AccelerometerEvent,
                                  ZelvoVocabulary::CompassEvent, ZelvoVocabulary::LightSensorEvent};
    constexpr int period = 2000;

    for (int axis = 0; axis < 3; ++axis)
        panel->valueEdit(ZelvoSensorList::Accelerometer, axis)->setPlainText(QString::number(5 + axis));
    QTest::ignoreMessage(QtDebugMsg, "start Accelerometer with values ");
    for (const char* typed : {"5", "6", "7"})
        QTest::ignoreMessage(QtDebugMsg, typed);
    for (int sensor : sensors)
        click(panel->startStopButton(sensor));
    QVERIFY(window.isBatteryCharging());

    const auto readingsOf = [](const QList<QByteArray>& frames, int type) {
        QList<QByteArray> readings;
        for (const QByteArray& frame : frames) {
            if (TestAgent::eventType(frame) == type)
                readings.append(frame);
        }
        return readings;
    };

    for (int type : readingTypes)
        QTRY_VERIFY_WITH_TIMEOUT(!readingsOf(agent.frames(), type).isEmpty(), 6000);
    for (const QByteArray& frame : agent.frames())
        QVERIFY(isSensorEvent(frame));
    const QByteArray accelerometer = readingsOf(agent.frames(), ZelvoVocabulary::AccelerometerEvent).first();
    for (const QString& value : valueTexts(accelerometer).mid(0, 3)) {
        QVERIFY2(value.toDouble() > 0 && value.toDouble() < 200, qPrintable(value));
        QVERIFY(!QStringList({"5.000", "6.000", "7.000"}).contains(value));
    }

    ZelvoClock* clock = services.clock.get();
    clock->pause();
    QVERIFY(TestAgent::waitForAllSent(server, {&agent}));
    agent.takeEvents();
    const auto advanceAndTake = [&](qint64 millis) {
        QList<QByteArray> events;
        if (clock->advance(millis) && TestAgent::waitForAllSent(server, {&agent}))
            events = agent.takeEvents();
        return events;
    };
    const QList<QByteArray> onePeriod = advanceAndTake(period);
    for (int type : readingTypes)
        QCOMPARE(readingsOf(onePeriod, type).size(), 1);

    // Started again half a period after it was started, the accelerometer
    // reads a whole period after the second start, not after the first.
    float typed[3] = {5, 6, 7};
    QVERIFY(QMetaObject::invokeMethod(&window, "onStartAccelerometer", Q_ARG(float*, typed)));
    advanceAndTake(period / 2);
    QVERIFY(QMetaObject::invokeMethod(&window, "onStartAccelerometer", Q_ARG(float*, typed)));
    QCOMPARE(readingsOf(advanceAndTake(period - 1), ZelvoVocabulary::AccelerometerEvent).size(), 0);
    QCOMPARE(readingsOf(advanceAndTake(1), ZelvoVocabulary::AccelerometerEvent).size(), 1);

    for (int sensor : sensors)
        click(panel->startStopButton(sensor));
    QVERIFY(!window.isBatteryCharging());
    QVERIFY(TestAgent::waitForAllSent(server, {&agent}));
    agent.takeEvents();
    QCOMPARE(advanceAndTake(2 * period), QList<QByteArray>());
}

QTEST_MAIN(TestSensorSimulation)
#include "tst_sensorsimulation.moc"
