#include <QColor>
#include <QDir>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>

namespace {

struct Resource
{
    const char* name;
    QSize size;
};

// Every picture of the resource tree with the size its users expect.
const Resource resources[] = {
    {"glass.png", {640, 480}},
    {"fullscreen_on.png", {28, 28}},
    {"fullscreen_off.png", {28, 28}},
    {"buttonplus.png", {39, 43}},
    {"buttonpluspressed.png", {39, 43}},
    {"buttonminus.png", {33, 38}},
    {"buttonminuspressed.png", {33, 38}},
    {"buttonsensor.png", {39, 43}},
    {"buttonsensorpressed.png", {32, 32}},
    {"connection.png", {12, 12}},
    {"battery-000.png", {24, 24}},
    {"battery-020.png", {24, 24}},
    {"battery-040.png", {24, 24}},
    {"battery-060.png", {24, 24}},
    {"battery-080.png", {24, 24}},
    {"battery-100.png", {24, 24}},
    {"battery-000-charging.png", {24, 24}},
    {"battery-020-charging.png", {24, 24}},
    {"battery-040-charging.png", {24, 24}},
    {"battery-060-charging.png", {24, 24}},
    {"battery-080-charging.png", {24, 24}},
    {"battery-100-charging.png", {24, 24}},
    {"sensor_battery.png", {62, 62}},
    {"sensor_accelerometer.png", {62, 62}},
    {"sensor_compass.png", {62, 62}},
    {"sensor_light.png", {62, 62}},
    {"sensor_altimeter.png", {62, 62}},
    {"sensor_play.png", {48, 48}},
    {"sensor_pause.png", {48, 48}},
    {"notify_accelerometer.png", {24, 24}},
    {"notify_altimeter.png", {24, 24}},
    {"notify_compass.png", {24, 24}},
    {"notify_light.png", {24, 24}},
    {"sensors.png", {256, 256}},
    {"Water_drops_on_glass.jpg", {640, 480}},
};

// Relative luminance of a colour, 0 for black to 1 for white.
double luminance(QRgb pixel)
{
    const auto linear = [](int channel) {
        const double c = channel / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(qRed(pixel)) + 0.7152 * linear(qGreen(pixel)) + 0.0722 * linear(qBlue(pixel));
}

// Mean luminance of the opaque part of `rect` in `image`, as seen over `under`.
double meanLuminance(const QImage& image, const QRect& rect, const QColor& under = Qt::black)
{
    QImage flat(rect.size(), QImage::Format_RGB32);
    flat.fill(under);
    QPainter painter(&flat);
    painter.drawImage(QPoint(0, 0), image, rect);
    painter.end();
    double sum = 0;
    for (int y = 0; y < flat.height(); ++y)
        for (int x = 0; x < flat.width(); ++x)
            sum += luminance(flat.pixel(x, y));
    return sum / (flat.width() * flat.height());
}

// WCAG contrast ratio between two luminances.
double contrast(double a, double b)
{
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

int countPixels(const QImage& image, const std::function<bool(QRgb)>& accept)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    int count = 0;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            count += accept(argb.pixel(x, y)) ? 1 : 0;
    return count;
}

bool isGreen(QRgb pixel)
{
    return qAlpha(pixel) > 200 && qGreen(pixel) > 150 && qRed(pixel) < 120 && qBlue(pixel) < 140;
}

// Empty when `drawn` is `reference` up to the noise of antialiasing, else
// how far apart they are. Antialiased edges come out a level apart on
// another processor, where the raster engine takes other code paths; a moved
// shape, a new colour or a missing piece changes many pixels or changes
// them by far more. Compared as premultiplied colour, which is what shows:
// turning an almost transparent pixel back into straight colour magnifies
// its rounding.
QString drawingDifference(const QImage& drawn, const QImage& reference)
{
    if (drawn.size() != reference.size())
        return QStringLiteral("size %1 x %2 instead of %3 x %4")
            .arg(drawn.width()).arg(drawn.height()).arg(reference.width()).arg(reference.height());
    const QImage a = drawn.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage b = reference.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    int differing = 0;
    int worst = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* left = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* right = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = left[x];
            const QRgb q = right[x];
            const int channel = std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                          std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
            differing += channel > 0 ? 1 : 0;
            worst = std::max(worst, channel);
        }
    }
    const int pixels = a.width() * a.height();
    if (worst <= 3 && differing <= std::max(4, pixels / 200))
        return QString();
    return QStringLiteral("%1 of %2 pixels, by up to %3").arg(differing).arg(pixels).arg(worst);
}

