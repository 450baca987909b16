#include "AgentProcess.h"
#include "CtlProcess.h"
#include "Desktop.h"
#include "EmulatorProcess.h"
#include "SoakAgent.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

namespace {

constexpr int startTimeoutMillis = 60000;
constexpr int soakMillis = 60000;
constexpr int windowMillis = 10000;
constexpr int agentCount = 50;
const QPoint plusButton(570 + 39 / 2, 140 + 43 / 2);

QSet<QString> treeOf(const QString& root)
{
    QSet<QString> entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries.insert(QDir(root).relativeFilePath(it.next()));
    return entries;
}

// Paths below /tmp, two levels deep, whose name holds the marker.
QStringList markedInTmp(const QString& marker)
{
    QStringList found;
    QDirIterator top(QStringLiteral("/tmp"), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (top.hasNext()) {
        const QString path = top.next();
        if (top.fileName().contains(marker))
            found << path;
        if (!top.fileInfo().isDir() || top.fileInfo().isSymLink())
            continue;
        for (const QFileInfo& inner : QDir(path).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
            if (inner.fileName().contains(marker))
                found << inner.absoluteFilePath();
        }
    }
    return found;
}

double average(const QList<qint64>& samples)
{
    double sum = 0;
    for (qint64 sample : samples)
        sum += double(sample);
    return samples.isEmpty() ? 0 : sum / samples.size();
}

} // namespace

// Fifty agents, good, broken and hostile, for a minute against the real
// program; then it must still serve, have written only its image store and
// not have grown.
class TestSoak final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void soak();

private:
    Desktop desktop;
    EmulatorProcess emulator{&desktop, QStringLiteral("soak/emulator")};
    QTemporaryDir files;
    QString window;
};

void TestSoak::initTestCase()
{
    // Under AddressSanitizer freed memory waits in a 256 MB quarantine before
    // it is reused, which would read as growth; a small quarantine still
    // catches use after free and lets the measure see the emulator itself.
    // Programs built without the sanitizer ignore the variable.
    QByteArray sanitizer = qgetenv("ASAN_OPTIONS");
    qputenv("ASAN_OPTIONS", sanitizer + (sanitizer.isEmpty() ? "" : ":") + "quarantine_size_mb=4");

    QVERIFY2(desktop.start(), qPrintable(desktop.errorString()));
    QVERIFY(files.isValid());
    qInfo().noquote() << "Screenshots and logs:" << QDir(Desktop::artifactsPath()).filePath(QStringLiteral("soak"));
    window = emulator.startWithWindow(startTimeoutMillis);
    QVERIFY2(!window.isEmpty(), qPrintable("no window; see " + emulator.logPath()));
    // The window can be mapped before the program enters its event loop;
    // painted glasses mean start-up, with the files it writes, is over.
    QVERIFY(QTest::qWaitFor([&] {
        const QImage shot = desktop.screenshot(window);
        return !shot.isNull() && qGray(shot.pixel(320, 460)) > 100;
    }, startTimeoutMillis));
}

