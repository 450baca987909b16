#include "Bytes.h"
#include "Pictures.h"
#include "StdoutCapture.h"
#include "ZIImage.h"
#include "ZIImageUtil.h"

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QSize>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <memory>

namespace {

QByteArray zi(std::initializer_list<int> values)
{
    return QByteArray(".zi") + bytes(values);
}

// A byte array whose heap block ends exactly at its last byte, so that the
// sanitizers see any read past it.
class ExactBytes final
{
public:
    explicit ExactBytes(const QByteArray& bytes)
        : block(new char[size_t(qMax(bytes.size(), 1))])
    {
        std::memcpy(block.get(), bytes.constData(), size_t(bytes.size()));
        view = QByteArray::fromRawData(block.get(), bytes.size());
    }
    const QByteArray& bytes() const { return view; }

private:
    std::unique_ptr<char[]> block;
    QByteArray view;
};

int countLit(const QImage& image)
{
    int lit = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            lit += line[x] == Green;
    }
    return lit;
}

} // namespace

class TestZIImageUtil : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void decode_data();
    void decode();
    void refusals_data();
    void refusals();
    void hostileHeaderReadsOnlyItsInput();
    void randomBytesDecodeLikeTheFormatSays();
    void decodeFile();
    void decodeMissingFile();
    void encode_data();
    void encode();
    void header_data();
    void header();
    void tooLarge_data();
    void tooLarge();
    void colourRule_data();
    void colourRule();
    void encodeFormats_data();
    void encodeFormats();
    void roundTrip_data();
    void roundTrip();
    void mono_data();
    void mono();
    void monoKeepsShapes();
    void dither_data();
    void dither();
};

void TestZIImageUtil::cleanup()
{
    QLoggingCategory::setFilterRules(QString());
}

void TestZIImageUtil::decode_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("8 x 2, first pixel lit") << zi({ 0x00, 0x80, 0x02, 0x01, 0x00, 0x00, 0x00 })
                                            << QStringList { "#.......", "........" };
    QTest::newRow("3 x 3 cross, rows sharing a byte, 2 extra bytes")
        << zi({ 0x00, 0x30, 0x03, 0x55, 0x01, 0xFF, 0xFF }) << QStringList { "#.#", ".#.", "#.#" };
    QTest::newRow("5 x 2, second row from bit 5") << zi({ 0x00, 0x50, 0x02, 0xD1, 0x03, 0x00, 0x00 })
                                                  << QStringList { "#...#", ".####" };
    QTest::newRow("8 x 8 with 4 of 8 pixel bytes")
        << zi({ 0x00, 0x80, 0x08, 0xFF, 0x01, 0x80, 0xAA })
        << QStringList { "########", "#.......", ".......#", ".#.#.#.#", "........", "........", "........", "........" };
    QTest::newRow("20 x 2 with 4 of 5 pixel bytes, data ends mid-row")
        << zi({ 0x01, 0x40, 0x02, 0xFF, 0x00, 0xF0, 0x05 })
        << QStringList { "########............", "#####.#............." };
}

void TestZIImageUtil::decode()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, rows);
    const ExactBytes exact(bytes);

    const QImage image = ZIImageUtil::ziUncompress(exact.bytes());

    QCOMPARE(image.format(), QImage::Format_RGB32);
    QCOMPARE(pattern(image), rows);
}

void TestZIImageUtil::refusals_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("message");

    const QByteArray tooShort("\033[31mZIImageUtil::ziUncompress NoT enought bytes!!!\033[0m");
    const QByteArray notZi("\033[31mZIImageUtil::ziUncompress NoT a .zi image!!!\033[0m");
    QTest::newRow("empty") << QByteArray() << tooShort;
    QTest::newRow("complete 4 x 4 image, 8 bytes") << zi({ 0x00, 0x40, 0x04, 0xFF, 0xFF }) << tooShort;
    QTest::newRow("9 bytes") << zi({ 0x00, 0x80, 0x02, 0x01, 0x00, 0x00 }) << tooShort;
    QTest::newRow(".Zi") << QByteArray(".Zi\x00\x80\x02\x01\x00\x00\x00", 10) << notZi;
    QTest::newRow("-zi") << QByteArray("-zi\x00\x80\x02\x01\x00\x00\x00", 10) << notZi;
    QTest::newRow(".zj") << QByteArray(".zj\x00\x80\x02\x01\x00\x00\x00", 10) << notZi;
    QTest::newRow("PNG signature") << QByteArray("\x89PNG\r\n\x1a\n\0\0", 10) << notZi;
}

