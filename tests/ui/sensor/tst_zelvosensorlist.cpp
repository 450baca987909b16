#include "ui/sensor/ZelvoSensorList.h"

#include <QIcon>
#include <QImage>
#include <QListWidgetItem>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>

#include <array>
#include <limits>
#include <memory>

namespace {

using Values = std::array<float, 3>;

// Whether the icon shows the picture of the resource, at its own size.
bool showsResource(const QIcon& icon, const QString& resource)
{
    const QImage picture = QImage(resource).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return !picture.isNull()
           && icon.pixmap(picture.size()).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied) == picture;
}

bool showsPlay(const QPushButton* button)
{
    return showsResource(button->icon(), QStringLiteral(":/data/sensor_play.png"));
}

bool showsPause(const QPushButton* button)
{
    return showsResource(button->icon(), QStringLiteral(":/data/sensor_pause.png"));
}

// Everything the panel emits, in order, with copies of the values.
struct Recorder
{
    explicit Recorder(ZelvoSensorList& panel)
    {
        const auto plain = [this](const char* name) { return [this, name] { emitted << QLatin1String(name); }; };
        const auto valued = [this](const char* name) {
            return [this, name](float* values) {
                emitted << QLatin1String(name);
                lastValues = {values[0], values[1], values[2]};
            };
        };
        QObject::connect(&panel, &ZelvoSensorList::startBattery, plain("startBattery"));
        QObject::connect(&panel, &ZelvoSensorList::stopBattery, plain("stopBattery"));
        QObject::connect(&panel, &ZelvoSensorList::startAccelerometer, valued("startAccelerometer"));
        QObject::connect(&panel, &ZelvoSensorList::stopAccelerometer, plain("stopAccelerometer"));
        QObject::connect(&panel, &ZelvoSensorList::startCompass, valued("startCompass"));
        QObject::connect(&panel, &ZelvoSensorList::stopCompass, plain("stopCompass"));
        QObject::connect(&panel, &ZelvoSensorList::startLightSensor, valued("startLightSensor"));
        QObject::connect(&panel, &ZelvoSensorList::stopLightSensor, plain("stopLightSensor"));
        QObject::connect(&panel, &ZelvoSensorList::singleShotValue, [this](float* values, int type) {
            emitted << QStringLiteral("singleShotValue(%1)").arg(type);
            lastValues = {values[0], values[1], values[2]};
        });
    }

    QStringList emitted;
    Values lastValues = {-1.0f, -1.0f, -1.0f};
};

class Panel
{
public:
    Panel() { panel.show(); }

    bool exposed() { return QTest::qWaitForWindowExposed(&panel); }

    void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    void type(int sensor, const QStringList& texts)
    {
        for (int axis = 0; axis < texts.size(); ++axis)
            panel.valueEdit(sensor, axis)->setPlainText(texts.at(axis));
    }

    ZelvoSensorList panel;
    Recorder recorder{panel};
};

} // namespace

class TestZelvoSensorList : public QObject
{
    Q_OBJECT

private slots:
    void rows();
    void fixedSize();
    void freshFieldsAndIcons();
    void startStop_data();
    void startStop();
    void fieldValues_data();
    void fieldValues();
    void singleShots_data();
    void singleShots();
    void singleShotKeepsRunningState();
    void sendReading_data();
    void sendReading();
    void setRunning_data();
    void setRunning();
    void programmedStop_data();
    void programmedStop();
    void batteryPercent_data();
    void batteryPercent();
};

void TestZelvoSensorList::rows()
{
    ZelvoSensorList panel;
    // Made once the event loop runs, though nothing asked for them.
    QTRY_COMPARE(panel.count(), 8);
    for (int row = 0; row < panel.count(); ++row) {
        QListWidgetItem* item = panel.item(row);
        const bool header = row % 2 == 0;
        QCOMPARE(item->sizeHint(), QSize(0, header ? 62 : 48));
        QCOMPARE(item->icon().isNull(), !header);
        QVERIFY(item->text().isEmpty());
        QVERIFY(panel.itemWidget(item));
    }
    QVERIFY(showsResource(panel.item(0)->icon(), QStringLiteral(":/data/sensor_battery.png")));
    QVERIFY(showsResource(panel.item(2)->icon(), QStringLiteral(":/data/sensor_accelerometer.png")));
    QVERIFY(showsResource(panel.item(4)->icon(), QStringLiteral(":/data/sensor_compass.png")));
    QVERIFY(showsResource(panel.item(6)->icon(), QStringLiteral(":/data/sensor_light.png")));
}

