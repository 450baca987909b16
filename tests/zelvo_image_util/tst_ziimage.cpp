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

    enum Route { RawBytes, ByteArray, FromByteArray, Copy, Assignment };

private slots:
    void copying_data();
    void copying();
    void nullSourceGivesEmptyImageSilently();
    void assignmentReplacesAndEmpties();
    void selfAssignmentKeepsBytes();
    void moveTakesTheBytes();
    void alloc_data();
    void alloc();
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

void TestZIImage::copying_data()
{
    QTest::addColumn<int>("route");
    QTest::addColumn<int>("length");

    const std::pair<Route, const char*> routes[] = {
        { RawBytes, "ZIImage(bytes, length)" }, { ByteArray, "ZIImage(QByteArray)" },
        { FromByteArray, "fromByteArray" },     { Copy, "copy" },
        { Assignment, "assignment" },
    };
    // 65536 and 73536 are 0 and 8000 in 16 bits: refused, not cut.
    for (const auto& [route, name] : routes) {
        for (int length : { 0, 1, 8640, 8641, 8646, 65535, 65536, 73536 }) {
            // Only alloc() makes an image to copy beyond the bound, and at most 65535 bytes.
            if ((route == Copy || route == Assignment) && (length == 0 || length > ZIImage::maxAllocSize))
                continue;
            QTest::addRow("%s, %d bytes", name, length) << int(route) << length;
        }
    }
}

void TestZIImage::copying()
{
    QFETCH(int, route);
    QFETCH(int, length);
    const bool accepted = length >= 1 && length <= ZIImage::maxSize;
    const QByteArray bytes = pattern(length);
    const ZIImage source = accepted ? ZIImage(bytes) : ZIImage(length);
    ZIImage image(QByteArray("previous"));

    const char* where = route == FromByteArray ? "ZIImage::fromByteArray"
        : route == Assignment                  ? "ZIImage::operator="
                                               : "ZIImage::ZIImage";
    const QByteArray printed = StdoutCapture::of([&] {
        switch (route) {
        case RawBytes:
            image = ZIImage(bytes.constData(), length);
            break;
        case ByteArray:
            image = ZIImage(bytes);
            break;
        case FromByteArray:
            image.fromByteArray(bytes);
            break;
        case Copy:
            image = ZIImage(source);
            break;
        case Assignment:
            image = source;
            break;
        }
    });

    QCOMPARE(image.toByteArray(), accepted ? bytes : QByteArray());
    QCOMPARE(image.isNull(), !accepted);
    QCOMPARE(printed, length > ZIImage::maxSize ? exceedMessage(where, length) : QByteArray());
}

void TestZIImage::nullSourceGivesEmptyImageSilently()
{
    std::unique_ptr<ZIImage> image;
    const QByteArray printed = StdoutCapture::of([&] { image = std::make_unique<ZIImage>(nullptr, 10); });
    QVERIFY(image->isNull());
    QCOMPARE(image->data(), nullptr);
    QCOMPARE(printed, QByteArray());
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
    QCOMPARE(printed, length > ZIImage::maxSize ? exceedMessage("ZIImage::fromByteArray", length) : QByteArray());
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