void TestZIImageUtil::refusals()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, message);

    QTest::ignoreMessage(QtWarningMsg, message.constData());
    QVERIFY(ZIImageUtil::ziUncompress(ExactBytes(bytes).bytes()).isNull());
}

void TestZIImageUtil::hostileHeaderReadsOnlyItsInput()
{
    const ExactBytes exact(zi({ 0xFF, 0xFF, 0xFF, 0x01, 0x80, 0x00, 0xFF }));
    QTest::ignoreMessage(QtDebugMsg,
                         "ZIImageUtil::ziUncompress open ZLV ziImage <4095 x 4095> ziBuffer=10 Vs 2096129");

    const QImage image = ZIImageUtil::ziUncompress(exact.bytes());

    QCOMPARE(image.size(), QSize(4095, 4095));
    QCOMPARE(pattern(image.copy(0, 0, 32, 1)), QStringList { "#..............#........########" });
    QCOMPARE(countLit(image), 10);
}

void TestZIImageUtil::randomBytesDecodeLikeTheFormatSays()
{
    // Thousands of decoder log lines would bury the report.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    QRandomGenerator random(20240611);
    for (int round = 0; round < 3000; ++round) {
        QByteArray bytes(int(random.bounded(80)), '\0');
        for (char& byte : bytes)
            byte = char(random.bounded(256));
        // Mostly valid headers with small sides, so that pixels get decoded.
        if (bytes.size() >= 6 && round % 4 != 0) {
            const QByteArray header = ZIImageUtil::ziHeader(int(random.bounded(40)), int(random.bounded(40)));
            bytes.replace(0, 6, header);
        }
        const ExactBytes exact(bytes);
        const QSize size = ZIImageUtil::ziDimensions(bytes);
        const bool refused = bytes.size() < 10 || !size.isValid();
        if (refused)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("ziUncompress NoT")));

        const QImage image = ZIImageUtil::ziUncompress(exact.bytes());

        if (refused || size.isEmpty()) {
            QVERIFY2(image.isNull(), bytes.toHex().constData());
            continue;
        }
        QCOMPARE(image.size(), size);
        for (int i = 0; i < size.width() * size.height(); ++i) {
            const int byte = 6 + i / 8;
            const bool lit = byte < bytes.size() && (quint8(bytes.at(byte)) >> (i % 8)) & 1;
            QCOMPARE(image.pixel(i % size.width(), i / size.width()), lit ? Green : White);
        }
    }
}

void TestZIImageUtil::decodeFile()
{
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("agent_1.zi"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(zi({ 0x00, 0x50, 0x02, 0xD1, 0x03, 0x00, 0x00 }));
    file.close();

    QCOMPARE(pattern(ZIImageUtil::ziUncompress(path)), (QStringList { "#...#", ".####" }));
}

void TestZIImageUtil::decodeMissingFile()
{
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing.zi"));
    QTest::ignoreMessage(QtWarningMsg, qPrintable("\033[31mZIImageUtil::ziUncompress to open " + path + "!!!\033[0m"));
    QVERIFY(ZIImageUtil::ziUncompress(path).isNull());
}

void TestZIImageUtil::encode_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("3 x 3 all lit") << picture({ "###", "###", "###" }) << zi({ 0x00, 0x30, 0x03, 0xFF, 0x01 });
    QTest::newRow("3 x 3 cross") << picture({ "#.#", ".#.", "#.#" }) << zi({ 0x00, 0x30, 0x03, 0x55, 0x01 });
    QTest::newRow("8 x 1 all lit") << picture({ "########" }) << zi({ 0x00, 0x80, 0x01, 0xFF });
    QTest::newRow("5 x 2, second row from bit 5") << picture({ "#...#", ".####" })
                                                  << zi({ 0x00, 0x50, 0x02, 0xD1, 0x03 });
    QTest::newRow("20 x 2") << picture({ "########............", "#####.#.......#....#" })
                            << zi({ 0x01, 0x40, 0x02, 0xFF, 0x00, 0xF0, 0x05, 0x84 });
    QTest::newRow("null picture") << QImage() << zi({ 0x00, 0x00, 0x00 });
}