void TestZelvoSensorList::fixedSize()
{
    Panel fixture;
    QVERIFY(fixture.exposed());
    QCOMPARE(fixture.panel.size(), QSize(240, 450));
    QCOMPARE(fixture.panel.minimumSize(), QSize(240, 450));
    QCOMPARE(fixture.panel.maximumSize(), QSize(240, 450));
}

void TestZelvoSensorList::freshFieldsAndIcons()
{
    // Never shown, and asked before the event loop ran: the rows are made
    // as soon as anything asks for them.
    ZelvoSensorList panel;
    const std::array<int, 4> axes = {1, 3, 3, 1};
    for (int sensor = ZelvoSensorList::Battery; sensor <= ZelvoSensorList::LightSensor; ++sensor) {
        for (int axis = 0; axis < axes[sensor - 1]; ++axis)
            QCOMPARE(panel.valueEdit(sensor, axis)->toPlainText(), QStringLiteral("0"));
        QVERIFY(showsPlay(panel.startStopButton(sensor)));
        QVERIFY(showsPlay(panel.singleShotButton(sensor)));
        QVERIFY(!panel.isRunning(sensor));
    }
}

void TestZelvoSensorList::startStop_data()
{
    QTest::addColumn<int>("sensor");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("stop");
    QTest::addColumn<bool>("withValues");
    QTest::addColumn<QList<float>>("values");

    QTest::newRow("battery") << int(ZelvoSensorList::Battery) << QStringList{"55"} << "startBattery"
                             << "stopBattery" << false << QList<float>();
    QTest::newRow("accelerometer 1 2 3") << int(ZelvoSensorList::Accelerometer) << QStringList{"1", "2", "3"}
                                         << "startAccelerometer" << "stopAccelerometer" << true
                                         << QList<float>{1.0f, 2.0f, 3.0f};
    QTest::newRow("compass 10.5 -20 1e2") << int(ZelvoSensorList::Compass) << QStringList{"10.5", "-20", "1e2"}
                                          << "startCompass" << "stopCompass" << true
                                          << QList<float>{10.5f, -20.0f, 100.0f};
    QTest::newRow("light sensor 250") << int(ZelvoSensorList::LightSensor) << QStringList{"250"}
                                      << "startLightSensor" << "stopLightSensor" << true
                                      << QList<float>{250.0f, 0.0f, 0.0f};
}

void TestZelvoSensorList::startStop()
{
    QFETCH(int, sensor);
    QFETCH(QStringList, fields);
    QFETCH(QString, start);
    QFETCH(QString, stop);
    QFETCH(bool, withValues);
    QFETCH(QList<float>, values);

    Panel fixture;
    QVERIFY(fixture.exposed());
    fixture.type(sensor, fields);
    QPushButton* button = fixture.panel.startStopButton(sensor);
    if (sensor == ZelvoSensorList::Accelerometer)
        QTest::ignoreMessage(QtDebugMsg, "Started");

    fixture.click(button);
    QCOMPARE(fixture.recorder.emitted, QStringList{start});
    if (withValues) {
        const Values& got = fixture.recorder.lastValues;
        QCOMPARE((QList<float>{got[0], got[1], got[2]}), values);
    }
    QVERIFY(fixture.panel.isRunning(sensor));
    QVERIFY(showsPause(button));
    QVERIFY(showsPlay(fixture.panel.singleShotButton(sensor)));

    if (sensor == ZelvoSensorList::Accelerometer)
        QTest::ignoreMessage(QtDebugMsg, "Started");
    fixture.click(button);
    QCOMPARE(fixture.recorder.emitted, (QStringList{start, stop}));
    QVERIFY(!fixture.panel.isRunning(sensor));
    QVERIFY(showsPlay(button));
}

