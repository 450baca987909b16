#include "../util/TestFiles.h"
#include "ControlRig.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTest>

#include <algorithm>

namespace {

// Expectations hold whatever the machine's fonts: cut or not, characters
// hidden or not, a line past the edge or not; never counts of pixels.
const QString longText = QStringLiteral("the quick brown fox jumps over the lazy dog ").repeated(12);
const QString longWord = QStringLiteral("Pneumonoultramicroscopicsilicovolcanoconiosis");
// Private-use characters, which no font on a plain machine covers.
const QString noGlyphs = QString::fromUtf8("A\xee\x80\x80\xee\x80\x81");

// The latest content record of the agent.
QJsonObject contentRecord(ControlClient& client, const QString& agent)
{
    const QJsonArray records = client.call({{"cmd", "log"}, {"agent", agent}}).value("records").toArray();
    for (int i = int(records.size()) - 1; i >= 0; --i) {
        const QJsonObject record = records.at(i).toObject();
        if (record.value("kind") == QJsonValue("agent_content"))
            return record;
    }
    return {};
}

QByteArray png(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::red);
    return TestFiles::png(image);
}

} // namespace

class TestZelvoScreen final : public QObject
{
    Q_OBJECT

private slots:
    void textFit_data();
    void textFit();
    void linesAsDrawn_data();
    void linesAsDrawn();
    void hugeTextAsItsPrefix_data();
    void hugeTextAsItsPrefix();
    void pictureOverText();
    void emptyWithoutContent();
};

void TestZelvoScreen::textFit_data()
{
    QTest::addColumn<QString>("layoutId");
    QTest::addColumn<QStringList>("imageIds");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<int>("checked");
    QTest::addColumn<bool>("cut");
    QTest::addColumn<bool>("overflow");
    QTest::addColumn<bool>("missingGlyphs");

    QTest::newRow("layout 0, a greeting") << "0" << QStringList() << QStringList{"Hello world"} << 0 << false << false << false;
    QTest::newRow("layout 0, a long text") << "0" << QStringList() << QStringList{longText} << 0 << true << false << false;
    QTest::newRow("layout 0, characters without a glyph") << "0" << QStringList() << QStringList{noGlyphs} << 0 << false
                                                          << false << true;
    QTest::newRow("layout 2, an unbreakable word") << "2" << QStringList{"9"} << QStringList{longWord} << 0 << false
                                                   << true << false;
    QTest::newRow("layout 2, a long text") << "2" << QStringList{"9"} << QStringList{longText} << 0 << true << false
                                           << false;
    QTest::newRow("layout 3, a long title") << "3" << QStringList{"9"} << QStringList{longText, "body"} << 0 << true
                                            << false << false;
    QTest::newRow("layout 3, a short body") << "3" << QStringList{"9"} << QStringList{"Title", "Sunny"} << 1 << false
                                            << false << false;
}

void TestZelvoScreen::textFit()
{
    QFETCH(QString, layoutId);
    QFETCH(QStringList, imageIds);
    QFETCH(QStringList, texts);
    QFETCH(int, checked);
    QFETCH(bool, cut);
    QFETCH(bool, overflow);
    QFETCH(bool, missingGlyphs);

    ControlRig rig;
    TestAgent agent(rig.server);
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}, {&agent}));
    QVERIFY(agent.show("fit", 5, layoutId, imageIds, texts));

    const QJsonObject screen = client.call({{"cmd", "screen"}});
    QCOMPARE(screen.value("agent"), QJsonValue("fit"));
    QCOMPARE(screen.value("contentId"), QJsonValue(5));
    QCOMPARE(screen.value("layout"), QJsonValue(layoutId.toInt()));
    QCOMPARE(screen.value("texts").toArray().size(), texts.size());
    const QJsonObject text = screen.value("texts").toArray().at(checked).toObject();
    QCOMPARE(text.value("text"), QJsonValue(texts.at(checked)));
    QCOMPARE(text.value("cut"), QJsonValue(cut));
    QCOMPARE(text.value("hiddenChars").toInt() > 0, cut);
    QCOMPARE(text.value("overflow").toInt() > 0, overflow);
    QCOMPARE(text.value("missingGlyphs").toInt() > 0, missingGlyphs);
    const QJsonArray lines = text.value("lines").toArray();
    QVERIFY(!lines.isEmpty());
    for (const QJsonValue line : lines)
        QCOMPARE(line.toString(), line.toString().toUpper());
    QCOMPARE(lines.last().toString().endsWith(QChar(0x2026)), cut);
    if (!cut) {
        QStringList words;
        for (const QJsonValue line : lines)
            words.append(line.toString());
        QCOMPARE(words.join(' ').simplified(), texts.at(checked).toUpper().simplified());
    }

    const QJsonObject record = contentRecord(client, "fit");
    QCOMPARE(record.value("outcome"), QJsonValue("drawn"));
    const QString sentence = record.value("sentence").toString();
    const QString name = QStringLiteral("text %1 ").arg(checked + 1);
    QCOMPARE(sentence.contains(name + QStringLiteral("cut after %1 line").arg(lines.size())), cut);
    QCOMPARE(sentence.contains(QStringLiteral("past its right edge")), overflow);
    QCOMPARE(sentence.contains(QStringLiteral("no glyph")), missingGlyphs);
    const QJsonArray fitTexts = record.value("fit").toObject().value("texts").toArray();
    const bool listed = std::any_of(fitTexts.begin(), fitTexts.end(),
                                    [checked](const QJsonValue& fit) { return fit.toObject().value("index") == checked; });
    QCOMPARE(listed, cut || overflow);
}

