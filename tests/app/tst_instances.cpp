#include "../util/TestFiles.h"
#include "AgentProcess.h"
#include "CtlProcess.h"
#include "EmulatorProcess.h"
#include "TestAgent.h"
#include "ZelvoControlToken.h"
#include "ZelvoInstance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QColor>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int startMillis = 90000;

// A tool run to its end, with variables added to the test's environment.
AgentResult run(const QString& program, const QStringList& arguments, const QStringList& variables = {})
{
    ChildProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& variable : variables)
        environment.insert(variable.section(QLatin1Char('='), 0, 0), variable.section(QLatin1Char('='), 1));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    AgentResult result;
    result.exitCode = process.waitForExit(60000);
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

AgentResult ctl(const QStringList& arguments, const QStringList& variables = {})
{
    return run(QStringLiteral(ZELVO_CTL_PATH), arguments, variables);
}

AgentResult agent(const QStringList& arguments, const QStringList& variables = {})
{
    return run(QStringLiteral(ZELVO_AGENT_PATH), arguments, variables);
}

QStringList filesUnder(const QString& path)
{
    QStringList files;
    for (const QFileInfo& entry : QDir(path).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)) {
        if (entry.isDir() && !entry.isSymLink())
            files += filesUnder(entry.filePath());
        else
            files += entry.filePath();
    }
    return files;
}

// Whether a process holds the kernel's lock on the file, as an emulator
// holds its data folder's.
bool lockHeld(const QString& path)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    const bool held = ::flock(descriptor, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(descriptor);
    return held;
}

} // namespace

// Emulators side by side, each found by its ports file or the ZELVO_*
// variables, each brought back to its fresh start by reset.
class TestInstances final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sideBySide();
    void resetEqualsFreshStart_data();
    void resetEqualsFreshStart();
    void readyWaitsForStart();
    void samePictureAfterRestart();
    void environment();
    void portNotTaken_data();
    void portNotTaken();
    void listenAddress_data();
    void listenAddress();
    void plainLogInAFile();
    void dataFolderServesOne();
    void lockLeftBehind_data();
    void lockLeftBehind();
    void processOneKilledRestarts();
    void dataFolderRemovedTwice();

private:
    QTemporaryDir files;
    QString picture;
};

void TestInstances::initTestCase()
{
    QVERIFY(files.isValid());
    picture = files.filePath(QStringLiteral("picture.png"));
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::green);
    QVERIFY(image.save(picture));
}