// A picture like the artwork's: a shape with antialiased edges on a
// transparent ground.
QImage artworkLike(const QPointF& centre, const QColor& colour)
{
    QImage image(48, 48, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 1.5));
    painter.setBrush(colour);
    painter.drawEllipse(centre, 14.3, 11.7);
    return image;
}

// The same picture with its first antialiased edge pixel on row 24 a level
// off, as another processor may draw it.
QImage withEdgePixelOff(QImage image)
{
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(24));
    QRgb* edge = std::find_if(row, row + image.width(), [](QRgb p) { return qAlpha(p) > 0 && qAlpha(p) < 255; });
    *edge += qBlue(*edge) < qAlpha(*edge) ? 1 : -1;
    return image;
}

} // namespace

class TestResources final : public QObject
{
    Q_OBJECT

private slots:
    void resourceSize_data();
    void resourceSize();
    void treeHoldsExactlyTheListedPictures();
    void programName_data();
    void programName();
    void panelIcon_data();
    void panelIcon();
    void keyFaceCarriesWhiteText_data();
    void keyFaceCarriesWhiteText();
    void lensIsDarkAroundTheDisplay();
    void batteryLevelGrows_data();
    void batteryLevelGrows();
    void chargingAddsBolt_data();
    void chargingAddsBolt();
    void statusIconReadsOverDarkDisplay_data();
    void statusIconReadsOverDarkDisplay();
    void drawingDifference_data();
    void drawingDifference();
    void generatorDrawsTheCommittedPictures();
};

void TestResources::resourceSize_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    for (const Resource& resource : resources)
        QTest::newRow(resource.name) << QStringLiteral(":/data/") + resource.name << resource.size;
}

void TestResources::resourceSize()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QVERIFY2(QFile::exists(path), qPrintable(path));
    const QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
    QCOMPARE(image.size(), size);
}

void TestResources::treeHoldsExactlyTheListedPictures()
{
    QStringList expected;
    for (const Resource& resource : resources)
        expected << QString::fromLatin1(resource.name);
    expected.sort();
    QStringList actual = QDir(QStringLiteral(":/data")).entryList(QDir::Files);
    actual.sort();
    QCOMPARE(actual, expected);
}

void TestResources::programName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    // The window and the status strip load these without slash or extension.
    const char* const statusNames[] = {
        ":data/connection",
        ":data/battery-000", ":data/battery-020", ":data/battery-040",
        ":data/battery-060", ":data/battery-080", ":data/battery-100",
        ":data/battery-000-charging", ":data/battery-020-charging", ":data/battery-040-charging",
        ":data/battery-060-charging", ":data/battery-080-charging", ":data/battery-100-charging",
    };
    for (const char* name : statusNames)
        QTest::newRow(name) << QString::fromLatin1(name)
                            << (QByteArray(name) == ":data/connection" ? QSize(12, 12) : QSize(24, 24));
}

void TestResources::programName()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);
    const QImage image(name);
    QVERIFY2(!image.isNull(), qPrintable(name));
    QCOMPARE(image.size(), size);
}

void TestResources::panelIcon_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("extent");
    QTest::newRow(":data/sensor_battery") << QStringLiteral(":data/sensor_battery") << 62;
    QTest::newRow(":data/sensor_accelerometer") << QStringLiteral(":data/sensor_accelerometer") << 62;
    QTest::newRow(":data/sensor_compass") << QStringLiteral(":data/sensor_compass") << 62;
    QTest::newRow(":data/sensor_light") << QStringLiteral(":data/sensor_light") << 62;
    QTest::newRow(":data/sensor_play") << QStringLiteral(":data/sensor_play") << 48;
    QTest::newRow(":data/sensor_pause") << QStringLiteral(":data/sensor_pause") << 48;
}