void TestZIImageUtil::encode()
{
    QFETCH(QImage, image);
    QFETCH(QByteArray, bytes);

    QCOMPARE(ZIImageUtil::ziEncode(image), bytes);
    QCOMPARE(ZIImageUtil::ziCompress(image).toByteArray(), bytes);
}

void TestZIImageUtil::header_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("byteCount");

    QTest::newRow("0x123 x 0x456") << 0x123 << 0x456 << zi({ 0x12, 0x34, 0x56 }) << qint64(6 + 40377);
    QTest::newRow("320 x 216") << 320 << 216 << zi({ 0x14, 0x00, 0xD8 }) << qint64(8646);
    QTest::newRow("0 x 5") << 0 << 5 << zi({ 0x00, 0x00, 0x05 }) << qint64(6);
    QTest::newRow("1 x 1") << 1 << 1 << zi({ 0x00, 0x10, 0x01 }) << qint64(7);
    QTest::newRow("4095 x 4095") << 4095 << 4095 << zi({ 0xFF, 0xFF, 0xFF }) << qint64(6 + 2096129);
}

void TestZIImageUtil::header()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, byteCount);

    QCOMPARE(ZIImageUtil::ziHeader(width, height), bytes);
    QCOMPARE(ZIImageUtil::ziDimensions(bytes), QSize(width, height));
    QCOMPARE(ZIImageUtil::ziByteCount(width, height), byteCount);
}

void TestZIImageUtil::tooLarge_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QByteArray>("printed");

    QTest::newRow("320 x 216")
        << QSize(320, 216) << QByteArray("\033[31mZIImage::fromByteArray dataSize(8646) exceed MAX(8640)\033[0m\n");
    QTest::newRow("0x123 x 0x456")
        << QSize(0x123, 0x456) << QByteArray("\033[31mZIImage::fromByteArray dataSize(40383) exceed MAX(8640)\033[0m\n");
    QTest::newRow("4096 x 1") << QSize(4096, 1) << QByteArray();
    QTest::newRow("1 x 5000") << QSize(1, 5000) << QByteArray();
}

void TestZIImageUtil::tooLarge()
{
    QFETCH(QSize, size);
    QFETCH(QByteArray, printed);
    QImage image(size, QImage::Format_RGB32);
    image.fill(Green);
    const bool beyondFormat = size.width() > 4095 || size.height() > 4095;
    if (beyondFormat)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("exceeds the format's 4095 x 4095")));

    // QtTest reports debug lines on standard output too.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    ZIImage result;
    QCOMPARE(StdoutCapture::of([&] { result = ZIImageUtil::ziCompress(image); }), printed);

    QVERIFY(result.isNull());
    const QByteArray raw = ZIImageUtil::ziEncode(image);
    QCOMPARE(raw.isEmpty(), beyondFormat);
    if (!beyondFormat)
        QCOMPARE(raw.left(6), ZIImageUtil::ziHeader(size.width(), size.height()));
}

void TestZIImageUtil::colourRule_data()
{
    QTest::addColumn<QRgb>("colour");
    QTest::addColumn<bool>("lit");

    QTest::newRow("(200, 255, 100)") << qRgb(200, 255, 100) << true;
    QTest::newRow("pure green") << qRgb(0, 255, 0) << true;
    QTest::newRow("(254, 255, 254)") << qRgb(254, 255, 254) << true;
    QTest::newRow("green with alpha 0") << qRgba(0, 255, 0, 0) << true;
    QTest::newRow("white") << qRgb(255, 255, 255) << false;
    QTest::newRow("cyan (0, 255, 255)") << qRgb(0, 255, 255) << false;
    QTest::newRow("yellow (255, 255, 0)") << qRgb(255, 255, 0) << false;
    QTest::newRow("(0, 254, 0)") << qRgb(0, 254, 0) << false;
    QTest::newRow("black") << qRgb(0, 0, 0) << false;
}

