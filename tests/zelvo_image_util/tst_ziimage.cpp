#include "StdoutCapture.h"
#include "ZIImage.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray pattern(int length)
{
    QByteArray bytes(length, '\0');
    for (int i = 0; i < length; ++i)
        bytes[i] = char(i * 7 + 3);
    return bytes;
}

QByteArray exceedMessage(const char* where, int length)
{
    return QByteArray("\033[31m") + where + " dataSize(" + QByteArray::number(length) + ") exceed MAX(8640)\033[0m\n";
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestZIImage : public QObject
{
    Q_OBJECT

private:
    static void addLengthRows();

private slots:
    void rawBytesConstructor_data() { addLengthRows(); }
    void rawBytesConstructor();
    void byteArrayConstructor_data() { addLengthRows(); }
    void byteArrayConstructor();
    void fromByteArray_data() { addLengthRows(); }
    void fromByteArray();
    void nullSourceGivesEmptyImageSilently();
    void copies_data();
    void copies();
    void assignmentReplacesAndEmpties();
    void selfAssignmentKeepsBytes();
    void moveTakesTheBytes();
    void alloc_data();
    void alloc();
    void lengthConstructorAllocates();
    void toByteArray();
    void load_data();
    void load();
    void loadOfMissingFileKeepsImage();
    void saveThenLoad();
    void saveFailure();
    void hash_data();
    void hash();
    void printInfo();
    void equality_data();
    void equality();
};

void TestZIImage::addLengthRows()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("0 bytes") << 0 << false;
    QTest::newRow("1 byte") << 1 << true;
    QTest::newRow("10 bytes") << 10 << true;
    QTest::newRow("8640 bytes") << 8640 << true;
    QTest::newRow("8641 bytes") << 8641 << false;
    QTest::newRow("8646 bytes, a 320 x 216 ZI file") << 8646 << false;
    QTest::newRow("65535 bytes") << 65535 << false;
    QTest::newRow("65536 bytes, 0 in 16 bits") << 65536 << false;
    QTest::newRow("73536 bytes, 8000 in 16 bits") << 73536 << false;
}

void TestZIImage::rawBytesConstructor()
{
    QFETCH(int, length);
    QFETCH(bool, accepted);
    const QByteArray bytes = pattern(length);

    std::unique_ptr<ZIImage> image;
    const QByteArray printed = StdoutCapture::of([&] { image = std::make_unique<ZIImage>(bytes.constData(), length); });

    QCOMPARE(image->isNull(), !accepted);
    QCOMPARE(image->toByteArray(), accepted ? bytes : QByteArray());
    QCOMPARE(printed, length > ZIImage::MaxSize ? exceedMessage("ZIImage::ZIImage", length) : QByteArray());
}

void TestZIImage::byteArrayConstructor()
{
    QFETCH(int, length);
    QFETCH(bool, accepted);
    const QByteArray bytes = pattern(length);

    std::unique_ptr<ZIImage> image;
    const QByteArray printed = StdoutCapture::of([&] { image = std::make_unique<ZIImage>(bytes); });

    QCOMPARE(image->size(), accepted ? length : 0);
    QCOMPARE(image->toByteArray(), accepted ? bytes : QByteArray());
    QCOMPARE(printed, length > ZIImage::MaxSize ? exceedMessage("ZIImage::ZIImage", length) : QByteArray());
}

void TestZIImage::fromByteArray()
{
    QFETCH(int, length);
    QFETCH(bool, accepted);
    const QByteArray bytes = pattern(length);
    ZIImage image(QByteArray("previous"));

    const QByteArray printed = StdoutCapture::of([&] { image.fromByteArray(bytes); });

    QCOMPARE(image.size(), accepted ? length : 0);
    QCOMPARE(image.toByteArray(), accepted ? bytes : QByteArray());
    QCOMPARE(printed, length > ZIImage::MaxSize ? exceedMessage("ZIImage::fromByteArray", length) : QByteArray());
}

void TestZIImage::nullSourceGivesEmptyImageSilently()
{
    std::unique_ptr<ZIImage> image;
    const QByteArray printed = StdoutCapture::of([&] { image = std::make_unique<ZIImage>(nullptr, 10); });
    QVERIFY(image->isNull());
    QCOMPARE(image->data(), nullptr);
    QCOMPARE(printed, QByteArray());
}

void TestZIImage::copies_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("7 bytes") << 7 << true;
    QTest::newRow("8640 bytes") << 8640 << true;
    QTest::newRow("8641 bytes") << 8641 << false;
    QTest::newRow("9000 bytes") << 9000 << false;
    QTest::newRow("65535 bytes") << 65535 << false;
}

