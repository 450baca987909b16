#include "ui/Button.h"
#include "ContentPictures.h"
#include "TestAgent.h"
#include "ZIImageUtil.h"
#include "ui/ZelvoDisplay.h"
#include "ui/ZelvoEmulator.h"
#include "model/ZelvoLayout.h"
#include "comm/ZelvoServer.h"
#include "services/ZelvoServices.h"

#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QGraphicsScene>
#include <QHostAddress>
#include <QImage>
#include <QList>
#include <QPaintEvent>
#include <QPainter>
#include <QRect>
#include <QRegion>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTest>

#include <memory>

namespace {

const QRect contentArea(0, 24, 320, 216);

QString agentDirectory(const QString& hash)
{
    return ContentPictures::imageDirectory(hash);
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QVERIFY(TestFiles::write(path, bytes));
}

QByteArray zi(int width, int height)
{
    return ContentPictures::ziPayload(width, height);
}

QByteArray png(int width, int height)
{
    return ContentPictures::pngPayload(width, height);
}

// Opaque on the left, clear on the right: only the left half covers.
QByteArray halfClearPng(int width, int height)
{
    QImage image = ContentPictures::picture(width, height, Qt::red);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(width / 2, 0, width - width / 2, height, Qt::transparent);
    painter.end();
    return TestFiles::png(image);
}

// What a stored payload looks like once drawn.
QImage shown(const QByteArray& payload)
{
    return payload.startsWith(".zi") ? ZIImageUtil::ziUncompress(payload)
                                     : QImage::fromData(payload, "PNG").convertToFormat(QImage::Format_ARGB32);
}

QImage contentOf(const ZelvoEmulator& window)
{
    return window.displayImage().copy(contentArea).convertToFormat(QImage::Format_ARGB32);
}

bool isTextPixel(QRgb pixel, QRgb color)
{
    // Antialiased edges keep the colour and vary in alpha.
    return qAlpha(pixel) == 0
        || (qRed(pixel) == qRed(color) && qGreen(pixel) == qGreen(color) && qBlue(pixel) == qBlue(color));
}

int countVisible(const QImage& image, const QRect& rect)
{
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x)
            count += qAlpha(image.pixel(x, y)) > 0;
    }
    return count;
}

bool isEmpty(const QImage& image)
{
    return countVisible(image, image.rect()) == 0;
}

// Compares a drawn content area with what a layout promises: each image
// unscaled from the top left corner of its rectangle (later ones on top,
// all of them over the texts), texts in the text colour inside their
// rectangles, nothing anywhere else. Returns the first difference found.
QString compareContent(const QImage& content, const ZelvoLayout& layout, const QList<QImage>& images,
                       const QStringList& texts, QRgb textColor)
{
    QImage expected(content.size(), QImage::Format_ARGB32);
    expected.fill(Qt::transparent);
    QImage covered(content.size(), QImage::Format_ARGB32);
    covered.fill(Qt::transparent);
    {
        QPainter painter(&expected);
        QPainter mask(&covered);
        for (int i = 0; i < images.size(); ++i) {
            const QRect placed(layout.images().at(i).topLeft(), images.at(i).size());
            painter.drawImage(placed.topLeft(), images.at(i));
            mask.fillRect(placed, Qt::black);
        }
    }
    for (int y = 0; y < content.height(); ++y) {
        for (int x = 0; x < content.width(); ++x) {
            const QRgb pixel = content.pixel(x, y);
            bool inText = false;
            for (const QRect& rect : layout.texts())
                inText = inText || rect.contains(x, y);
            const bool ok = qAlpha(covered.pixel(x, y)) ? pixel == expected.pixel(x, y)
                : inText                                ? isTextPixel(pixel, textColor)
                                                        : qAlpha(pixel) == 0;
            if (!ok) {
                return QStringLiteral("pixel (%1, %2) is #%3, expected #%4")
                    .arg(x)
                    .arg(y)
                    .arg(pixel, 8, 16, QLatin1Char('0'))
                    .arg(expected.pixel(x, y), 8, 16, QLatin1Char('0'));
            }
        }
    }
    for (int i = 0; i < texts.size(); ++i) {
        const QRect rect = layout.texts().at(i);
        if (!texts.at(i).isEmpty() && countVisible(covered, rect) < rect.width() * rect.height()
            && countVisible(content, rect) == 0)
            return QStringLiteral("text %1 is not drawn").arg(texts.at(i));
    }
    return QString();
}