void TestZelvoScreen::linesAsDrawn_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("line");
    QTest::newRow("x, a lone surrogate, y") << QStringLiteral("x\xd800y") << QStringLiteral("X\xd800Y");
    QTest::newRow("straße") << QStringLiteral("straße") << QStringLiteral("STRAßE");
}

void TestZelvoScreen::linesAsDrawn()
{
    QFETCH(QString, text);
    QFETCH(QString, line);
    ControlRig rig;
    TestAgent agent(rig.server);
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}, {&agent}));
    QVERIFY(agent.show("case", 1, "0", {}, {text}));
    const QJsonObject shown = client.call({{"cmd", "screen"}}).value("texts").toArray().at(0).toObject();
    QCOMPARE(shown.value("lines"), QJsonValue(QJsonArray{line}));
}

void TestZelvoScreen::hugeTextAsItsPrefix_data()
{
    QTest::addColumn<QString>("layoutId");
    QTest::addColumn<QStringList>("imageIds");
    QTest::addColumn<QString>("words");
    // Emoji are two UTF-16 units each; after the "a" every pair starts at
    // an odd unit, so the text is laid out to a pair's edge.
    QTest::newRow("layout 0, words") << "0" << QStringList() << QStringLiteral("the quick brown fox jumps ");
    QTest::newRow("layout 2, a word and emoji") << "2" << QStringList{"9"} << QStringLiteral("a\U0001F600\U0001F600 ");
    QTest::newRow("layout 3, a title of emoji") << "3" << QStringList{"9"} << QStringLiteral("a\U0001F600");
}

// A text of megabytes is drawn and described as a prefix of it that the
// display cuts already, the characters past that prefix counted as hidden.
void TestZelvoScreen::hugeTextAsItsPrefix()
{
    QFETCH(QString, layoutId);
    QFETCH(QStringList, imageIds);
    QFETCH(QString, words);
    const QString huge = words.repeated(4 * 1024 * 1024 / int(words.size()));
    QString prefix = huge.left(2000);
    if (prefix.at(prefix.size() - 1).isHighSurrogate())
        prefix.chop(1);
    QStringList texts{huge};
    if (layoutId == "3")
        texts.append("body");

    ControlRig rig;
    TestAgent agent(rig.server);
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}, {&agent}));
    QVERIFY(agent.setPersistingTimes(0, 60000));
    texts[0] = prefix;
    QVERIFY(agent.show("huge", 1, layoutId, imageIds, texts));
    const QImage prefixDrawn = rig.window.displayImage();
    const QJsonObject prefixShown = client.call({{"cmd", "screen"}}).value("texts").toArray().at(0).toObject();
    texts[0] = huge;
    QVERIFY(agent.show("huge", 2, layoutId, imageIds, texts));
    const QJsonObject hugeShown = client.call({{"cmd", "screen"}}).value("texts").toArray().at(0).toObject();

    QCOMPARE(rig.window.displayImage(), prefixDrawn);
    QCOMPARE(prefixShown.value("cut"), QJsonValue(true));
    for (const char* member : {"lines", "cut", "overflow", "missingGlyphs"})
        QCOMPARE(hugeShown.value(member), prefixShown.value(member));
    const int restCharacters = int(huge.mid(prefix.size()).toUcs4().size());
    QCOMPARE(hugeShown.value("hiddenChars").toInt(), prefixShown.value("hiddenChars").toInt() + restCharacters);
    const QString text = hugeShown.value("text").toString();
    QVERIFY(text.size() > prefix.size() && text.size() < huge.size());
    QVERIFY(huge.startsWith(text));
    QVERIFY(!text.at(text.size() - 1).isHighSurrogate());
    const QJsonArray fit = contentRecord(client, "huge").value("fit").toObject().value("texts").toArray();
    QCOMPARE(fit.at(0).toObject().value("hiddenChars"), hugeShown.value("hiddenChars"));
}