void TestZIImage::copies()
{
    QFETCH(int, length);
    QFETCH(bool, accepted);
    // Only alloc() makes images beyond the bound, all zero bytes.
    ZIImage source(length);
    if (accepted)
        source.fromByteArray(pattern(length));
    QCOMPARE(source.size(), length);

    std::unique_ptr<ZIImage> copy;
    const QByteArray copyPrinted = StdoutCapture::of([&] { copy = std::make_unique<ZIImage>(source); });
    ZIImage assigned(QByteArray("previous"));
    const QByteArray assignPrinted = StdoutCapture::of([&] { assigned = source; });

    QCOMPARE(copy->isNull(), !accepted);
    QCOMPARE(assigned.isNull(), !accepted);
    if (accepted) {
        QVERIFY(*copy == source);
        QVERIFY(assigned == source);
        QVERIFY(copy->data() != source.data());
    }
    QCOMPARE(copyPrinted, accepted ? QByteArray() : exceedMessage("ZIImage::ZIImage", length));
    QCOMPARE(assignPrinted, accepted ? QByteArray() : exceedMessage("ZIImage::operator=", length));
}

void TestZIImage::assignmentReplacesAndEmpties()
{
    ZIImage image(QByteArray("first"));
    image = ZIImage(QByteArray("second, longer"));
    QCOMPARE(image.toByteArray(), QByteArray("second, longer"));

    const ZIImage empty;
    const QByteArray printed = StdoutCapture::of([&] { image = empty; });
    QVERIFY(image.isNull());
    QCOMPARE(image.data(), nullptr);
    QCOMPARE(printed, QByteArray());
}

void TestZIImage::selfAssignmentKeepsBytes()
{
    ZIImage image(QByteArray("kept"));
    const quint8* before = image.data();
    ZIImage& alias = image;
    image = alias;
    QCOMPARE(image.data(), before);
    QCOMPARE(image.toByteArray(), QByteArray("kept"));
}

void TestZIImage::moveTakesTheBytes()
{
    ZIImage source(9000);
    const quint8* bytes = source.data();
    ZIImage moved(std::move(source));
    QCOMPARE(moved.size(), 9000);
    QCOMPARE(moved.data(), bytes);
    QVERIFY(source.isNull());

    ZIImage target(QByteArray("old"));
    target = std::move(moved);
    QCOMPARE(target.size(), 9000);
    QCOMPARE(target.data(), bytes);
}

void TestZIImage::alloc_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("expectedSize");
    QTest::addColumn<QByteArray>("message");

    const QByteArray kept = QByteArray("kept");
    QTest::newRow("-1") << -1 << kept.size() << QByteArray("\033[31mZIImage::alloc dataSize(-1) is too small\033[0m\n");
    QTest::newRow("6") << 6 << kept.size() << QByteArray("\033[31mZIImage::alloc dataSize(6) is too small\033[0m\n");
    QTest::newRow("7") << 7 << 7 << QByteArray();
    QTest::newRow("8640") << 8640 << 8640 << QByteArray();
    QTest::newRow("9000") << 9000 << 9000 << QByteArray();
    QTest::newRow("65535") << 65535 << 65535 << QByteArray();
    QTest::newRow("65536")
        << 65536 << kept.size() << QByteArray("\033[31mZIImage::alloc dataSize(65536) exceed MAX(65535)\033[0m\n");
    QTest::newRow("65543, 7 in 16 bits")
        << 65543 << kept.size() << QByteArray("\033[31mZIImage::alloc dataSize(65543) exceed MAX(65535)\033[0m\n");
}

void TestZIImage::alloc()
{
    QFETCH(int, length);
    QFETCH(int, expectedSize);
    QFETCH(QByteArray, message);
    ZIImage image(QByteArray("kept"));

    const QByteArray printed = StdoutCapture::of([&] { image.alloc(length); });

    QCOMPARE(printed, message);
    QCOMPARE(image.size(), expectedSize);
    if (message.isEmpty())
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(image.data()), image.size()), QByteArray(length, '\0'));
    else
        QCOMPARE(image.toByteArray(), QByteArray("kept"));
}

void TestZIImage::lengthConstructorAllocates()
{
    QCOMPARE(ZIImage(7).toByteArray(), QByteArray(7, '\0'));
    QVERIFY(ZIImage(6).isNull());
}

void TestZIImage::toByteArray()
{
    QCOMPARE(ZIImage().toByteArray(), QByteArray());
    const QByteArray bytes("\x00\x01\xFF", 3);
    QCOMPARE(ZIImage(bytes).toByteArray(), bytes);
}

void TestZIImage::load_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("empty file") << 0 << false;
    QTest::newRow("100 bytes") << 100 << true;
    QTest::newRow("8640 bytes") << 8640 << true;
    QTest::newRow("9000 bytes") << 9000 << false;
}

