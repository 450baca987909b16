#include "ZelvoFrameReader.h"

#include "HandFrames.h"
#include "ZelvoFrameBudget.h"

#include <QBuffer>
#include <QByteArray>
#include <QIODevice>
#include <QList>
#include <QtTest>

#include <memory>

namespace {

using HandFrames::frame;
using HandFrames::header;
using HandFrames::split;

QList<QByteArray> takeAll(ZelvoFrameReader& reader)
{
    QList<QByteArray> payloads;
    while (reader.hasPayload())
        payloads << reader.takePayload();
    return payloads;
}

} // namespace

class TestZelvoFrameReader final : public QObject
{
    Q_OBJECT

private slots:
    void framing_data();
    void framing();
    void frameSizeLimit_data();
    void frameSizeLimit();
    void readFromLeavesTheNextFrame();
    void largePayloadFromDevice();
    void sharedBudgetRefusesGrowth();
    void copiesLinearInSize_data();
    void copiesLinearInSize();
};

void TestZelvoFrameReader::framing_data()
{
    QTest::addColumn<QList<QByteArray>>("writes");
    // How many payloads are out after each write.
    QTest::addColumn<QList<int>>("counts");
    QTest::addColumn<QList<QByteArray>>("expected");

    const QByteArray action = "{\"command.type\": \"zelvo_config\"}";
    const QByteArray whole = frame(action);
    QList<int> oneByOne = QVector<int>(whole.size() - 1, 0).toList();
    oneByOne << 1;
    QTest::newRow("one byte at a time") << split(whole, 1) << oneByOne << QList<QByteArray>{action};
    QTest::newRow("header in two writes") << QList<QByteArray>{whole.left(2), whole.mid(2)} << QList<int>{0, 1}
                                          << QList<QByteArray>{action};
    QTest::newRow("payload in two writes") << QList<QByteArray>{whole.left(10), whole.mid(10)} << QList<int>{0, 1}
                                           << QList<QByteArray>{action};
    QTest::newRow("three frames in one write") << QList<QByteArray>{frame("first") + frame("2") + frame("third")}
                                               << QList<int>{3} << QList<QByteArray>{"first", "2", "third"};
    QTest::newRow("two frames and a half, then the rest")
        << QList<QByteArray>{frame("one") + frame("two") + frame("three").left(6), frame("three").mid(6)}
        << QList<int>{2, 3} << QList<QByteArray>{"one", "two", "three"};
    QTest::newRow("length 0 then a frame") << QList<QByteArray>{header(0) + frame("next")} << QList<int>{2}
                                           << QList<QByteArray>{QByteArray(), "next"};
    QTest::newRow("prefix 0x80000000 then a frame") << QList<QByteArray>{header(0x80000000) + frame("next")}
                                                    << QList<int>{2} << QList<QByteArray>{QByteArray(), "next"};
    QTest::newRow("prefix 0xffffffff then a frame") << QList<QByteArray>{header(0xffffffff) + frame("next")}
                                                    << QList<int>{2} << QList<QByteArray>{QByteArray(), "next"};
    QTest::newRow("binary payload") << QList<QByteArray>{frame(QByteArray("\0\xff\0\x01", 4))} << QList<int>{1}
                                    << QList<QByteArray>{QByteArray("\0\xff\0\x01", 4)};
}

void TestZelvoFrameReader::framing()
{
    QFETCH(QList<QByteArray>, writes);
    QFETCH(QList<int>, counts);
    QFETCH(QList<QByteArray>, expected);

    ZelvoFrameReader reader;
    QList<QByteArray> delivered;
    for (int i = 0; i < writes.size(); ++i) {
        QVERIFY(reader.append(writes.at(i)));
        // No payload waits for more input.
        delivered << takeAll(reader);
        QCOMPARE(delivered.size(), counts.at(i));
    }
    QCOMPARE(delivered, expected);
    QVERIFY(!reader.inFrame());
}

void TestZelvoFrameReader::frameSizeLimit_data()
{
    QTest::addColumn<qint64>("length");
    QTest::addColumn<bool>("delivered");

    QTest::newRow("64 MiB") << qint64(64 * 1024 * 1024) << true;
    QTest::newRow("64 MiB and one byte") << qint64(64 * 1024 * 1024 + 1) << false;
}

