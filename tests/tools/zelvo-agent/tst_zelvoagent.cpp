#include "AgentProcess.h"
#include "ZIImage.h"
#include "ZIImageUtil.h"
#include "comm/ZelvoServer.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QHostAddress>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// The event texts of the emulator: a click of "-" on content 7 of "abc",
// and a battery reading.
const QByteArray minusClicked =
    "{\n    \"appId\": \"abc\",\n    \"contentId\": \"7\",\n    \"data\": {\n        \"type\": 4,\n"
    "        \"values\": [\n            \"1.000\",\n            \"2.000\",\n            \"0.000\",\n"
    "            \"0.000\"\n        ]\n    },\n    \"what_changed\": \"event\"\n}\n";
const QByteArray batteryReading =
    "{\n    \"appId\": \"\",\n    \"contentId\": \"-1\",\n    \"data\": {\n        \"type\": 2,\n"
    "        \"values\": [\n            \"40.000\",\n            \"0.000\",\n            \"0.000\",\n"
    "            \"0.000\"\n        ]\n    },\n    \"what_changed\": \"event\"\n}\n";
const QByteArray minusClickedLine =
    R"({"appId":"abc","contentId":"7","data":{"type":4,"values":["1.000","2.000","0.000","0.000"]},"what_changed":"event"})"
    "\n";
const QByteArray batteryReadingLine =
    R"({"appId":"","contentId":"-1","data":{"type":2,"values":["40.000","0.000","0.000","0.000"]},"what_changed":"event"})"
    "\n";

constexpr int connectTimeoutMillis = 60000;

// Black on the left, white on the right, a black square in the white half:
// one bit each way under any sensible reduction.
QImage pattern(const QSize& size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.fillRect(0, 0, size.width() / 2, size.height(), Qt::black);
    painter.fillRect(size.width() * 3 / 4, size.height() / 4, size.width() / 8, size.height() / 4, Qt::black);
    return image;
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestZelvoAgent final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void config_data();
    void config();
    void content_data();
    void content();
    void timing_data();
    void timing();
    void events_data();
    void events();
    void listenAfterSending();
    void listeningEnds_data();
    void listeningEnds();
    void emulatorGone();
    void noEmulator_data();
    void noEmulator();
    void errors_data();
    void errors();
    void help_data();
    void help();

private:
    QString path(const QString& name) const { return pictures.filePath(name); }
    AgentResult runAgent(const QStringList& arguments) { return AgentProcess::run(arguments, server->serverPort()); }

    QTemporaryDir pictures;
    std::unique_ptr<ZelvoServer> server;
};

