#include "../../util/TestFiles.h"
#include "../../zelvo_image_util/Pictures.h"
#include "ZIImage.h"
#include "ZIImageUtil.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QVector>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>
#include <sys/stat.h>
#include <zlib.h>

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

QByteArray bigEndian(quint32 value)
{
    const char bytes[] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    return QByteArray(bytes, sizeof bytes);
}

QByteArray pngChunk(const QByteArray& type, const QByteArray& data)
{
    const uLong crc = crc32(crc32(0, reinterpret_cast<const Bytef*>(type.constData()), uInt(type.size())),
                            reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size()));
    return bigEndian(quint32(data.size())) + type + data + bigEndian(quint32(crc));
}

// A black RGB PNG of side x side pixels, compressed a row at a time, so
// that the test never holds the whole picture. Interlaced, its rows are
// those of the seven passes, all black as well.
QByteArray blackPng(int side, bool interlaced = false)
{
    struct Pass { int x0, y0, dx, dy; };
    const QVector<Pass> passes = interlaced
        ? QVector<Pass>{{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}}
        : QVector<Pass>{{0, 0, 1, 1}};
    z_stream stream {};
    deflateInit(&stream, Z_BEST_SPEED);
    QByteArray idat;
    char out[64 * 1024];
    const auto compress = [&](const QByteArray& bytes, int flush) {
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
        stream.avail_in = uInt(bytes.size());
        do {
            stream.next_out = reinterpret_cast<Bytef*>(out);
            stream.avail_out = sizeof out;
            deflate(&stream, flush);
            idat.append(out, int(sizeof out - stream.avail_out));
        } while (stream.avail_out == 0);
    };
    for (const Pass& pass : passes) {
        const int columns = (side - pass.x0 + pass.dx - 1) / pass.dx;
        const QByteArray row(3 * columns + 1, '\0');
        for (int y = pass.y0; y < side && columns > 0; y += pass.dy)
            compress(row, Z_NO_FLUSH);
    }
    compress(QByteArray(), Z_FINISH);
    deflateEnd(&stream);
    return QByteArray("\x89PNG\r\n\x1a\n", 8)
        + pngChunk("IHDR", bigEndian(side) + bigEndian(side) + QByteArray("\x08\x02\x00\x00", 4)
                               + QByteArray(1, interlaced ? '\x01' : '\x00'))
        + pngChunk("IDAT", idat) + pngChunk("IEND", QByteArray());
}

} // namespace

class TestZiTool : public QObject
{
    Q_OBJECT

private slots:
    void encodeInfoDecode_data();
    void encodeInfoDecode();
    void fitScalesLargePicturesDown();
    void fitScalesHugePicturesWhileReading_data();
    void fitScalesHugePicturesWhileReading();
    void infoOfLargeFiles_data();
    void infoOfLargeFiles();
    void errors_data();
    void errors();
    void help_data();
    void help();

private:
    Run zitool(const QStringList& arguments) const;
    QString path(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
};

Run TestZiTool::zitool(const QStringList& arguments) const
{
    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.start(QStringLiteral(ZITOOL_PATH), arguments);
    Run run;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

void TestZiTool::encodeInfoDecode_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QRgb>("ink");
    QTest::addColumn<QRgb>("paper");

    QTest::newRow("green on white") << QStringList() << Green << White;
    QTest::newRow("green on yellow") << QStringList() << qRgb(40, 255, 90) << qRgb(255, 255, 0);
    QTest::newRow("--mono, black ink on white") << QStringList { "--mono" } << qRgb(0, 0, 0) << White;
    QTest::newRow("--mono, navy ink on transparent")
        << QStringList { "--mono" } << qRgb(0, 0, 128) << qRgba(0, 0, 0, 0);
    QTest::newRow("--threshold 70, grey 150 on grey 200")
        << QStringList { "--threshold", "70" } << qRgb(150, 150, 150) << qRgb(200, 200, 200);
    QTest::newRow("--dither, black on white") << QStringList { "--dither" } << qRgb(0, 0, 0) << White;
}

void TestZiTool::encodeInfoDecode()
{
    QFETCH(QStringList, options);
    QFETCH(QRgb, ink);
    QFETCH(QRgb, paper);
    const QStringList rows { "#.........#..", ".#.......#...", "..#######....", "..#.....#....", "#############" };
    QVERIFY(picture(rows, ink, paper).save(path("drawing.png")));

    const Run encoded = zitool(QStringList { "encode" } + options + QStringList { "drawing.png", "drawing.zi" });
    QCOMPARE(encoded.exitCode, 0);
    QCOMPARE(encoded.err, QByteArray());

    const QByteArray bytes = TestFiles::read(path("drawing.zi"));
    const Run info = zitool({ "info", "drawing.zi" });
    QCOMPARE(info.exitCode, 0);
    QCOMPARE(info.out, "width 13\nheight 5\nbytes 15\nhash 0x"
                 + QByteArray::number(ZIImage(bytes).hash(), 16) + "\n");

    const Run decoded = zitool({ "decode", "drawing.zi", "decoded.png" });
    QCOMPARE(decoded.exitCode, 0);
    QCOMPARE(pattern(QImage(path("decoded.png"))), rows);
}

void TestZiTool::fitScalesLargePicturesDown()
{
    QImage photo(640, 432, QImage::Format_RGB32);
    photo.fill(qRgb(30, 30, 30));
    QVERIFY(photo.save(path("photo.png")));

    QCOMPARE(zitool({ "encode", "--dither", "--fit", "320x200", "photo.png", "photo.zi" }).exitCode, 0);

    QCOMPARE(ZIImageUtil::ziDimensions(TestFiles::read(path("photo.zi"))), QSize(296, 200));
}

void TestZiTool::fitScalesHugePicturesWhileReading_data()
{
    QTest::addColumn<int>("side");
    QTest::addColumn<bool>("interlaced");
    QTest::addColumn<QString>("error");

    QTest::newRow("16000 x 16000") << 16000 << false << QString();
    // Qt reads an interlaced PNG whole before scaling it: 324 MB here.
    QTest::newRow("9000 x 9000 interlaced")
        << 9000 << true << "zitool: huge.png is 9000 x 9000 pixels, which Qt reads whole before scaling";
}

void TestZiTool::fitScalesHugePicturesWhileReading()
{
    QFETCH(int, side);
    QFETCH(bool, interlaced);
    QFETCH(QString, error);
    QVERIFY(TestFiles::write(path("huge.png"), blackPng(side, interlaced)));

    const Run run = zitool({ "encode", "--mono", "--fit", "320x200", "huge.png", "huge.zi" });

    QCOMPARE(run.exitCode, error.isEmpty() ? 0 : 1);
    QVERIFY2(QString::fromLocal8Bit(run.err).startsWith(error), run.err.constData());
    if (error.isEmpty())
        QCOMPARE(ZIImageUtil::ziDimensions(TestFiles::read(path("huge.zi"))), QSize(200, 200));
    // Decoded whole, the picture alone takes a gigabyte or more.
    rusage usage {};
    QCOMPARE(getrusage(RUSAGE_CHILDREN, &usage), 0);
    QVERIFY2(usage.ru_maxrss < 200 * 1024, qPrintable(QString::number(usage.ru_maxrss)));
    QFile::remove(path("huge.png"));
    QFile::remove(path("huge.zi"));
}

void TestZiTool::infoOfLargeFiles_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");