void TestResources::panelIcon()
{
    QFETCH(QString, name);
    QFETCH(int, extent);
    // The sensor panel builds its icons from these names.
    const QIcon icon(name);
    QVERIFY2(!icon.isNull(), qPrintable(name));
    const QPixmap pixmap = icon.pixmap(extent, extent);
    QCOMPARE(pixmap.size(), QSize(extent, extent));
    // Still recognisable at the small size a push button shows.
    const QImage small = icon.pixmap(16, 16).toImage();
    QVERIFY(countPixels(small, [](QRgb p) { return qAlpha(p) > 128; }) > 16 * 16 / 3);
}

void TestResources::keyFaceCarriesWhiteText_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("buttonplus.png") << QStringLiteral(":/data/buttonplus.png");
    QTest::newRow("buttonpluspressed.png") << QStringLiteral(":/data/buttonpluspressed.png");
    QTest::newRow("buttonminus.png") << QStringLiteral(":/data/buttonminus.png");
    QTest::newRow("buttonminuspressed.png") << QStringLiteral(":/data/buttonminuspressed.png");
}

void TestResources::keyFaceCarriesWhiteText()
{
    QFETCH(QString, path);
    const QImage key(path);
    // The centre, where the program writes "+" or "-" in white, over the
    // light glasses picture.
    const QRect centre(key.width() / 4, key.height() / 4, key.width() / 2, key.height() / 2);
    const double face = meanLuminance(key, centre, QColor(0xe0, 0xe4, 0xe8));
    QVERIFY2(contrast(face, 1.0) >= 4.5, qPrintable(QString::number(contrast(face, 1.0))));
}

void TestResources::lensIsDarkAroundTheDisplay()
{
    const QImage glass(QStringLiteral(":/data/glass.png"));
    const QRect displayArea(200, 150, 256, 192);
    const double screen = meanLuminance(glass, displayArea);
    // Green content on the display must read as on the device's dark screen.
    QVERIFY2(contrast(screen, luminance(qRgb(0, 255, 0))) >= 10,
             qPrintable(QString::number(screen)));
    // The backdrop above the glasses is light: the display stands out as a screen.
    const double backdrop = meanLuminance(glass, QRect(200, 10, 256, 40));
    QVERIFY(contrast(screen, backdrop) >= 7);
    // The keys sit on the side module, not on the backdrop.
    for (const QPoint& keyCorner : {QPoint(570, 140), QPoint(565, 200), QPoint(570, 60)})
        QVERIFY(contrast(meanLuminance(glass, QRect(keyCorner - QPoint(4, 4), QSize(3, 3))), backdrop) >= 3);
}

void TestResources::batteryLevelGrows_data()
{
    QTest::addColumn<QString>("lower");
    QTest::addColumn<QString>("higher");
    const QStringList levels = {"000", "020", "040", "060", "080", "100"};
    for (int i = 0; i + 1 < levels.size(); ++i) {
        const QString lower = QStringLiteral(":data/battery-") + levels[i];
        const QString higher = QStringLiteral(":data/battery-") + levels[i + 1];
        QTest::newRow(qPrintable(lower + " < " + higher)) << lower << higher;
    }
}

void TestResources::batteryLevelGrows()
{
    QFETCH(QString, lower);
    QFETCH(QString, higher);
    // Coloured pixels inside the casing: the charge.
    const auto filled = [](const QImage& image) {
        return countPixels(image.copy(3, 8, 16, 8), [](QRgb p) {
            const int spread = std::max({qRed(p), qGreen(p), qBlue(p)})
                               - std::min({qRed(p), qGreen(p), qBlue(p)});
            return qAlpha(p) > 200 && spread > 90;
        });
    };
    QVERIFY(filled(QImage(lower)) < filled(QImage(higher)));
}

void TestResources::chargingAddsBolt_data()
{
    QTest::addColumn<QString>("level");
    for (const char* level : {"000", "020", "040", "060", "080", "100"})
        QTest::newRow(level) << QString::fromLatin1(level);
}

void TestResources::chargingAddsBolt()
{
    QFETCH(QString, level);
    const auto yellow = [](QRgb p) {
        return qAlpha(p) > 200 && qRed(p) > 230 && qGreen(p) > 190 && qBlue(p) < 120;
    };
    const QImage plain = QImage(":data/battery-" + level).convertToFormat(QImage::Format_ARGB32);
    const QImage charging =
        QImage(":data/battery-" + level + "-charging").convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(countPixels(plain, yellow), 0);
    QVERIFY(countPixels(charging, yellow) > 12);
    // Beside the bolt, the charging icon is the plain one: same casing, same charge.
    for (const int x : {0, 1, 2, 3, 4, 5, 6, 17, 18, 19, 20, 21, 22, 23})
        QCOMPARE(charging.copy(x, 0, 1, 24), plain.copy(x, 0, 1, 24));
}

