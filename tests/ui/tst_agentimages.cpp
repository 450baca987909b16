#include "ContentPictures.h"
#include "TestAgent.h"
#include "ui/ZelvoEmulator.h"
#include "comm/ZelvoServer.h"
#include "services/ZelvoServices.h"
#include "record/ZelvoRecorder.h"
#include "util/ZelvoImageStore.h"
#include "util/ZelvoImageWriter.h"

#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QImage>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonObject>
#include <QPoint>
#include <QList>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <memory>
#include <thread>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>
#endif

namespace {

QString agentDirectory(const QString& hash)
{
    return ContentPictures::imageDirectory(hash);
}

QByteArray zi(int width, int height)
{
    return ContentPictures::ziPayload(width, height);
}

QByteArray png(int width, int height)
{
    return ContentPictures::pngPayload(width, height);
}

// Photo-like: no flat colour for the encoder to squeeze.
QImage photo(int width, int height)
{
    QImage photo(width, height, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(photo.scanLine(y));
        for (int x = 0; x < photo.width(); ++x)
            line[x] = qRgb(x * 255 / photo.width(), y * 255 / photo.height(), (x * 7 + y * 13) & 0xFF);
    }
    return photo;
}

QJsonObject configAction(const QString& hash, const QList<QByteArray>& payloads)
{
    QJsonArray images;
    for (const QByteArray& payload : payloads)
        images.append(QString::fromLatin1(payload.toBase64()));
    return {{"command.type", "agent_config"}, {"appId", hash}, {"images", images}};
}

QJsonObject contentAction(const QString& hash, int contentId, const QJsonArray& imageIds)
{
    return {{"command.type", "agent_content"}, {"appId", hash}, {"contentId", contentId},
            {"layoutId", "1"}, {"images.id", imageIds}, {"texts", QJsonArray{}}};
}

QString configuredLine(const QString& hash, bool configured)
{
    return QStringLiteral("Now agent ") + QRegularExpression::escape(hash)
        + (configured ? QStringLiteral(" is CONFIGURED!!!!") : QStringLiteral(" is NOT CONFIGURED!!!!"));
}

} // namespace

class TstAgentImages final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void configure_data();
    void configure();
    void reconfigureWithFewerImages();
    void picturesDirectoryMadeWhenMissing();
    void refusedHash_data();
    void refusedHash();
    void failedWriteKeepsPreviousImage();
    void photoStoredWhileOthersServed();
    void orderAcrossLargePicture();
    void resetWhileConfigurationsStored();
    void replacedImageReadWhole();
    void plantedLinkRefused_data();
    void plantedLinkRefused();

private:
    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    std::unique_ptr<ZelvoEmulator> window;
    std::unique_ptr<TestAgent> agent;
};

void TstAgentImages::initTestCase()
{
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
}

void TstAgentImages::init()
{
    window = std::make_unique<ZelvoEmulator>(&server, services, nullptr);
    agent = std::make_unique<TestAgent>(server);
    QVERIFY(TestAgent::waitUntilServed(server, {agent.get()}));
}

void TstAgentImages::cleanup()
{
    agent.reset();
    QTRY_VERIFY(server.connections().isEmpty());
    window.reset();
}