void TestZelvoAgent::initTestCase()
{
    qRegisterMetaType<QList<QString>>();
    QVERIFY(pictures.isValid());
    const QImage image = pattern(QSize(64, 48));
    QVERIFY(image.save(path("pattern.png")));
    QVERIFY(image.save(path("pattern.bmp")));
    QVERIFY(image.save(path("pattern.ppm")));
    QVERIFY(pattern(QSize(400, 300)).save(path("large.png")));
    QVERIFY(pattern(QSize(3, 3)).save(path("tiny.png")));
    QVERIFY(ZIImageUtil::ziCompress(image).save(path("pattern.zi")));
    // A picture all the same: PNG readers stop at its end chunk.
    QFile padded(path("padded.png"));
    QVERIFY(padded.open(QIODevice::WriteOnly));
    padded.write(fileBytes(path("pattern.png")) + QByteArray(51 * 1024 * 1024, '\0'));
    padded.close();

    QFile text(path("notes.txt"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("a text file, no picture\n");
    text.close();
    QFile broken(path("broken.zi"));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write(".zi\x00\x80");
    broken.close();
    QFile truncated(path("truncated.bmp"));
    QVERIFY(truncated.open(QIODevice::WriteOnly));
    truncated.write(fileBytes(path("pattern.bmp")).left(40));
    truncated.close();
}

void TestZelvoAgent::init()
{
    server = std::make_unique<ZelvoServer>();
    QVERIFY(server->start(QHostAddress(QHostAddress::LocalHost), 0));
}

void TestZelvoAgent::cleanup()
{
    server.reset();
}

void TestZelvoAgent::config_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("zi");
    QTest::addColumn<QStringList>("kinds");

    QTest::newRow("pattern.png") << QStringList{"pattern.png"} << false << QStringList{"same"};
    QTest::newRow("pattern.zi") << QStringList{"pattern.zi"} << false << QStringList{"same"};
    QTest::newRow("pattern.bmp") << QStringList{"pattern.bmp"} << false << QStringList{"png"};
    QTest::newRow("pattern.ppm") << QStringList{"pattern.ppm"} << false << QStringList{"png"};
    QTest::newRow("zi, bmp, png in order") << QStringList{"pattern.zi", "pattern.bmp", "pattern.png"} << false
                                           << QStringList{"same", "png", "same"};
    QTest::newRow("--zi pattern.png") << QStringList{"pattern.png"} << true << QStringList{"zi"};
    QTest::newRow("--zi pattern.bmp, pattern.zi") << QStringList{"pattern.bmp", "pattern.zi"} << true
                                                  << QStringList{"zi", "same"};
}

void TestZelvoAgent::config()
{
    QFETCH(QStringList, files);
    QFETCH(bool, zi);
    QFETCH(QStringList, kinds);

    QSignalSpy configs(server.get(), &ZelvoServer::agentConfigReceived);
    QStringList arguments{"config", "--app", "c0ffee"};
    if (zi)
        arguments << "--zi";
    for (const QString& file : qAsConst(files))
        arguments << path(file);
    const AgentResult run = runAgent(arguments);
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.exitCode, 0);

    QTRY_COMPARE(configs.count(), 1);
    QCOMPARE(configs.at(0).at(0).toString(), QStringLiteral("c0ffee"));
    const QList<QString> images = configs.at(0).at(1).value<QList<QString>>();
    QCOMPARE(images.size(), files.size());
    const QImage source = pattern(QSize(64, 48));
    for (int i = 0; i < files.size(); ++i) {
        const QByteArray payload = QByteArray::fromBase64(images.at(i).toLatin1());
        if (kinds.at(i) == QLatin1String("same")) {
            QCOMPARE(payload, fileBytes(path(files.at(i))));
        } else if (kinds.at(i) == QLatin1String("png")) {
            QVERIFY(payload.startsWith("\x89PNG"));
            QCOMPARE(QImage::fromData(payload, "PNG").convertToFormat(QImage::Format_RGB32), source);
        } else {
            // Dark pixels become lit ones.
            const QImage decoded = ZIImageUtil::ziUncompress(payload);
            QCOMPARE(decoded.size(), source.size());
            for (int y = 0; y < source.height(); ++y) {
                for (int x = 0; x < source.width(); ++x) {
                    const bool dark = source.pixel(x, y) == QColor(Qt::black).rgb();
                    QCOMPARE(decoded.pixel(x, y), dark ? ZIImageUtil::litColor : ZIImageUtil::backgroundColor);
                }
            }
        }
    }
}

void TestZelvoAgent::content_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("contentId");
    QTest::addColumn<QString>("layoutId");
    QTest::addColumn<QStringList>("imageIds");
    QTest::addColumn<QStringList>("texts");

    QTest::newRow("--layout 2 --image 0 --text Hello")
        << QStringList{"--layout", "2", "--image", "0", "--text", "Hello"} << 0 << "2" << QStringList{"0"}
        << QStringList{"Hello"};
    QTest::newRow("--layout 3 --content-id 7, title and text")
        << QStringList{"--layout", "3", "--content-id", "7", "--image", "1", "--text", "Title", "--text", "Body text"}
        << 7 << "3" << QStringList{"1"} << QStringList{"Title", "Body text"};
    QTest::newRow("--layout 4, four images") << QStringList{"--layout", "4", "--image", "0", "--image", "1", "--image", "2", "--image", "3"}
                                             << 0 << "4" << QStringList{"0", "1", "2", "3"} << QStringList{};
    QTest::newRow("--content-id -5") << QStringList{"--layout", "0", "--content-id", "-5", "--text", "x"} << -5 << "0"
                                     << QStringList{} << QStringList{"x"};
    QTest::newRow("--layout abc --force, ids as given") << QStringList{"--layout", "abc", "--image", "00", "--force"} << 0 << "abc"
                                                << QStringList{"00"} << QStringList{};
    QTest::newRow("--text with quotes and umlauts")
        << QStringList{"--layout", "0", "--text", "Grüße, \"Zelvo\" ✓"} << 0 << "0" << QStringList{}
        << QStringList{"Grüße, \"Zelvo\" ✓"};
}