void TestZIImageUtil::colourRule()
{
    QFETCH(QRgb, colour);
    QFETCH(bool, lit);
    QImage image(8, 2, QImage::Format_ARGB32);
    image.fill(colour);

    QCOMPARE(ZIImageUtil::isLit(colour), lit);
    QCOMPARE(ZIImageUtil::ziCompress(image).toByteArray().mid(6), QByteArray(2, lit ? '\xFF' : '\0'));
}

void TestZIImageUtil::encodeFormats_data()
{
    QTest::addColumn<QImage::Format>("format");

    QTest::newRow("RGB32") << QImage::Format_RGB32;
    QTest::newRow("ARGB32") << QImage::Format_ARGB32;
    QTest::newRow("ARGB32_Premultiplied") << QImage::Format_ARGB32_Premultiplied;
    QTest::newRow("RGB888") << QImage::Format_RGB888;
    QTest::newRow("Indexed8") << QImage::Format_Indexed8;
    QTest::newRow("RGBA8888") << QImage::Format_RGBA8888;
}

void TestZIImageUtil::encodeFormats()
{
    QFETCH(QImage::Format, format);
    const QStringList rows { "#..#.##.#", ".##..#.##", "#.......#", "###.#.###" };

    const QImage decoded = ZIImageUtil::ziUncompress(ZIImageUtil::ziEncode(picture(rows).convertToFormat(format)));

    QCOMPARE(pattern(decoded), rows);
}

void TestZIImageUtil::roundTrip_data()
{
    QTest::addColumn<QSize>("size");

    const auto addRow = [](const QSize& size) {
        QTest::addRow("%d x %d", size.width(), size.height()) << size;
    };
    addRow(QSize(1, 25));
    addRow(QSize(5, 5));
    addRow(QSize(48, 1439));
    addRow(QSize(4095, 16));
    addRow(QSize(320, 215));
    addRow(QSize(7, 4095));
    QRandomGenerator random(4711);
    for (int i = 0; i < 40; ++i) {
        const int width = int(random.bounded(1, 4096));
        const int lowest = (25 + width - 1) / width;
        const int highest = qMin(4095, (ZIImage::maxSize - 6) * 8 / width);
        addRow(QSize(width, int(random.bounded(lowest, highest + 1))));
    }
}

void TestZIImageUtil::roundTrip()
{
    QFETCH(QSize, size);
    const QRgb lit[] = { Green, qRgb(200, 255, 100), qRgba(10, 255, 20, 128) };
    const QRgb background[] = { White, qRgb(255, 255, 0), qRgb(0, 255, 255), qRgb(0, 0, 0), qRgb(30, 254, 30) };
    QRandomGenerator random(quint32(size.width() * 4096 + size.height()));
    QImage source(size, QImage::Format_ARGB32);
    QImage expected(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const bool on = random.bounded(2) == 1;
            source.setPixel(x, y, on ? lit[random.bounded(3)] : background[random.bounded(5)]);
            expected.setPixel(x, y, on ? Green : White);
        }
    }

    const ZIImage encoded = ZIImageUtil::ziCompress(source);
    QCOMPARE(encoded.size(), int(ZIImageUtil::ziByteCount(size.width(), size.height())));
    const QImage decoded = ZIImageUtil::ziUncompress(encoded.toByteArray());

    QCOMPARE(decoded.size(), size);
    QVERIFY(decoded == expected);
}

