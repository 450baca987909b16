#include "AgentProcess.h"
#include "ControlClient.h"
#include "CtlProcess.h"
#include "EmulatorProcess.h"
#include "ZelvoControlToken.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <vector>

class TestZelvoCtl final : public QObject
{
    Q_OBJECT

private slots:
    void usage_data();
    void usage();
    void noEmulator();
    void silentPort_data();
    void silentPort();
    void exitCodes_data();
    void exitCodes();
    void headlessRun();
    void strangersLeaveTheSlotsFree();
    void cleanup();

private:
    EmulatorProcess emulator{nullptr, QStringLiteral("zelvoctl/emulator")};
    // On free ports, shared by the rows of exitCodes().
    EmulatorProcess instance{nullptr, QStringLiteral("zelvoctl/exitcodes")};
};

void TestZelvoCtl::usage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");

    const auto row = [](const char* name, const QStringList& arguments, int exitCode, const QString& output) {
        QTest::newRow(name) << arguments << exitCode << output;
    };
    row("nothing", {}, 2, "zelvo-ctl: missing command");
    row("--help", {"--help"}, 0, "Usage: zelvo-ctl COMMAND");
    row("click --help", {"click", "--help"}, 0, "Usage: zelvo-ctl click plus|minus");
    row("jump", {"jump"}, 2, "zelvo-ctl: unknown command 'jump'");
    row("click middle", {"click", "middle"}, 2, "zelvo-ctl: plus|minus takes plus or minus, not 'middle'");
    row("click", {"click"}, 2, "zelvo-ctl: missing plus|minus");
    row("press plus --hold soon", {"press", "plus", "--hold", "soon"}, 2,
        "zelvo-ctl: --hold takes a whole number from 0 to 3600000, not 'soon'");
    row("click plus --hold 5", {"click", "plus", "--hold", "5"}, 2, "zelvo-ctl: Unknown option 'hold'");
    row("sensor compass x", {"sensor", "compass", "x"}, 2, "zelvo-ctl: V... takes numbers that fit a float, not 'x'");
    row("sensor start", {"sensor", "start"}, 2, "zelvo-ctl: missing NAME");
    row("sensor start altimeter", {"sensor", "start", "altimeter"}, 2,
        "zelvo-ctl: NAME takes battery, accelerometer, compass or light, not 'altimeter'");
    row("trace", {"trace"}, 2, "zelvo-ctl: missing FILE");
    row("trace stop --wait", {"trace", "stop", "--wait"}, 2, "zelvo-ctl: --wait does not go with 'trace stop'");
    row("screenshot", {"screenshot"}, 2, "zelvo-ctl: give OUT.png, or '-'");
    row("record display x.png", {"record", "display", "x.png"}, 2, "zelvo-ctl: give either --seconds SECONDS or --until-stopped");
    row("record rewind", {"record", "rewind"}, 2, "zelvo-ctl: display|session|stop takes display, session or stop, not 'rewind'");
    row("battery 101", {"battery", "101"}, 2, "zelvo-ctl: LEVEL takes a whole number from 0 to 100, not '101'");
    row("link delay soon", {"link", "delay", "soon"}, 2, "zelvo-ctl: MS takes a whole number from 0 to 3600000");
    row("state extra", {"state", "extra"}, 2, "zelvo-ctl: unexpected argument 'extra'");
    row("wait", {"wait"}, 2, "zelvo-ctl: missing --content-of HASH");
    row("wait --timeout -1", {"wait", "--content-of", "a", "--timeout", "-1"}, 2,
        "zelvo-ctl: --timeout takes a number from 0 to 3600, not '-1'");
    row("state --timeout 0", {"state", "--timeout", "0"}, 2, "zelvo-ctl: --timeout needs seconds above 0");
    row("fullscreen maybe", {"fullscreen", "maybe"}, 2, "zelvo-ctl: on|off takes on or off, not 'maybe'");
    row("state --port 70000", {"state", "--port", "70000"}, 2, "zelvo-ctl: --port needs a number");
    row("clock advance", {"clock", "advance"}, 2, "zelvo-ctl: missing MS");
    row("clock advance soon", {"clock", "advance", "soon"}, 2, "zelvo-ctl: MS takes a whole number from 0 to 3600000");
    row("clock rewind", {"clock", "rewind"}, 2, "zelvo-ctl: unexpected argument 'rewind'");
}

void TestZelvoCtl::usage()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);

    const CtlResult result = CtlProcess::run(arguments);
    QCOMPARE(result.exitCode, exitCode);
    const QString text = QString::fromUtf8(exitCode == 0 ? result.out : result.err);
    QVERIFY2(text.startsWith(output), qPrintable(text));
    if (exitCode != 0)
        QCOMPARE(text.count(QLatin1Char('\n')), 1);
}

