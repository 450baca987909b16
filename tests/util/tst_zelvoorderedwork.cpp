#include "util/ZelvoOrderedWork.h"

#include <QCoreApplication>
#include <QList>
#include <QObject>
#include <QSemaphore>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <memory>

namespace {

// Jobs that finish when the test lets them, in any order it likes.
struct Gates
{
    explicit Gates(int count)
    {
        for (int i = 0; i < count; ++i)
            gates.append(std::make_shared<QSemaphore>());
    }
    std::function<int()> job(int i) const
    {
        return [gate = gates.at(i), i] {
            gate->acquire();
            return i;
        };
    }
    void open(int i) { gates.at(i)->release(); }
    QList<std::shared_ptr<QSemaphore>> gates;
};

} // namespace

class TestZelvoOrderedWork : public QObject
{
    Q_OBJECT

private slots:
    void deliversInOrderOnTheOwnersThread_data();
    void deliversInOrderOnTheOwnersThread();
    void cancelDropsLateResultsAtOnce();
};

void TestZelvoOrderedWork::deliversInOrderOnTheOwnersThread_data()
{
    // The order in which the test lets four jobs finish; a value is given
    // behind job 1 and must wait for it.
    QTest::addColumn<QList<int>>("finishing");
    QTest::newRow("in order") << QList<int>{0, 1, 2, 3};
    QTest::newRow("reversed") << QList<int>{3, 2, 1, 0};
    QTest::newRow("oldest last") << QList<int>{1, 2, 3, 0};
}

void TestZelvoOrderedWork::deliversInOrderOnTheOwnersThread()
{
    QFETCH(QList<int>, finishing);
    QThreadPool pool;
    pool.setMaxThreadCount(4);
    QObject owner;
    QList<int> delivered;
    bool onOwnersThread = true;
    ZelvoOrderedWork<int> work(&owner, [&](int value) {
        onOwnersThread = onOwnersThread && QThread::currentThread() == owner.thread();
        delivered.append(value);
    }, &pool);
    Gates gates(4);
    work.run(gates.job(0));
    work.run(gates.job(1));
    work.add(100);
    work.run(gates.job(2));
    work.run(gates.job(3));
    QVERIFY(delivered.isEmpty());
    for (int i : finishing)
        gates.open(i);
    QTRY_COMPARE(delivered, (QList<int>{0, 1, 100, 2, 3}));
    QVERIFY(onOwnersThread);
    QCOMPARE(work.pending(), 0);
    work.add(7);
    QCOMPARE(delivered.last(), 7);
}

void TestZelvoOrderedWork::cancelDropsLateResultsAtOnce()
{
    QThreadPool pool;
    QObject owner;
    QList<int> delivered;
    ZelvoOrderedWork<int> work(&owner, [&](int value) { delivered.append(value); }, &pool);
    Gates gates(3);
    work.run(gates.job(0));
    work.run(gates.job(1));
    work.cancel();
    QCOMPARE(work.pending(), 0);
    work.run(gates.job(2));
    gates.open(0);
    gates.open(1);
    gates.open(2);
    QTRY_COMPARE(delivered, QList<int>{2});
    pool.waitForDone();
    QCoreApplication::processEvents();
    QCOMPARE(delivered, QList<int>{2});
}

QTEST_GUILESS_MAIN(TestZelvoOrderedWork)
#include "tst_zelvoorderedwork.moc"