// The rows of the lowest line of text in rect.
QRect lowestLine(const QImage& image, const QRect& rect)
{
    const auto rowIsEmpty = [&](int y) { return countVisible(image, QRect(rect.left(), y, rect.width(), 1)) == 0; };
    int bottom = rect.bottom();
    while (bottom >= rect.top() && rowIsEmpty(bottom))
        --bottom;
    int top = bottom;
    while (top > rect.top() && !rowIsEmpty(top - 1))
        --top;
    return QRect(rect.left(), top, rect.width(), bottom - top + 1);
}

int lineCount(const QImage& image, const QRect& rect)
{
    int lines = 0;
    bool inLine = false;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        const bool visible = countVisible(image, QRect(rect.left(), y, rect.width(), 1)) > 0;
        lines += visible && !inLine;
        inLine = visible;
    }
    return lines;
}

// Whether a line of capitals ends in "…": three low marks after a full
// height letter.
bool endsInEllipsis(const QImage& image, const QRect& textRect)
{
    const QRect line = lowestLine(image, textRect);
    QList<int> heights;
    bool inMark = false;
    for (int x = line.right(); x >= line.left(); --x) {
        int top = line.bottom() + 1;
        int bottom = line.top() - 1;
        for (int y = line.top(); y <= line.bottom(); ++y) {
            if (qAlpha(image.pixel(x, y)) > 96) {
                top = qMin(top, y);
                bottom = qMax(bottom, y);
            }
        }
        const bool visible = bottom >= top;
        if (visible && !inMark)
            heights.append(0);
        if (visible)
            heights.last() = qMax(heights.last(), line.bottom() - top + 1);
        inMark = visible;
    }
    if (heights.size() < 4)
        return false;
    for (int i = 0; i < 3; ++i) {
        if (heights.at(i) * 3 > line.height())
            return false;
    }
    return heights.at(3) * 3 > line.height() * 2;
}

QString words(int count, const QString& word)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list.append(word);
    return list.join(QLatin1Char(' '));
}

// Collects the regions a widget paints.
class PaintSpy final : public QObject
{
public:
    PaintSpy(QWidget* widget, QRegion* painted)
        : painted(painted)
    {
        widget->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            *painted += static_cast<QPaintEvent*>(event)->region();
        return QObject::eventFilter(watched, event);
    }

private:
    QRegion* painted;
};

} // namespace

class TstContentRendering final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void contentRepaintsOnlyTheDisplay();

    void layouts_data();
    void layouts();
    void ziBeforePng();
    void textInCapitals();
    void textWrappedAndElided();
    void titleOnOneLine_data();
    void titleOnOneLine();
    void textWhiteInFullScreen();
    void layoutIds_data();
    void layoutIds();
    void imageIdWithLeadingZero();
    void countMismatch_data();
    void countMismatch();
    void undecodableZi_data();
    void undecodableZi();
    void ziHeaderBeyondData();
    void refusedImageId_data();
    void refusedImageId();
    void refusedAgentHashDrawsTexts();
    void oversizedPngNotDrawn();

private:
    // Shows content and returns once it is drawn; the minimum persisting
    // time (0 here) of the previous content has passed.
    bool show(const QString& hash, int contentId, const QString& layId, const QStringList& imageIds,
              const QStringList& texts);

    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    std::unique_ptr<ZelvoEmulator> window;
    std::unique_ptr<TestAgent> agent;
};

void TstContentRendering::initTestCase()
{
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
}

void TstContentRendering::init()
{
    window = std::make_unique<ZelvoEmulator>(&server, services, nullptr);
    agent = std::make_unique<TestAgent>(server);
    QVERIFY(TestAgent::waitUntilServed(server, {agent.get()}));
    QVERIFY(agent->setPersistingTimes(0, 60000));
}