void TestSoak::soak()
{
    const quint32 seed = QRandomGenerator::global()->generate();
    qInfo() << "seed" << seed;
    QRandomGenerator random(seed);
    const QString marker = QStringLiteral("zelvosoak%1").arg(seed);
    const bool tmpYExisted = QFileInfo::exists(QStringLiteral("/tmp/y"));
    const QSet<QString> homeBefore = treeOf(emulator.home());

    std::vector<std::unique_ptr<SoakAgent>> agents;
    for (int i = 0; i < agentCount; ++i)
        agents.push_back(std::make_unique<SoakAgent>(random, marker, emulator.ports().agent));

    QList<qint64> firstWindow;
    QList<qint64> lastWindow;
    QElapsedTimer clock;
    QTimer actions;
    QObject::connect(&actions, &QTimer::timeout, [&] { agents.at(random.bounded(agentCount))->act(); });
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const qint64 resident = emulator.residentKilobytes();
        if (clock.elapsed() < windowMillis)
            firstWindow << resident;
        else if (clock.elapsed() >= soakMillis - windowMillis)
            lastWindow << resident;
    });
    QEventLoop soaking;
    QObject::connect(&sampler, &QTimer::timeout, &soaking, [&] {
        if (!emulator.isRunning() || clock.elapsed() >= soakMillis)
            soaking.quit();
    });
    clock.start();
    actions.start(5);
    sampler.start(250);
    soaking.exec();
    actions.stop();
    sampler.stop();
    QVERIFY2(emulator.isRunning(), qPrintable("the emulator died; see " + emulator.logPath()));

    for (const auto& agent : agents)
        agent->leave();
    // The emulator's own count: it lets an agent go once it has read all the
    // agent sent. The kernel's table, read while thousands of connections of
    // the soak end, has given none, then seven, then none within 100 ms.
    QTRY_COMPARE_WITH_TIMEOUT(CtlProcess::state(emulator.portsFile()).value("agents").toInt(-1), 0, startTimeoutMillis);
    agents.clear();

    // Memory: no growth between the first and the last ten seconds.
    QVERIFY(!firstWindow.isEmpty() && !lastWindow.isEmpty());
    const double before = average(firstWindow);
    const double after = average(lastWindow);
    qInfo() << "resident kB, first 10 s:" << before << "last 10 s:" << after;
    QVERIFY2(after < before * 1.10, qPrintable(QStringLiteral("grew from %1 kB to %2 kB").arg(before).arg(after)));

    // A final agent is still drawn and still hears a click.
    QImage picture(100, 100, QImage::Format_RGB32);
    picture.fill(Qt::red);
    const QString picturePath = files.filePath(QStringLiteral("final.png"));
    QVERIFY(picture.save(picturePath));
    QCOMPARE(AgentProcess::run({"config", "--app", "final", picturePath}, emulator.ports().agent).exitCode, 0);
    const auto redShown = [&] {
        // Soak content may still hold its minimum time: ask again until shown.
        AgentProcess::run({"timing", "--min", "0", "--max", "600000"}, emulator.ports().agent);
        AgentProcess::run({"content", "--app", "final", "--layout", "2", "--content-id", "99", "--image", "0", "--text", "final"},
                          emulator.ports().agent);
        const QImage shot = desktop.screenshot(window);
        const QRgb pixel = shot.pixel(200 + 40, 150 + qRound((24 + 50) * 0.8));
        return qRed(pixel) > 200 && qGreen(pixel) < 60 && qBlue(pixel) < 60;
    };
    const QByteArray heard = R"({"appId":"final","contentId":"99","data":{"type":4,"values":["0.000","0.000","0.000","0.000"]},"what_changed":"event"})"
                             "\n"
                             R"({"appId":"final","contentId":"99","data":{"type":4,"values":["0.000","1.000","0.000","0.000"]},"what_changed":"event"})"
                             "\n"
                             R"({"appId":"final","contentId":"99","data":{"type":4,"values":["0.000","2.000","0.000","0.000"]},"what_changed":"event"})"
                             "\n";
    // A soak agent held back by its pictures still has frames to be read
    // after it left, and its last timing may remove the final content
    // before the click: then the final agent tries again.
    AgentResult clicked;
    for (int attempt = 0; attempt < 5 && clicked.out != heard; ++attempt) {
        QVERIFY(QTest::qWaitFor(redShown, startTimeoutMillis));
        Desktop::keep(desktop.screenshot(window), QStringLiteral("soak/final-content.png"));
        AgentProcess listener(emulator.ports().agent);
        listener.start({"events", "--count", "3", "--timeout", "120"});
        QTRY_COMPARE_WITH_TIMEOUT(emulator.acceptedAgents(), 1, startTimeoutMillis);
        QVERIFY(desktop.click(window, plusButton));
        clicked = listener.finish();
        QCOMPARE(clicked.exitCode, 0);
    }
    QCOMPARE(clicked.out, heard);

    // Nothing written outside the image store.
    QStringList strays;
    const QString store = QStringLiteral("Pictures/Zelvo");
    for (const QString& entry : treeOf(emulator.home()) - homeBefore) {
        if (entry != QLatin1String("Pictures") && entry != store && !entry.startsWith(store + QLatin1Char('/')))
            strays << entry;
    }
    QVERIFY2(strays.isEmpty(), qPrintable(strays.join(QLatin1String(", "))));
    const QStringList inTmp = markedInTmp(marker);
    QVERIFY2(inTmp.isEmpty(), qPrintable(inTmp.join(QLatin1String(", "))));
    QVERIFY(tmpYExisted || !QFileInfo::exists(QStringLiteral("/tmp/y")));
}

QTEST_GUILESS_MAIN(TestSoak)
#include "tst_soak.moc"
