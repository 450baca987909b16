#include "StdoutCapture.h"
#include "ZelvoPacket.h"

#include <QByteArray>
#include <QtTest>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int value : values)
        result += char(value);
    return result;
}

} // namespace

class TestZelvoPacket : public QObject
{
    Q_OBJECT

private slots:
    void constructionZeroFills();
    void typeKeepsLowByte_data();
    void typeKeepsLowByte();
    void uint16Field();
    void uint32Field();
    void uint16Range_data();
    void uint16Range();
    void uint32Range_data();
    void uint32Range();
    void sequenceNumbers();
    void userByte();
    void copies();
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

void TestZelvoPacket::uint16Range_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("valid");

    QTest::newRow("-1") << -1 << false;
    QTest::newRow("0") << 0 << true;
    QTest::newRow("18") << 18 << true;
    QTest::newRow("19") << 19 << false;
    QTest::newRow("20") << 20 << false;
    QTest::newRow("INT_MIN") << INT_MIN << false;
}

void TestZelvoPacket::uint16Range()
{
    QFETCH(int, index);
    QFETCH(bool, valid);
    ZelvoPacket packet(63);
    const QByteArray before = packet.toByteArray();

    const QByteArray setPrinted = StdoutCapture::of([&] { packet.setUint16FromIndex(index, 0xABCD); });
    int value = 0;
    const QByteArray getPrinted = StdoutCapture::of([&] { value = packet.uint16FromIndex(index); });

    const QByteArray number = QByteArray::number(index);
    QCOMPARE(setPrinted, valid ? QByteArray() : "ZelvoPacket::setUint16FromIndex index(" + number + ") out of range\n");
    QCOMPARE(getPrinted, valid ? QByteArray() : "ZelvoPacket::uint16FromIndex index(" + number + ") out of range\n");
    QCOMPARE(value, valid ? 0xABCD : -1);
    if (!valid)
        QCOMPARE(packet.toByteArray(), before);
}

void TestZelvoPacket::uint32Range_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("valid");

    QTest::newRow("-1") << -1 << false;
    QTest::newRow("0") << 0 << true;
    QTest::newRow("16") << 16 << true;
    QTest::newRow("17") << 17 << false;
    QTest::newRow("19") << 19 << false;
}

void TestZelvoPacket::uint32Range()
{
    QFETCH(int, index);
    QFETCH(bool, valid);
    ZelvoPacket packet(63);
    const QByteArray before = packet.toByteArray();

    const QByteArray setPrinted = StdoutCapture::of([&] { packet.setUint32FromIndex(index, 0xDEADBEEF); });
    qint64 value = 0;
    const QByteArray getPrinted = StdoutCapture::of([&] { value = packet.uint32FromIndex(index); });

    const QByteArray number = QByteArray::number(index);
    QCOMPARE(setPrinted, valid ? QByteArray() : "ZelvoPacket::setUint32FromIndex index(" + number + ") out of range\n");
    QCOMPARE(getPrinted, valid ? QByteArray() : "ZelvoPacket::uint32FromIndex index(" + number + ") out of range\n");
    QCOMPARE(value, valid ? qint64(0xDEADBEEF) : qint64(-1));
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

void TestZelvoPacket::copies()
{
    ZelvoPacket packet(63);
    packet.setUint32FromIndex(8, 0x01020304);
    ZelvoPacket copy(packet);
    ZelvoPacket assigned;
    assigned = packet;
    packet.setUint32FromIndex(8, 0);

    QCOMPARE(copy.uint32FromIndex(8), qint64(0x01020304));
    QCOMPARE(assigned.toByteArray(), copy.toByteArray());
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
