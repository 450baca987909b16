#include "CtlProcess.h"
#include "EmulatorProcess.h"
#include "TestAgent.h"

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

// The content font is compiled into the program: the same content drawn by
// a program that sees the machine's fonts and by one that sees none gives
// the same pixels. The one place where text pixels of two runs are
// compared: both run on this machine.
class TestContentFont final : public QObject
{
    Q_OBJECT

private slots:
    void sameTextWithoutTheMachinesFonts();

private:
    // The content area of the display after drawing the content, as the
    // program shows it; null when it does not come.
    static QImage drawnContent(bool systemFonts, const QTemporaryDir& work);
};

QImage TestContentFont::drawnContent(bool systemFonts, const QTemporaryDir& work)
{
    // No <dir>: the program's font system knows no font of the machine.
    const QString config = work.filePath(QStringLiteral("fonts.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(QStringLiteral("<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n"
                              "<fontconfig><cachedir>%1</cachedir></fontconfig>\n")
                   .arg(work.filePath(QStringLiteral("cache")))
                   .toUtf8());
    file.close();
    if (!systemFonts)
        qputenv("FONTCONFIG_FILE", config.toUtf8());
    EmulatorProcess emulator(nullptr, systemFonts ? QStringLiteral("contentfont/system") : QStringLiteral("contentfont/none"));
    const bool listening = emulator.startUntilListening(90000);
    qunsetenv("FONTCONFIG_FILE");
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
    const QString shot = work.filePath(systemFonts ? QStringLiteral("system.png") : QStringLiteral("none.png"));
    if (CtlProcess::run(QStringList{"screenshot"} + instance + QStringList{shot}).exitCode != 0)
        return {};
    // Below the status strip, whose clock is not content.
    return QImage(shot).copy(0, 24, 320, 216);
}

void TestContentFont::sameTextWithoutTheMachinesFonts()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QImage withFonts = drawnContent(true, work);
    const QImage withoutFonts = drawnContent(false, work);
    QVERIFY(!withFonts.isNull());
    QVERIFY(!withoutFonts.isNull());
    // Text was drawn at all: without the machine's fonts it once was not.
    bool lit = false;
    for (int y = 0; y < withoutFonts.height() && !lit; ++y) {
        for (int x = 0; x < withoutFonts.width() && !lit; ++x)
            lit = qAlpha(withoutFonts.pixel(x, y)) != 0 && withoutFonts.pixel(x, y) != withoutFonts.pixel(0, 0);
    }
    QVERIFY(lit);
    QCOMPARE(withoutFonts.convertToFormat(QImage::Format_ARGB32), withFonts.convertToFormat(QImage::Format_ARGB32));
}

QTEST_GUILESS_MAIN(TestContentFont)
#include "tst_contentfont.moc"
