#include "ChildProcess.h"
#include "CtlProcess.h"
#include "EmulatorProcess.h"
#include "TestAgent.h"
#include "ZelvoInstance.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

constexpr int startMillis = 90000;
// Exit code of the mount script where this machine lets it mount nothing.
constexpr int cannotMount = 77;

// A program (the emulator unless named) in a mount namespace of its own,
// with a small tmpfs at DIR (its first argument) that leaves `free` bytes;
// the rest of the arguments are the program's. Once the program ends, the
// script lists DIR/data.
void startOnSmallDisk(ChildProcess* process, const QString& directory, int freeBytes, const QStringList& arguments,
                      const QString& program = EmulatorProcess::program())
{
    const QString script = QStringLiteral(
        "dir=$1; shift; mount -t tmpfs -o size=64k tmpfs \"$dir\" || exit %1\n"
        "mkdir \"$dir/data\"; head -c $((64 * 1024 - %2)) /dev/zero > \"$dir/fill\"\n"
        "\"$@\"; echo \"exit $?\"; ls -A \"$dir/data\"\n").arg(cannotMount).arg(freeBytes);
    process->start(QStringLiteral("unshare"),
                   QStringList{"-m", "--propagation", "private", "sh", "-c", script, "sh", directory, program}
                       + arguments);
}

CtlResult ctl(const QString& portsFile, const QStringList& arguments)
{
    return CtlProcess::run(QStringList(arguments) << QStringLiteral("--ports-file") << portsFile);
}

} // namespace

// The real program on a filesystem that is full or fills up while it runs,
// where this machine lets a test mount one (as root).
class TestFullDisk final : public QObject
{
    Q_OBJECT

private slots:
    void tokenOnFullDisk();
    void sessionRecordingFillsDisk();
    void pictureToolOnFullDisk_data();
    void pictureToolOnFullDisk();
};

// No empty token reported as written: the channel is refused in one line,
// the run ends (a ports file was asked for) and leaves no file behind.
void TestFullDisk::tokenOnFullDisk()
{
    QTemporaryDir mountPoint;
    QTemporaryDir files;
    ChildProcess emulator;
    startOnSmallDisk(&emulator, mountPoint.path(), 0,
                     {"--agent-port", "0", "--control-port", "0", "--data-dir", mountPoint.filePath("data"),
                      "--ports-file", files.filePath("ports.json")});
    const int exitCode = emulator.waitForExit(startMillis);
    const QByteArray errors = emulator.readAllStandardError();
    if (exitCode == cannotMount)
        QSKIP(qPrintable("cannot mount a small filesystem here: " + errors.trimmed()));
    const QList<QByteArray> out = emulator.readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(out.first(), QByteArray("exit 1"));
    QVERIFY2(errors.contains("no control channel: cannot write ") && errors.contains("No space left on device"),
             errors.constData());
    // Neither the token, nor its temporary file, nor a lock.
    QCOMPARE(out.size(), 1);
    QVERIFY(!QFile::exists(files.filePath("ports.json")));
}

