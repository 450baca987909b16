#include "Bytes.h"
#include "StdoutCapture.h"
#include "ZelvoPacket.h"

#include <QByteArray>
#include <QtTest>

class TestZelvoPacket : public QObject
{
    Q_OBJECT

private slots:
    void constructionZeroFills();
    void typeKeepsLowByte_data();
    void typeKeepsLowByte();
    void uint16Field();
    void uint32Field();
    void fieldRange_data();
    void fieldRange();
    void sequenceNumbers();
    void userByte();
    void dump();
};

void TestZelvoPacket::constructionZeroFills()
{
    QCOMPARE(ZelvoPacket().toByteArray(), QByteArray(20, '\0'));
}

void TestZelvoPacket::typeKeepsLowByte_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("stored");

    QTest::newRow("63") << 63 << 63;
    QTest::newRow("255") << 255 << 255;
    QTest::newRow("0x13F") << 0x13F << 0x3F;
    QTest::newRow("-1") << -1 << 0xFF;
}

void TestZelvoPacket::typeKeepsLowByte()
{
    QFETCH(int, type);
    QFETCH(int, stored);
    const ZelvoPacket packet(type);
    QCOMPARE(int(packet.type()), stored);
    QCOMPARE(packet.toByteArray(), char(stored) + QByteArray(19, '\0'));
}

void TestZelvoPacket::uint16Field()
{
    ZelvoPacket packet(63);
    packet.setUint16FromIndex(2, 0x1234);

    QCOMPARE(packet.toByteArray(), bytes({ 0x3F, 0x00, 0x34, 0x12 }) + QByteArray(16, '\0'));
    QCOMPARE(packet.uint16FromIndex(2), 0x1234);
    QCOMPARE(packet.uint16FromIndex(1), 0x3400);
    QCOMPARE(packet.sequenceNumber(), quint16(0x1234));
}

void TestZelvoPacket::uint32Field()
{
    ZelvoPacket packet;
    packet.setUint32FromIndex(16, 0x11223344);
    packet.setUint32FromIndex(0, 0xFFEEDDCC);

    QCOMPARE(packet.toByteArray(),
             bytes({ 0xCC, 0xDD, 0xEE, 0xFF }) + QByteArray(12, '\0') + bytes({ 0x44, 0x33, 0x22, 0x11 }));
    QCOMPARE(packet.uint32FromIndex(16), qint64(0x11223344));
    QCOMPARE(packet.uint32FromIndex(0), qint64(0xFFEEDDCC));
    QCOMPARE(packet.uint16FromIndex(18), 0x1122);
}

void TestZelvoPacket::fieldRange_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("valid");

    QTest::newRow("16 bits at -1") << 16 << -1 << false;
    QTest::newRow("16 bits at 0") << 16 << 0 << true;
    QTest::newRow("16 bits at 18") << 16 << 18 << true;
    QTest::newRow("16 bits at 19") << 16 << 19 << false;
    QTest::newRow("16 bits at INT_MIN") << 16 << INT_MIN << false;
    QTest::newRow("32 bits at -1") << 32 << -1 << false;
    QTest::newRow("32 bits at 0") << 32 << 0 << true;
    QTest::newRow("32 bits at 16") << 32 << 16 << true;
    QTest::newRow("32 bits at 17") << 32 << 17 << false;
    QTest::newRow("32 bits at 20") << 32 << 20 << false;
}

void TestZelvoPacket::fieldRange()
{
    QFETCH(int, bits);
    QFETCH(int, index);
    QFETCH(bool, valid);
    ZelvoPacket packet(63);
    const QByteArray before = packet.toByteArray();
    const qint64 stored = bits == 16 ? 0xABCD : 0xDEADBEEF;

    const QByteArray setPrinted = StdoutCapture::of([&] {
        if (bits == 16)
            packet.setUint16FromIndex(index, quint16(stored));
        else
            packet.setUint32FromIndex(index, quint32(stored));
    });
    qint64 value = 0;
    const QByteArray getPrinted = StdoutCapture::of([&] {
        value = bits == 16 ? packet.uint16FromIndex(index) : packet.uint32FromIndex(index);
    });

    const QByteArray field = "Uint" + QByteArray::number(bits) + "FromIndex index(" + QByteArray::number(index) + ")";
    QCOMPARE(setPrinted, valid ? QByteArray() : "ZelvoPacket::set" + field + " out of range\n");
    const QByteArray getter = bits == 16 ? "ZelvoPacket::u" + field.mid(1)
                                         : "ZelvoPacket::setUint16FromIndex index(" + QByteArray::number(index) + ")";
    QCOMPARE(getPrinted, valid ? QByteArray() : getter + " out of range\n");
    QCOMPARE(value, valid ? stored : qint64(-1));
    if (!valid)
        QCOMPARE(packet.toByteArray(), before);
}

void TestZelvoPacket::sequenceNumbers()
{
    ZelvoPacket packet(63);

    QCOMPARE(StdoutCapture::of([&] { packet.setSequenceNumber(quint16(4660)); }),
             QByteArray("ZelvoPacket::setSequenceNumber  4660"));
    QCOMPARE(StdoutCapture::of([&] { packet.setSequenceNumber(quint32(0x11223344)); }),
             QByteArray("ZelvoPacket::setSequenceNumber  11223344"));

    QCOMPARE(packet.sequenceNumber(), quint16(4660));
    QCOMPARE(packet.imageIdField(), quint32(0x11223344));
    QCOMPARE(packet.toByteArray().mid(2, 6), bytes({ 0x34, 0x12, 0x44, 0x33, 0x22, 0x11 }));
}

void TestZelvoPacket::userByte()
{
    ZelvoPacket packet(63);
    packet.setUserByte(0xA5);
    QCOMPARE(packet.userByte(), quint8(0xA5));
    QCOMPARE(packet.toByteArray().left(3), bytes({ 0x3F, 0xA5, 0x00 }));
}

void TestZelvoPacket::dump()
{
    ZelvoPacket packet(63);
    packet.setUint16FromIndex(2, 0x1234);
    packet.setUint32FromIndex(16, 0xFF00AB10);

    QCOMPARE(StdoutCapture::of([&] { packet.dump(); }),
             QByteArray("ZIImage 3f 0 34 12 0 0 0 0 0 0 0 0 0 0 0 0 10 ab 0 ff\n"));
}

QTEST_GUILESS_MAIN(TestZelvoPacket)
#include "tst_zelvopacket.moc"