void TstAgentImages::configure_data()
{
    QTest::addColumn<QString>("hash");
    QTest::addColumn<QList<QByteArray>>("payloads");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("failed");
    QTest::addColumn<bool>("configured");

    const QByteArray broken = "\x89PNG but nothing after";
    QTest::newRow("zi png zi") << "H" << QList<QByteArray>{zi(40, 30), png(50, 40), zi(64, 8)}
                               << QStringList{"H_0.zi", "H_1.png", "H_2.zi"} << QStringList{} << true;
    QTest::newRow("empty list") << "nothing" << QList<QByteArray>{} << QStringList{} << QStringList{} << false;
    QTest::newRow("broken png last") << "brokenlast" << QList<QByteArray>{zi(16, 16), broken}
                                     << QStringList{"brokenlast_0.zi"} << QStringList{"brokenlast_1.png"}
                                     << false;
    QTest::newRow("broken png first") << "brokenfirst" << QList<QByteArray>{broken, zi(16, 16)}
                                      << QStringList{"brokenfirst_1.zi"} << QStringList{"brokenfirst_0.png"}
                                      << false;
    QTest::newRow("zi magic only") << "magic" << QList<QByteArray>{QByteArray(".zi\x01\x02", 5)}
                                   << QStringList{"magic_0.zi"} << QStringList{} << true;
    QTest::newRow("png strip of 5000 x 18") << "wide" << QList<QByteArray>{zi(8, 8), png(5000, 18)}
                                            << QStringList{"wide_0.zi", "wide_1.png"} << QStringList{} << true;
    QTest::newRow("percent signs in hash") << "a%1b%2" << QList<QByteArray>{zi(8, 8), png(3, 3)}
                                           << QStringList{"a%1b%2_0.zi", "a%1b%2_1.png"} << QStringList{}
                                           << true;
    QTest::newRow("png over the bound of a picture")
        << "bound" << QList<QByteArray>{png(2048, 2048), TestFiles::pngAnnouncing(40000, 40000), zi(8, 8)}
        << QStringList{"bound_0.png", "bound_2.zi"} << QStringList{"bound_1.png"} << false;
    QTest::newRow("dots in hash") << "com.example.agent" << QList<QByteArray>{png(5, 7)}
                                  << QStringList{"com.example.agent_0.png"} << QStringList{} << true;
}

void TstAgentImages::configure()
{
    QFETCH(QString, hash);
    QFETCH(QList<QByteArray>, payloads);
    QFETCH(QStringList, files);
    QFETCH(QStringList, failed);
    QFETCH(bool, configured);

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("AGENT %1 has %2 to SAVE")
                                                            .arg(QRegularExpression::escape(hash),
                                                                 QString::number(payloads.size()))));
    for (const QString& file : failed) {
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("ERROR SAVING IMAGE .*/")
                                                                + QRegularExpression::escape(file)));
    }
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(configuredLine(hash, configured)));
    QVERIFY(agent->configure(hash, payloads));

    const QString directory = agentDirectory(hash);
    QVERIFY(QFileInfo(directory).isDir());
    QCOMPARE(QDir(directory).entryList(QDir::Files | QDir::Hidden), files);
    for (const QString& file : files) {
        const QString path = directory + QLatin1Char('/') + file;
        const QByteArray payload = payloads.at(file.section(QLatin1Char('_'), -1).section(QLatin1Char('.'), 0, 0).toInt());
        if (file.endsWith(QStringLiteral(".zi"))) {
            QCOMPARE(TestFiles::read(path), payload);
        } else {
            // Re-encoded: another file, the same pixels.
            QCOMPARE(QImageReader(path).format(), QByteArray("png"));
            QCOMPARE(QImage(path).convertToFormat(QImage::Format_ARGB32),
                     QImage::fromData(payload, "PNG").convertToFormat(QImage::Format_ARGB32));
        }
    }
}

void TstAgentImages::reconfigureWithFewerImages()
{
    const QString hash = QStringLiteral("twice");
    const QList<QByteArray> first{zi(10, 10), zi(20, 20), png(6, 6)};
    QVERIFY(agent->configure(hash, first));
    const QByteArray replacement = zi(30, 10);
    QVERIFY(agent->configure(hash, {replacement}));

    const QString directory = agentDirectory(hash);
    QCOMPARE(QDir(directory).entryList(QDir::Files), (QStringList{"twice_0.zi", "twice_1.zi", "twice_2.png"}));
    QCOMPARE(TestFiles::read(directory + QStringLiteral("/twice_0.zi")), replacement);
    QCOMPARE(TestFiles::read(directory + QStringLiteral("/twice_1.zi")), first.at(1));
}

// QDir::mkdir() is not recursive: a home without a pictures directory must
// not lose the images.
void TstAgentImages::picturesDirectoryMadeWhenMissing()
{
    const QByteArray testHome = qgetenv("HOME");
    const QString freshHome = QDir::homePath() + QStringLiteral("/fresh-home");
    QVERIFY(QDir().mkpath(freshHome));
    const QByteArray payload = zi(12, 12);

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(configuredLine("fresh", true)));
    qputenv("HOME", freshHome.toLocal8Bit());
    const bool relayed = agent->configure(QStringLiteral("fresh"), {payload});
    qputenv("HOME", testHome);
    QVERIFY(relayed);
    QCOMPARE(TestFiles::read(freshHome + QStringLiteral("/Pictures/Zelvo/fresh/fresh_0.zi")), payload);
}

