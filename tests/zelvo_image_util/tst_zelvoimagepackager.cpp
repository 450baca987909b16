#include "Bytes.h"
#include "StdoutCapture.h"
#include "ZIImage.h"
#include "ZelvoImagePackager.h"
#include "ZelvoPacket.h"

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>
#include <QtTest>

#include <cstring>

namespace {

QByteArray randomBytes(QRandomGenerator& random, int length)
{
    QByteArray result(length, '\0');
    for (char& byte : result)
        byte = char(random.bounded(256));
    return result;
}

ZelvoPacket packetOf(const QByteArray& bytes)
{
    ZelvoPacket packet;
    std::memcpy(packet.data(), bytes.constData(), size_t(qMin(bytes.size(), ZelvoPacket::size)));
    return packet;
}

} // namespace

class TestZelvoImagePackager : public QObject
{
    Q_OBJECT

private slots:
    void packetLayout();
    void packetCount_data();
    void packetCount();
    void roundTripOfEverySize();
    void unpackRebuildsImagesBeyondTheContainerBound();
    void packRefuses_data();
    void packRefuses();
    void unpackRefuses_data();
    void unpackRefuses();
    void unpackFollowsListOrder();
    void unpackWithMissingPacketsLeavesZeros();
    void unpackIgnoresSurplusPackets();
    void randomPacketsNeverCrash();
};

void TestZelvoImagePackager::packetLayout()
{
    // The 3 x 3 all-lit ZI image.
    const ZIImage image(bytes({ '.', 'z', 'i', 0x00, 0x30, 0x03, 0xFF, 0x01 }));
    const ZelvoImagePackager packager(0x0A0B0C0D);

    const QList<ZelvoPacket> packets = packager.pack(image);

    QCOMPARE(packets.size(), 2);
    QCOMPARE(packets.at(0).toByteArray(),
             bytes({ 0x3F, 0x00, 0x00, 0x00, 0x0D, 0x0C, 0x0B, 0x0A, 0xCE, 0x72, 0x60, 0x0F, 0x08, 0x00, '.', 'z', 'i',
                     0x00, 0x30, 0x03 }));
    QCOMPARE(packets.at(1).toByteArray(), bytes({ 0x3F, 0x00, 0x01, 0x00, 0xFF, 0x01 }) + QByteArray(14, '\0'));
    QCOMPARE(packager.unpack(packets), image);
}

void TestZelvoImagePackager::packetCount_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("count");

    QTest::newRow("7 bytes") << 7 << 2;
    QTest::newRow("22 bytes") << 22 << 2;
    QTest::newRow("23 bytes") << 23 << 3;
    QTest::newRow("38 bytes") << 38 << 3;
    QTest::newRow("8640 bytes") << 8640 << 541;
}

void TestZelvoImagePackager::packetCount()
{
    QFETCH(int, size);
    QFETCH(int, count);
    const ZIImage image(QByteArray(size, 'x'));

    QList<ZelvoPacket> packets;
    const QByteArray printed = StdoutCapture::of([&] { packets = ZelvoImagePackager(1).pack(image); });

    QCOMPARE(packets.size(), count);
    QCOMPARE(printed, "\033[33mZelvoImagePackager::pack zi Image will be pack in " + QByteArray::number(count)
                 + "\033[0m\n");
    for (int i = 0; i < packets.size(); ++i) {
        QCOMPARE(packets.at(i).type(), quint8('?'));
        QCOMPARE(packets.at(i).sequenceNumber(), quint16(i));
    }
    QCOMPARE(packets.at(0).uint16FromIndex(ZelvoImagePackager::byteCountIndex), size);
}

void TestZelvoImagePackager::roundTripOfEverySize()
{
    QRandomGenerator random(8640);
    const ZelvoImagePackager packager(42);
    int firstFailure = 0;
    // Packing and unpacking print a line each; keep them out of the report.
    const QByteArray printed = StdoutCapture::of([&] {
        for (int size = 7; size <= ZIImage::maxSize && firstFailure == 0; ++size) {
            const ZIImage image(randomBytes(random, size));
            if (packager.unpack(packager.pack(image)) != image)
                firstFailure = size;
        }
    });
    QCOMPARE(firstFailure, 0);
    QVERIFY(!printed.contains("differs"));
}

void TestZelvoImagePackager::unpackRebuildsImagesBeyondTheContainerBound()
{
    ZIImage image(9000);
    std::memset(image.data(), 0x5A, 9000);
    const ZelvoImagePackager packager(7);

    const ZIImage rebuilt = packager.unpack(packager.pack(image));

    QCOMPARE(rebuilt.size(), 9000);
    QVERIFY(rebuilt == image);
}

void TestZelvoImagePackager::packRefuses_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("empty") << QByteArray() << QByteArray("\033[31mZelvoImagePackager::pack Null zi Image\033[0m\n");
    QTest::newRow("5 bytes") << QByteArray(".zi\x00\x10", 5)
                             << QByteArray("\033[31mZelvoImagePackager::pack zi Image of 5 B is too small\033[0m\n");
    QTest::newRow("6 bytes, a 0 x 5 image") << QByteArray(".zi\x00\x00\x05", 6)
                                            << QByteArray("\033[31mZelvoImagePackager::pack zi Image of 6 B is too small\033[0m\n");
}

