#include "TestFiles.h"
#include "ZIImage.h"
#include "ZIImageUtil.h"
#include "util/ZelvoImageStore.h"
#include "util/ZelvoPictureCache.h"
#include "util/ZelvoUtil.h"

#include <QColor>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QStandardPaths>
#include <QString>
#include <QTest>

Q_DECLARE_METATYPE(ZelvoRecord::Reason)

namespace {

// The default store: the pictures directory of the test's own home.
const ZelvoImageStore imageStore;

// Pictures told apart by size and colour, exact since nothing is antialiased.
QImage solid(int side, QColor color)
{
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

QString storeDirectory(const QString& agentHash)
{
    return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) + QStringLiteral("/Zelvo/") + agentHash;
}

QString filePath(const QString& agentHash, const QString& id, const char* suffix)
{
    return storeDirectory(agentHash) + QLatin1Char('/') + ZelvoUtil::agentImageFileName(agentHash, id, QLatin1String(suffix));
}

// Stores the picture as a configuration does and returns the file's path.
QString store(ZelvoPictureCache* cache, const QString& agentHash, const QString& id, const QImage& image,
              const char* suffix)
{
    const QString path = filePath(agentHash, id, suffix);
    const QByteArray bytes = QLatin1String(suffix) == QLatin1String(".zi")
        ? ZIImageUtil::ziCompress(image).toByteArray()
        : TestFiles::png(image);
    TestFiles::write(path, bytes);
    if (cache)
        cache->insert(agentHash, id, path, image, image.size());
    return path;
}

QImage drawn(ZelvoPictureCache& cache, const QString& agentHash, const QString& id,
             ZelvoRecord::Reason* refusal = nullptr)
{
    QString path;
    ZelvoRecord::Reason reason = ZelvoRecord::Reason::None;
    QSize size;
    const QImage image = cache.picture(agentHash, id, &path, &reason, &size);
    if (refusal)
        *refusal = reason;
    return image.convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TstZelvoPictureCache final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void reconfiguredPictureIsTheNewOne_data();
    void reconfiguredPictureIsTheNewOne();
    void agentsKeepTheirOwnPictures();
    void budgetBelowOneAgentStillDraws();
    void picturesOfAnEarlierRun_data();
    void picturesOfAnEarlierRun();
};

void TstZelvoPictureCache::init()
{
    QDir(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation)).removeRecursively();
}

void TstZelvoPictureCache::reconfiguredPictureIsTheNewOne_data()
{
    QTest::addColumn<int>("budget");
    QTest::newRow("default budget") << ZelvoPictureCache::defaultBudget;
    // Nothing is kept: every picture comes from its file.
    QTest::newRow("budget 0") << 0;
}

void TstZelvoPictureCache::reconfiguredPictureIsTheNewOne()
{
    QFETCH(int, budget);
    ZelvoPictureCache cache(&imageStore, budget);
    const QImage first = ZIImageUtil::ziUncompress(ZIImageUtil::ziCompress(solid(8, Qt::green)).toByteArray());
    store(&cache, QStringLiteral("a"), QStringLiteral("0"), first, ".zi");
    QCOMPARE(drawn(cache, QStringLiteral("a"), QStringLiteral("0")), first);

    // The second configuration sends image 0 as PNG: the old .zi stays on
    // disk beside it, and is never drawn again.
    cache.forgetAgent(QStringLiteral("a"));
    const QImage second = solid(12, Qt::red);
    store(&cache, QStringLiteral("a"), QStringLiteral("0"), second, ".png");
    QVERIFY(QFileInfo::exists(filePath(QStringLiteral("a"), QStringLiteral("0"), ".zi")));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(drawn(cache, QStringLiteral("a"), QStringLiteral("0")), second);
}