void TstAgentImages::refusedHash_data()
{
    QTest::addColumn<QString>("hash");
    // The warning that gives the system's reason, for a name the system
    // refuses; empty for one refused as a path outside.
    QTest::addColumn<QString>("writeError");

    QTest::newRow("..") << ".." << QString();
    QTest::newRow("a/b") << "a/b" << QString();
    QTest::newRow("/tmp/x") << "/tmp/x" << QString();
    QTest::newRow(".") << "." << QString();
    QTest::newRow("empty") << "" << QString();
    QTest::newRow("NUL") << QString::fromLatin1("x\0/y", 4) << QString();
    QTest::newRow("../../x") << "../../x" << QString();
    QTest::newRow("longer than a file name") << QString(300, QLatin1Char('x'))
                                             << QStringLiteral("File name too long");
}

void TstAgentImages::refusedHash()
{
    QFETCH(QString, hash);
    QFETCH(QString, writeError);

    // The pictures directory exists already, as after any earlier agent.
    QVERIFY(agent->configure(QStringLiteral("earlier"), {zi(8, 8)}));
    const QStringList homeBefore = TestFiles::listTree(QDir::homePath());
    const QStringList tmpBefore = TestFiles::tmpEntriesOfX();

    if (writeError.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("REFUSED AGENT HASH")));
    else
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(writeError));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral(" is NOT CONFIGURED!!!!")));
    QVERIFY(agent->configure(hash, {zi(16, 16), png(4, 4)}));

    QCOMPARE(TestFiles::listTree(QDir::homePath()), homeBefore);
    QCOMPARE(TestFiles::tmpEntriesOfX(), tmpBefore);
}

// A write that fails after the file was opened (here: past the file size
// limit) is reported, and the image stored before stays whole.
void TstAgentImages::failedWriteKeepsPreviousImage()
{
#ifdef Q_OS_LINUX
    const QString hash = QStringLiteral("limited");
    const QByteArray stored = QByteArray(".zi") + QByteArray(6000, 'a');
    QVERIFY(agent->configure(hash, {stored}));

    rlimit unlimited {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &unlimited), 0);
    rlimit limited = unlimited;
    limited.rlim_cur = 4096;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("ERROR SAVING IMAGE .*/limited_0.zi")));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(configuredLine(hash, false)));
    const bool relayed = agent->configure(hash, {QByteArray(".zi") + QByteArray(6000, 'b')});

    QCOMPARE(setrlimit(RLIMIT_FSIZE, &unlimited), 0);
    std::signal(SIGXFSZ, previousHandler);
    QVERIFY(relayed);
    QCOMPARE(TestFiles::read(agentDirectory(hash) + QStringLiteral("/limited_0.zi")), stored);
    QCOMPARE(QDir(agentDirectory(hash)).entryList(QDir::Files | QDir::Hidden), QStringList{"limited_0.zi"});
#else
    QSKIP("needs a file size limit");
#endif
}