void TestZelvoScreen::pictureOverText()
{
    ControlRig rig;
    TestAgent agent(rig.server);
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}, {&agent}));
    QVERIFY(agent.setPersistingTimes(0, 60000));
    // Wider than the left half, so it spills over the text on the right;
    // the second one beyond the display's border as well.
    QVERIFY(agent.configure("wide", {png(200, 100), png(400, 300)}));

    QVERIFY(agent.show("wide", 1, "2", {"0"}, {"Sunny"}));
    QJsonObject image = client.call({{"cmd", "screen"}}).value("images").toArray().at(0).toObject();
    QCOMPARE(image.value("rect"), QJsonValue(QJsonArray{0, 0, 158, 216}));
    QCOMPARE(image.value("drawn"), QJsonValue(QJsonArray{0, 0, 200, 100}));
    QCOMPARE(image.value("cut"), QJsonValue(false));
    QCOMPARE(image.value("covers"), QJsonValue(QJsonArray{0}));
    QCOMPARE(image.value("reason"), QJsonValue(QJsonValue::Null));
    QJsonObject record = contentRecord(client, "wide");
    QCOMPARE(record.value("outcome"), QJsonValue("drawn"));
    QVERIFY2(record.value("sentence").toString().contains("image \"0\" covers text 1"),
             qPrintable(record.value("sentence").toString()));

    QVERIFY(agent.show("wide", 2, "2", {"1"}, {""}));
    image = client.call({{"cmd", "screen"}}).value("images").toArray().at(0).toObject();
    QCOMPARE(image.value("drawn"), QJsonValue(QJsonArray{0, 0, 320, 216}));
    QCOMPARE(image.value("cut"), QJsonValue(true));
    // An empty text is no text to cover.
    QCOMPARE(image.value("covers"), QJsonValue(QJsonArray()));
    QVERIFY(!contentRecord(client, "wide").contains("fit"));

    QVERIFY(agent.show("wide", 3, "2", {"7"}, {"Sunny"}));
    image = client.call({{"cmd", "screen"}}).value("images").toArray().at(0).toObject();
    QCOMPARE(image.value("drawn"), QJsonValue(QJsonValue::Null));
    QCOMPARE(image.value("reason"), QJsonValue("image_not_stored"));
}

void TestZelvoScreen::emptyWithoutContent()
{
    ControlRig rig;
    TestAgent agent(rig.server);
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}, {&agent}));
    const auto isEmpty = [](const QJsonObject& screen) {
        return screen.value("agent") == QJsonValue("") && screen.value("contentId") == QJsonValue(-1)
            && screen.value("layout") == QJsonValue(-1) && screen.value("texts") == QJsonValue(QJsonArray())
            && screen.value("images") == QJsonValue(QJsonArray())
            && screen.value("timers").toObject().value("maxRemainingMillis") == QJsonValue(-1);
    };
    QVERIFY(isEmpty(client.call({{"cmd", "screen"}})));

    QVERIFY(agent.show("gone", 4, "two", {}, {"Hello"}));
    const QJsonObject shown = client.call({{"cmd", "screen"}});
    QCOMPARE(shown.value("layoutId"), QJsonValue("two"));
    QCOMPARE(shown.value("layout"), QJsonValue(0));
    QVERIFY(shown.value("timers").toObject().value("maxRemainingMillis").toInt() > 0);
    QCOMPARE(shown.value("status").toObject().value("connected"), QJsonValue(true));

    QVERIFY(client.call({{"cmd", "reset"}}).value("ok").toBool());
    QVERIFY(isEmpty(client.call({{"cmd", "screen"}})));
}

QTEST_MAIN(TestZelvoScreen)
#include "tst_zelvoscreen.moc"