void TestZelvoAgent::content()
{
    QFETCH(QStringList, options);
    QFETCH(int, contentId);
    QFETCH(QString, layoutId);
    QFETCH(QStringList, imageIds);
    QFETCH(QStringList, texts);

    QSignalSpy contents(server.get(), &ZelvoServer::agentContentReceived);
    const AgentResult run = runAgent(QStringList{"content", "--app", "c0ffee"} + options);
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.exitCode, 0);

    QTRY_COMPARE(contents.count(), 1);
    const QList<QVariant> arguments = contents.takeFirst();
    QCOMPARE(arguments.at(0).toString(), QStringLiteral("c0ffee"));
    QCOMPARE(arguments.at(1).toInt(), contentId);
    QCOMPARE(arguments.at(2).toString(), layoutId);
    QCOMPARE(arguments.at(3).value<QList<QString>>(), imageIds);
    QCOMPARE(arguments.at(4).value<QList<QString>>(), texts);
}

void TestZelvoAgent::timing_data()
{
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");

    QTest::newRow("--min 4000 --max 6000") << 4000 << 6000;
    QTest::newRow("--min 0 --max 0") << 0 << 0;
    QTest::newRow("--min 100 --max 86400000") << 100 << 86400000;
}

void TestZelvoAgent::timing()
{
    QFETCH(int, minimum);
    QFETCH(int, maximum);

    QSignalSpy timings(server.get(), &ZelvoServer::zelvoConfigReceived);
    const AgentResult run = runAgent({"timing", "--min", QString::number(minimum), "--max", QString::number(maximum)});
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.exitCode, 0);
    QTRY_COMPARE(timings.count(), 1);
    QCOMPARE(timings.at(0).at(0).toInt(), minimum);
    QCOMPARE(timings.at(0).at(1).toInt(), maximum);
}

void TestZelvoAgent::events_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QList<QByteArray>>("sent");
    QTest::addColumn<QByteArray>("printed");

    const QList<QByteArray> twoEvents{minusClicked, batteryReading};
    QTest::newRow("--count 2") << QStringList{"--count", "2"} << twoEvents << (minusClickedLine + batteryReadingLine);
    QTest::newRow("--count 2 --raw") << QStringList{"--count", "2", "--raw"} << twoEvents << (minusClicked + batteryReading);
    const QByteArray binary("\x00\xff\r\n{\"x\"", 8);
    QTest::newRow("--count 3 --raw, binary and empty payloads")
        << QStringList{"--count", "3", "--raw"} << QList<QByteArray>{binary, QByteArray(), minusClicked}
        << (binary + minusClicked);
}

void TestZelvoAgent::events()
{
    QFETCH(QStringList, options);
    QFETCH(QList<QByteArray>, sent);
    QFETCH(QByteArray, printed);

    AgentProcess agent(server->serverPort());
    agent.start(QStringList{"events"} + options);
    QTRY_COMPARE_WITH_TIMEOUT(server->connections().size(), 1, connectTimeoutMillis);
    for (const QByteArray& event : qAsConst(sent))
        server->sendMessageToClients(event);
    const AgentResult run = agent.finish();
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, printed);
}

void TestZelvoAgent::listenAfterSending()
{
    QSignalSpy contents(server.get(), &ZelvoServer::agentContentReceived);
    AgentProcess agent(server->serverPort());
    agent.start({"content", "--app", "c0ffee", "--layout", "0", "--text", "Hi", "--listen", "--count", "1"});
    QTRY_COMPARE_WITH_TIMEOUT(contents.count(), 1, connectTimeoutMillis);
    QCOMPARE(server->connections().size(), 1);
    server->sendMessageToClients(minusClicked);
    const AgentResult run = agent.finish();
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, minusClickedLine);
    QTRY_COMPARE(server->connections().size(), 0);
}

void TestZelvoAgent::listeningEnds_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("error");

    QTest::newRow("--timeout 0.5") << QStringList{"--timeout", "0.5"} << 0 << QByteArray();
    QTest::newRow("--count 2 --timeout 0.5") << QStringList{"--count", "2", "--timeout", "0.5"} << 1
                                             << QByteArray("zelvo-agent: timed out after 0.5 s with 1 of 2 events\n");
}