void TestZIImageUtil::mono_data()
{
    QTest::addColumn<QRgb>("colour");
    QTest::addColumn<int>("threshold");
    QTest::addColumn<bool>("lit");

    QTest::newRow("black at 50 %") << qRgb(0, 0, 0) << 50 << true;
    QTest::newRow("white at 50 %") << qRgb(255, 255, 255) << 50 << false;
    QTest::newRow("grey 127 at 50 %") << qRgb(127, 127, 127) << 50 << true;
    QTest::newRow("grey 128 at 50 %") << qRgb(128, 128, 128) << 50 << false;
    QTest::newRow("dark blue at 50 %") << qRgb(0, 0, 255) << 50 << true;
    QTest::newRow("pure green at 50 %") << qRgb(0, 255, 0) << 50 << false;
    QTest::newRow("grey 128 at 60 %") << qRgb(128, 128, 128) << 60 << true;
    QTest::newRow("black at 0 %") << qRgb(0, 0, 0) << 0 << false;
    QTest::newRow("grey 254 at 100 %") << qRgb(254, 254, 254) << 100 << true;
    QTest::newRow("white at 100 %") << qRgb(255, 255, 255) << 100 << false;
    QTest::newRow("transparent black at 50 %") << qRgba(0, 0, 0, 0) << 50 << false;
    QTest::newRow("black at alpha 200, 50 %") << qRgba(0, 0, 0, 200) << 50 << true;
    QTest::newRow("black at alpha 100, 50 %") << qRgba(0, 0, 0, 100) << 50 << false;
}

void TestZIImageUtil::mono()
{
    QFETCH(QRgb, colour);
    QFETCH(int, threshold);
    QFETCH(bool, lit);
    QImage image(5, 3, QImage::Format_ARGB32);
    image.fill(colour);

    const QImage mono = ZIImageUtil::toMono(image, threshold);

    QCOMPARE(mono.size(), image.size());
    const QString row(5, lit ? QLatin1Char('#') : QLatin1Char('.'));
    QCOMPARE(pattern(mono), (QStringList { row, row, row }));
}

void TestZIImageUtil::monoKeepsShapes()
{
    const QStringList rows { "#..#.", ".##..", "...#.", "#...#", ".#.#." };
    QImage ink(5, 5, QImage::Format_RGB32);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 5; ++x)
            ink.setPixel(x, y, rows.at(y).at(x) == QLatin1Char('#') ? qRgb(20, 20, 60) : qRgb(240, 235, 220));
    }

    const QImage mono = ZIImageUtil::toMono(ink);

    QCOMPARE(pattern(mono), rows);
    QCOMPARE(pattern(ZIImageUtil::ziUncompress(ZIImageUtil::ziEncode(mono))), rows);
}

void TestZIImageUtil::dither_data()
{
    QTest::addColumn<QRgb>("colour");
    QTest::addColumn<int>("lowestPercent");
    QTest::addColumn<int>("highestPercent");

    QTest::newRow("white") << qRgb(255, 255, 255) << 0 << 0;
    QTest::newRow("black") << qRgb(0, 0, 0) << 100 << 100;
    QTest::newRow("transparent") << qRgba(0, 0, 0, 0) << 0 << 0;
    QTest::newRow("grey 128") << qRgb(128, 128, 128) << 47 << 52;
    QTest::newRow("grey 64") << qRgb(64, 64, 64) << 72 << 78;
    QTest::newRow("grey 230") << qRgb(230, 230, 230) << 7 << 12;
}

void TestZIImageUtil::dither()
{
    QFETCH(QRgb, colour);
    QFETCH(int, lowestPercent);
    QFETCH(int, highestPercent);
    QImage image(64, 64, QImage::Format_ARGB32);
    image.fill(colour);

    const QImage dithered = ZIImageUtil::toDithered(image);

    QCOMPARE(dithered.size(), image.size());
    QVERIFY(!pattern(dithered).join(QString()).contains(QLatin1Char('?')));
    const int percent = countLit(dithered) * 100 / (64 * 64);
    QVERIFY2(percent >= lowestPercent && percent <= highestPercent, qPrintable(QString::number(percent)));
}

QTEST_GUILESS_MAIN(TestZIImageUtil)
#include "tst_ziimageutil.moc"