void TestInstances::sideBySide()
{
    // One home for both, as on a CI machine: only the data folders differ.
    QTemporaryDir home;
    EmulatorProcess first(nullptr, QStringLiteral("instances/first"));
    EmulatorProcess second(nullptr, QStringLiteral("instances/second"));
    for (EmulatorProcess* emulator : {&first, &second}) {
        emulator->setHome(home.path());
        emulator->setArguments({"--data-dir", QDir(home.path()).filePath(emulator == &first ? "one" : "two/deeper")});
        QVERIFY2(emulator->startUntilListening(startMillis), emulator->logText().constData());
    }
    QVERIFY(first.ports().agent != second.ports().agent);
    QVERIFY(first.ports().control != second.ports().control);

    for (EmulatorProcess* emulator : {&first, &second}) {
        QFile portsFile(emulator->portsFile());
        QVERIFY(portsFile.open(QIODevice::ReadOnly));
        const QJsonObject told = QJsonDocument::fromJson(portsFile.readAll()).object();
        QCOMPARE(told.value("pid").toDouble(), double(emulator->pid()));
        const QFileInfo token(emulator->tokenFile());
        QCOMPARE(told.value("tokenFile").toString(), token.filePath());
        QCOMPARE(token.permissions(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        QCOMPARE(QFileInfo(token.path()).permissions(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                            | QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
    }
    QString error;
    QVERIFY(ZelvoControlToken::readFile(first.tokenFile(), &error)
            != ZelvoControlToken::readFile(second.tokenFile(), &error));

    // The first keeps its token and its images to itself after the second started.
    const AgentResult config = agent({"config", "--ports-file", first.portsFile(), "--app", "shared", picture});
    QVERIFY2(config.exitCode == 0, config.err.constData());
    const QString stored = QDir(home.path()).filePath("one/images/shared/shared_0.png");
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(stored), 20000);
    const AgentResult content = agent({"content", "--ports-file", first.portsFile(), "--app", "shared", "--layout", "1",
                               "--image", "0"});
    QVERIFY2(content.exitCode == 0 && content.out.contains("drawn"), content.err.constData());
    QCOMPARE(filesUnder(QDir(home.path()).filePath("one/images")), QStringList{stored});
    QVERIFY(filesUnder(QDir(home.path()).filePath("two/deeper/images")).isEmpty());
    QVERIFY(!QFileInfo::exists(QDir(home.path()).filePath("Pictures/Zelvo")));
    QCOMPARE(CtlProcess::state(first.portsFile()).value("drawnAgent").toString(), QStringLiteral("shared"));
    QCOMPARE(CtlProcess::state(second.portsFile()).value("drawnAgent").toString(), QString());
}

void TestInstances::resetEqualsFreshStart_data()
{
    QTest::addColumn<bool>("dataDir");
    QTest::newRow("--data-dir") << true;
    QTest::newRow("home folders") << false;
}

void TestInstances::resetEqualsFreshStart()
{
    QFETCH(bool, dataDir);
    QTemporaryDir home;
    EmulatorProcess emulator(nullptr, QStringLiteral("instances/reset"));
    emulator.setHome(home.path());
    const QString data = QDir(home.path()).filePath("data");
    if (dataDir)
        emulator.setArguments({"--data-dir", data});
    const QString store = dataDir ? data + "/images" : home.path() + "/Pictures/Zelvo";
    // Images of another run in the shared pictures folder, and a folder
    // outside that an agent's folder will turn into a link to.
    QVERIFY(QDir().mkpath(store + "/earlier") && QFile::copy(picture, store + "/earlier/earlier_0.png"));
    const QString outside = QDir(home.path()).filePath("outside");
    QVERIFY(QDir().mkpath(outside) && QFile::copy(picture, outside + "/keep.png"));
    QVERIFY2(emulator.startUntilListening(startMillis), emulator.logText().constData());
    const QString portsFile = emulator.portsFile();

    TestAgent connected(emulator.ports().agent);
    QVERIFY(connected.waitForConnected());
    QTRY_COMPARE_WITH_TIMEOUT(CtlProcess::state(portsFile).value("agents").toInt(), 1, 20000);
    const QJsonObject fresh = CtlProcess::state(portsFile);

    // Everything reset undoes, as far as a headless run allows.
    for (const QStringList& arguments : QList<QStringList>{{"timing", "--min", "100", "--max", "600000"},
                                                           {"config", "--app", "seen", picture},
                                                           {"config", "--app", "swapped", picture},
                                                           {"content", "--app", "seen", "--layout", "1", "--image", "0"}})
        QCOMPARE(agent(QStringList{arguments.first(), "--ports-file", portsFile} + arguments.mid(1)).exitCode, 0);
    for (const QStringList& arguments : QList<QStringList>{{"sensor", "start", "compass"},
                                                           {"sensor", "start", "battery"},
                                                           {"press", "minus"}})
        QCOMPARE(ctl(arguments + QStringList{"--ports-file", portsFile}).exitCode, 0);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(store + "/swapped/swapped_0.png"), 20000);
    QVERIFY(QDir(store + "/swapped").removeRecursively() && QFile::link(outside, store + "/swapped"));
    QVERIFY(CtlProcess::state(portsFile) != fresh);

    const AgentResult reset = ctl({"reset", "--ports-file", portsFile});
    QVERIFY2(reset.exitCode == 0, reset.err.constData());
    QJsonObject after = CtlProcess::state(portsFile);
    // The clock runs on through a reset; its mode stays.
    QCOMPARE(after.take("clock").toObject().value("mode"), fresh.value("clock").toObject().value("mode"));
    after.insert("clock", fresh.value("clock"));
    for (const QString& key : fresh.keys())
        QVERIFY2(after.value(key) == fresh.value(key), qPrintable(key));
    QCOMPARE(after.keys(), fresh.keys());
    QVERIFY(ctl({"log", "--ports-file", portsFile}).out.isEmpty());
    QVERIFY(connected.isConnected());

    // Only this run's agents lose their images, and nothing is reached
    // through a link; in a data folder of its own every image goes.
    const QStringList kept = dataDir ? QStringList() : QStringList{store + "/earlier/earlier_0.png"};
    QCOMPARE(filesUnder(store), kept);
    QVERIFY(QFileInfo::exists(outside + "/keep.png"));
}

void TestInstances::readyWaitsForStart()
{
    EmulatorProcess emulator(nullptr, QStringLiteral("instances/ready"));
    QCOMPARE(ctl({"ready", "--ports-file", emulator.portsFile(), "--timeout", "0.3"}).exitCode, 3);
    ChildProcess ready;
    ready.start(QStringLiteral(ZELVO_CTL_PATH), {"ready", "--ports-file", emulator.portsFile(), "--timeout", "90"});
    QVERIFY(emulator.start());
    QCOMPARE(ready.waitForExit(startMillis), 0);
    // Ready means ready: the control channel answers at once.
    QCOMPARE(ctl({"state", "--ports-file", emulator.portsFile(), "--timeout", "5"}).exitCode, 0);
}

// Image 0 sent as ZI, then again as PNG: the display shows the PNG in this
// run and after a restart on the same data folder.
void TestInstances::samePictureAfterRestart()
{
    QTemporaryDir home;
    const QStringList arguments{"--data-dir", QDir(home.path()).filePath("data")};
    const QString folder = QDir(home.path()).filePath("data/images/swap");
    const QString shot = QDir(home.path()).filePath("shown.png");
    QList<QImage> shown;
    for (int run = 0; run < 2; ++run) {
        EmulatorProcess emulator(nullptr, QStringLiteral("instances/restart"));
        emulator.setHome(home.path());
        emulator.setArguments(arguments);
        QVERIFY2(emulator.startUntilListening(startMillis), emulator.logText().constData());
        const QStringList target{"--ports-file", emulator.portsFile()};
        QCOMPARE(agent(QStringList{"timing"} + target + QStringList{"--min", "0", "--max", "600000"}).exitCode, 0);
        if (run == 0) {
            // The green picture as ZI lights nothing: white, where the PNG is green.
            QCOMPARE(agent(QStringList{"config"} + target + QStringList{"--app", "swap", "--zi", picture}).exitCode, 0);
            QCOMPARE(agent(QStringList{"config"} + target + QStringList{"--app", "swap", picture}).exitCode, 0);
        }
        const AgentResult content = agent(QStringList{"content"} + target
                                          + QStringList{"--app", "swap", "--layout", "1", "--image", "0"});
        QVERIFY2(content.exitCode == 0, content.err.constData());
        QCOMPARE(ctl(QStringList{"screenshot", shot} + target).exitCode, 0);
        shown.append(QImage(shot));
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"swap_0.png"});
        emulator.stop();
    }
    QCOMPARE(shown.at(0).pixelColor(5, 24 + 5), QColor(Qt::green));
    QCOMPARE(shown.at(1), shown.at(0));
}

