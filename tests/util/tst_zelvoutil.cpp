#include "util/ZelvoImageStore.h"
#include "util/ZelvoUtil.h"
#include "TestFiles.h"

#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QSize>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace {

QString home()
{
    return QDir::homePath();
}

// Builds what TestFiles::listTree() lists: "dir/", "file", "link->target".
void makeTree(const QString& root, const QStringList& entries)
{
    QDir(root).mkpath(QStringLiteral("."));
    for (const QString& entry : entries) {
        const QString path = root + QLatin1Char('/') + entry.section(QStringLiteral("->"), 0, 0);
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (entry.contains(QStringLiteral("->"))) {
            QVERIFY(QFile::link(root + QLatin1Char('/') + entry.section(QStringLiteral("->"), 1), path));
        } else if (entry.endsWith(QLatin1Char('/'))) {
            QVERIFY(QDir().mkpath(path));
        } else {
            QVERIFY(TestFiles::write(path, "data"));
        }
    }
}

QImage filled(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::blue);
    return image;
}

} // namespace

class TstZelvoUtil final : public QObject
{
    Q_OBJECT

private slots:
    void rm_data();
    void rm();
    void agentImageDirectory_data();
    void agentImageDirectory();
    void agentImageDirectoryRefused_data();
    void agentImageDirectoryRefused();
    void agentImageDirectoryMakesPictures();
    void isFileNamePart_data();
    void isFileNamePart();
    void fromBase64_data();
    void fromBase64();
    void readImage_data();
    void readImage();
};

void TstZelvoUtil::rm_data()
{
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("existed");
    QTest::addColumn<QStringList>("left");

    QTest::newRow("nothing") << QStringList{"keep"} << "missing" << false << QStringList{"keep"};
    QTest::newRow("file") << QStringList{"f", "keep"} << "f" << true << QStringList{"keep"};
    QTest::newRow("empty directory") << QStringList{"d/"} << "d" << true << QStringList{};
    QTest::newRow("tree") << QStringList{"d/a", "d/sub/b", "d/sub/deeper/c", "d/empty/", "keep"} << "d" << true
                          << QStringList{"keep"};
    QTest::newRow("link to directory in tree")
        << QStringList{"outside/precious", "d/link->outside"} << "d" << true
        << QStringList{"outside/", "outside/precious"};
    QTest::newRow("link to directory") << QStringList{"outside/precious", "link->outside"} << "link" << true
                                       << QStringList{"outside/", "outside/precious"};
    QTest::newRow("link to file") << QStringList{"precious", "link->precious"} << "link" << true
                                  << QStringList{"precious"};
    QTest::newRow("dangling link") << QStringList{"link->gone"} << "link" << true << QStringList{};
    // Hidden entries are not listed, so their directory stays; the result
    // still says the path existed.
    QTest::newRow("hidden entry") << QStringList{"d/.hidden", "d/shown"} << "d" << true
                                  << QStringList{"d/", "d/.hidden"};
}

void TstZelvoUtil::rm()
{
    QFETCH(QStringList, tree);
    QFETCH(QString, target);
    QFETCH(bool, existed);
    QFETCH(QStringList, left);

    const QTemporaryDir scratch(home() + QStringLiteral("/rm-XXXXXX"));
    const QString root = scratch.path();
    makeTree(root, tree);

    QCOMPARE(ZelvoUtil::rm(root + QLatin1Char('/') + target), existed);
    QCOMPARE(TestFiles::listTree(root), left);
}

void TstZelvoUtil::agentImageDirectory_data()
{
    QTest::addColumn<QString>("hash");

    QTest::newRow("hex") << "3f2a9c0d";
    QTest::newRow("dots inside") << "com.example.agent";
    QTest::newRow("three dots") << "...";
    QTest::newRow("spaces") << "my agent";
    QTest::newRow("percent") << "a%1b%2";
    QTest::newRow("unicode") << QString::fromUtf8("agent-\xc3\xa9\xe2\x82\xac");
}

void TstZelvoUtil::agentImageDirectory()
{
    QFETCH(QString, hash);

    const QString expected = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation)
        + QStringLiteral("/Zelvo/") + hash;
    ZelvoImageStore store;
    QString error;
    QCOMPARE(store.agentImageDirectory(hash, &error), expected);
    QVERIFY(QFileInfo(expected).isDir());
    // An existing directory is reused.
    QCOMPARE(store.agentImageDirectory(hash, &error), expected);
    QCOMPARE(error, QString());
}

void TstZelvoUtil::agentImageDirectoryRefused_data()
{
    QTest::addColumn<QString>("hash");
    // Empty for a name refused as a path outside.
    QTest::addColumn<QString>("writeError");

    QTest::newRow("empty") << "" << "";
    QTest::newRow(".") << "." << "";
    QTest::newRow("..") << ".." << "";
    QTest::newRow("a/b") << "a/b" << "";
    QTest::newRow("/tmp/x") << "/tmp/x" << "";
    QTest::newRow("../escape") << "../escape" << "";
    QTest::newRow("backslash") << "a\\b" << "";
    QTest::newRow("NUL") << QString::fromLatin1("a\0b", 3) << "";
    QTest::newRow("longer than a file name") << QString(300, QLatin1Char('h')) << ": File name too long";
    QTest::newRow("name of a file") << "taken" << "/Zelvo/taken: File exists";
}

