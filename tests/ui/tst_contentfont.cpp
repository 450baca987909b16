#include "CtlProcess.h"
#include "EmulatorProcess.h"
#include "TestAgent.h"

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

// The glasses' text does not depend on the host: the same content drawn by
// a program that sees the machine's fonts and by one that sees none, or by
// one whose desktop has another font resolution, gives the same lines and
// pixels. The one place where text pixels of two runs are compared: both
// run on this machine.
class TestContentFont final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sameText_data();
    void sameText();

private:
    struct Drawn
    {
        // The content area of the display as the program shows it, and
        // `zelvo-ctl screen`'s account of it; null when it does not come.
        QImage content;
        QJsonObject screen;
    };
    // The content drawn by a program run with `variable` set to `value`.
    Drawn draw(const QString& name, const QByteArray& variable = {}, const QByteArray& value = {}) const;

    QTemporaryDir work;
    Drawn usual;
};

TestContentFont::Drawn TestContentFont::draw(const QString& name, const QByteArray& variable,
                                             const QByteArray& value) const
{
    if (!variable.isEmpty())
        qputenv(variable.constData(), value);
    EmulatorProcess emulator(nullptr, QStringLiteral("contentfont/") + name);
    const bool listening = emulator.startUntilListening(90000);
    if (!variable.isEmpty())
        qunsetenv(variable.constData());
    if (!listening)
        return {};

    TestAgent agent(emulator.ports().agent);
    if (!agent.waitForConnected())
        return {};
    agent.sendAction({{"command.type", "zelvo_config"}, {"minPersistingTimeMillis", 0}, {"maxPersistingTimeMillis", 600000}});
    // A title and a text long enough to break into lines and be cut.
    agent.sendAction({{"command.type", "agent_content"}, {"appId", "font"}, {"contentId", 1}, {"layoutId", "3"},
                      {"images.id", QJsonArray{"0"}},
                      {"texts", QJsonArray{"Weather in Zürich",
                                           "Sunny spells, then showers from the west; 21 degrees, wind 12 km/h"}}});
    const QStringList instance{"--ports-file", emulator.portsFile()};
    if (CtlProcess::run(QStringList{"wait"} + instance + QStringList{"--content-of", "font", "--content-id", "1"}).exitCode != 0)
        return {};
    const CtlResult screen = CtlProcess::run(QStringList{"screen"} + instance);
    const QString shot = work.filePath(name + QStringLiteral(".png"));
    if (screen.exitCode != 0 || CtlProcess::run(QStringList{"screenshot"} + instance + QStringList{shot}).exitCode != 0)
        return {};
    // Below the status strip, whose clock is not content.
    return {QImage(shot).copy(0, 24, 320, 216).convertToFormat(QImage::Format_ARGB32),
            QJsonDocument::fromJson(screen.out).object()};
}

void TestContentFont::initTestCase()
{
    QVERIFY(work.isValid());
    usual = draw(QStringLiteral("usual"));
    QVERIFY(!usual.content.isNull());
    // Cut after some lines, as the rows' text must be to tell a size.
    const QJsonObject text = usual.screen.value("texts").toArray().at(1).toObject();
    QVERIFY2(text.value("lines").toArray().size() > 2 && text.value("cut").toBool(),
             QJsonDocument(usual.screen).toJson().constData());
}

void TestContentFont::sameText_data()
{
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<QByteArray>("value");

    // No <dir>: the program's font system knows no font of the machine.
    const QString config = work.filePath(QStringLiteral("fonts.conf"));
    QFile file(config);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n"
                              "<fontconfig><cachedir>%1</cachedir></fontconfig>\n")
                   .arg(work.filePath(QStringLiteral("cache")))
                   .toUtf8());
    QTest::newRow("without the machine's fonts") << QByteArray("FONTCONFIG_FILE") << config.toUtf8();
    // A laptop's screen: the text's points were twice the pixels.
    QTest::newRow("QT_FONT_DPI=192") << QByteArray("QT_FONT_DPI") << QByteArray("192");
}

void TestContentFont::sameText()
{
    QFETCH(QByteArray, variable);
    QFETCH(QByteArray, value);

    const Drawn drawn = draw(QString::fromLatin1(QTest::currentDataTag()).remove(QRegularExpression("\\W")),
                             variable, value);
    QVERIFY(!drawn.content.isNull());
    QCOMPARE(drawn.screen.value("texts"), usual.screen.value("texts"));
    QCOMPARE(drawn.content, usual.content);
}

QTEST_GUILESS_MAIN(TestContentFont)
#include "tst_contentfont.moc"
