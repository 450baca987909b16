#include "model/ZelvoHeadPose.h"
#include "ZelvoVocabulary.h"

#include <QTest>

#include <array>

using Values = std::array<double, 3>;
Q_DECLARE_METATYPE(Values)

// The readings of a still head: the compass gives heading, pitch and roll;
// the accelerometer the floor's push of 9.80665 m/s² in the glasses' axes
// (x right, y up, z back), worked out by hand for each pose.
class TestZelvoHeadPose final : public QObject
{
    Q_OBJECT

private slots:
    void readings_data();
    void readings();
};

void TestZelvoHeadPose::readings_data()
{
    QTest::addColumn<Values>("pose");
    QTest::addColumn<Values>("compass");
    QTest::addColumn<Values>("accelerometer");

    const double g = 9.80665;
    // cos 30° and sin 30° of g.
    const double gCos = 8.49281;
    const double gSin = 4.90333;
    QTest::newRow("heading 0") << Values{0, 0, 0} << Values{0, 0, 0} << Values{0, g, 0};
    QTest::newRow("heading 90") << Values{90, 0, 0} << Values{90, 0, 0} << Values{0, g, 0};
    QTest::newRow("heading 180") << Values{180, 0, 0} << Values{180, 0, 0} << Values{0, g, 0};
    QTest::newRow("heading 270") << Values{270, 0, 0} << Values{270, 0, 0} << Values{0, g, 0};
    QTest::newRow("heading -90") << Values{-90, 0, 0} << Values{270, 0, 0} << Values{0, g, 0};
    QTest::newRow("heading 360") << Values{360, 0, 0} << Values{0, 0, 0} << Values{0, g, 0};
    QTest::newRow("pitch 30") << Values{0, 30, 0} << Values{0, 30, 0} << Values{0, gCos, -gSin};
    QTest::newRow("pitch -30") << Values{0, -30, 0} << Values{0, -30, 0} << Values{0, gCos, gSin};
    QTest::newRow("roll 30") << Values{0, 0, 30} << Values{0, 0, 30} << Values{-gSin, gCos, 0};
    QTest::newRow("roll -30") << Values{0, 0, -30} << Values{0, 0, -30} << Values{gSin, gCos, 0};
    // Pitched, then leaned: the lean shares out what stays of "up" after the pitch.
    QTest::newRow("heading 45 pitch 30 roll 30")
        << Values{45, 30, 30} << Values{45, 30, 30} << Values{-4.24640, 7.35499, -gSin};
}

void TestZelvoHeadPose::readings()
{
    QFETCH(Values, pose);
    QFETCH(Values, compass);
    QFETCH(Values, accelerometer);

    const ZelvoHeadPose head(pose[0], pose[1], pose[2]);
    const ZelvoEvent compassEvent = head.compassReading();
    const ZelvoEvent accelerometerEvent = head.accelerometerReading();
    QCOMPARE(compassEvent.type, int(ZelvoVocabulary::CompassEvent));
    QCOMPARE(accelerometerEvent.type, int(ZelvoVocabulary::AccelerometerEvent));
    for (int axis = 0; axis < 3; ++axis) {
        // Agents read three decimals.
        QVERIFY2(qAbs(compassEvent.values[axis] - compass[size_t(axis)]) < 0.0005, qPrintable(QString::number(axis)));
        QVERIFY2(qAbs(accelerometerEvent.values[axis] - accelerometer[size_t(axis)]) < 0.0005,
                 qPrintable(QStringLiteral("axis %1: %2").arg(axis).arg(double(accelerometerEvent.values[axis]))));
    }
    QCOMPARE(compassEvent.values[3], 0.0f);
    QCOMPARE(accelerometerEvent.values[3], 0.0f);
}

QTEST_APPLESS_MAIN(TestZelvoHeadPose)
#include "tst_zelvoheadpose.moc"