void TestZelvoSensorList::fieldValues_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<float>("value");

    QTest::newRow("250") << QStringLiteral("250") << 250.0f;
    QTest::newRow("-2.5") << QStringLiteral("-2.5") << -2.5f;
    QTest::newRow("+0.125") << QStringLiteral("+0.125") << 0.125f;
    QTest::newRow("1e3") << QStringLiteral("1e3") << 1000.0f;
    QTest::newRow("abc") << QStringLiteral("abc") << 0.0f;
    QTest::newRow("empty") << QString() << 0.0f;
    QTest::newRow("12abc") << QStringLiteral("12abc") << 0.0f;
    QTest::newRow("1,5") << QStringLiteral("1,5") << 0.0f;
    QTest::newRow("nan") << QStringLiteral("nan") << std::numeric_limits<float>::quiet_NaN();
    QTest::newRow("inf") << QStringLiteral("inf") << std::numeric_limits<float>::infinity();
    QTest::newRow("-inf") << QStringLiteral("-inf") << -std::numeric_limits<float>::infinity();
    QTest::newRow("1e39") << QStringLiteral("1e39") << std::numeric_limits<float>::infinity();
}

void TestZelvoSensorList::fieldValues()
{
    QFETCH(QString, text);
    QFETCH(float, value);

    Panel fixture;
    QVERIFY(fixture.exposed());
    fixture.type(ZelvoSensorList::LightSensor, {text});
    fixture.click(fixture.panel.singleShotButton(ZelvoSensorList::LightSensor));
    QCOMPARE(fixture.recorder.emitted, QStringList{"singleShotValue(4)"});
    QCOMPARE(fixture.recorder.lastValues[0], value);
}

void TestZelvoSensorList::singleShots_data()
{
    QTest::addColumn<int>("sensor");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QList<float>>("values");

    QTest::newRow("battery 42") << int(ZelvoSensorList::Battery) << QStringList{"42"}
                                << QList<float>{42.0f, 0.0f, 0.0f};
    QTest::newRow("accelerometer 0.5 -1 9.81") << int(ZelvoSensorList::Accelerometer)
                                               << QStringList{"0.5", "-1", "9.81"}
                                               << QList<float>{0.5f, -1.0f, 9.81f};
    QTest::newRow("compass 90 abc 1e3") << int(ZelvoSensorList::Compass) << QStringList{"90", "abc", "1e3"}
                                        << QList<float>{90.0f, 0.0f, 1000.0f};
    QTest::newRow("light sensor 250") << int(ZelvoSensorList::LightSensor) << QStringList{"250"}
                                      << QList<float>{250.0f, 0.0f, 0.0f};
}

void TestZelvoSensorList::singleShots()
{
    QFETCH(int, sensor);
    QFETCH(QStringList, fields);
    QFETCH(QList<float>, values);

    Panel fixture;
    QVERIFY(fixture.exposed());
    fixture.type(sensor, fields);
    fixture.click(fixture.panel.singleShotButton(sensor));
    QCOMPARE(fixture.recorder.emitted, QStringList{QStringLiteral("singleShotValue(%1)").arg(sensor)});
    const Values& got = fixture.recorder.lastValues;
    QCOMPARE((QList<float>{got[0], got[1], got[2]}), values);
    QVERIFY(!fixture.panel.isRunning(sensor));
    QVERIFY(showsPlay(fixture.panel.startStopButton(sensor)));
}

void TestZelvoSensorList::singleShotKeepsRunningState()
{
    Panel fixture;
    QVERIFY(fixture.exposed());
    fixture.click(fixture.panel.startStopButton(ZelvoSensorList::Compass));
    fixture.click(fixture.panel.singleShotButton(ZelvoSensorList::Compass));
    QVERIFY(fixture.panel.isRunning(ZelvoSensorList::Compass));
    QVERIFY(showsPause(fixture.panel.startStopButton(ZelvoSensorList::Compass)));
    QCOMPARE(fixture.recorder.emitted, (QStringList{"startCompass", "singleShotValue(3)"}));
}