void TestZelvoCtl::noEmulator()
{
    // Nobody listening, with no token or one left by an emulator that was
    // killed: either way no emulator runs.
    QTcpServer unused;
    QVERIFY(unused.listen(QHostAddress::LocalHost));
    const QString port = QString::number(unused.serverPort());
    unused.close();
    QFile::remove(ZelvoControlToken::filePath());
    for (bool tokenLeft : {false, true}) {
        QString error;
        QVERIFY2(!tokenLeft || ZelvoControlToken().save(ZelvoControlToken::filePath(), &error), qPrintable(error));
        const CtlResult result = CtlProcess::run({"state", "--port", port});
        QCOMPARE(result.exitCode, 3);
        QCOMPARE(result.err, "zelvo-ctl: no emulator is running: nothing listens on 127.0.0.1:" + port.toUtf8()
                                 + "; 'zelvo-ctl ready' waits for one to start\n");
    }
}

void TestZelvoCtl::silentPort_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("earliestMillis");
    QTest::newRow("state --timeout 1") << QStringList{"state", "--timeout", "1"} << 1000;
    QTest::newRow("press plus --hold 1500 --timeout 0.5")
        << QStringList{"press", "plus", "--hold", "1500", "--timeout", "0.5"} << 2000;
}

void TestZelvoCtl::silentPort()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, earliestMillis);
    QString error;
    QVERIFY2(ZelvoControlToken().save(ZelvoControlToken::filePath(), &error), qPrintable(error));
    // Takes connections and never says a word, like the agent port.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    const QString port = QString::number(silent.serverPort());

    QElapsedTimer clock;
    clock.start();
    const CtlResult result = CtlProcess::run(arguments + QStringList{"--port", port});
    QVERIFY2(clock.elapsed() >= earliestMillis, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(result.exitCode, 3);
    QVERIFY2(result.err.startsWith("zelvo-ctl: nothing answered on 127.0.0.1:" + port.toUtf8() + " within "),
             result.err.constData());
}

// One rule for every command of both tools: 0 done, 1 refused or not done,
// 2 a wrong command line whoever finds it, 3 no emulator or something else
// answered; always with one line naming the cause. @AGENT, @CONTROL and
// @UNUSED stand for the emulator's ports and a port nobody listens on.
void TestZelvoCtl::exitCodes_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");

    const auto row = [](const char* tool, const QStringList& arguments, int exitCode, const QString& error,
                        const QByteArray& token = QByteArray()) {
        const QString name = QStringLiteral("%1 %2").arg(tool, arguments.join(QLatin1Char(' ')));
        QTest::newRow(qPrintable(token.isEmpty() ? name : name + QStringLiteral(", token ") + token))
            << tool << arguments << token << exitCode << error;
    };
    row("zelvo-ctl", {"state"}, 0, "");
    row("zelvo-ctl", {"battery", "150"}, 2, "zelvo-ctl: LEVEL takes a whole number from 0 to 100, not '150'");
    row("zelvo-ctl", {"sensor", "compass", "1", "2"}, 2, "zelvo-ctl: compass takes 3 numbers in \"values\"");
    row("zelvo-ctl", {"release", "plus"}, 1, "zelvo-ctl: plus is not held");
    row("zelvo-ctl", {"record", "stop"}, 1, "zelvo-ctl: nothing is being recorded");
    row("zelvo-ctl", {"wait", "--content-of", "nobody", "--timeout", "0.1"}, 1,
        "zelvo-ctl: no content of nobody on the display after 100 ms");
    row("zelvo-ctl", {"clock", "advance", "5"}, 1, "zelvo-ctl: the clock runs in real time; pause it first");
    row("zelvo-ctl", {"state"}, 1, "zelvo-ctl: the emulator refused the token in ZELVO_CONTROL_TOKEN: wrong token",
        QByteArray(40, 'x'));
    row("zelvo-ctl", {"state", "--port", "@AGENT", "--timeout", "0.5"}, 3,
        "zelvo-ctl: nothing answered on 127.0.0.1:@AGENT within 0.5 s; is it the emulator's control port, not its "
        "agent port?");
    row("zelvo-ctl", {"state", "--port", "@UNUSED"}, 3, "zelvo-ctl: no emulator is running: nothing listens on 127.0.0.1:@UNUSED");
    row("zelvo-ctl", {"screenshot", "--expect", "@UNUSED.png"}, 1, "zelvo-ctl: cannot read the golden picture @UNUSED.png");
    row("zelvo-agent", {"content", "--app", "codes", "--layout", "0", "--text", "Hi"}, 0, "");
    row("zelvo-agent", {"content", "--app", "codes", "--layout", "2", "--text", "Hi"}, 2,
        "zelvo-agent: layout 2 takes 1 image and 1 text");
    row("zelvo-agent", {"config", "--app", "codes", "@UNUSED.png"}, 1, "zelvo-agent: @UNUSED.png: ");
    const QString controlAnswered = "zelvo-agent: 127.0.0.1:@CONTROL answered with a line of JSON, not with frames: it "
                                    "is a control channel, not the emulator's agent port";
    row("zelvo-agent", {"content", "--app", "codes", "--layout", "0", "--text", "Hi", "--port", "@CONTROL"}, 3,
        controlAnswered);
    row("zelvo-agent", {"timing", "--min", "1", "--max", "2", "--port", "@CONTROL"}, 3, controlAnswered);
    row("zelvo-agent", {"events", "--port", "@CONTROL"}, 3, controlAnswered);
    row("zelvo-agent", {"timing", "--min", "1", "--max", "2", "--port", "@UNUSED"}, 3,
        "zelvo-agent: no emulator listening on 127.0.0.1:@UNUSED");
}