// The session file ends at its last whole line and nothing follows once
// space comes back; the user is told why in the log, the state and the
// answer of "record stop".
void TestFullDisk::sessionRecordingFillsDisk()
{
    QTemporaryDir mountPoint;
    QTemporaryDir files;
    const QString portsFile = files.filePath("ports.json");
    ChildProcess emulator;
    startOnSmallDisk(&emulator, mountPoint.path(), 8192,
                     {"--agent-port", "0", "--control-port", "0", "--data-dir", files.filePath("data"),
                      "--ports-file", portsFile});
    ZelvoInstance instance;
    QString error;
    const bool started = QTest::qWaitFor([&] {
        return emulator.state() == QProcess::NotRunning || instance.readPortsFile(portsFile, &error);
    }, startMillis);
    if (emulator.state() == QProcess::NotRunning && emulator.exitCode() == cannotMount)
        QSKIP(qPrintable("cannot mount a small filesystem here: " + emulator.readAllStandardError().trimmed()));
    QVERIFY2(started && emulator.state() == QProcess::Running, emulator.readAllStandardError().constData());
    // The emulator's view of the small filesystem.
    const QString seen = QStringLiteral("/proc/%1/root%2").arg(emulator.processId()).arg(mountPoint.path());
    const QString session = mountPoint.filePath("session.jsonl");
    CtlResult result = ctl(portsFile, {"record", "session", session});
    QVERIFY2(result.exitCode == 0, result.err.constData());

    TestAgent agent(instance.agentPort);
    QVERIFY(agent.waitForConnected());
    const QByteArray frame = "{\"note\":\"" + QByteArray(1000, 'x') + "\"}";
    const auto sessionState = [&portsFile] { return CtlProcess::state(portsFile).value("recording").toObject(); };
    for (int i = 0; i < 20; ++i)
        agent.sendFrame(frame);
    QTRY_VERIFY_WITH_TIMEOUT(sessionState().contains("sessionStopped"), 30000);
    QVERIFY(!sessionState().value("session").toBool());
    const QString stopped = sessionState().value("sessionStopped").toString();
    QVERIFY2(stopped.contains("No space left on device"), qPrintable(stopped));

    QFile file(seen + "/session.jsonl");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    QVERIFY(written.endsWith('\n'));
    const QList<QByteArray> lines = written.trimmed().split('\n');
    QVERIFY(lines.size() >= 2);
    for (const QByteArray& line : lines)
        QVERIFY2(QJsonDocument::fromJson(line).isObject(), line.left(100).constData());
    // Space again: the stopped recording stays as it was.
    QVERIFY(QFile::remove(seen + "/fill"));
    for (int i = 0; i < 5; ++i)
        agent.sendFrame(frame);
    QVERIFY(ctl(portsFile, {"state"}).exitCode == 0);
    QCOMPARE(QFileInfo(file).size(), qint64(written.size()));

    result = ctl(portsFile, {"record", "stop"});
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains("session: cannot write " + session.toUtf8())
                 && result.err.contains("No space left on device"),
             result.err.constData());
    result = ctl(portsFile, {"log", "--json"});
    QVERIFY(result.out.contains("\"kind\":\"recording_stopped\""));
    // The script's shell waits for the emulator and tells its exit code.
    QFile told(portsFile);
    QVERIFY(told.open(QIODevice::ReadOnly));
    const auto pid = pid_t(QJsonDocument::fromJson(told.readAll()).object().value("pid").toDouble());
    QCOMPARE(::kill(pid, SIGTERM), 0);
    QCOMPARE(emulator.waitForExit(30000), 0);
    QCOMPARE(emulator.readAllStandardOutput().trimmed(), QByteArray("exit 0"));
    QVERIFY(emulator.readAllStandardError().contains("the session recording stopped"));
}

void TestFullDisk::pictureToolOnFullDisk_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("freeBytes");
    QTest::newRow("encode") << "encode" << "in.png" << "out.zi" << 0;
    QTest::newRow("decode") << "decode" << "in.zi" << "out.png" << 0;
    QTest::newRow("encode, room for part of it") << "encode" << "in.png" << "out.zi" << 4096;
}

// A picture that did not fit is reported, and no file, whole or cut, is left.
void TestFullDisk::pictureToolOnFullDisk()
{
    QFETCH(QString, command);
    QFETCH(QString, input);
    QFETCH(QString, output);
    QFETCH(int, freeBytes);
    QTemporaryDir mountPoint;
    QTemporaryDir files;
    QImage picture(320, 200, QImage::Format_RGB32);
    picture.fill(Qt::green);
    QVERIFY(picture.save(files.filePath("in.png")));
    QCOMPARE(QProcess::execute(ZITOOL_PATH, {"encode", files.filePath("in.png"), files.filePath("in.zi")}), 0);

    ChildProcess tool;
    startOnSmallDisk(&tool, mountPoint.path(), freeBytes,
                     {command, files.filePath(input), mountPoint.filePath("data/" + output)}, ZITOOL_PATH);
    const int exitCode = tool.waitForExit(startMillis);
    const QByteArray errors = tool.readAllStandardError();
    if (exitCode == cannotMount)
        QSKIP(qPrintable("cannot mount a small filesystem here: " + errors.trimmed()));
    // The tool's own lines, its exit code, then what the folder holds.
    const QByteArray out = tool.readAllStandardOutput();
    QVERIFY2(out.trimmed().split('\n').last() == "exit 1", out.constData());
    QVERIFY2(errors.contains("cannot write ") && errors.contains(std::strerror(ENOSPC)), errors.constData());
}

QTEST_GUILESS_MAIN(TestFullDisk)
#include "tst_fulldisk.moc"