void TstContentRendering::cleanup()
{
    agent.reset();
    QTRY_VERIFY(server.connections().isEmpty());
    window.reset();
}

// Content changes at animation rates: each one repaints the display's own
// area of the window, never the glasses around it.
void TstContentRendering::contentRepaintsOnlyTheDisplay()
{
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QRegion painted;
    PaintSpy spy(window->viewport(), &painted);
    // Whatever showing the window left to paint comes first.
    QCoreApplication::processEvents();
    painted = QRegion();

    QVERIFY(agent->configure(QStringLiteral("area"), {png(40, 40)}));
    QVERIFY(show(QStringLiteral("area"), 1, QStringLiteral("2"), {"0"}, {"moving"}));
    QTRY_VERIFY(!painted.isEmpty());
    const QRect display = window->mapFromScene(window->displayItem()->sceneBoundingRect()).boundingRect();
    QVERIFY2(display.adjusted(-2, -2, 2, 2).contains(painted.boundingRect()),
             qPrintable(QStringLiteral("painted %1,%2 %3x%4")
                            .arg(painted.boundingRect().x()).arg(painted.boundingRect().y())
                            .arg(painted.boundingRect().width()).arg(painted.boundingRect().height())));
}

bool TstContentRendering::show(const QString& hash, int contentId, const QString& layId,
                               const QStringList& imageIds, const QStringList& texts)
{
    return QTest::qWaitFor([this] { return !window->isMinPersistingTimerRunning(); })
        && agent->show(hash, contentId, layId, imageIds, texts);
}

void TstContentRendering::layouts_data()
{
    QTest::addColumn<int>("layout");
    QTest::addColumn<QList<QByteArray>>("payloads");
    QTest::addColumn<QStringList>("imageIds");
    QTest::addColumn<QStringList>("texts");

    QTest::newRow("0: text") << 0 << QList<QByteArray>{} << QStringList{} << QStringList{"hello glasses"};
    QTest::newRow("1: zi") << 1 << QList<QByteArray>{zi(120, 80)} << QStringList{"0"} << QStringList{};
    QTest::newRow("1: png without zi") << 1 << QList<QByteArray>{png(100, 60)} << QStringList{"0"}
                                       << QStringList{};
    QTest::newRow("1: zi of the whole area") << 1 << QList<QByteArray>{zi(320, 215)} << QStringList{"0"}
                                             << QStringList{};
    QTest::newRow("2: png and text") << 2 << QList<QByteArray>{png(150, 200)} << QStringList{"0"}
                                     << QStringList{"beside the picture"};
    QTest::newRow("3: title, zi and text") << 3 << QList<QByteArray>{zi(150, 170)} << QStringList{"0"}
                                           << QStringList{"title", "body text"};
    QTest::newRow("4: zi png zi png") << 4 << QList<QByteArray>{zi(158, 106), png(80, 50), zi(33, 7), png(158, 106)}
                                      << QStringList{"0", "1", "2", "3"} << QStringList{};
    QTest::newRow("4: ids in another order") << 4 << QList<QByteArray>{zi(40, 40), png(50, 30), zi(60, 20), png(70, 10)}
                                             << QStringList{"3", "1", "0", "2"} << QStringList{};
    QTest::newRow("4: images larger than their rectangles")
        << 4 << QList<QByteArray>{png(200, 150), zi(200, 120), png(10, 10), zi(300, 200)}
        << QStringList{"0", "1", "2", "3"} << QStringList{};
    QTest::newRow("2: 400 x 300 covers the text") << 2 << QList<QByteArray>{png(400, 300)} << QStringList{"0"}
                                                  << QStringList{"hidden under the picture"};
    QTest::newRow("1: png half clear") << 1 << QList<QByteArray>{halfClearPng(100, 60)} << QStringList{"0"}
                                       << QStringList{};
    QTest::newRow("1: missing image") << 1 << QList<QByteArray>{} << QStringList{"5"} << QStringList{};
}

