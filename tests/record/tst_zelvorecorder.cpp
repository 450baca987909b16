#include "record/ZelvoRecorder.h"

#include <QSignalSpy>
#include <QTest>

class tst_ZelvoRecorder : public QObject
{
    Q_OBJECT

private slots:
    void ring_data();
    void ring();
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

// Frames may carry megabytes each: the ring keeps its facts, but not
// thousands of payloads.
void tst_ZelvoRecorder::payloadsStayWithinBudget()
{
    ZelvoRecorder recorder;
    const QByteArray payload(8 * 1024 * 1024, 'x');
    for (int i = 0; i < 20; ++i) {
        ZelvoRecord record(ZelvoRecord::Direction::In, ZelvoRecord::Kind::FrameReceived, ZelvoRecord::Outcome::Info);
        record.payload = QByteArray(payload.constData(), payload.size());
        recorder.append(record);
    }
    QVERIFY(recorder.payloadBytes() <= ZelvoRecorder::payloadBudget);
    QCOMPARE(recorder.size(), 20);
    QCOMPARE(recorder.at(19).payload.size(), payload.size());
    QVERIFY(recorder.at(0).payload.isEmpty());
}

QTEST_GUILESS_MAIN(tst_ZelvoRecorder)
#include "tst_zelvorecorder.moc"