    // Beyond the container's bound, but valid files all the same, which
    // the emulator stores and draws.
    QTest::newRow("320 x 216") << 320 << 216;
    QTest::newRow("4095 x 4095") << 4095 << 4095;
}

void TestZiTool::infoOfLargeFiles()
{
    QFETCH(int, width);
    QFETCH(int, height);
    const qint64 size = ZIImageUtil::ziByteCount(width, height);
    QByteArray bytes = ZIImageUtil::ziHeader(width, height);
    bytes += QByteArray(int(size) - bytes.size(), '\x01');
    QVERIFY(TestFiles::write(path("large.zi"), bytes));

    const Run info = zitool({ "info", "large.zi" });

    QCOMPARE(info.exitCode, 0);
    QCOMPARE(info.out, QStringLiteral("width %1\nheight %2\nbytes %3\nhash 0x").arg(width).arg(height).arg(size).toUtf8()
                 + QByteArray::number(ZIImage::hash(reinterpret_cast<const quint8*>(bytes.constData()), bytes.size()), 16)
                 + "\n");
    QCOMPARE(info.err, QByteArray());
}

void TestZiTool::errors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    QTest::newRow("encode of a missing picture") << QStringList { "encode", "missing.png", "out.zi" } << 1
                                                 << "cannot read picture missing.png: File not found";
    QTest::newRow("encode of text named .png") << QStringList { "encode", "text.png", "out.zi" } << 1
                                               << "cannot read picture text.png: ";
    QTest::newRow("encode of 320 x 216") << QStringList { "encode", "display.png", "out.zi" } << 1
                                         << "display.png is 320 x 216 pixels; its ZI form needs 8646 bytes";
    QTest::newRow("encode of 4096 x 2") << QStringList { "encode", "wide.png", "out.zi" } << 1
                                        << "wide.png is 4096 x 2 pixels, larger than the 4095 x 4095";
    QTest::newRow("encode into a missing folder") << QStringList { "encode", "small.png", "no/out.zi" } << 1
                                                  << "cannot write no/out.zi";
    QTest::newRow("decode of a missing file") << QStringList { "decode", "missing.zi", "out.png" } << 1
                                              << "cannot read missing.zi: No such file or directory";
    QTest::newRow("decode of a PNG") << QStringList { "decode", "small.png", "out.png" } << 1
                                     << "small.png is not a ZI file";
    QTest::newRow("decode of an 8-byte ZI file") << QStringList { "decode", "tiny.zi", "out.png" } << 1
                                                 << "tiny.zi is too short to decode: 8 bytes";
    QTest::newRow("decode to an unknown suffix") << QStringList { "decode", "small.zi", "out.xyz" } << 1
                                                 << "cannot write out.xyz: no picture format for the suffix \"xyz\"";
    QTest::newRow("info of a missing file") << QStringList { "info", "missing.zi" } << 1 << "cannot read missing.zi";
    QTest::newRow("encode of 16000 x 16000") << QStringList { "encode", "huge.png", "out.zi" } << 1
                                             << "huge.png is 16000 x 16000 pixels, larger than the 4095 x 4095";
    QTest::newRow("encode of a FIFO") << QStringList { "encode", "pipe.zi", "out.zi" } << 1
                                      << "pipe.zi is not a regular file";
    QTest::newRow("info of a FIFO") << QStringList { "info", "pipe.zi" } << 1 << "pipe.zi is not a regular file";
    QTest::newRow("decode of a link to /dev/zero") << QStringList { "decode", "zero.zi", "out.png" } << 1
                                                   << "zero.zi is not a regular file";
    QTest::newRow("info of a PNG") << QStringList { "info", "small.png" } << 1 << "small.png is not a ZI file";
    QTest::newRow("no command") << QStringList() << 2 << "no command given";
    QTest::newRow("unknown command") << QStringList { "convert", "a", "b" } << 2 << "unknown command \"convert\"";
    QTest::newRow("encode with one file") << QStringList { "encode", "small.png" } << 2
                                          << "encode takes 2 file name(s), not 1";
    QTest::newRow("info with two files") << QStringList { "info", "a.zi", "b.zi" } << 2
                                         << "info takes 1 file name(s), not 2";
    QTest::newRow("unknown option") << QStringList { "encode", "--sharpen", "small.png", "out.zi" } << 2
                                    << "Unknown option 'sharpen'.";
    QTest::newRow("--threshold 101") << QStringList { "encode", "--threshold", "101", "small.png", "out.zi" } << 2
                                     << "--threshold takes a percentage from 0 to 100, not \"101\"";
    QTest::newRow("--mono --dither") << QStringList { "encode", "--mono", "--dither", "small.png", "out.zi" } << 2
                                     << "--dither excludes --mono and --threshold";
    QTest::newRow("--fit 0x5") << QStringList { "encode", "--fit", "0x5", "small.png", "out.zi" } << 2
                               << "--fit takes a size like 320x200 up to 4095x4095, not \"0x5\"";
}