void TstContentRendering::layouts()
{
    QFETCH(int, layout);
    QFETCH(QList<QByteArray>, payloads);
    QFETCH(QStringList, imageIds);
    QFETCH(QStringList, texts);

    // Content of an opaque picture over the whole area first, twice: what
    // it leaves in memory the display reuses must not show where the row's
    // content draws nothing.
    QVERIFY(agent->configure(QStringLiteral("cover"), {png(320, 216)}));
    for (int id = 1; id <= 2; ++id)
        QVERIFY(show(QStringLiteral("cover"), id, QStringLiteral("1"), {"0"}, {}));

    const QString hash = QStringLiteral("layouts");
    QVERIFY(QDir(agentDirectory(hash)).removeRecursively());
    QVERIFY(agent->configure(hash, payloads));
    QList<QImage> images;
    for (const QString& id : imageIds)
        images.append(id.toInt() < payloads.size() ? shown(payloads.at(id.toInt())) : QImage(0, 0, QImage::Format_ARGB32));

    QVERIFY(show(hash, 7, QString::number(layout), imageIds, texts));

    const QString difference = compareContent(contentOf(*window), ZelvoLayout::builtInLayouts().at(layout), images,
                                              texts, QColor(Qt::green).rgb());
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    QCOMPARE(window->agentOnDisplay(), hash);
    QCOMPARE(window->contentIdOnDisplay(), 7);
}

// Files of an earlier run: the .zi before the .png of the same image. A
// configuration of this run decides instead, and removes the file of the
// other format, which would otherwise win again after a restart.
void TstContentRendering::ziBeforePng()
{
    const QString hash = QStringLiteral("both");
    const QByteArray ziPayload = zi(64, 32);
    writeFile(agentDirectory(hash) + QStringLiteral("/both_0.zi"), ziPayload);
    writeFile(agentDirectory(hash) + QStringLiteral("/both_0.png"), png(90, 90));
    QVERIFY(show(hash, 1, QStringLiteral("1"), {"0"}, {}));
    QString difference = compareContent(contentOf(*window), ZelvoLayout::builtInLayouts().at(1),
                                        {shown(ziPayload)}, {}, 0);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));

    QVERIFY(agent->configure(hash, {png(90, 90)}));
    QVERIFY(!QFile::exists(agentDirectory(hash) + QStringLiteral("/both_0.zi")));
    QVERIFY(show(hash, 2, QStringLiteral("1"), {"0"}, {}));
    difference = compareContent(contentOf(*window), ZelvoLayout::builtInLayouts().at(1), {shown(png(90, 90))}, {}, 0);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TstContentRendering::textInCapitals()
{
    QVERIFY(show(QStringLiteral("caps"), 1, QStringLiteral("0"), {}, {"Hello glasses, mixed Case"}));
    const QImage mixed = contentOf(*window);
    QVERIFY(show(QStringLiteral("caps"), 2, QStringLiteral("0"), {}, {"HELLO GLASSES, MIXED CASE"}));
    QCOMPARE(mixed, contentOf(*window));
    QVERIFY(show(QStringLiteral("caps"), 3, QStringLiteral("0"), {}, {"HELLO GLASSES, OTHER CASE"}));
    QVERIFY(mixed != contentOf(*window));
}

void TstContentRendering::textWrappedAndElided()
{
    const QRect area = ZelvoLayout::builtInLayouts().at(0).texts().at(0);
    const QString visible = words(60, QStringLiteral("word"));
    QVERIFY(show(QStringLiteral("long"), 1, QStringLiteral("0"), {}, {visible + QStringLiteral(" first tail")}));
    const QImage content = contentOf(*window);
    QVERIFY(lineCount(content, area) >= 4);
    QVERIFY(endsInEllipsis(content, area));
    // Whatever follows the last visible line is cut off.
    QVERIFY(show(QStringLiteral("long"), 2, QStringLiteral("0"), {}, {visible + QStringLiteral(" other end")}));
    QCOMPARE(contentOf(*window), content);

    QVERIFY(show(QStringLiteral("long"), 3, QStringLiteral("0"), {}, {QStringLiteral("short WORDS")}));
    QCOMPARE(lineCount(contentOf(*window), area), 1);
    QVERIFY(!endsInEllipsis(contentOf(*window), area));
}

