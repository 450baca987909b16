#include "clock/ZelvoClock.h"
#include "clock/ZelvoClockTimer.h"

#include <QStringList>
#include <QTest>

#include <memory>
#include <vector>

class TestZelvoClock final : public QObject
{
    Q_OBJECT

private slots:
    void firesInDeadlineOrder_data();
    void firesInDeadlineOrder();
};

// Timers started in this order with these intervals, repeating or not;
// "fired" lists each expiry as "index@time" in the order they fired.
void TestZelvoClock::firesInDeadlineOrder_data()
{
    QTest::addColumn<QList<int>>("intervals");
    QTest::addColumn<QList<bool>>("repeating");
    QTest::addColumn<int>("advanceBy");
    QTest::addColumn<QStringList>("fired");

    QTest::newRow("started late, due first") << QList<int>{300, 100, 200} << QList<bool>{false, false, false} << 300
                                             << QStringList{"1@100", "2@200", "0@300"};
    QTest::newRow("same deadline in start order") << QList<int>{50, 50, 50} << QList<bool>{false, false, false} << 60
                                                  << QStringList{"0@50", "1@50", "2@50"};
    QTest::newRow("one before the deadline") << QList<int>{100} << QList<bool>{false} << 99 << QStringList{};
    QTest::newRow("repeating between one-shots") << QList<int>{40, 100} << QList<bool>{true, false} << 130
                                                 << QStringList{"0@40", "0@80", "1@100", "0@120"};
    QTest::newRow("zero waits for an advance") << QList<int>{0} << QList<bool>{false} << 0 << QStringList{"0@0"};
}

void TestZelvoClock::firesInDeadlineOrder()
{
    QFETCH(QList<int>, intervals);
    QFETCH(QList<bool>, repeating);
    QFETCH(int, advanceBy);
    QFETCH(QStringList, fired);

    ZelvoClock clock(ZelvoClock::Mode::Manual);
    QStringList seen;
    std::vector<std::unique_ptr<ZelvoClockTimer>> timers;
    for (int i = 0; i < intervals.size(); ++i) {
        timers.push_back(std::make_unique<ZelvoClockTimer>(&clock));
        ZelvoClockTimer* timer = timers.back().get();
        timer->setSingleShot(!repeating.at(i));
        connect(timer, &ZelvoClockTimer::timeout, this,
                [&seen, &clock, i] { seen.append(QStringLiteral("%1@%2").arg(i).arg(clock.now())); });
        timer->start(intervals.at(i));
    }
    QVERIFY(seen.isEmpty());
    QVERIFY(clock.advance(advanceBy));
    QCOMPARE(seen, fired);
    QCOMPARE(clock.now(), qint64(advanceBy));
}

QTEST_MAIN(TestZelvoClock)
#include "tst_zelvoclock.moc"
