#include "util/Randomizer.h"

#include <QTemporaryFile>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <unistd.h>

namespace {

constexpr uint64_t modulus = 2147483647;

uint64_t powerModulo(uint64_t base, uint64_t exponent)
{
    uint64_t result = 1;
    for (base %= modulus; exponent > 0; exponent >>= 1) {
        if (exponent & 1)
            result = result * base % modulus;
        base = base * base % modulus;
    }
    return result;
}

// The state whose next draw is the given one: one step back on the cycle.
long stateBefore(double draw)
{
    const uint64_t next = uint64_t(std::llround(draw * double(modulus)));
    const uint64_t inverse = powerModulo(48271, modulus - 2);
    return long(next * inverse % modulus);
}

// What the code writes to the C standard output while it runs.
QString capturedStdout(const std::function<void()>& code)
{
    QTemporaryFile file;
    if (!file.open())
        return QString();
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    dup2(file.handle(), STDOUT_FILENO);
    code();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    file.seek(0);
    return QString::fromUtf8(file.readAll());
}

} // namespace

class TestRandomizer : public QObject
{
    Q_OBJECT

private slots:
    void streamStartStates();
    void firstDrawsOfCyclingGenerator();
    void tenThousandStepsFromOne();
    void plantSeedsOne();
    void putSeed_data();
    void putSeed();
    void putSeedFromClock_data();
    void putSeedFromClock();
    void seedEqualToModulusSticksAtOne();
    void singleStreamWithCyclingStaysOnStreamZero();
    void noStreamsMeansOne();
    void normalFollowsFormula_data();
    void normalFollowsFormula();
    void normalQuantiles_data();
    void normalQuantiles();
    void selfTest_data();
    void selfTest();
};

void TestRandomizer::streamStartStates()
{
    const Randomizer randomizer(128, true);
    QCOMPARE(randomizer.streams(), 128u);
    QCOMPARE(randomizer.currentStream(), 0u);
    QCOMPARE(randomizer.seed(0), 123456789);
    QCOMPARE(randomizer.seed(1), 2010924726);
    QCOMPARE(randomizer.seed(2), 417893401);
    QCOMPARE(randomizer.seed(3), 281668658);
    for (unsigned stream = 0; stream < 128; ++stream)
        QVERIFY(randomizer.seed(stream) > 0 && randomizer.seed(stream) < 2147483647);
}

void TestRandomizer::firstDrawsOfCyclingGenerator()
{
    Randomizer randomizer(128, true);
    const double expected[] = {0.43731215383732325, 0.3811267206357451, 0.3300705744559274};
    for (unsigned i = 0; i < 3; ++i) {
        const double draw = randomizer.random();
        QCOMPARE(randomizer.currentStream(), i + 1);
        QVERIFY2(std::fabs(draw - expected[i]) < 1e-15, qPrintable(QString::number(draw, 'g', 17)));
        QCOMPARE(draw, randomizer.seed(i + 1) / 2147483647.0);
    }
    QCOMPARE(randomizer.seed(0), 123456789);
}

void TestRandomizer::tenThousandStepsFromOne()
{
    Randomizer randomizer(2, false);
    randomizer.putSeed(1);
    for (int i = 0; i < 10000; ++i)
        randomizer.random();
    QCOMPARE(randomizer.currentStream(), 0u);
    QCOMPARE(randomizer.seed(0), 399268537);
    QCOMPARE(randomizer.seed(1), 2010924726);
}

void TestRandomizer::plantSeedsOne()
{
    Randomizer randomizer(2, false);
    randomizer.plantSeeds(1);
    QCOMPARE(randomizer.seed(0), 1);
    QCOMPARE(randomizer.seed(1), 22925);
    QCOMPARE(randomizer.currentStream(), 0u);
}

void TestRandomizer::putSeed_data()
{
    QTest::addColumn<long>("seed");
    QTest::addColumn<int>("state");

    QTest::newRow("1") << 1L << 1;
    QTest::newRow("123456789") << 123456789L << 123456789;
    QTest::newRow("2147483646") << 2147483646L << 2147483646;
    QTest::newRow("2147483648") << 2147483648L << 1;
    QTest::newRow("4294967295") << 4294967295L << 1;
}

void TestRandomizer::putSeed()
{
    QFETCH(long, seed);
    QFETCH(int, state);

    Randomizer randomizer(3, false);
    randomizer.random();
    randomizer.putSeed(seed);
    QCOMPARE(randomizer.seed(0), state);
    QCOMPARE(randomizer.seed(1), 2010924726);
}

void TestRandomizer::putSeedFromClock_data()
{
    QTest::addColumn<long>("seed");

    QTest::newRow("0") << 0L;
    QTest::newRow("-1") << -1L;
    QTest::newRow("-123456789") << -123456789L;
}

void TestRandomizer::putSeedFromClock()
{
    QFETCH(long, seed);

    Randomizer randomizer(1);
    const long before = long(uint32_t(std::time(nullptr)) % 2147483647u);
    randomizer.putSeed(seed);
    const long after = long(uint32_t(std::time(nullptr)) % 2147483647u);
    QVERIFY(randomizer.seed(0) >= before && randomizer.seed(0) <= after);
}

