#include "AnimationFile.h"
#include "CtlProcess.h"
#include "EmulatorProcess.h"
#include "TestAgent.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <memory>

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
// terminal ends it, with a display and a session recording running and an
// agent connected.
class TestStopping final : public QObject
{
    Q_OBJECT

private slots:
    void stopSignal_data();
    void stopSignal();
    void killed_data();
    void killed();

private:
    // Starts the program, both recordings and an agent that shows three
    // pieces of content, each drawn before the next.
    void startRecording(EmulatorProcess* emulator, std::unique_ptr<TestAgent>* agent, const QString& display,
                        const QString& session);
    CtlResult ctl(const EmulatorProcess& emulator, QStringList arguments);
};

CtlResult TestStopping::ctl(const EmulatorProcess& emulator, QStringList arguments)
{
    return CtlProcess::run(arguments << "--ports-file" << emulator.portsFile());
}

void TestStopping::startRecording(EmulatorProcess* emulator, std::unique_ptr<TestAgent>* agent,
                                  const QString& display, const QString& session)
{
    QVERIFY2(emulator->startUntilListening(startMillis), emulator->logText().constData());
    CtlResult result = ctl(*emulator, {"record", "display", display, "--until-stopped"});
    QVERIFY2(result.exitCode == 0, result.err.constData());
    result = ctl(*emulator, {"record", "session", session});
    QVERIFY2(result.exitCode == 0, result.err.constData());
    *agent = std::make_unique<TestAgent>(emulator->ports().agent);
    QVERIFY((*agent)->waitForConnected());
    QVERIFY((*agent)->setPersistingTimes(0, 600000));
    for (int i = 1; i <= contents; ++i) {
        QVERIFY((*agent)->show(QStringLiteral("stopping"), i, QStringLiteral("0"), {},
                               {QStringLiteral("Content %1 before the end").arg(i)}));
        result = ctl(*emulator, {"wait", "--content-of", "stopping", "--content-id", QString::number(i)});
        QVERIFY2(result.exitCode == 0, result.err.constData());
    }
}

void TestStopping::stopSignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("display");

    QTest::newRow("SIGTERM") << int(SIGTERM) << "shown.gif";
    QTest::newRow("SIGINT") << int(SIGINT) << "shown.png";
    QTest::newRow("SIGHUP") << int(SIGHUP) << "shown.gif";
}

void TestStopping::stopSignal()
{
    QFETCH(int, signal);
    QFETCH(QString, display);
    QTemporaryDir files;
    EmulatorProcess emulator(nullptr, QStringLiteral("stopping/%1").arg(QTest::currentDataTag()));
    std::unique_ptr<TestAgent> agent;
    const QString displayPath = files.filePath(display);
    const QString sessionPath = files.filePath("session.jsonl");
    startRecording(&emulator, &agent, displayPath, sessionPath);
    if (QTest::currentTestFailed())
        return;
    const QString token = emulator.tokenFile();
    QVERIFY(QFileInfo::exists(emulator.portsFile()));
    QVERIFY(QFileInfo::exists(token));

    QCOMPARE(::kill(pid_t(emulator.pid()), signal), 0);
    QCOMPARE(emulator.waitForExit(30000), 0);
    // Both recordings finished, as "record stop" finishes them.
    const AnimationFile shown = AnimationFile::read(displayPath);
    QVERIFY(shown.finished);
    // The display at the start, then each content.
    QVERIFY2(shown.frames.size() >= 1 + contents, qPrintable(QString::number(shown.frames.size())));
    const QVector<QJsonObject> records = sessionRecords(sessionPath);
    QVERIFY(!records.isEmpty());
    QVERIFY(std::none_of(records.begin(), records.end(), [](const QJsonObject& record) { return record.isEmpty(); }));
    QCOMPARE(drawnContents(records), contents);
    // Nothing of this run is left for the next one to find.
    QVERIFY(!QFileInfo::exists(emulator.portsFile()));
    QVERIFY(!QFileInfo::exists(token));
    QTRY_VERIFY(!agent->isConnected());
    QVERIFY(emulator.logText().contains(QTest::currentDataTag() + QByteArray(" received, stopping")));
}

void TestStopping::killed_data()
{
    QTest::addColumn<QString>("display");

    QTest::newRow("shown.gif") << "shown.gif";
    QTest::newRow("shown.png") << "shown.png";
}

void TestStopping::killed()
{
    QFETCH(QString, display);
    QTemporaryDir files;
    EmulatorProcess emulator(nullptr, QStringLiteral("stopping/killed-%1").arg(display));
    std::unique_ptr<TestAgent> agent;
    const QString displayPath = files.filePath(display);
    const QString sessionPath = files.filePath("session.jsonl");
    startRecording(&emulator, &agent, displayPath, sessionPath);
    if (QTest::currentTestFailed())
        return;
    // The newest record the program has made: the session must hold it.
    const CtlResult log = ctl(emulator, {"log", "--json"});
    QVERIFY2(log.exitCode == 0, log.err.constData());
    const QList<QByteArray> logged = log.out.trimmed().split('\n');
    const double newest = QJsonDocument::fromJson(logged.last()).object().value("seq").toDouble();
    QVERIFY(newest > 0);
    // Each frame goes to the file once encoded, a moment after it was shown.
    QTRY_VERIFY(AnimationFile::read(displayPath).frames.size() >= 1 + contents);

    QCOMPARE(::kill(pid_t(emulator.pid()), SIGKILL), 0);
    QCOMPARE(emulator.waitForExit(30000), -1);
    QVERIFY(!emulator.isRunning());
    const QVector<QJsonObject> records = sessionRecords(sessionPath);
    QVERIFY(!records.isEmpty());
    QVERIFY(std::none_of(records.begin(), records.end(), [](const QJsonObject& record) { return record.isEmpty(); }));
    QCOMPARE(records.last().value("seq").toDouble(), newest);
    QCOMPARE(drawnContents(records), contents);
    const AnimationFile shown = AnimationFile::read(displayPath);
    QVERIFY(!shown.finished);
    QVERIFY(shown.frames.size() >= 1 + contents);
}

QTEST_GUILESS_MAIN(TestStopping)
#include "tst_stopping.moc"