void TestInstances::environment()
{
    QTemporaryDir home;
    const QString data = QDir(home.path()).filePath("from-environment");
    const QString portsFile = QDir(home.path()).filePath("ports.json");
    ChildProcess emulator;
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert("HOME", home.path());
    variables.insert("XDG_CONFIG_HOME", home.path() + "/.config");
    variables.insert(ZelvoInstance::agentPortVariable, "0");
    variables.insert(ZelvoInstance::controlPortVariable, "0");
    variables.insert(ZelvoInstance::dataDirVariable, data);
    emulator.setProcessEnvironment(variables);
    emulator.start(EmulatorProcess::program(), {"--ports-file", portsFile});
    ZelvoInstance told;
    QString error;
    QTRY_VERIFY_WITH_TIMEOUT(told.readPortsFile(portsFile, &error), startMillis);
    QCOMPARE(told.tokenFile(), data + "/control-token");

    // The tools find it through the same variables; an option beats them.
    const QStringList found{QStringLiteral("ZELVO_AGENT_PORT=%1").arg(told.agentPort),
                            QStringLiteral("ZELVO_CONTROL_PORT=%1").arg(told.controlPort), "ZELVO_DATA_DIR=" + data};
    QCOMPARE(agent({"config", "--app", "env", picture}, found).exitCode, 0);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(data + "/images/env/env_0.png"), 20000);
    QCOMPARE(ctl({"state"}, found).exitCode, 0);
    const QStringList wrongPort{"ZELVO_CONTROL_PORT=1", "ZELVO_DATA_DIR=" + data};
    QCOMPARE(ctl({"state", "--timeout", "5"}, wrongPort).exitCode, 3);
    QCOMPARE(ctl({"state", "--port", QString::number(told.controlPort)}, wrongPort).exitCode, 0);
    QCOMPARE(ctl({"state", "--ports-file", portsFile}, wrongPort).exitCode, 0);
}