void TstContentRendering::titleOnOneLine_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("elided");

    QTest::newRow("short") << "TITLE" << false;
    QTest::newRow("two words too many") << words(12, QStringLiteral("TITLE")) << true;
    QTest::newRow("one long word") << QString(40, QLatin1Char('W')) << true;
}

void TstContentRendering::titleOnOneLine()
{
    QFETCH(QString, title);
    QFETCH(bool, elided);

    QVERIFY(agent->configure(QStringLiteral("title"), {zi(20, 20)}));
    QVERIFY(show(QStringLiteral("title"), 1, QStringLiteral("3"), {"0"}, {title, QStringLiteral("body")}));
    const QImage content = contentOf(*window);
    const QRect titleRect = ZelvoLayout::builtInLayouts().at(3).texts().at(0);
    QCOMPARE(lineCount(content, titleRect), 1);
    QCOMPARE(endsInEllipsis(content, titleRect), elided);
}

void TstContentRendering::textWhiteInFullScreen()
{
    window->pressControl(ZelvoEmulator::Control::FullScreen);
    window->releaseControl(ZelvoEmulator::Control::FullScreen);
    QTRY_VERIFY(window->isFullScreenMode());

    QVERIFY(show(QStringLiteral("white"), 1, QStringLiteral("0"), {}, {"white text"}));
    const QString difference = compareContent(contentOf(*window), ZelvoLayout::builtInLayouts().at(0), {},
                                              {"white text"}, QColor(Qt::white).rgb());
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TstContentRendering::layoutIds_data()
{
    QTest::addColumn<QString>("hash");
    QTest::addColumn<QString>("layId");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<bool>("drawn");
    QTest::addColumn<QString>("agentOnDisplay");
    QTest::addColumn<int>("contentIdOnDisplay");

    QTest::newRow("abc") << "next" << "abc" << true << true << "next" << 2;
    QTest::newRow("0") << "next" << "0" << true << true << "next" << 2;
    QTest::newRow("7") << "next" << "7" << true << false << "next" << 2;
    QTest::newRow("-1") << "next" << "-1" << true << false << "next" << 2;
    QTest::newRow("5") << "next" << "5" << true << false << "next" << 2;
    QTest::newRow("empty") << "next" << "" << false << false << "first" << 1;
    QTest::newRow("empty agent hash") << "" << "0" << false << false << "" << 2;
}

void TstContentRendering::layoutIds()
{
    QFETCH(QString, hash);
    QFETCH(QString, layId);
    QFETCH(bool, accepted);
    QFETCH(bool, drawn);
    QFETCH(QString, agentOnDisplay);
    QFETCH(int, contentIdOnDisplay);

    QVERIFY(agent->configure(QStringLiteral("first"), {zi(100, 100)}));
    QVERIFY(show(QStringLiteral("first"), 1, QStringLiteral("1"), {"0"}, {}));
    const QImage before = contentOf(*window);
    QVERIFY(QTest::qWaitFor([this] { return !window->isMinPersistingTimerRunning(); }));

    // A short life for the second request shows whether it started the timers.
    QVERIFY(agent->setPersistingTimes(0, 200));
    QVERIFY(agent->show(hash, 2, layId, {}, {"layout text"}));
    QCOMPARE(window->agentOnDisplay(), agentOnDisplay);
    QCOMPARE(window->contentIdOnDisplay(), contentIdOnDisplay);
    QCOMPARE(contentOf(*window) != before, drawn);
    if (drawn) {
        const QString difference = compareContent(contentOf(*window), ZelvoLayout::builtInLayouts().at(0), {},
                                                  {"layout text"}, QColor(Qt::green).rgb());
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }
    if (accepted) {
        QTRY_VERIFY(!window->isContentOnDisplay());
        QCOMPARE(window->contentIdOnDisplay(), -1);
        QVERIFY(isEmpty(contentOf(*window)));
    }
}

void TstContentRendering::imageIdWithLeadingZero()
{
    QVERIFY(agent->configure(QStringLiteral("zero"), {zi(50, 50)}));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("SEARCHING \".*/zero_00.zi\"")));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("SEARCHING \".*/zero_00.png\"")));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("DRAWING image \"\" IS NULL!!!")));
    QVERIFY(show(QStringLiteral("zero"), 1, QStringLiteral("1"), {"00"}, {}));
    QVERIFY(isEmpty(contentOf(*window)));
    QCOMPARE(window->contentIdOnDisplay(), 1);
}