void TestResources::statusIconReadsOverDarkDisplay_data()
{
    QTest::addColumn<QString>("path");
    for (const char* name : {":data/connection", ":data/battery-000", ":data/battery-100",
                             ":/data/notify_accelerometer.png", ":/data/notify_altimeter.png",
                             ":/data/notify_compass.png", ":/data/notify_light.png"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestResources::statusIconReadsOverDarkDisplay()
{
    QFETCH(QString, path);
    const QImage icon(path);
    // Transparent around the symbol, so the strip stays see-through...
    const QRgb corner = icon.convertToFormat(QImage::Format_ARGB32).pixel(0, 0);
    QCOMPARE(qAlpha(corner), 0);
    // ...and a symbol that stands out on the black display (contrast 4.5:1).
    const int bright = countPixels(icon, [](QRgb p) { return qAlpha(p) > 200 && luminance(p) > 0.175; });
    QVERIFY2(bright >= icon.width() * icon.height() / 12, qPrintable(QString::number(bright)));
    // Some of it is not green, so that it differs from agent content.
    QVERIFY(bright > countPixels(icon, isGreen));
}

void TestResources::drawingDifference_data()
{
    QTest::addColumn<QImage>("drawn");
    QTest::addColumn<bool>("noise");
    const QImage reference = artworkLike(QPointF(24, 24), QColor(0x2e, 0x7d, 0xd1));
    QTest::newRow("same drawing") << reference << true;
    QTest::newRow("one edge pixel a level off") << withEdgePixelOff(reference) << true;
    QTest::newRow("shape moved by a pixel") << artworkLike(QPointF(25, 24), QColor(0x2e, 0x7d, 0xd1)) << false;
    QTest::newRow("shape moved by a fifth of a pixel") << artworkLike(QPointF(24.2, 24), QColor(0x2e, 0x7d, 0xd1))
                                                       << false;
    QTest::newRow("colour changed") << artworkLike(QPointF(24, 24), QColor(0x2e, 0x7d, 0xd8)) << false;
    QTest::newRow("nothing drawn") << QImage() << false;
    QTest::newRow("other size") << reference.copy(0, 0, 47, 48) << false;
}

void TestResources::drawingDifference()
{
    QFETCH(QImage, drawn);
    QFETCH(bool, noise);
    const QString difference = ::drawingDifference(drawn, artworkLike(QPointF(24, 24), QColor(0x2e, 0x7d, 0xd1)));
    QVERIFY2(difference.isEmpty() == noise, qPrintable(difference));
}

void TestResources::generatorDrawsTheCommittedPictures()
{
    QTemporaryDir outDir;
    QVERIFY(outDir.isValid());
    QProcess generator;
    generator.start(QStringLiteral(ZELVO_ARTWORK), {outDir.path()});
    QVERIFY(generator.waitForFinished(120000));
    QCOMPARE(generator.exitStatus(), QProcess::NormalExit);
    QCOMPARE(generator.exitCode(), 0);

    for (const Resource& resource : resources) {
        const QString name = QString::fromLatin1(resource.name);
        const QImage drawn(outDir.filePath(name));
        const QImage committed(QStringLiteral(ZELVO_DATA_DIR "/") + name);
        const QImage compiled(QStringLiteral(":/data/") + name);
        QVERIFY2(!drawn.isNull(), qPrintable(name + " is not drawn by zelvo-artwork"));
        const QString difference = ::drawingDifference(drawn, committed);
        QVERIFY2(difference.isEmpty(), qPrintable(name + " differs from what zelvo-artwork draws in " + difference
                                                  + ": run zelvo-artwork Emulator/data"));
        // The same file decoded twice: no room for any difference.
        QVERIFY2(compiled.convertToFormat(QImage::Format_ARGB32) == committed.convertToFormat(QImage::Format_ARGB32),
                 qPrintable(name + " in the program differs from Emulator/data"));
    }
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