void TstZelvoPictureCache::agentsKeepTheirOwnPictures()
{
    ZelvoPictureCache cache(&imageStore);
    store(&cache, QStringLiteral("a"), QStringLiteral("0"), solid(8, Qt::red), ".png");
    store(&cache, QStringLiteral("b"), QStringLiteral("0"), solid(9, Qt::blue), ".png");
    store(&cache, QStringLiteral("b"), QStringLiteral("1"), solid(10, Qt::yellow), ".png");
    // A hash that ends where another begins: "a" + "0" is not "a0".
    store(&cache, QStringLiteral("a0"), QStringLiteral("1"), solid(11, Qt::cyan), ".png");

    QCOMPARE(drawn(cache, QStringLiteral("a"), QStringLiteral("0")), solid(8, Qt::red));
    QCOMPARE(drawn(cache, QStringLiteral("b"), QStringLiteral("0")), solid(9, Qt::blue));
    ZelvoRecord::Reason refusal = ZelvoRecord::Reason::None;
    QVERIFY(drawn(cache, QStringLiteral("a"), QStringLiteral("1"), &refusal).isNull());
    QCOMPARE(refusal, ZelvoRecord::Reason::ImageNotStored);
    QVERIFY(drawn(cache, QStringLiteral("a"), QStringLiteral("01")).isNull());

    // A new configuration of one agent leaves the other's pictures alone.
    cache.forgetAgent(QStringLiteral("a"));
    QCOMPARE(drawn(cache, QStringLiteral("b"), QStringLiteral("1")), solid(10, Qt::yellow));
    QCOMPARE(drawn(cache, QStringLiteral("a0"), QStringLiteral("1")), solid(11, Qt::cyan));
}

void TstZelvoPictureCache::budgetBelowOneAgentStillDraws()
{
    const QColor colors[] = {Qt::red, Qt::green, Qt::blue, Qt::magenta};
    // Room for one and a half of the four pictures.
    ZelvoPictureCache cache(&imageStore, int(solid(40, Qt::red).sizeInBytes() * 3 / 2));
    for (int i = 0; i < 4; ++i)
        store(&cache, QStringLiteral("a"), QString::number(i), solid(40, colors[i]), ".png");
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 4; ++i)
            QCOMPARE(drawn(cache, QStringLiteral("a"), QString::number(i)), solid(40, colors[i]));
    }
}

void TstZelvoPictureCache::picturesOfAnEarlierRun_data()
{
    QTest::addColumn<QString>("files");
    QTest::addColumn<int>("side");
    QTest::addColumn<ZelvoRecord::Reason>("refusal");
    QTest::newRow("zi") << "zi" << 8 << ZelvoRecord::Reason::None;
    QTest::newRow("png") << "png" << 12 << ZelvoRecord::Reason::None;
    QTest::newRow("zi and png") << "zi png" << 8 << ZelvoRecord::Reason::None;
    QTest::newRow("broken zi and png") << "broken png" << 0 << ZelvoRecord::Reason::ImageUnreadable;
    QTest::newRow("none") << "" << 0 << ZelvoRecord::Reason::ImageNotStored;
    // Kept as far as it can show: 320 of its 1000 columns.
    QTest::newRow("png larger than the content area") << "large png" << 320 << ZelvoRecord::Reason::None;
}

void TstZelvoPictureCache::picturesOfAnEarlierRun()
{
    QFETCH(QString, files);
    QFETCH(int, side);
    QFETCH(ZelvoRecord::Reason, refusal);
    if (files.contains(QLatin1String("zi")))
        store(nullptr, QStringLiteral("a"), QStringLiteral("0"), solid(8, Qt::green), ".zi");
    if (files.contains(QLatin1String("broken")))
        TestFiles::write(filePath(QStringLiteral("a"), QStringLiteral("0"), ".zi"), ".zi");
    if (files.contains(QLatin1String("png")))
        store(nullptr, QStringLiteral("a"), QStringLiteral("0"), solid(files.contains(QLatin1String("large")) ? 1000 : 12, Qt::red),
              ".png");

    ZelvoPictureCache cache(&imageStore);
    ZelvoRecord::Reason reason = ZelvoRecord::Reason::None;
    QCOMPARE(drawn(cache, QStringLiteral("a"), QStringLiteral("0"), &reason).width(), side);
    QCOMPARE(reason, refusal);
    // Looking creates nothing.
    QCOMPARE(QFileInfo::exists(storeDirectory(QStringLiteral("a"))), !files.isEmpty());
}

QTEST_GUILESS_MAIN(TstZelvoPictureCache)
#include "tst_zelvopicturecache.moc"