void TstContentRendering::countMismatch_data()
{
    QTest::addColumn<QString>("layId");
    QTest::addColumn<QStringList>("imageIds");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("message");

    const QString images = QStringLiteral("images in layout don't match with image indexes");
    const QString texts = QStringLiteral("text in layout don't match with agent texts");
    QTest::newRow("1 with two ids") << "1" << QStringList{"0", "0"} << QStringList{} << images;
    QTest::newRow("1 with no id") << "1" << QStringList{} << QStringList{} << images;
    QTest::newRow("4 with three ids") << "4" << QStringList{"0", "0", "0"} << QStringList{} << images;
    QTest::newRow("0 with no text") << "0" << QStringList{} << QStringList{} << texts;
    QTest::newRow("3 with one text") << "3" << QStringList{"0"} << QStringList{"title"} << texts;
    QTest::newRow("1 with a text") << "1" << QStringList{"0"} << QStringList{"extra"} << texts;
    QTest::newRow("2 with neither") << "2" << QStringList{"0", "0"} << QStringList{"a", "b"} << images;
}

void TstContentRendering::countMismatch()
{
    QFETCH(QString, layId);
    QFETCH(QStringList, imageIds);
    QFETCH(QStringList, texts);
    QFETCH(QString, message);

    QVERIFY(agent->configure(QStringLiteral("count"), {png(30, 30)}));
    QVERIFY(show(QStringLiteral("count"), 1, QStringLiteral("1"), {"0"}, {}));
    const QImage before = contentOf(*window);
    QVERIFY(!isEmpty(before));

    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("\033[31mZelvoEmulator::drawLayout ") + message
                                                + QStringLiteral("\033[0m")));
    QVERIFY(show(QStringLiteral("count"), 2, layId, imageIds, texts));
    QCOMPARE(contentOf(*window), before);
    QCOMPARE(window->contentIdOnDisplay(), 2);
}

void TstContentRendering::undecodableZi_data()
{
    QTest::addColumn<QByteArray>("file");

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("header only") << QByteArray(".zi\x00\x80\x02", 6);
    QTest::newRow("9 bytes") << QByteArray(".zi\x00\x80\x02\xff\xff\xff", 9);
    QTest::newRow("other magic") << QByteArray(".zI\x00\x80\x02\xff\xff\xff\xff", 10);
    QTest::newRow("png bytes") << png(10, 10);
    QTest::newRow("0 x 0") << QByteArray(".zi\x00\x00\x00\xff\xff\xff\xff", 10);
    QTest::newRow("4095 x 0") << QByteArray(".zi\xff\xf0\x00\xff\xff\xff\xff", 10);
}

// A .zi file that cannot be decoded leaves its rectangle empty, and the
// .png file of the same image is not used instead.
void TstContentRendering::undecodableZi()
{
    QFETCH(QByteArray, file);

    // As an earlier run or another program left them.
    const QString hash = QStringLiteral("hostile");
    writeFile(agentDirectory(hash) + QStringLiteral("/hostile_0.png"), png(40, 40));
    writeFile(agentDirectory(hash) + QStringLiteral("/hostile_0.zi"), file);

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("DRAWING image \".*/hostile_0.zi\" IS NULL")));
    QVERIFY(show(hash, 1, QStringLiteral("2"), {"0"}, {"text stays"}));
    const QString difference = compareContent(contentOf(*window), ZelvoLayout::builtInLayouts().at(2), {QImage()},
                                              {"text stays"}, QColor(Qt::green).rgb());
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    QVERIFY(countVisible(contentOf(*window), ZelvoLayout::builtInLayouts().at(2).texts().at(0)) > 0);
}