void TestZelvoCtl::exitCodes()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, token);
    QFETCH(int, exitCode);
    QFETCH(QString, error);

    if (!instance.isRunning())
        QVERIFY2(instance.startUntilListening(60000), instance.logText().constData());
    QTcpServer unused;
    QVERIFY(unused.listen(QHostAddress::LocalHost));
    const QString unusedPort = QString::number(unused.serverPort());
    unused.close();
    const auto placed = [&](QString text) {
        return text.replace(QLatin1String("@AGENT"), QString::number(instance.ports().agent))
            .replace(QLatin1String("@CONTROL"), QString::number(instance.ports().control))
            .replace(QLatin1String("@UNUSED"), unusedPort);
    };
    QStringList given;
    for (const QString& argument : qAsConst(arguments))
        given.append(placed(argument));
    given += QStringList{"--ports-file", instance.portsFile()};
    if (!token.isEmpty())
        qputenv(ZelvoControlToken::environmentVariable, token);
    const CtlResult result = tool == QLatin1String("zelvo-ctl") ? CtlProcess::run(given)
                                                               : AgentProcess::run(given, instance.ports().agent);
    qunsetenv(ZelvoControlToken::environmentVariable);
    QVERIFY2(result.exitCode == exitCode, result.err.constData());
    QVERIFY2(result.err.startsWith(placed(error).toUtf8()), result.err.constData());
    QCOMPARE(result.err.count('\n'), exitCode == 0 ? 0 : 1);
}