void TestInstances::portNotTaken_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("--agent-port held") << "--agent-port" << "held" << QByteArray("already in use (port ");
    QTest::newRow("--control-port held") << "--control-port" << "held" << QByteArray("no control channel: port ");
    QTest::newRow("--agent-port 70000") << "--agent-port" << "70000" << QByteArray("--agent-port needs a port");
    QTest::newRow("--clock later") << "--clock" << "later" << QByteArray("--clock needs \"real\" or \"manual\"");
}

void TestInstances::portNotTaken()
{
    QFETCH(QString, option);
    QFETCH(QString, value);
    QFETCH(QByteArray, message);
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::Any));
    if (value == QLatin1String("held"))
        value = QString::number(holder.serverPort());
    ChildProcess emulator;
    QTemporaryDir data;
    emulator.start(EmulatorProcess::program(), {"--agent-port", "0", "--control-port", "0", "--data-dir", data.path(),
                                                option, value});
    // Nobody could dismiss a box here: the reason goes to standard error.
    QCOMPARE(emulator.waitForExit(startMillis), 1);
    const QByteArray errors = emulator.readAllStandardError();
    QVERIFY2(errors.contains(message) && errors.contains(value.toUtf8()), errors.constData());
}

void TestInstances::listenAddress_data()
{
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("logged");
    QTest::addColumn<QString>("accepted");

    // Every 127.x address is this machine's loopback, yet another interface.
    QTest::newRow("no --listen") << QString() << QStringList() << "*"
                                 << "agent 127.0.0.1, agent 127.0.0.2, control 127.0.0.1, web 127.0.0.1";
    QTest::newRow("--listen 127.0.0.1") << QString() << QStringList{"--listen", "127.0.0.1"} << "127.0.0.1"
                                        << "agent 127.0.0.1, control 127.0.0.1, web 127.0.0.1";
    QTest::newRow("ZELVO_LISTEN=127.0.0.2 --web-host 127.0.0.1")
        << "127.0.0.2" << QStringList{"--web-host", "127.0.0.1"} << "127.0.0.2"
        << "agent 127.0.0.2, control 127.0.0.2, web 127.0.0.1";
    QTest::newRow("--listen 0.0.0.0") << QString() << QStringList{"--listen", "0.0.0.0"} << "0.0.0.0"
                                      << "agent 127.0.0.1, agent 127.0.0.2, control 127.0.0.1, control 127.0.0.2, "
                                         "web 127.0.0.1, web 127.0.0.2";
}

// Who may connect where: an emulator told to listen on this machine is not
// open to the network, and one told nothing takes agents from everywhere.
void TestInstances::listenAddress()
{
    QFETCH(QString, variable);
    QFETCH(QStringList, arguments);
    QFETCH(QString, logged);
    QFETCH(QString, accepted);

    if (!variable.isEmpty())
        qputenv("ZELVO_LISTEN", variable.toUtf8());
    const auto unset = qScopeGuard([] { qunsetenv("ZELVO_LISTEN"); });
    EmulatorProcess emulator(nullptr, QStringLiteral("instances/listen"));
    emulator.setArguments(arguments + QStringList{"--web-port", "0"});
    QVERIFY(emulator.start());
    QVERIFY2(emulator.waitForPorts(startMillis), emulator.logText().constData());
    QFile portsFile(emulator.portsFile());
    QVERIFY(portsFile.open(QIODevice::ReadOnly));
    const auto webPort = quint16(QJsonDocument::fromJson(portsFile.readAll()).object().value("webPort").toInt());

    QStringList reached;
    for (const auto& [name, port] : {std::pair{"agent", emulator.ports().agent}, {"control", emulator.ports().control},
                                     {"web", webPort}}) {
        for (const QString host : {"127.0.0.1", "127.0.0.2"}) {
            QTcpSocket socket;
            socket.connectToHost(host, port);
            if (socket.waitForConnected(10000))
                reached.append(QStringLiteral("%1 %2").arg(QLatin1String(name), host));
        }
    }
    QCOMPARE(reached.join(", "), accepted);
    // The ports file alone leads a tool to the channel, wherever it listens.
    const AgentResult state = ctl({"state", "--ports-file", emulator.portsFile()});
    QVERIFY2(state.exitCode == 0, state.err.constData());
    const QByteArray log = emulator.logText();
    QVERIFY2(log.contains(QStringLiteral("LISTENING on <%1:%2>").arg(logged).arg(emulator.ports().agent).toUtf8()),
             log.constData());
}