void TestZIImage::load()
{
    QFETCH(int, length);
    QFETCH(bool, accepted);
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("image.zi"));
    const QByteArray bytes = pattern(length);
    QVERIFY(writeFile(path, bytes));
    ZIImage image(QByteArray("previous"));

    bool loaded = false;
    const QByteArray printed = StdoutCapture::of([&] { loaded = image.load(path); });

    // A file beyond the bound still counts as read; the image is emptied.
    QVERIFY(loaded);
    QCOMPARE(image.toByteArray(), accepted ? bytes : QByteArray());
    QCOMPARE(printed, length > ZIImage::MaxSize ? exceedMessage("ZIImage::fromByteArray", length) : QByteArray());
}

void TestZIImage::loadOfMissingFileKeepsImage()
{
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing.zi"));
    ZIImage image(QByteArray("kept"));

    bool loaded = true;
    const QByteArray printed = StdoutCapture::of([&] { loaded = image.load(path); });

    QVERIFY(!loaded);
    QCOMPARE(image.toByteArray(), QByteArray("kept"));
    QCOMPARE(printed, "\033[31mZIImage::load Failure yo open " + path.toLocal8Bit() + "\033[0m\n");
}

void TestZIImage::saveThenLoad()
{
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("image.zi"));
    QVERIFY(writeFile(path, QByteArray(20000, 'x')));
    const ZIImage image(pattern(8640));

    QVERIFY(image.save(path));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), pattern(8640));
    ZIImage loaded;
    QVERIFY(loaded.load(path));
    QVERIFY(loaded == image);
}

void TestZIImage::saveFailure()
{
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("no/such/folder/image.zi"));
    const ZIImage image(pattern(10));

    bool saved = true;
    const QByteArray printed = StdoutCapture::of([&] { saved = image.save(path); });

    QVERIFY(!saved);
    QVERIFY(!QFile::exists(path));
    QCOMPARE(printed, "\033[31mZIImage::save Failure yo open " + path.toLocal8Bit() + "\033[0m\n");
}

void TestZIImage::hash_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<quint32>("expected");

    QTest::newRow("empty") << QByteArray() << 0u;
    QTest::newRow("a") << QByteArray("a") << 0x61u;
    QTest::newRow("abc") << QByteArray("abc") << 0x6981u;
    QTest::newRow("Hello, Zelvo!") << QByteArray("Hello, Zelvo!") << 0x3f067b8u;
    QTest::newRow("eight 0xFF") << QByteArray(8, '\xFF') << 0xfffde0fu;
    QTest::newRow("3 x 3 ZI file") << QByteArray(".zi\x00\x30\x03\xFF\x01", 8) << 0xf6072ceu;

    QByteArray counting(256, '\0');
    for (int i = 0; i < counting.size(); ++i)
        counting[i] = char(i);
    QTest::newRow("0 to 255") << counting << 0x1a6e6d0u;
}

void TestZIImage::hash()
{
    QFETCH(QByteArray, bytes);
    QFETCH(quint32, expected);

    QCOMPARE(ZIImage(bytes).hash(), expected);
    QCOMPARE(ZIImage::hash(reinterpret_cast<const quint8*>(bytes.constData()), bytes.size()), expected);
}

void TestZIImage::printInfo()
{
    const ZIImage image(QByteArray("abc"));
    QCOMPARE(StdoutCapture::of([&] { image.printInfo(); }), QByteArray("\033[31mZIImage size 3 B, hash 6981\n"));
}

void TestZIImage::equality_data()
{
    QTest::addColumn<QByteArray>("left");
    QTest::addColumn<QByteArray>("right");
    QTest::addColumn<bool>("equal");

    QTest::newRow("both empty") << QByteArray() << QByteArray() << false;
    QTest::newRow("empty and abc") << QByteArray() << QByteArray("abc") << false;
    QTest::newRow("abc and abc") << QByteArray("abc") << QByteArray("abc") << true;
    QTest::newRow("abc and abd") << QByteArray("abc") << QByteArray("abd") << false;
    QTest::newRow("abc and abcd") << QByteArray("abc") << QByteArray("abcd") << false;
}

void TestZIImage::equality()
{
    QFETCH(QByteArray, left);
    QFETCH(QByteArray, right);
    QFETCH(bool, equal);

    const ZIImage a(left);
    const ZIImage b(right);
    QCOMPARE(a == b, equal);
    QCOMPARE(a != b, !equal);
    QCOMPARE(b == a, equal);
}

QTEST_GUILESS_MAIN(TestZIImage)
#include "tst_ziimage.moc"