void TestZelvoCtl::headlessRun()
{
    if (!emulator.portsAreFree())
        QSKIP("another program holds port 2000 or 2001 on this machine");
    QFile::remove(ZelvoControlToken::filePath());

    // zelvo-ctl finds the default port and the token under the test's own home.
    emulator.setHome(QDir::homePath());
    emulator.useDefaultPorts();
    QVERIFY(emulator.start());
    // Up once zelvo-ctl gets an answer.
    CtlResult state;
    QVERIFY(QTest::qWaitFor([&] {
        state = CtlProcess::run({"state"});
        return state.exitCode == 0 || !emulator.isRunning();
    }, 90000));
    QVERIFY2(state.exitCode == 0, emulator.logText().constData());
    QCOMPARE(QJsonDocument::fromJson(state.out).object().value("agents"), QJsonValue(0));

    // A click reaches a listening agent as its three events.
    AgentProcess listener(emulator.ports().agent);
    listener.start({"events", "--count", "3", "--timeout", "20"});
    QVERIFY(QTest::qWaitFor([] {
        return QJsonDocument::fromJson(CtlProcess::run({"state"}).out).object().value("agents").toInt() == 1;
    }, 30000));
    CtlResult result = CtlProcess::run({"click", "minus"});
    QCOMPARE(result.exitCode, 0);
    const AgentResult events = listener.finish();
    QCOMPARE(events.exitCode, 0);
    const QList<QByteArray> lines = events.out.trimmed().split('\n');
    QCOMPARE(lines.size(), 3);
    for (int gesture = 0; gesture < 3; ++gesture) {
        const QJsonObject data = QJsonDocument::fromJson(lines.at(gesture)).object().value("data").toObject();
        QCOMPARE(data.value("type"), QJsonValue(4));
        QCOMPARE(data.value("values").toArray().at(1).toString(), QString::number(gesture) + ".000");
    }

    // Content from an agent, awaited and photographed.
    QCOMPARE(AgentProcess::run({"content", "--app", "ci-demo", "--layout", "0", "--text", "Hello CI"}, emulator.ports().agent).exitCode, 0);
    result = CtlProcess::run({"wait", "--content-of", "ci-demo", "--timeout", "10"});
    QVERIFY2(result.exitCode == 0, result.err.constData());
    QVERIFY2(result.out.startsWith("content 0 drawn with layout 0"), result.out.constData());
    const QJsonObject screen = QJsonDocument::fromJson(CtlProcess::run({"screen"}).out).object();
    QCOMPARE(screen.value("texts").toArray().at(0).toObject().value("lines"), QJsonValue(QJsonArray{"HELLO CI"}));
    const QString shot = QDir::home().filePath("display.png");
    result = CtlProcess::run({"screenshot", shot});
    QVERIFY2(result.exitCode == 0, result.err.constData());
    const QImage image(shot);
    QCOMPARE(image.size(), QSize(320, 240));
    result = CtlProcess::run({"screenshot", "-"});
    QCOMPARE(QImage::fromData(result.out, "PNG"), image);
    state = CtlProcess::run({"state"});
    QCOMPARE(QJsonDocument::fromJson(state.out).object().value("agent"), QJsonValue("ci-demo"));

    // On the paused clock the content stays until the clock reaches its
    // maximum time, however long that takes.
    result = CtlProcess::run({"clock", "pause"});
    QCOMPARE(result.exitCode, 0);
    const double paused = QJsonDocument::fromJson(result.out).object().value("now").toDouble();
    QCOMPARE(QJsonDocument::fromJson(result.out).object().value("mode"), QJsonValue("manual"));
    result = CtlProcess::run({"clock", "advance", "6000"});
    QCOMPARE(QJsonDocument::fromJson(result.out).object().value("now"), QJsonValue(paused + 6000));
    state = CtlProcess::run({"state"});
    QCOMPARE(QJsonDocument::fromJson(state.out).object().value("agent"), QJsonValue(""));
    QCOMPARE(CtlProcess::run({"clock", "resume"}).exitCode, 0);

    // Refusals of the emulator: one line, exit code 1.
    result = CtlProcess::run({"screenshot", QDir::home().filePath("missing/display.png")});
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.startsWith("zelvo-ctl: cannot write"), result.err.constData());

    // Content that never arrives is a failure, said with its reason.
    QCOMPARE(CtlProcess::run({"link", "refuse", "on"}).exitCode, 0);
    const AgentResult refused = AgentProcess::run({"content", "--app", "ci-demo", "--layout", "0", "--text", "Lost"},
                                                  emulator.ports().agent);
    QCOMPARE(refused.exitCode, 1);
    QVERIFY2(refused.err.startsWith("zelvo-agent: nothing was delivered: the emulator refuses new agents"),
             refused.err.constData());
    QCOMPARE(CtlProcess::run({"link", "refuse", "off"}).exitCode, 0);
}

// Connections that never authenticate cannot keep a client with the token
// out; a connection turned away is told why, and zelvo-ctl says it.
void TestZelvoCtl::strangersLeaveTheSlotsFree()
{
    // Its own free ports, whatever the tests before it used.
    EmulatorProcess instance{nullptr, QStringLiteral("zelvoctl/strangers")};
    QVERIFY(instance.startUntilListening(60000));
    QString error;
    const QString token = QString::fromLatin1(ZelvoControlToken::readFile(instance.tokenFile(), &error));
    QVERIFY2(!token.isEmpty(), qPrintable(error));
    std::vector<std::unique_ptr<ControlClient>> strangers;
    for (int i = 0; i < 40; ++i)
        strangers.push_back(std::make_unique<ControlClient>(instance.ports().control));

    std::vector<std::unique_ptr<ControlClient>> clients;
    for (int i = 0; i < 32; ++i) {
        clients.push_back(std::make_unique<ControlClient>(instance.ports().control));
        const QJsonObject answer = clients.back()->call({{"cmd", "auth"}, {"token", token}});
        QVERIFY2(answer.value("ok").toBool(), QJsonDocument(answer).toJson().constData());
    }
    const QStringList ports{"--ports-file", instance.portsFile()};
    CtlResult result = CtlProcess::run(QStringList{"state"} + ports);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.err, QByteArray("zelvo-ctl: the emulator refused the connection: "
                                    "32 control connections are open already\n"));
    // Each stranger heard why it was closed, at the latest when its time to
    // authenticate ran out.
    for (const auto& stranger : strangers) {
        QVERIFY(stranger->waitClosed());
        QVERIFY(!stranger->answers.isEmpty());
        QCOMPARE(stranger->answers.first().value("ok"), QJsonValue(false));
    }
    clients.pop_back();
    QTRY_COMPARE(CtlProcess::run(QStringList{"state"} + ports).exitCode, 0);
}

void TestZelvoCtl::cleanup()
{
    emulator.stop();
}

QTEST_GUILESS_MAIN(TestZelvoCtl)
#include "tst_zelvoctl.moc"