// A header announcing far more pixels than the file holds: the codec may
// refuse it or leave the missing pixels white, but the picture never shows
// memory past the file.
void TstContentRendering::ziHeaderBeyondData()
{
    const QString hash = QStringLiteral("short");
    QByteArray bytes(".zi\xff\xff\xff", 6);
    bytes.append(QByteArray(4, '\xff'));
    writeFile(agentDirectory(hash) + QStringLiteral("/short_0.zi"), bytes);

    QVERIFY(show(hash, 1, QStringLiteral("4"), {"0", "0", "0", "0"}, {}));
    const QImage content = contentOf(*window);
    if (isEmpty(content))
        return;
    for (int y = 0; y < content.height(); ++y) {
        for (int x = 0; x < content.width(); ++x) {
            const QRgb pixel = content.pixel(x, y);
            QVERIFY2(pixel == ZIImageUtil::litColor || pixel == ZIImageUtil::backgroundColor,
                     qPrintable(QStringLiteral("(%1, %2)").arg(x).arg(y)));
        }
    }
    QCOMPARE(content.pixel(0, 0), ZIImageUtil::litColor);
}

void TstContentRendering::refusedImageId_data()
{
    QTest::addColumn<QString>("imageId");

    QTest::newRow("0/../../evil") << "0/../../evil";
    QTest::newRow("/../../evil") << "/../../evil";
    QTest::newRow("0/../../../Zelvo/evil") << "0/../../../Zelvo/evil";
    QTest::newRow("NUL") << QString::fromLatin1("0\0/../../evil", 13);
    QTest::newRow("..") << "..";
}

// Ids that would lead out of the agent's directory find nothing, even where
// the path would resolve to a picture.
void TstContentRendering::refusedImageId()
{
    QFETCH(QString, imageId);

    const QString hash = QStringLiteral("H");
    QVERIFY(agent->configure(hash, {zi(30, 30)}));
    const QString zelvo = agentDirectory(QString());
    QVERIFY(QDir().mkpath(agentDirectory(hash) + QStringLiteral("/H_0")));
    QVERIFY(QDir().mkpath(agentDirectory(hash) + QStringLiteral("/H_")));
    writeFile(zelvo + QStringLiteral("evil.zi"), zi(50, 50));
    writeFile(zelvo + QStringLiteral("evil.png"), png(50, 50));
    writeFile(agentDirectory(hash) + QStringLiteral("/H_...zi"), zi(50, 50));

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("REFUSED IMAGE ID")));
    QVERIFY(show(hash, 1, QStringLiteral("1"), {imageId}, {}));
    QVERIFY(isEmpty(contentOf(*window)));
}

void TstContentRendering::refusedAgentHashDrawsTexts()
{
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("REFUSED AGENT HASH")));
    QVERIFY(show(QStringLiteral(".."), 1, QStringLiteral("2"), {"0"}, {"text of a strange agent"}));
    const QString difference = compareContent(contentOf(*window), ZelvoLayout::builtInLayouts().at(2), {QImage()},
                                              {"text of a strange agent"}, QColor(Qt::green).rgb());
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    QCOMPARE(window->agentOnDisplay(), QStringLiteral(".."));
}

void TstContentRendering::oversizedPngNotDrawn()
{
    const QString hash = QStringLiteral("oversized");
    QVERIFY(agent->configure(hash, {zi(8, 8)}));
    writeFile(agentDirectory(hash) + QStringLiteral("/oversized_1.png"), TestFiles::pngAnnouncing(40000, 40000));

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("REFUSED IMAGE .*/oversized_1.png")));
    QVERIFY(show(hash, 1, QStringLiteral("1"), {"1"}, {}));
    QVERIFY(isEmpty(contentOf(*window)));
}

QTEST_MAIN(TstContentRendering)
#include "tst_contentrendering.moc"