void TestZelvoFrameReader::frameSizeLimit()
{
    QFETCH(qint64, length);
    QFETCH(bool, delivered);

    ZelvoFrameReader reader;
    if (!delivered) {
        const QString warning = QStringLiteral(
            "\033[31mZelvoSocket::readPkg FRAME OF %1 BYTES IS OVER THE LIMIT OF 67108864 BYTES, SKIPPING IT\033[0m");
        QTest::ignoreMessage(QtWarningMsg, qPrintable(warning.arg(length)));
    }

    const QByteArray big(int(length), 'z');
    // In pieces, as a socket brings them.
    for (const QByteArray& piece : split(header(length) + big + frame("next"), 1 << 20))
        QVERIFY2(reader.append(piece), qPrintable(reader.error()));
    const QList<QByteArray> received = takeAll(reader);
    QCOMPARE(received.size(), delivered ? 2 : 1);
    QCOMPARE(received.last(), QByteArray("next"));
    if (delivered)
        QVERIFY(received.first() == big);
}

void TestZelvoFrameReader::readFromLeavesTheNextFrame()
{
    QByteArray bytes = frame("first") + frame("second");
    QBuffer device(&bytes);
    QVERIFY(device.open(QIODevice::ReadOnly));
    ZelvoFrameReader reader;

    QVERIFY(reader.readFrom(&device));
    QCOMPARE(reader.bytesWanted(), qint64(5));
    QVERIFY(reader.readFrom(&device));
    QCOMPARE(takeAll(reader), QList<QByteArray>{"first"});
    QCOMPARE(device.bytesAvailable(), qint64(4 + 6));
}

// A payload of megabytes comes out whole, in one buffer without slack, from
// one read of everything the device has; the next frame stays in the device
// and the budget gets back all the frame held.
void TestZelvoFrameReader::largePayloadFromDevice()
{
    QByteArray payload(5 * 512 * 1024 + 3, Qt::Uninitialized);
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char(i % 251);
    QByteArray bytes = frame(payload) + frame("next");
    QBuffer device(&bytes);
    QVERIFY(device.open(QIODevice::ReadOnly));
    auto budget = std::make_shared<ZelvoFrameBudget>();
    ZelvoFrameReader reader(budget);

    QVERIFY(reader.readFrom(&device));
    QVERIFY(reader.readFrom(&device));
    QVERIFY(reader.hasPayload());
    const QByteArray taken = reader.takePayload();
    QVERIFY(taken == payload);
    QCOMPARE(taken.capacity(), taken.size());
    QCOMPARE(budget->held(), qint64(0));
    QCOMPARE(device.bytesAvailable(), qint64(4 + 4));
}

// Readers sharing a budget: the one whose frame would take it past the
// bound fails and drops its frame; what each held goes back to the budget.
void TestZelvoFrameReader::sharedBudgetRefusesGrowth()
{
    constexpr int frameBytes = 2 * 1024 * 1024;
    constexpr int partBytes = 600 * 1024;
    auto budget = std::make_shared<ZelvoFrameBudget>(1024 * 1024);
    ZelvoFrameReader first(budget);
    ZelvoFrameReader second(budget);
    const QByteArray part = header(frameBytes) + QByteArray(partBytes, 'x');

    QVERIFY(first.append(part));
    const qint64 heldByFirst = budget->held();
    QVERIFY(heldByFirst >= partBytes);
    QVERIFY(!second.append(part));
    QVERIFY2(second.error().contains(QStringLiteral("OVER 1048576 BYTES")), qPrintable(second.error()));
    QVERIFY(!second.inFrame());
    QCOMPARE(budget->held(), heldByFirst);

    first.clear();
    QCOMPARE(budget->held(), qint64(0));
}

void TestZelvoFrameReader::copiesLinearInSize_data()
{
    QTest::addColumn<int>("pieceSize");
    QTest::newRow("one byte") << 1;
    QTest::newRow("1000 bytes") << 1000;
    QTest::newRow("a megabyte and one byte") << 1024 * 1024 + 1;
    QTest::newRow("all at once") << 0;
}

// A frame of megabytes in small pieces costs what it costs in one: each
// byte copied into the buffer, and at most once more as the buffer grows.
// Growing by what each piece needs would copy the frame once per piece.
void TestZelvoFrameReader::copiesLinearInSize()
{
    QFETCH(int, pieceSize);
    QByteArray payload(3 * 1024 * 1024 + 17, Qt::Uninitialized);
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char(i % 253);
    const QByteArray bytes = frame(payload);
    const int piece = pieceSize > 0 ? pieceSize : bytes.size();
    ZelvoFrameReader reader;

    for (int at = 0; at < bytes.size(); at += piece)
        QVERIFY(reader.append(QByteArray::fromRawData(bytes.constData() + at, qMin(piece, bytes.size() - at))));

    QVERIFY(reader.hasPayload());
    QVERIFY(reader.takePayload() == payload);
    QVERIFY2(reader.bytesCopied() <= 2 * qint64(payload.size()),
             qPrintable(QStringLiteral("%1 bytes copied").arg(reader.bytesCopied())));
}

QTEST_GUILESS_MAIN(TestZelvoFrameReader)
#include "tst_zelvoframereader.moc"
