#include "record/ZelvoRecorder.h"

#include <QSignalSpy>
#include <QTest>

class tst_ZelvoRecorder : public QObject
{
    Q_OBJECT

private slots:
    void ring_data();
    void ring();
    void payloadsStayWithinBudget_data();
    void payloadsStayWithinBudget();
};

void tst_ZelvoRecorder::ring_data()
{
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("appended");
    QTest::addColumn<quint64>("since");
    QTest::addColumn<int>("kept");
    QTest::addColumn<int>("returned");

    QTest::newRow("3 into 5, since 0") << 5 << 3 << quint64(0) << 3 << 3;
    QTest::newRow("3 into 5, since 2") << 5 << 3 << quint64(2) << 3 << 1;
    QTest::newRow("12 into 5, since 0") << 5 << 12 << quint64(0) << 5 << 5;
    QTest::newRow("12 into 5, since 9") << 5 << 12 << quint64(9) << 5 << 3;
    QTest::newRow("12 into 5, since 12") << 5 << 12 << quint64(12) << 5 << 0;
    QTest::newRow("12 into 5, since 40") << 5 << 12 << quint64(40) << 5 << 0;
}

void tst_ZelvoRecorder::ring()
{
    QFETCH(int, capacity);
    QFETCH(int, appended);
    QFETCH(quint64, since);
    QFETCH(int, kept);
    QFETCH(int, returned);

    ZelvoRecorder recorder(capacity);
    QSignalSpy dropped(&recorder, &ZelvoRecorder::oldestDropped);
    for (int i = 0; i < appended; ++i) {
        ZelvoRecord record(ZelvoRecord::Direction::In, ZelvoRecord::Kind::AgentContent, ZelvoRecord::Outcome::Drawn);
        record.contentId = i + 1;
        QCOMPARE(recorder.append(record), quint64(i + 1));
    }
    QCOMPARE(recorder.size(), kept);
    QCOMPARE(dropped.count(), appended - kept);
    QCOMPARE(recorder.at(kept - 1).contentId, appended);
    QCOMPARE(recorder.at(0).sequence, quint64(appended - kept + 1));

    const QVector<ZelvoRecord> records = recorder.since(since);
    QCOMPARE(records.size(), returned);
    for (int i = 0; i < records.size(); ++i)
        QCOMPARE(records.at(i).sequence, quint64(appended - returned + 1 + i));
}

void tst_ZelvoRecorder::payloadsStayWithinBudget_data()
{
    QTest::addColumn<int>("payloadBytes");
    QTest::addColumn<int>("appended");
    QTest::addColumn<int>("newestKept");
    QTest::addColumn<int>("oldestKept");

    constexpr int whole = int(ZelvoRecorder::wholePayloadBytes);
    QTest::newRow("100 of 1 MiB") << whole << 100 << whole << 0;
    QTest::newRow("20 of 8 MiB") << 8 * whole << 20 << ZelvoRecorder::payloadStartBytes
                                 << ZelvoRecorder::payloadStartBytes;
}

// Frames may carry megabytes each: the ring keeps its facts, but not
// thousands of payloads, nor a large one whole once it was appended.
void tst_ZelvoRecorder::payloadsStayWithinBudget()
{
    QFETCH(int, payloadBytes);
    QFETCH(int, appended);
    QFETCH(int, newestKept);
    QFETCH(int, oldestKept);

    ZelvoRecorder recorder;
    QVector<int> seen;
    connect(&recorder, &ZelvoRecorder::appended, this,
            [&seen](const ZelvoRecord& record) { seen.append(record.payload.size()); });
    for (int i = 0; i < appended; ++i) {
        ZelvoRecord record(ZelvoRecord::Direction::In, ZelvoRecord::Kind::FrameReceived, ZelvoRecord::Outcome::Info);
        record.payload = QByteArray(payloadBytes, char('a' + i % 26));
        record.size = payloadBytes;
        recorder.append(record);
    }
    QCOMPARE(seen, QVector<int>(appended, payloadBytes));
    QVERIFY(recorder.payloadBytes() <= ZelvoRecorder::payloadBudget);
    QCOMPARE(recorder.size(), appended);
    const QByteArray newest = recorder.at(appended - 1).payload;
    QCOMPARE(newest.size(), newestKept);
    QCOMPARE(newest, QByteArray(newestKept, char('a' + (appended - 1) % 26)));
    QCOMPARE(recorder.at(0).payload.size(), oldestKept);
}

QTEST_GUILESS_MAIN(tst_ZelvoRecorder)
#include "tst_zelvorecorder.moc"