void TstZelvoUtil::agentImageDirectoryRefused()
{
    QFETCH(QString, hash);
    QFETCH(QString, writeError);

    const QString zelvo = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation)
        + QStringLiteral("/Zelvo");
    makeTree(zelvo, {QStringLiteral("taken")});
    const QStringList homeBefore = TestFiles::listTree(home());
    const QStringList tmpBefore = TestFiles::tmpEntriesOfX();

    if (writeError.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("REFUSED AGENT HASH")));
    else
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(writeError)));
    QString error;
    QCOMPARE(ZelvoImageStore().agentImageDirectory(hash, &error), QString());
    QVERIFY2(writeError.isEmpty() ? error.isEmpty() : error.endsWith(writeError), qPrintable(error));
    QCOMPARE(TestFiles::listTree(home()), homeBefore);
    QCOMPARE(TestFiles::tmpEntriesOfX(), tmpBefore);
}

// QDir::mkdir() is not recursive: a home without a pictures directory must
// not lose the images.
void TstZelvoUtil::agentImageDirectoryMakesPictures()
{
    const QByteArray testHome = qgetenv("HOME");
    const QString freshHome = QDir::homePath() + QStringLiteral("/fresh-home");
    QVERIFY(QDir().mkpath(freshHome));
    qputenv("HOME", freshHome.toLocal8Bit());
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    QString error;
    const QString directory = ZelvoImageStore().agentImageDirectory(QStringLiteral("fresh"), &error);
    qputenv("HOME", testHome);

    QCOMPARE(pictures, freshHome + QStringLiteral("/Pictures"));
    QCOMPARE(directory, pictures + QStringLiteral("/Zelvo/fresh"));
    QVERIFY(QFileInfo(directory).isDir());
}

void TstZelvoUtil::isFileNamePart_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("0") << "0" << true;
    QTest::newRow("00") << "00" << true;
    QTest::newRow("empty") << "" << true;
    QTest::newRow("...") << "..." << true;
    QTest::newRow("1.5") << "1.5" << true;
    QTest::newRow(".") << "." << false;
    QTest::newRow("..") << ".." << false;
    QTest::newRow("0/../../x") << "0/../../x" << false;
    QTest::newRow("/etc/passwd") << "/etc/passwd" << false;
    QTest::newRow("backslash") << "..\\x" << false;
    QTest::newRow("NUL") << QString::fromLatin1("0\0/x", 4) << false;
}

void TstZelvoUtil::isFileNamePart()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);

    QCOMPARE(ZelvoUtil::isFileNamePart(text), accepted);
}

void TstZelvoUtil::fromBase64_data()
{
    QTest::addColumn<QString>("text");

    QByteArray everyByte(256 * 3, Qt::Uninitialized);
    for (int i = 0; i < everyByte.size(); ++i)
        everyByte[i] = char(i * 7);
    QTest::newRow("every byte value") << QString::fromLatin1(everyByte.toBase64());
    QTest::newRow("one byte padded") << "QQ==";
    QTest::newRow("two bytes unpadded") << "QUI";
    QTest::newRow("lone character") << "Q";
    QTest::newRow("line breaks") << "QUJD\nREVG\r\nR0g=";
    QTest::newRow("padding inside") << "QU=JD=REVG";
    QTest::newRow("url alphabet") << "-_-_QUJD";
    QTest::newRow("beyond Latin-1") << QStringLiteral("QU\u00e9JD\u4e2dREVG");
    QTest::newRow("only padding") << "====";
    QTest::newRow("empty") << "";
}

// Qt's own decoding is what agents have relied on.
void TstZelvoUtil::fromBase64()
{
    QFETCH(QString, text);

    QCOMPARE(ZelvoUtil::fromBase64(text), QByteArray::fromBase64(text.toLatin1()));
}

void TstZelvoUtil::readImage_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("refused");

    QTest::newRow("2 x 3") << TestFiles::png(filled(2, 3)) << QSize(2, 3) << false;
    QTest::newRow("5000 x 18") << TestFiles::png(filled(5000, 18)) << QSize(5000, 18) << false;
    QTest::newRow("1 x 20000") << TestFiles::png(filled(1, 20000)) << QSize(1, 20000) << false;
    QTest::newRow("header of 30000 x 30000") << TestFiles::pngAnnouncing(30000, 30000) << QSize(0, 0) << true;
    QTest::newRow("header of 8193 x 8192") << TestFiles::pngAnnouncing(8193, 8192) << QSize(0, 0) << true;
    QTest::newRow("header of 8192 x 8192, data of 2 x 2") << TestFiles::pngAnnouncing(8192, 8192) << QSize(0, 0)
                                                          << false;
    QTest::newRow("no picture") << QByteArray("no picture at all") << QSize(0, 0) << false;
    QTest::newRow("empty") << QByteArray() << QSize(0, 0) << false;
}

void TstZelvoUtil::readImage()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, size);
    QFETCH(bool, refused);

    const QTemporaryDir scratch(home() + QStringLiteral("/read-XXXXXX"));
    const QString path = scratch.filePath(QStringLiteral("picture.png"));
    QVERIFY(TestFiles::write(path, bytes));

    if (refused)
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral(
            "readImageFile REFUSED IMAGE .*: image 0 \\(\\d+ x \\d+, [0-9.]+ [MG]iB decoded\\) refused: over the 256 MiB "
            "a picture may decode to")));
    const QImage image = ZelvoUtil::readImageFile(path);
    QCOMPARE(image.size(), size);
    if (!image.isNull())
        QCOMPARE(image.pixel(0, 0), QColor(Qt::blue).rgb());
}

QTEST_GUILESS_MAIN(TstZelvoUtil)
#include "tst_zelvoutil.moc"