void TestZelvoSensorList::sendReading_data()
{
    QTest::addColumn<int>("sensor");
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<QList<float>>("reading");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QList<float>>("sent");

    QTest::newRow("compass 90 7.5 1000 over 90 abc 1e3")
        << int(ZelvoSensorList::Compass) << QStringList{"90", "abc", "1e3"} << QList<float>{90.0f, 7.5f, 1000.0f}
        << QStringList{"90", "7.5", "1e3"} << QList<float>{90.0f, 7.5f, 1000.0f};
    QTest::newRow("accelerometer -0.1 0 3e-5 over 0 0 0")
        << int(ZelvoSensorList::Accelerometer) << QStringList{"0", "0", "0"} << QList<float>{-0.1f, 0.0f, 3e-5f}
        << QStringList{"-0.100000001", "0", "2.99999992e-05"} << QList<float>{-0.1f, 0.0f, 3e-5f};
    QTest::newRow("light sensor 0.1 5 6 over 250")
        << int(ZelvoSensorList::LightSensor) << QStringList{"250"} << QList<float>{0.1f, 5.0f, 6.0f}
        << QStringList{"0.100000001"} << QList<float>{0.1f, 0.0f, 0.0f};
    QTest::newRow("battery 60 over 60")
        << int(ZelvoSensorList::Battery) << QStringList{"60"} << QList<float>{60.0f, 1.0f, 2.0f}
        << QStringList{"60"} << QList<float>{60.0f, 0.0f, 0.0f};
    QTest::newRow("unknown sensor 9") << 9 << QStringList() << QList<float>{1.0f, 2.0f, 3.0f} << QStringList()
                                      << QList<float>();
}

// A reading sent by code goes the way of the panel's button, and the fields
// show it; a field that already reads as the value keeps its text.
void TestZelvoSensorList::sendReading()
{
    QFETCH(int, sensor);
    QFETCH(QStringList, typed);
    QFETCH(QList<float>, reading);
    QFETCH(QStringList, shown);
    QFETCH(QList<float>, sent);

    Panel fixture;
    fixture.type(sensor, typed);
    fixture.panel.sendReading(sensor, {reading.at(0), reading.at(1), reading.at(2)});
    if (sent.isEmpty()) {
        QVERIFY(fixture.recorder.emitted.isEmpty());
        return;
    }
    QCOMPARE(fixture.recorder.emitted, QStringList{QStringLiteral("singleShotValue(%1)").arg(sensor)});
    const Values& got = fixture.recorder.lastValues;
    QCOMPARE((QList<float>{got[0], got[1], got[2]}), sent);
    for (int axis = 0; axis < shown.size(); ++axis)
        QCOMPARE(fixture.panel.valueEdit(sensor, axis)->toPlainText(), shown.at(axis));

    // The button sends again exactly what the fields now hold.
    fixture.click(fixture.panel.singleShotButton(sensor));
    QCOMPARE(fixture.recorder.emitted.size(), 2);
    QCOMPARE((QList<float>{got[0], got[1], got[2]}), sent);
}

void TestZelvoSensorList::setRunning_data()
{
    QTest::addColumn<int>("sensor");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("stop");

    QTest::newRow("battery") << int(ZelvoSensorList::Battery) << "startBattery" << "stopBattery";
    QTest::newRow("accelerometer") << int(ZelvoSensorList::Accelerometer) << "startAccelerometer"
                                   << "stopAccelerometer";
    QTest::newRow("compass") << int(ZelvoSensorList::Compass) << "startCompass" << "stopCompass";
    QTest::newRow("light sensor") << int(ZelvoSensorList::LightSensor) << "startLightSensor" << "stopLightSensor";
    QTest::newRow("unknown sensor 0") << 0 << QString() << QString();
}