void TestRandomizer::seedEqualToModulusSticksAtOne()
{
    Randomizer randomizer(1);
    randomizer.putSeed(2147483647);
    QCOMPARE(randomizer.seed(0), 0);
    for (int i = 0; i < 3; ++i) {
        QVERIFY(randomizer.random() == 1.0);
        QCOMPARE(randomizer.seed(0), 2147483647);
    }
}

void TestRandomizer::singleStreamWithCyclingStaysOnStreamZero()
{
    Randomizer cycling(1, true);
    Randomizer plain(1, false);
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(cycling.random(), plain.random());
        QCOMPARE(cycling.currentStream(), 0u);
    }
}

void TestRandomizer::noStreamsMeansOne()
{
    Randomizer randomizer(0, true);
    QCOMPARE(randomizer.streams(), 1u);
    QCOMPARE(randomizer.seed(0), 123456789);
    QVERIFY(randomizer.random() > 0.0);
    QCOMPARE(randomizer.currentStream(), 0u);
}

void TestRandomizer::normalFollowsFormula_data()
{
    QTest::addColumn<double>("mean");
    QTest::addColumn<double>("sigma");

    QTest::newRow("mean 0 sigma 1") << 0.0 << 1.0;
    QTest::newRow("mean 10 sigma 2.5") << 10.0 << 2.5;
    QTest::newRow("mean -3 sigma 0") << -3.0 << 0.0;
}

void TestRandomizer::normalFollowsFormula()
{
    QFETCH(double, mean);
    QFETCH(double, sigma);

    Randomizer randomizer(128, true);
    Randomizer twin(128, true);
    bool lowerHalf = false;
    bool upperHalf = false;
    for (int i = 0; i < 40; ++i) {
        const double u = twin.random();
        lowerHalf = lowerHalf || u < 0.5;
        upperHalf = upperHalf || u >= 0.5;
        const double t = std::sqrt(-2.0 * std::log(u < 0.5 ? u : 1.0 - u));
        const double p = 0.322232431088
                         + t * (1.0 + t * (0.342242088547 + t * (0.0204231210245 + t * 0.0000453642210148)));
        const double q = 0.099348462606
                         + t * (0.588581570495 + t * (0.531103462366 + t * (0.10353775285 + t * 0.0038560700634)));
        const double z = u < 0.5 ? p / q - t : t - p / q;
        QCOMPARE(randomizer.normal(mean, sigma), mean + sigma * z);
    }
    QVERIFY(lowerHalf && upperHalf);
}

void TestRandomizer::normalQuantiles_data()
{
    QTest::addColumn<double>("draw");
    QTest::addColumn<double>("mean");
    QTest::addColumn<double>("sigma");
    QTest::addColumn<double>("expected");

    QTest::newRow("0.5") << 0.5 << 0.0 << 1.0 << 0.0;
    QTest::newRow("0.975") << 0.975 << 0.0 << 1.0 << 1.959963985;
    QTest::newRow("0.025") << 0.025 << 0.0 << 1.0 << -1.959963985;
    QTest::newRow("0.8413447461") << 0.8413447461 << 0.0 << 1.0 << 1.0;
    QTest::newRow("0.001 mean 100 sigma 15") << 0.001 << 100.0 << 15.0 << 100.0 - 15.0 * 3.090232306;
}

void TestRandomizer::normalQuantiles()
{
    QFETCH(double, draw);
    QFETCH(double, mean);
    QFETCH(double, sigma);
    QFETCH(double, expected);

    Randomizer randomizer(1);
    randomizer.putSeed(stateBefore(draw));
    const double value = randomizer.normal(mean, sigma);
    QVERIFY2(std::fabs(value - expected) < 1e-6 * std::max(1.0, sigma),
             qPrintable(QString::number(value, 'g', 12)));
}

void TestRandomizer::selfTest_data()
{
    QTest::addColumn<unsigned>("streams");
    QTest::addColumn<bool>("cycling");
    QTest::addColumn<bool>("correct");
    QTest::addColumn<QString>("firstSampleLine");

    QTest::newRow("two streams") << 2u << false << true << "random number 0 = 0.515307 -- stream(1)";
    QTest::newRow("128 streams cycling") << 128u << true << false << "random number 0 = 0.405708 -- stream(1)";
    QTest::newRow("one stream") << 1u << false << false << "random number 0 = 0.000022 -- stream(0)";
}

void TestRandomizer::selfTest()
{
    QFETCH(unsigned, streams);
    QFETCH(bool, cycling);
    QFETCH(bool, correct);
    QFETCH(QString, firstSampleLine);

    Randomizer randomizer(streams, cycling);
    const QString output = capturedStdout([&randomizer] { randomizer.test(); });

    const QString verdict = correct
        ? QStringLiteral("\n\033[96m The implementation of Randomizer is correct.\033[0m\n\n")
        : QStringLiteral("\n\a ERROR -- the implementation of Randomizer is not correct.\n\n");
    QVERIFY2(output.startsWith(verdict), qPrintable(output.left(80)));
    const QStringList samples = output.mid(verdict.size()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(samples.size(), 1000);
    QCOMPARE(samples.first(), firstSampleLine);
    QVERIFY(samples.last().startsWith(QLatin1String("random number 999 = ")));
}

QTEST_GUILESS_MAIN(TestRandomizer)
#include "tst_randomizer.moc"