// A photo and a picture bomb in one configuration, the agent's content sent
// right behind it without waiting: the pictures are stored off the window's
// thread while another agent is served, the content waits for them and
// finds the photo, and the bomb is refused from its header with numbers.
void TstAgentImages::photoStoredWhileOthersServed()
{
    TestAgent other(server);
    QVERIFY(TestAgent::waitUntilServed(server, {agent.get(), &other}));
    QVERIFY(other.setPersistingTimes(0, 60000));
    QVERIFY(other.configure(QStringLiteral("other"), {zi(16, 16)}));

    const QImage photo = ::photo(4000, 3000);
    const QJsonObject config{{"command.type", "agent_config"},
                             {"appId", "photo"},
                             {"images", QJsonArray{QString::fromLatin1(TestFiles::png(photo).toBase64()),
                                                   QString::fromLatin1(TestFiles::pngAnnouncing(40000, 40000).toBase64())}}};

    QStringList order;
    int photoFrames = 0;
    QObject::connect(services.recorder.get(), &ZelvoRecorder::appended, window.get(), [&](const ZelvoRecord& record) {
        if (record.kind == ZelvoRecord::Kind::AgentConfig || record.kind == ZelvoRecord::Kind::AgentContent)
            order.append(QStringLiteral("%1 %2").arg(record.agent, record.sentence()));
        else if (record.kind == ZelvoRecord::Kind::FrameReceived && record.agent == QLatin1String("photo"))
            ++photoFrames;
    });
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { longestGap = qMax(longestGap, sinceTick.restart()); });
    ticker.start(5);
    sinceTick.start();

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral(
        "ERROR SAVING IMAGE .*/photo_1.png!!! image 1 \\(40000 x 40000, 6.0 GiB decoded\\) refused: "
        "over the 256 MiB a picture may decode to")));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(configuredLine("photo", false)));
    agent->sendAction(config);
    agent->sendAction(contentAction("photo", 7, {"0"}));
    // The configuration is being stored; the content behind it waits in
    // the agent's inbox.
    QTRY_COMPARE(photoFrames, 2);
    other.sendAction(contentAction("other", 3, {"0"}));
    QTRY_COMPARE_WITH_TIMEOUT(order.size(), 3, 60000);
    ticker.stop();

    QCOMPARE(order, (QStringList{
        "other content 3 drawn with layout 1",
        "photo configured: 1 image stored, 1 refused; image 1 (40000 x 40000, 6.0 GiB decoded) refused: over "
        "the 256 MiB a picture may decode to",
        "photo content 7 drawn with layout 1"}));
    QCOMPARE(window->drawnAgent(), QStringLiteral("photo"));
    const QImage shown = window->displayImage();
    for (const QPoint& at : {QPoint(0, 0), QPoint(319, 215), QPoint(100, 50)})
        QCOMPARE(shown.pixel(at + QPoint(0, 24)), photo.pixel(at));
    // Storing 12 megapixels on the window's thread held it for seconds; a
    // loaded machine under a sanitizer stays far below the bound.
    QVERIFY2(longestGap < 1000, qPrintable(QString::number(longestGap)));
    QCOMPARE(photoFrames, 2);
}

// A large picture, content, a small picture in its place, content: each
// content shows the picture configured before it.
void TstAgentImages::orderAcrossLargePicture()
{
    QVERIFY(agent->setPersistingTimes(0, 60000));
    QStringList order;
    QObject::connect(services.recorder.get(), &ZelvoRecorder::appended, window.get(), [&](const ZelvoRecord& record) {
        if (record.kind == ZelvoRecord::Kind::AgentConfig)
            order.append(record.sentence());
        else if (record.kind == ZelvoRecord::Kind::AgentContent)
            order.append(QStringLiteral("%1 %2x%3").arg(record.contentId).arg(window->screen().images.value(0).drawn.width())
                             .arg(window->screen().images.value(0).drawn.height()));
    });
    agent->sendAction(configAction("order", {TestFiles::png(photo(1500, 1000))}));
    agent->sendAction(contentAction("order", 1, {"0"}));
    agent->sendAction(configAction("order", {zi(16, 8)}));
    agent->sendAction(contentAction("order", 2, {"0"}));
    QTRY_COMPARE_WITH_TIMEOUT(order.size(), 4, 30000);
    QCOMPARE(order, (QStringList{"configured: 1 image stored", "1 320x216", "configured: 1 image stored", "2 16x8"}));
}

// The agent's configurations are being stored, its content waiting behind
// them, when reset comes: nothing of them is stored or shown after it, what
// the window says it shows is what the display shows, and the agent is
// served on.
void TstAgentImages::resetWhileConfigurationsStored()
{
    const QString hash = QStringLiteral("probe");
    QVERIFY(agent->setPersistingTimes(0, 60000));
    // Slow to store, small to send: all of it is read before reset.
    const QByteArray flat = png(3000, 3000);
    int frames = 0;
    QStringList afterReset;
    bool reset = false;
    QObject::connect(services.recorder.get(), &ZelvoRecorder::appended, window.get(), [&](const ZelvoRecord& record) {
        if (record.kind == ZelvoRecord::Kind::FrameReceived && record.agent == hash)
            ++frames;
        else if (reset && (record.kind == ZelvoRecord::Kind::AgentConfig || record.kind == ZelvoRecord::Kind::AgentContent))
            afterReset.append(record.sentence());
    });
    agent->sendAction(configAction(hash, {flat, flat, flat, flat, flat, flat}));
    agent->sendAction(contentAction(hash, 7, {"0"}));
    agent->sendAction(configAction(hash, {flat}));
    QTRY_COMPARE(frames, 3);
    window->reset();
    reset = true;

    // What was being stored ends, and its results come too late.
    services.pictureWriter.get()->pool()->waitForDone();
    // Real time on purpose: what the finished work posted on its way to the
    // window is delivered meanwhile, and must change nothing.
    QTest::qWait(50);
    QCOMPARE(afterReset, QStringList());
    QVERIFY(!QFileInfo::exists(agentDirectory(hash)));
    QCOMPARE(window->contentIdOnDisplay(), -1);
    QCOMPARE(window->drawnContentId(), -1);
    QVERIFY(!window->isContentOnDisplay());
    QVERIFY(!window->isMaxPersistingTimerRunning());
    QVERIFY(window->screen().images.isEmpty());

    QVERIFY(agent->show(hash, 8, QStringLiteral("1"), {"0"}, {}));
    QCOMPARE(window->contentIdOnDisplay(), 8);
    QCOMPARE(window->drawnContentId(), 8);
    QCOMPARE(afterReset.size(), 1);
}