void TestZelvoAgent::listeningEnds()
{
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, error);

    AgentProcess agent(server->serverPort());
    agent.start(QStringList{"events"} + options);
    QTRY_COMPARE_WITH_TIMEOUT(server->connections().size(), 1, connectTimeoutMillis);
    server->sendMessageToClients(batteryReading);
    const AgentResult run = agent.finish();
    QCOMPARE(run.err, error);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.out, batteryReadingLine);
}

void TestZelvoAgent::emulatorGone()
{
    AgentProcess agent(server->serverPort());
    agent.start({"events", "--count", "2"});
    QTRY_COMPARE_WITH_TIMEOUT(server->connections().size(), 1, connectTimeoutMillis);
    server->sendMessageToClients(batteryReading);
    // The emulator quits: its server takes every connection with it.
    server.reset();
    const AgentResult run = agent.finish();
    QCOMPARE(run.err, QByteArray("zelvo-agent: the emulator closed the connection after 1 of 2 events\n"));
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out, batteryReadingLine);
}

void TestZelvoAgent::noEmulator_data()
{
    QTest::addColumn<QString>("host");

    QTest::newRow("127.0.0.1") << "127.0.0.1";
    QTest::newRow("localhost") << "localhost";
}

void TestZelvoAgent::noEmulator()
{
    QFETCH(QString, host);

    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 freePort = probe.serverPort();
    probe.close();
    const AgentResult run = AgentProcess::run({"timing", "--min", "1", "--max", "2", "--host", host}, freePort);
    QCOMPARE(QString::fromUtf8(run.err), QStringLiteral("zelvo-agent: no emulator listening on %1:%2\n").arg(host).arg(freePort));
    QCOMPARE(run.exitCode, 3);
}

void TestZelvoAgent::errors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");

    QTest::newRow("missing.png") << QStringList{"config", "--app", "a", path("missing.png")} << 1
                                 << path("missing.png") + ": no such file";
    QTest::newRow("a directory") << QStringList{"config", "--app", "a", pictures.path()} << 1
                                 << pictures.path() + ": not a file";
    QTest::newRow("notes.txt") << QStringList{"config", "--app", "a", path("pattern.png"), path("notes.txt")} << 1
                               << path("notes.txt") + ": not a picture";
    QTest::newRow("truncated.bmp") << QStringList{"config", "--app", "a", path("truncated.bmp")} << 1
                                   << path("truncated.bmp") + ": not a picture";
    QTest::newRow("broken.zi") << QStringList{"config", "--app", "a", path("broken.zi")} << 1
                               << path("broken.zi") + ": not a ZI picture";
    QTest::newRow("--zi large.png") << QStringList{"config", "--app", "a", "--zi", path("large.png")} << 1
                                    << path("large.png") + ": 400 x 300 pixels is too large for a ZI picture (at most 8640 bytes)";
    QTest::newRow("--zi tiny.png") << QStringList{"config", "--app", "a", "--zi", path("tiny.png")} << 1
                                   << path("tiny.png") + ": 3 x 3 pixels is too small for a ZI picture (the glasses draw none under 10 bytes)";
    QTest::newRow("padded.png, 68 MB in Base64") << QStringList{"config", "--app", "a", path("padded.png")} << 1
                                                << "the configuration makes a message larger than the 67108864 bytes "
                                                   "the emulator takes";
    QTest::newRow("no command") << QStringList{} << 2 << "missing command; try 'zelvo-agent --help'";
    QTest::newRow("show") << QStringList{"show"} << 2 << "unknown command 'show'; try 'zelvo-agent --help'";
    QTest::newRow("config without --app") << QStringList{"config", path("pattern.png")} << 2
                                          << "--app HASH is required (see 'zelvo-agent config --help')";
    QTest::newRow("config without files") << QStringList{"config", "--app", "a"} << 2
                                          << "no picture files given (see 'zelvo-agent config --help')";
    QTest::newRow("content without --layout") << QStringList{"content", "--app", "a"} << 2
                                              << "--layout N is required (see 'zelvo-agent content --help')";
    QTest::newRow("content --content-id x") << QStringList{"content", "--app", "a", "--layout", "0", "--content-id", "x"} << 2
                                            << "--content-id needs a whole number, not 'x' (see 'zelvo-agent content --help')";
    QTest::newRow("content extra") << QStringList{"content", "--app", "a", "--layout", "0", "extra"} << 2
                                   << "unexpected argument 'extra' (see 'zelvo-agent content --help')";
    QTest::newRow("content --layout 2 --image 0") << QStringList{"content", "--app", "a", "--layout", "2", "--image", "0"} << 2
                                                  << "layout 2 takes 1 image and 1 text; given 1 image and 0 texts";
    QTest::newRow("content --layout 4 --image 0 --text t")
        << QStringList{"content", "--app", "a", "--layout", "4", "--image", "0", "--text", "t"} << 2
        << "layout 4 takes 4 images and 0 texts; given 1 image and 1 text";
    QTest::newRow("content --layout 7") << QStringList{"content", "--app", "a", "--layout", "7"} << 2
                                        << "layout \"7\" does not exist; the layouts are 0 to 4 (see 'zelvo-agent layouts')";
    QTest::newRow("content --layout two") << QStringList{"content", "--app", "a", "--layout", "two"} << 2
                                          << "layout \"two\" does not exist; the layouts are 0 to 4 (see 'zelvo-agent layouts')";
    QTest::newRow("timing without --max") << QStringList{"timing", "--min", "10"} << 2
                                          << "--min MS and --max MS are required (see 'zelvo-agent timing --help')";
    QTest::newRow("timing --min -1") << QStringList{"timing", "--min", "-1", "--max", "10"} << 2
                                     << "--min needs milliseconds, not '-1' (see 'zelvo-agent timing --help')";
    QTest::newRow("timing --count") << QStringList{"timing", "--min", "1", "--max", "2", "--count", "1"} << 2
                                    << "--count, --timeout and --raw need --listen (see 'zelvo-agent timing --help')";
    QTest::newRow("events --count 0") << QStringList{"events", "--count", "0"} << 2
                                      << "--count needs a positive number, not '0' (see 'zelvo-agent events --help')";
    QTest::newRow("events --timeout soon") << QStringList{"events", "--timeout", "soon"} << 2
                                           << "--timeout needs a number of seconds from 0 to 86400, not 'soon' (see 'zelvo-agent events --help')";
    QTest::newRow("events --bogus") << QStringList{"events", "--bogus"} << 2
                                    << "Unknown option 'bogus'. (see 'zelvo-agent events --help')";
    QTest::newRow("events --port 70000") << QStringList{"events", "--port", "70000"} << 2
                                         << "--port needs a number from 1 to 65535, not '70000' (see 'zelvo-agent events --help')";
}