void TestZiTool::errors()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QImage small(8, 4, QImage::Format_RGB32);
    small.fill(Green);
    QVERIFY(small.save(path("small.png")));
    QVERIFY(ZIImageUtil::ziCompress(small).save(path("small.zi")));
    QVERIFY(QImage(320, 216, QImage::Format_RGB32).save(path("display.png")));
    QVERIFY(QImage(4096, 2, QImage::Format_RGB32).save(path("wide.png")));
    QVERIFY(TestFiles::write(path("text.png"), "not a picture\n"));
    QVERIFY(TestFiles::write(path("tiny.zi"), QByteArray(".zi\x00\x30\x03\xFF\x01", 8)));
    QVERIFY(QFileInfo::exists(path("huge.png")) || TestFiles::write(path("huge.png"), blackPng(16000)));
    QVERIFY(QFileInfo::exists(path("pipe.zi")) || ::mkfifo(qPrintable(path("pipe.zi")), 0600) == 0);
    QVERIFY(QFileInfo::exists(path("zero.zi")) || QFile::link("/dev/zero", path("zero.zi")));

    const Run run = zitool(arguments);

    QCOMPARE(run.exitCode, exitCode);
    const QString err = QString::fromLocal8Bit(run.err);
    QVERIFY2(err.startsWith("zitool: " + message), qPrintable(err));
    QCOMPARE(err.count(QLatin1Char('\n')), 1);
    QVERIFY(!QFile::exists(path("out.zi")));
    QVERIFY(!QFile::exists(path("out.png")));
    QVERIFY(!QFile::exists(path("out.xyz")));
}

void TestZiTool::help_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("mentions");

    QTest::newRow("--help") << QStringList { "--help" } << "encode <picture> <out.zi>";
    QTest::newRow("encode --help") << QStringList { "encode", "--help" } << "dark ink on paper becomes the drawing";
    QTest::newRow("decode --help") << QStringList { "decode", "--help" } << "green, the background white";
    QTest::newRow("info --help") << QStringList { "info", "--help" } << "28-bit hash";
}

void TestZiTool::help()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, mentions);

    const Run run = zitool(arguments);

    QCOMPARE(run.exitCode, 0);
    const QString out = QString::fromLocal8Bit(run.out).simplified();
    QVERIFY2(out.startsWith(QLatin1String("Usage: zitool ")), qPrintable(out));
    QVERIFY2(out.contains(mentions), qPrintable(out));
}

QTEST_GUILESS_MAIN(TestZiTool)
#include "tst_zitool.moc"