// A reader of an image file while the agent sends it again sees the old
// bytes or the new ones, never a part, never no file; nothing else is left.
void TstAgentImages::replacedImageReadWhole()
{
    const QString hash = QStringLiteral("replaced");
    // Large, so that writing it takes a while.
    const QByteArray before = ZIImageUtil::ziHeader(4000, 4000) + QByteArray(2000000, 'a');
    const QByteArray after = ZIImageUtil::ziHeader(4000, 4000) + QByteArray(2000000, 'b');
    QVERIFY(agent->configure(hash, {before}));
    const QString path = agentDirectory(hash) + QStringLiteral("/replaced_0.zi");

    std::atomic<bool> reading{true};
    std::atomic<int> reads{0};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (reading) {
            QFile file(path);
            const QByteArray seen = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
            if (seen != before && seen != after)
                ++torn;
            ++reads;
        }
    });
    for (int round = 0; round < 6; ++round)
        QVERIFY(agent->configure(hash, {round % 2 ? before : after}));
    reading = false;
    reader.join();

    QVERIFY(reads > 0);
    QCOMPARE(torn.load(), 0);
    QCOMPARE(TestFiles::read(path), before);
    QCOMPARE(QDir(agentDirectory(hash)).entryList(QDir::Files | QDir::Hidden), QStringList{"replaced_0.zi"});
}

void TstAgentImages::plantedLinkRefused_data()
{
    QTest::addColumn<QString>("hash");
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("toFolder");

    QTest::newRow("image file") << "linkedfile" << "Zelvo/linkedfile/linkedfile_0.zi" << false;
    QTest::newRow("agent folder") << "linkedagent" << "Zelvo/linkedagent" << true;
    QTest::newRow("store folder") << "linkedstore" << "Zelvo" << true;
}

void TstAgentImages::plantedLinkRefused()
{
    QFETCH(QString, hash);
    QFETCH(QString, link);
    QFETCH(bool, toFolder);

    const QDir pictures(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation));
    const QString outside = QDir::home().filePath(QStringLiteral("outside-") + hash);
    QVERIFY(QDir().mkpath(outside));
    const QString victim = outside + QStringLiteral("/victim");
    QVERIFY(TestFiles::write(victim, "the user's own"));
    const QString linkPath = pictures.filePath(link);
    const QString stash = linkPath + QStringLiteral(".real");
    QVERIFY(QDir().mkpath(QFileInfo(linkPath).absolutePath()));
    QVERIFY(!QFileInfo::exists(linkPath) || QFile::rename(linkPath, stash));
    QVERIFY(QFile::link(toFolder ? outside : victim, linkPath));

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("REFUSED .*IT IS A SYMBOLIC LINK")));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(configuredLine(hash, false)));
    const bool relayed = agent->configure(hash, {zi(16, 16)});
    const QStringList written = QDir(outside).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    QVERIFY(QFile::remove(linkPath));
    QVERIFY(!QFileInfo::exists(stash) || QFile::rename(stash, linkPath));

    QVERIFY(relayed);
    QCOMPARE(written, QStringList{"victim"});
    QCOMPARE(TestFiles::read(victim), QByteArray("the user's own"));
}

QTEST_MAIN(TstAgentImages)
#include "tst_agentimages.moc"