void TestZelvoAgent::errors()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, error);

    QSignalSpy configs(server.get(), &ZelvoServer::agentConfigReceived);
    QSignalSpy contents(server.get(), &ZelvoServer::agentContentReceived);
    QSignalSpy timings(server.get(), &ZelvoServer::zelvoConfigReceived);
    const AgentResult run = runAgent(arguments);
    QCOMPARE(QString::fromUtf8(run.err), "zelvo-agent: " + error + '\n');
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.out, QByteArray());
    QCOMPARE(server->connections().size(), 0);
    QCOMPARE(configs.count() + contents.count() + timings.count(), 0);
}

void TestZelvoAgent::help_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");

    QTest::newRow("--help") << QStringList{"--help"} << "Usage: zelvo-agent COMMAND [options]";
    QTest::newRow("config --help") << QStringList{"config", "--help"} << "Usage: zelvo-agent config --app HASH FILE... [options]";
    QTest::newRow("content -h") << QStringList{"content", "-h"} << "--content-id <N>";
    QTest::newRow("timing --help") << QStringList{"timing", "--help"} << "--max <MS>";
    QTest::newRow("events --help") << QStringList{"events", "--help"} << "--raw";
    QTest::newRow("layouts") << QStringList{"layouts"} << "layout 3: 1 image and 2 texts\n"
                                                          "  image 0: 158 x 174 at (0, 42)\n"
                                                          "  text  0: 320 x 40 at (0, 0)\n"
                                                          "  text  1: 158 x 174 at (162, 42)\n";
}

void TestZelvoAgent::help()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);

    const AgentResult run = runAgent(arguments);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QByteArray());
    QVERIFY2(run.out.contains(expected.toUtf8()), run.out.constData());
}

QTEST_GUILESS_MAIN(TestZelvoAgent)
#include "tst_zelvoagent.moc"