// The log in a file, as CI keeps it, has the texts without the terminal's
// colour codes, whatever NO_COLOR says.
void TestInstances::plainLogInAFile()
{
    qunsetenv("NO_COLOR");
    EmulatorProcess emulator(nullptr, QStringLiteral("instances/plain-log"));
    QVERIFY2(emulator.startUntilListening(startMillis), emulator.logText().constData());
    TestAgent agent(emulator.ports().agent);
    QVERIFY(agent.waitForConnected());
    QVERIFY(agent.show("plain", 1, "0", {}, {"hello"}));
    const AgentResult drawn = ctl({"wait", "--content-of", "plain", "--ports-file", emulator.portsFile()});
    QVERIFY2(drawn.exitCode == 0, drawn.err.constData());
    const QByteArray log = emulator.logText();
    QVERIFY2(log.contains("ZelvoServer::ZelvoServer") && log.contains("ZelvoControlServer::start control channel on"),
             log.constData());
    QVERIFY2(!log.contains('\x1b'), log.constData());
}

// A second emulator on the same data folder leaves the first one's token
// and files alone; one that was killed leaves its folder to the next.
void TestInstances::dataFolderServesOne()
{
    QTemporaryDir home;
    const QString data = QDir(home.path()).filePath(QStringLiteral("shared"));
    EmulatorProcess first(nullptr, QStringLiteral("instances/lock-first"));
    first.setHome(home.path());
    first.setArguments({"--data-dir", data});
    QVERIFY2(first.startUntilListening(startMillis), first.logText().constData());
    QString error;
    const QByteArray token = ZelvoControlToken::readFile(first.tokenFile(), &error);
    QVERIFY2(!token.isEmpty(), qPrintable(error));

    ChildProcess second;
    QTemporaryDir secondFiles;
    second.start(EmulatorProcess::program(), {"--agent-port", "0", "--control-port", "0", "--data-dir", data,
                                              "--ports-file", secondFiles.filePath("ports.json")});
    QCOMPARE(second.waitForExit(startMillis), 1);
    const QByteArray errors = second.readAllStandardError();
    QVERIFY2(errors.contains("data folder in use by process " + QByteArray::number(first.pid())), errors.constData());
    QCOMPARE(ZelvoControlToken::readFile(first.tokenFile(), &error), token);
    QVERIFY(QFileInfo::exists(first.portsFile()));
    QCOMPARE(ctl({"state", "--ports-file", first.portsFile()}).exitCode, 0);

    QCOMPARE(::kill(pid_t(first.pid()), SIGKILL), 0);
    QCOMPARE(first.waitForExit(30000), -1);
    EmulatorProcess next(nullptr, QStringLiteral("instances/lock-next"));
    next.setHome(home.path());
    next.setArguments({"--data-dir", data});
    QVERIFY2(next.startUntilListening(startMillis), next.logText().constData());
    QCOMPARE(ctl({"state", "--ports-file", next.portsFile()}).exitCode, 0);
}

void TestInstances::lockLeftBehind_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("empty") << "file" << QByteArray() << QByteArray(": it was empty");
    QTest::newRow("garbage") << "file" << QByteArray("\x01\xff garbage") << QByteArray(": it named no process");
    QTest::newRow("pid 0") << "file" << QByteArray("0\nZelvoEmulator\nhost\n") << QByteArray(": it named no process");
    QTest::newRow("pid of a dead process") << "file" << QByteArray("%1\nZelvoEmulator\nelsewhere\n")
                                           << QByteArray(": process %1 on elsewhere no longer holds it");
    QTest::newRow("directory") << "directory" << QByteArray() << QByteArray(" is a directory, not a file");
    QTest::newRow("FIFO") << "FIFO" << QByteArray() << QByteArray(" is a FIFO, not a file");
}

// A lock no emulator holds is taken over, one that is no file refuses the
// start at once; each says so in its line.
void TestInstances::lockLeftBehind()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, line);
    QTemporaryDir home;
    const QString data = QDir(home.path()).filePath("data");
    const QString lock = data + "/lock";
    QVERIFY(QDir().mkpath(data));
    if (content.contains("%1")) {
        ChildProcess gone;
        gone.start("true", {});
        QVERIFY(gone.waitForStarted(30000));
        const QByteArray pid = QByteArray::number(gone.processId());
        QCOMPARE(gone.waitForExit(30000), 0);
        content.replace("%1", pid);
        line.replace("%1", pid);
    }
    if (kind == "file")
        QVERIFY(TestFiles::write(lock, content));
    else if (kind == "directory")
        QVERIFY(QDir().mkpath(lock));
    else
        QCOMPARE(::mkfifo(QFile::encodeName(lock).constData(), 0600), 0);

    EmulatorProcess emulator(nullptr, QStringLiteral("instances/lock-left"));
    emulator.setHome(home.path());
    emulator.setArguments({"--data-dir", data});
    if (kind != "file") {
        QVERIFY(emulator.start());
        QCOMPARE(emulator.waitForExit(startMillis), 1);
        QVERIFY2(emulator.logText().contains(lock.toUtf8() + line), emulator.logText().constData());
        return;
    }
    QVERIFY2(emulator.startUntilListening(startMillis), emulator.logText().constData());
    QVERIFY2(emulator.logText().contains("took over the data folder's lock " + lock.toUtf8() + line),
             emulator.logText().constData());
    QVERIFY(lockHeld(lock));
    QCOMPARE(TestFiles::read(lock).split('\n').first(), QByteArray::number(emulator.pid()));
}

