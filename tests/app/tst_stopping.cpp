#include "AnimationFile.h"
#include "CtlProcess.h"
#include "EmulatorProcess.h"
#include "TestAgent.h"
#include "ZIImageUtil.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include <signal.h>

namespace {

constexpr int startMillis = 90000;
constexpr int contents = 3;

// The session file's lines as records; an empty object for a line that is
// no JSON record, such as one cut short.
QVector<QJsonObject> sessionRecords(const QString& path)
{
    QFile file(path);
    QVector<QJsonObject> records;
    if (!file.open(QIODevice::ReadOnly))
        return records;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            records.append(QJsonDocument::fromJson(line).object());
    }
    return records;
}

int drawnContents(const QVector<QJsonObject>& records)
{
    return int(std::count_if(records.begin(), records.end(), [](const QJsonObject& record) {
        return record.value("kind") == "agent_content" && record.value("outcome") == "drawn";
    }));
}

} // namespace

// The real program ended by signals as a CI job, a service manager or a
// terminal ends it, and by SIGKILL, with a display and a session recording
// running and an agent connected.
class TestStopping final : public QObject
{
    Q_OBJECT

private slots:
    void endedBy_data();
    void endedBy();
    void killedWhileStoringImages();

private:
    CtlResult ctl(const EmulatorProcess& emulator, QStringList arguments);
};

CtlResult TestStopping::ctl(const EmulatorProcess& emulator, QStringList arguments)
{
    return CtlProcess::run(arguments << "--ports-file" << emulator.portsFile());
}

void TestStopping::endedBy_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("display");

    QTest::newRow("SIGTERM") << int(SIGTERM) << "shown.gif";
    QTest::newRow("SIGINT") << int(SIGINT) << "shown.png";
    QTest::newRow("SIGHUP") << int(SIGHUP) << "shown.gif";
    QTest::newRow("SIGKILL, GIF") << int(SIGKILL) << "shown.gif";
    QTest::newRow("SIGKILL, animated PNG") << int(SIGKILL) << "shown.png";
}

void TestStopping::endedBy()
{
    QFETCH(int, signal);
    QFETCH(QString, display);
    const bool stops = signal != SIGKILL;
    QTemporaryDir files;
    const QString displayPath = files.filePath(display);
    const QString sessionPath = files.filePath("session.jsonl");
    EmulatorProcess emulator(nullptr, QStringLiteral("stopping/%1-%2").arg(signal).arg(display));
    QVERIFY2(emulator.startUntilListening(startMillis), emulator.logText().constData());
    const QString token = emulator.tokenFile();
    CtlResult result = ctl(emulator, {"record", "display", displayPath, "--until-stopped"});
    QVERIFY2(result.exitCode == 0, result.err.constData());
    result = ctl(emulator, {"record", "session", sessionPath});
    QVERIFY2(result.exitCode == 0, result.err.constData());
    TestAgent agent(emulator.ports().agent);
    QVERIFY(agent.waitForConnected());
    QVERIFY(agent.setPersistingTimes(0, 600000));
    for (int i = 1; i <= contents; ++i) {
        QVERIFY(agent.show(QStringLiteral("stopping"), i, QStringLiteral("0"), {},
                           {QStringLiteral("Content %1 before the end").arg(i)}));
        result = ctl(emulator, {"wait", "--content-of", "stopping", "--content-id", QString::number(i)});
        QVERIFY2(result.exitCode == 0, result.err.constData());
    }
    // The newest record the program has made: the session must hold it.
    result = ctl(emulator, {"log", "--json"});
    QVERIFY2(result.exitCode == 0, result.err.constData());
    const QByteArray lastLine = result.out.trimmed().split('\n').last();
    const double newest = QJsonDocument::fromJson(lastLine).object().value("seq").toDouble();
    QVERIFY(newest > 0);
    // The display at the start, then each content; each frame goes to the
    // file a moment after it was shown, once encoded.
    QTRY_VERIFY(AnimationFile::read(displayPath).frames.size() >= 1 + contents);

    QCOMPARE(::kill(pid_t(emulator.pid()), signal), 0);
    // -1: ended by the signal.
    QCOMPARE(emulator.waitForExit(30000), stops ? 0 : -1);
    QVERIFY(!emulator.isRunning());
    const QVector<QJsonObject> records = sessionRecords(sessionPath);
    QVERIFY(!records.isEmpty());
    QVERIFY(std::none_of(records.begin(), records.end(), [](const QJsonObject& record) { return record.isEmpty(); }));
    QCOMPARE(records.last().value("seq").toDouble(), newest);
    QCOMPARE(drawnContents(records), contents);
    // Finished, as "record stop" finishes it, or readable up to the kill.
    const AnimationFile shown = AnimationFile::read(displayPath);
    QCOMPARE(shown.finished, stops);
    QVERIFY2(shown.frames.size() >= 1 + contents, qPrintable(QString::number(shown.frames.size())));
    if (!stops)
        return;
    // Nothing of this run is left for the next one to find.
    QVERIFY(!QFileInfo::exists(emulator.portsFile()));
    QVERIFY(!QFileInfo::exists(token));
    QTRY_VERIFY(!agent.isConnected());
    QVERIFY(emulator.logText().contains(QTest::currentDataTag() + QByteArray(" received, stopping")));
}

// A kill in the middle of a configuration leaves each picture as it was or
// as sent, and no file that a later content request could take for one.
void TestStopping::killedWhileStoringImages()
{
    QTemporaryDir data;
    EmulatorProcess emulator(nullptr, QStringLiteral("stopping/storing"));
    emulator.setArguments({"--data-dir", data.path()});
    QVERIFY2(emulator.startUntilListening(startMillis), emulator.logText().constData());
    const QByteArray pictures[] = {ZIImageUtil::ziHeader(4000, 4000) + QByteArray(12000000, 'a'),
                                   ZIImageUtil::ziHeader(4000, 4000) + QByteArray(12000000, 'b')};
    const auto config = [](const QByteArray& picture) {
        return QJsonObject{{"command.type", "agent_config"},
                           {"appId", "kept"},
                           {"images", QJsonArray{QString::fromLatin1(picture.toBase64())}}};
    };
    TestAgent agent(emulator.ports().agent);
    QVERIFY(agent.waitForConnected());
    agent.sendAction(config(pictures[0]));
    const QString folder = data.filePath("images/kept");
    const QString stored = folder + "/kept_0.zi";
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(stored).size() == pictures[0].size(), 30000);
    for (int i = 1; i <= 6; ++i)
        agent.sendAction(config(pictures[i % 2]));
    // Killed once they are all sent, while the emulator stores them.
    QDeadlineTimer deadline(30000);
    while (agent.socket.bytesToWrite() > 0 && !deadline.hasExpired())
        agent.socket.waitForBytesWritten(100);
    QCOMPARE(::kill(pid_t(emulator.pid()), SIGKILL), 0);
    QCOMPARE(emulator.waitForExit(30000), -1);

    QFile file(stored);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes == pictures[0] || bytes == pictures[1]);
    const QDir store(folder);
    const QRegularExpression imageName(QStringLiteral("^kept_\\d+\\.(zi|png)$"));
    for (const QString& name : store.entryList(QDir::Files | QDir::Hidden))
        QVERIFY2(name == "kept_0.zi" || !imageName.match(name).hasMatch(), qPrintable(name));
}

QTEST_GUILESS_MAIN(TestStopping)
#include "tst_stopping.moc"
