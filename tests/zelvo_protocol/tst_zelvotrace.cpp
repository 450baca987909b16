#include "ZelvoTrace.h"
#include "ZelvoTraceParser.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTest>

class TestZelvoTrace final : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
};

void TestZelvoTrace::parse_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<int>("readings");
    QTest::addColumn<QString>("error");

    QTest::newRow("header and two readings")
        << QByteArray("milliseconds,sensor,v0,v1,v2\n0,compass,1,2,3\n10,light,4\n") << 2 << QString();
    QTest::newRow("comments, blank lines, CRLF, spaces")
        << QByteArray("# walk\r\n\r\n 0 , accelerometer , 1 , 2 , 3 \r\n5,battery,80,,\r\n") << 2 << QString();
    QTest::newRow("equal times") << QByteArray("7,light,1\n7,light,2\n") << 2 << QString();
    QTest::newRow("empty") << QByteArray() << 0 << QString();
    QTest::newRow("negative time") << QByteArray("-1,light,1\n") << 0 << "line 1: '-1' is not a time";
    QTest::newRow("header twice") << QByteArray("ms,sensor,v\nms,sensor,v\n") << 0 << "line 2: 'ms' is not a time";
    QTest::newRow("unknown sensor") << QByteArray("0,light,1\n5,altimeter,1\n") << 0 << "line 2: unknown sensor 'altimeter'";
    QTest::newRow("compass one value") << QByteArray("0,compass,1\n") << 0 << "line 1: compass needs 3 values";
    QTest::newRow("six fields") << QByteArray("0,compass,1,2,3,4\n") << 0 << "line 1: expected milliseconds";
    QTest::newRow("value nan") << QByteArray("0,light,nan\n") << 0 << "line 1: 'nan' is not a finite number";
    QTest::newRow("value text") << QByteArray("0,light,bright\n") << 0 << "line 1: 'bright' is not a finite number";
    QTest::newRow("value of a million digits") << "0,light," + QByteArray(1 << 20, '7') << 0
                                               << "line 1: '77777777777777777777777777777777...' (1048576 characters)";
    QTest::newRow("battery 150") << QByteArray("0,battery,150\n") << 0 << "line 1: battery takes a whole percent";
    QTest::newRow("battery -3") << QByteArray("0,battery,-3\n") << 0 << "line 1: battery takes a whole percent";
    QTest::newRow("battery 50.5") << QByteArray("0,battery,50.5\n") << 0 << "line 1: battery takes a whole percent";
    QTest::newRow("time goes back") << QByteArray("10,light,1\n\n5,light,1\n") << 0
                                    << "line 3: time 5 comes before the previous reading's 10";
}

void TestZelvoTrace::parse()
{
    QFETCH(QByteArray, csv);
    QFETCH(int, readings);
    QFETCH(QString, error);

    ZelvoTrace::Readings parsed;
    QString reason;
    QCOMPARE(ZelvoTrace::parse(csv, &parsed, &reason), error.isEmpty());
    QVERIFY2(reason.startsWith(error), qPrintable(reason));
    // However long the bad value, the error stays a line.
    QVERIFY2(reason.size() < 120, qPrintable(reason.left(200)));
    if (error.isEmpty())
        QCOMPARE(int(parsed.size()), readings);

    // Read a piece at a time, a line cut anywhere, it reads the same.
    for (const int pieceSize : {1, 3, 4096}) {
        ZelvoTraceParser parser;
        bool ok = true;
        for (int from = 0; ok && from < csv.size(); from += pieceSize)
            ok = parser.add(csv.mid(from, pieceSize));
        ok = ok && parser.finish();
        QCOMPARE(ok, error.isEmpty());
        QCOMPARE(parser.error(), reason);
        if (ok)
            QCOMPARE(int(parser.takeReadings().size()), readings);
    }
}

QTEST_GUILESS_MAIN(TestZelvoTrace)
#include "tst_zelvotrace.moc"