// A container restarted on its data folder: the emulator is process 1 of
// its namespace each time, and the one before was killed.
void TestInstances::processOneKilledRestarts()
{
    QTemporaryDir files;
    const QString data = files.filePath("data");
    for (int run = 0; run < 2; ++run) {
        ChildProcess container;
        const QString portsFile = files.filePath(QStringLiteral("ports-%1.json").arg(run));
        container.start("unshare", {"--pid", "--mount-proc", "--kill-child", EmulatorProcess::program(),
                                    "--agent-port", "0", "--control-port", "0", "--data-dir", data,
                                    "--ports-file", portsFile});
        ZelvoInstance told;
        QString error;
        QTRY_VERIFY_WITH_TIMEOUT(container.state() == QProcess::NotRunning || told.readPortsFile(portsFile, &error),
                                 startMillis);
        const QByteArray errors = container.readAllStandardError();
        if (run == 0 && container.state() == QProcess::NotRunning)
            QSKIP(qPrintable("no process namespace here: " + errors.trimmed()));
        QVERIFY2(container.state() == QProcess::Running, errors.constData());
        QCOMPARE(TestFiles::read(data + "/lock").split('\n').first(), QByteArray("1"));
        if (run == 1)
            QVERIFY2(errors.contains("process 1 on ") && errors.contains(" no longer holds it"), errors.constData());
        // unshare takes its process 1 with it.
        QCOMPARE(::kill(pid_t(container.processId()), SIGKILL), 0);
        QCOMPARE(container.waitForExit(30000), -1);
        QTRY_VERIFY_WITH_TIMEOUT(!lockHeld(data + "/lock"), 30000);
    }
}

// The data folder deleted while the emulator runs, twice in a row: as rm
// -rf does, and with something else in its place as it is made again, then
// that deleted too. Its files come back and the channel answers to the
// token read again.
void TestInstances::dataFolderRemovedTwice()
{
    QTemporaryDir home;
    const QString data = QDir(home.path()).filePath("data");
    const QString portsFile = data + "/ports.json";
    ChildProcess emulator;
    emulator.start(EmulatorProcess::program(), {"--agent-port", "0", "--control-port", "0", "--web-port", "0",
                                                "--data-dir", data, "--ports-file", portsFile});
    ZelvoInstance told;
    QString error;
    QTRY_VERIFY_WITH_TIMEOUT(told.readPortsFile(portsFile, &error), startMillis);
    const QString away = QDir(home.path()).filePath("away");
    for (const bool inItsPlace : {false, true}) {
        if (inItsPlace) {
            // Moved first, which the emulator does not see, so that the
            // file is in the way before the token goes.
            QVERIFY(QDir().rename(data, away) && TestFiles::write(data, "in the way"));
            QVERIFY(QDir(away).removeRecursively());
            QByteArray errors;
            QTRY_VERIFY_WITH_TIMEOUT((errors += emulator.readAllStandardError()).contains("trying again"), 30000);
            QVERIFY(QFile::remove(data));
        } else {
            QDir(data).removeRecursively();
            QDir(data).removeRecursively();
        }
        QTRY_VERIFY_WITH_TIMEOUT(QDir(data).entryList(QDir::Files, QDir::Name)
                                     == QStringList({"control-token", "lock", "ports.json", "web-address"}),
                                 30000);
        QVERIFY(lockHeld(data + "/lock"));
        const AgentResult state = ctl({"state", "--ports-file", portsFile, "--timeout", "10"});
        QVERIFY2(state.exitCode == 0, state.err.constData());
    }
}

QTEST_GUILESS_MAIN(TestInstances)
#include "tst_instances.moc"
