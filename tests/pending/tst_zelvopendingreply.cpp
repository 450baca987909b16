#include "pending/ZelvoPendingReply.h"

#include "clock/ZelvoClock.h"

#include <QPointer>
#include <QSignalSpy>
#include <QStringList>
#include <QTest>

#include <memory>

class TestZelvoPendingReply final : public QObject
{
    Q_OBJECT

private slots:
    void endsExactlyOnce_data();
    void endsExactlyOnce();
};

// What happens to a reply waiting 1000 ms of device time, with 5000 ms of
// a paused clock passed on it, in this order: its result now or from the
// event loop, the clock run until its time-out, a cancel, its client or
// its parent gone.
void TestZelvoPendingReply::endsExactlyOnce_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<qint64>("clockEnd");

    const QStringList none;
    QTest::newRow("result") << QStringList{"result"} << QStringList{"result"} << qint64(0);
    QTest::newRow("result from the loop") << QStringList{"later"} << QStringList{"later"} << qint64(0);
    QTest::newRow("time-out") << QStringList{"time-out"} << QStringList{"time-out"} << qint64(1000);
    QTest::newRow("cancel") << QStringList{"cancel"} << QStringList{"cancel"} << qint64(0);
    QTest::newRow("client gone") << QStringList{"client gone"} << QStringList{"cancel"} << qint64(0);
    QTest::newRow("parent gone") << QStringList{"parent gone"} << none << qint64(0);
    QTest::newRow("result, result") << QStringList{"result", "result"} << QStringList{"result"} << qint64(0);
    QTest::newRow("cancel, result") << QStringList{"cancel", "result"} << QStringList{"cancel"} << qint64(0);
    QTest::newRow("result, cancel, client gone")
        << QStringList{"result", "cancel", "client gone"} << QStringList{"result"} << qint64(0);
    QTest::newRow("result from the loop, cancel, time-out")
        << QStringList{"later", "cancel", "time-out"} << QStringList{"later"} << qint64(1000);
    QTest::newRow("time-out, result, cancel")
        << QStringList{"time-out", "result", "cancel"} << QStringList{"time-out"} << qint64(1000);
}

void TestZelvoPendingReply::endsExactlyOnce()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, answers);
    QFETCH(qint64, clockEnd);

    ZelvoClock clock(ZelvoClock::Mode::Manual);
    auto parent = std::make_unique<QObject>();
    auto client = std::make_unique<QObject>();
    QStringList answered;
    const auto answer = [&answered](const QString& name) { return [&answered, name] { answered.append(name); }; };
    QPointer<ZelvoPendingReply> pending = new ZelvoPendingReply(parent.get());
    QSignalSpy finished(pending.data(), &ZelvoPendingReply::finished);
    connect(client.get(), &QObject::destroyed, pending, &ZelvoPendingReply::cancel);
    pending->setCancelAnswer(answer("cancel"));
    pending->expireAfter(1000, answer("time-out"), &clock);
    pending->passManualTime(&clock, 5000);

    for (const QString& step : qAsConst(steps)) {
        if (step == "time-out") {
            // The clock runs to the time-out unless the reply has ended,
            // and stops there; pushed on, it fires what is left.
            QTRY_VERIFY(!clock.isAdvancing());
            QVERIFY(clock.advance(1000 - clock.now()));
        } else if (step == "client gone") {
            client.reset();
        } else if (step == "parent gone") {
            parent.reset();
        } else if (pending && step == "result") {
            pending->finish(answer("result"));
        } else if (pending && step == "later") {
            pending->finishLater(answer("later"));
        } else if (pending && step == "cancel") {
            pending->cancel();
        }
    }
    QTRY_VERIFY(pending.isNull());
    QTRY_VERIFY(!clock.isAdvancing());
    QCOMPARE(answered, answers);
    QCOMPARE(finished.count(), answers.size());
    QCOMPARE(clock.now(), clockEnd);
}

QTEST_GUILESS_MAIN(TestZelvoPendingReply)
#include "tst_zelvopendingreply.moc"