void TestZelvoImagePackager::packRefuses()
{
    QFETCH(QByteArray, image);
    QFETCH(QByteArray, message);

    QList<ZelvoPacket> packets;
    const QByteArray printed = StdoutCapture::of([&] { packets = ZelvoImagePackager(1).pack(ZIImage(image)); });

    QVERIFY(packets.isEmpty());
    QCOMPARE(printed, message);
}

void TestZelvoImagePackager::unpackRefuses_data()
{
    QTest::addColumn<int>("packets");
    QTest::addColumn<int>("byteCount");
    QTest::addColumn<QByteArray>("message");

    const QByteArray tooFew("\033[31mZelvoImagePackager::unpack Not enougth packets\033[0m\n");
    QTest::newRow("no packet") << 0 << 20 << tooFew;
    QTest::newRow("one packet") << 1 << 20 << tooFew;
    QTest::newRow("byte count 0")
        << 3 << 0
        << QByteArray("\033[31mZIImage::alloc dataSize(0) is too small\033[0m\n"
                      "\033[31mZelvoImagePackager::unpack byte count 0 cannot hold an image\033[0m\n");
    QTest::newRow("byte count 6")
        << 3 << 6
        << QByteArray("\033[31mZIImage::alloc dataSize(6) is too small\033[0m\n"
                      "\033[31mZelvoImagePackager::unpack byte count 6 cannot hold an image\033[0m\n");
}

void TestZelvoImagePackager::unpackRefuses()
{
    QFETCH(int, packets);
    QFETCH(int, byteCount);
    QFETCH(QByteArray, message);
    QList<ZelvoPacket> list;
    for (int i = 0; i < packets; ++i)
        list.append(ZelvoPacket('?'));
    if (!list.isEmpty())
        list.first().setUint16FromIndex(ZelvoImagePackager::byteCountIndex, quint16(byteCount));

    ZIImage image;
    const QByteArray printed = StdoutCapture::of([&] { image = ZelvoImagePackager(1).unpack(list); });

    QVERIFY(image.isNull());
    QCOMPARE(printed, message);
}

void TestZelvoImagePackager::unpackFollowsListOrder()
{
    const QByteArray source = QByteArray(".zi\x01\x00\x02", 6) + QByteArray(16, 'a') + QByteArray(16, 'b');
    const ZelvoImagePackager packager(1);
    QList<ZelvoPacket> packets = packager.pack(ZIImage(source));
    QCOMPARE(packets.size(), 3);
    packets.swapItemsAt(1, 2);

    const ZIImage rebuilt = packager.unpack(packets);

    QCOMPARE(rebuilt.toByteArray(), QByteArray(".zi\x01\x00\x02", 6) + QByteArray(16, 'b') + QByteArray(16, 'a'));
}

void TestZelvoImagePackager::unpackWithMissingPacketsLeavesZeros()
{
    const QByteArray source = QByteArray(".zi\x01\x00\x02", 6) + QByteArray(40, 'c');
    const ZelvoImagePackager packager(1);
    QList<ZelvoPacket> packets = packager.pack(ZIImage(source));
    QCOMPARE(packets.size(), 4);
    packets.removeLast();

    ZIImage rebuilt;
    const QByteArray printed = StdoutCapture::of([&] { rebuilt = packager.unpack(packets); });

    QCOMPARE(rebuilt.toByteArray(), QByteArray(".zi\x01\x00\x02", 6) + QByteArray(32, 'c') + QByteArray(8, '\0'));
    QVERIFY(printed.contains("differs from the header's"));
}

void TestZelvoImagePackager::unpackIgnoresSurplusPackets()
{
    const ZIImage image(QByteArray(".zi\x00\x30\x03\xFF\x01", 8));
    const ZelvoImagePackager packager(1);
    QList<ZelvoPacket> packets = packager.pack(image);
    packets.append(packetOf(QByteArray(20, '\x77')));

    QCOMPARE(packager.unpack(packets), image);
}

void TestZelvoImagePackager::randomPacketsNeverCrash()
{
    QRandomGenerator random(63);
    const ZelvoImagePackager packager(1);
    QByteArray firstMismatch;
    StdoutCapture::of([&] {
        for (int round = 0; round < 500 && firstMismatch.isEmpty(); ++round) {
            QList<ZelvoPacket> packets;
            const int count = int(random.bounded(6));
            for (int i = 0; i < count; ++i)
                packets.append(packetOf(randomBytes(random, ZelvoPacket::size)));

            const ZIImage image = packager.unpack(packets);

            const int byteCount = count > 0 ? packets.first().uint16FromIndex(ZelvoImagePackager::byteCountIndex) : 0;
            const bool rebuilt = count >= 2 && byteCount >= ZIImage::minAllocSize;
            const QByteArray header = packets.value(0).toByteArray().mid(ZelvoImagePackager::headerBytesIndex);
            if (image.size() != (rebuilt ? byteCount : 0) || (rebuilt && image.toByteArray().left(6) != header))
                firstMismatch = packets.value(0).toByteArray().toHex();
        }
    });
    QCOMPARE(firstMismatch, QByteArray());
}

QTEST_GUILESS_MAIN(TestZelvoImagePackager)
#include "tst_zelvoimagepackager.moc"