// Asked for the state it is in, the panel changes nothing and says so;
// otherwise it does what its button does.
void TestZelvoSensorList::setRunning()
{
    QFETCH(int, sensor);
    QFETCH(QString, start);
    QFETCH(QString, stop);

    Panel fixture;
    QVERIFY(!fixture.panel.setRunning(sensor, false));
    if (start.isEmpty()) {
        QVERIFY(!fixture.panel.setRunning(sensor, true));
        QVERIFY(fixture.recorder.emitted.isEmpty());
        return;
    }
    if (sensor == ZelvoSensorList::Accelerometer)
        QTest::ignoreMessage(QtDebugMsg, "Started");
    QVERIFY(fixture.panel.setRunning(sensor, true));
    QVERIFY(!fixture.panel.setRunning(sensor, true));
    QVERIFY(fixture.panel.isRunning(sensor));
    QVERIFY(showsPause(fixture.panel.startStopButton(sensor)));
    QCOMPARE(fixture.recorder.emitted, QStringList{start});

    if (sensor == ZelvoSensorList::Accelerometer)
        QTest::ignoreMessage(QtDebugMsg, "Started");
    fixture.click(fixture.panel.startStopButton(sensor));
    QVERIFY(!fixture.panel.setRunning(sensor, false));
    QVERIFY(showsPlay(fixture.panel.startStopButton(sensor)));
    QCOMPARE(fixture.recorder.emitted, (QStringList{start, stop}));
}

void TestZelvoSensorList::programmedStop_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("running");
    QTest::addColumn<int>("sensor");
    QTest::addColumn<QStringList>("stops");

    QTest::newRow("0") << 0 << true << 0 << QStringList();
    QTest::newRow("1 running") << 1 << true << int(ZelvoSensorList::Accelerometer)
                               << QStringList{"stopAccelerometer"};
    QTest::newRow("1 stopped") << 1 << false << int(ZelvoSensorList::Accelerometer)
                               << QStringList{"stopAccelerometer"};
    QTest::newRow("2 running") << 2 << true << int(ZelvoSensorList::Compass) << QStringList{"stopCompass"};
    QTest::newRow("3 running") << 3 << true << int(ZelvoSensorList::LightSensor)
                               << QStringList{"stopLightSensor"};
    QTest::newRow("3 stopped") << 3 << false << int(ZelvoSensorList::LightSensor)
                               << QStringList{"stopLightSensor"};
    QTest::newRow("4") << 4 << true << 0 << QStringList();
}

void TestZelvoSensorList::programmedStop()
{
    QFETCH(int, code);
    QFETCH(bool, running);
    QFETCH(int, sensor);
    QFETCH(QStringList, stops);

    Panel fixture;
    QVERIFY(fixture.exposed());
    const std::array<int, 4> all = {ZelvoSensorList::Battery, ZelvoSensorList::Accelerometer,
                                    ZelvoSensorList::Compass, ZelvoSensorList::LightSensor};
    if (running) {
        QTest::ignoreMessage(QtDebugMsg, "Started");
        for (int each : all)
            fixture.click(fixture.panel.startStopButton(each));
    }
    fixture.recorder.emitted.clear();

    QTest::ignoreMessage(QtDebugMsg, "Entered Button stop");
    fixture.panel.programmedStop(code);

    QCOMPARE(fixture.recorder.emitted, stops);
    for (int each : all) {
        const bool stillRunning = running && each != sensor;
        QCOMPARE(fixture.panel.isRunning(each), stillRunning);
        QVERIFY(stillRunning ? showsPause(fixture.panel.startStopButton(each))
                             : showsPlay(fixture.panel.startStopButton(each)));
    }
}

void TestZelvoSensorList::batteryPercent_data()
{
    QTest::addColumn<int>("percent");

    QTest::newRow("0") << 0;
    QTest::newRow("20") << 20;
    QTest::newRow("100") << 100;
}

void TestZelvoSensorList::batteryPercent()
{
    QFETCH(int, percent);

    ZelvoSensorList panel;
    QSignalSpy changed(&panel, &ZelvoSensorList::batteryChanged);
    panel.setBatteryPercent(percent);
    QCOMPARE(panel.batteryPercent(), percent);
    QCOMPARE(changed.count(), 0);
}

QTEST_MAIN(TestZelvoSensorList)
#include "tst_zelvosensorlist.moc"
