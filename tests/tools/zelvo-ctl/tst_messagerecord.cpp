#include "CtlProcess.h"
#include "EmulatorProcess.h"
#include "TestAgent.h"
#include "ZelvoControlToken.h"
#include "ZelvoInstance.h"
#include "../../util/TestFiles.h"

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTest>

namespace {

QByteArray json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// The agent protocol's frame, written out here so that the emulator's own
// framing code cannot hide a fault of its own.
QByteArray framed(const QList<QByteArray>& payloads)
{
    QByteArray bytes;
    for (const QByteArray& payload : payloads) {
        const quint32 size = quint32(payload.size());
        bytes += char(size >> 24);
        bytes += char(size >> 16);
        bytes += char(size >> 8);
        bytes += char(size);
        bytes += payload;
    }
    return bytes;
}

QByteArray content(const QString& hash, int contentId, const QString& layout, const QStringList& images,
                   const QStringList& texts)
{
    return json({{"command.type", "agent_content"}, {"appId", hash}, {"contentId", contentId}, {"layoutId", layout},
                 {"images.id", QJsonArray::fromStringList(images)}, {"texts", QJsonArray::fromStringList(texts)}});
}

QString png(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::green);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return QString::fromLatin1(bytes.toBase64());
}

// Decodes to 6.0 GiB, by its header.
QString bomb()
{
    return QString::fromLatin1(TestFiles::pngAnnouncing(40000, 40000).toBase64());
}

QByteArray config(const QString& hash, const QStringList& images)
{
    return json({{"command.type", "agent_config"}, {"appId", hash}, {"images", QJsonArray::fromStringList(images)}});
}

// The "layoutId" of the last frame's payload.
QString lastLayoutId(const QByteArray& frames)
{
    QByteArray payload;
    for (int at = 0; at + 4 <= frames.size();) {
        const int size = int(quint8(frames.at(at)) << 24 | quint8(frames.at(at + 1)) << 16
                             | quint8(frames.at(at + 2)) << 8 | quint8(frames.at(at + 3)));
        payload = frames.mid(at + 4, size);
        at += 4 + size;
    }
    return QJsonDocument::fromJson(payload).object().value("layoutId").toString();
}

QByteArray timing(int minMillis, int maxMillis)
{
    return json({{"command.type", "zelvo_config"}, {"minPersistingTimeMillis", minMillis},
                 {"maxPersistingTimeMillis", maxMillis}});
}

} // namespace

// Wrong messages sent to the real program over a real agent connection,
// and what a script reads back of them through zelvo-ctl.
class TestMessageRecord final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void outcomes_data();
    void outcomes();
    void followedLog();
    void lint_data();
    void lint();
    void brokenFrameFoundUnderItsAgent();
    void cleanupTestCase();

private:
    QJsonObject state() const;
    QList<QJsonObject> recordsSince(quint64 sequence) const;

    EmulatorProcess emulator{nullptr, QStringLiteral("messagerecord/emulator")};
    quint64 seen = 0;
};

QJsonObject TestMessageRecord::state() const
{
    return QJsonDocument::fromJson(CtlProcess::run({"state"}).out).object();
}

QList<QJsonObject> TestMessageRecord::recordsSince(quint64 sequence) const
{
    QList<QJsonObject> records;
    const CtlResult result = CtlProcess::run({"log", "--json", "--since", QString::number(sequence)});
    for (const QByteArray& line : result.out.split('\n')) {
        if (!line.isEmpty())
            records.append(QJsonDocument::fromJson(line).object());
    }
    return records;
}

void TestMessageRecord::initTestCase()
{
    QFile::remove(ZelvoControlToken::filePath());
    emulator.setHome(QDir::homePath());
    QVERIFY2(emulator.startUntilListening(90000), emulator.logText().constData());
    // Every zelvo-ctl of this test finds the control port as a CI job would.
    qputenv(ZelvoInstance::controlPortVariable, QByteArray::number(emulator.ports().control));
    QVERIFY2(QTest::qWaitFor([this] { return CtlProcess::run({"state"}).exitCode == 0 || !emulator.isRunning(); }, 90000),
             emulator.logText().constData());
}

// Every row starts once the minimum time of the content before has run out.
void TestMessageRecord::init()
{
    QTRY_VERIFY_WITH_TIMEOUT(!state().value("minPersistingTimer").toBool(), 20000);
    const QList<QJsonObject> records = recordsSince(seen);
    if (!records.isEmpty())
        seen = quint64(records.last().value("seq").toDouble());
}

void TestMessageRecord::outcomes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("sentence");
    // For content: the exit code of "wait --content-of HASH --content-id 2".
    QTest::addColumn<int>("waitExit");

    const auto row = [](const char* name, const QByteArray& bytes, const char* kind, const char* outcome,
                        const char* reason, const char* sentence, int waitExit = -1) {
        QTest::newRow(name) << bytes << QString(kind) << QString(outcome) << QString(reason) << QString(sentence)
                            << waitExit;
    };
    row("not JSON", framed({"nonsense"}), "frame", "no_action", "not_json", "no action: the frame is not JSON");
    row("[1, 2]", framed({"[1, 2]"}), "frame", "no_action", "not_object", "not a JSON object");
    row("no command.type", framed({json({{"appId", "a"}})}), "frame", "no_action", "no_command_type", "\"command.type\"");
    row("AGENT_CONFIG", framed({json({{"command.type", "AGENT_CONFIG"}, {"appId", "a"}})}), "frame", "no_action",
        "unknown_command_type", "no action: the \"command.type\" \"AGENT_CONFIG\" is none of zelvo_config");
    row("command.type of 100 x", framed({json({{"command.type", QString(100, 'x')}, {"appId", "a"}})}), "frame",
        "no_action", "unknown_command_type",
        ("the \"command.type\" \"" + QByteArray(40, 'x') + "\u2026\" is none of zelvo_config").constData());
    // A header announcing more than the limit; the agent never sends the rest.
    row("frame over the limit", QByteArray::fromHex("04000001"), "frame", "no_action", "frame_too_large",
        "over the limit of 67108864 bytes");
    row("timing 0 60000", framed({timing(0, 60000)}), "zelvo_config", "timing_set", "", "at least 0 ms and at most 60000 ms");
    row("layout 7", framed({content("l7", 2, "7", {}, {})}), "agent_content", "not_drawn", "no_such_layout",
        "content 2 not drawn because layout \"7\" does not exist", 1);
    row("layout 2, 1 image 0 texts", framed({content("l2", 2, "2", {"0"}, {})}), "agent_content", "not_drawn",
        "counts_do_not_fit", "the layout takes 1 image and 1 text and the message has 1 image and 0 texts", 1);
    row("image 9 never stored", framed({content("i9", 2, "1", {"9"}, {})}), "agent_content", "drawn", "",
        "content 2 drawn without image \"9\": not stored", 0);
    row("image id ../x", framed({content("up", 2, "1", {"../x"}, {})}), "agent_content", "refused", "image_path_outside",
        "image id \"../x\" would name a path outside", 1);
    row("appId ../x", framed({config("../x", {png(4, 4)})}), "agent_config", "refused", "agent_path_outside",
        "the agent's name \"../x\" would name a path outside its folder");
    row("PNG of 40000 x 40000", framed({config("huge", {bomb()})}), "agent_config", "refused", "picture_too_large",
        "refused: no image stored, 1 refused; image 0 (40000 x 40000, 6.0 GiB decoded) refused: over the 256 MiB a "
        "picture may decode to");
    row("PNG 5000 x 18 and 2000 x 2000", framed({config("big", {png(5000, 18), png(2000, 2000)})}), "agent_config",
        "configured", "", "configured: 2 images stored");
    row("PNG 4 x 4 and 40000 x 40000", framed({config("half", {png(4, 4), bomb()})}), "agent_config", "configured", "",
        "configured: 1 image stored, 1 refused; image 1 (40000 x 40000, 6.0 GiB decoded) refused");
    row("content during the minimum time", framed({timing(3000, 60000), content("busy", 1, "0", {}, {"first"}),
        content("busy", 2, "0", {}, {"second"})}), "agent_content", "skipped", "min_time_running",
        "content 2 skipped because the minimum persisting time of content 1 runs for", 1);
    row("text in layout 0", framed({timing(0, 60000), content("ok", 2, "0", {}, {"hello"})}), "agent_content", "drawn", "",
        "content 2 drawn with layout 0", 0);
    // Private-use characters, which no font on a plain machine covers.
    row("text without glyphs", framed({timing(0, 60000), content("boxes", 2, "0", {}, {QString::fromUtf8("A\xee\x80\x80\xee\x80\x81")})}),
        "agent_content", "drawn", "", "content 2 drawn with layout 0; 2 characters of its text have no glyph in any installed font", 0);
}

void TestMessageRecord::outcomes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, kind);
    QFETCH(QString, outcome);
    QFETCH(QString, reason);
    QFETCH(QString, sentence);
    QFETCH(int, waitExit);

    TestAgent agent(emulator.ports().agent);
    QVERIFY(agent.waitForConnected());
    agent.send(bytes);

    QJsonObject found;
    QTRY_VERIFY_WITH_TIMEOUT([&] {
        for (const QJsonObject& record : recordsSince(seen)) {
            if (record.value("kind").toString() == kind && record.value("outcome").toString() != "info")
                found = record;
        }
        return !found.isEmpty();
    }(), 20000);
    QCOMPARE(found.value("outcome").toString(), outcome);
    QCOMPARE(found.value("reason").toString(), reason);
    QVERIFY2(found.value("sentence").toString().contains(sentence), qPrintable(found.value("sentence").toString()));
    // Each image left out is named with its reason, as the sentence says.
    QCOMPARE(found.value("imagesLeftOut").toArray().size(), sentence.count(QStringLiteral("without image")));
    // Every fact of the message stays in the record.
    if (kind == "agent_content")
        QCOMPARE(found.value("layoutId").toString(), lastLayoutId(bytes));
    if (reason.startsWith("image_"))
        QVERIFY(!found.value("imageId").toString().isEmpty());

    if (waitExit < 0)
        return;
    const CtlResult wait = CtlProcess::run({"wait", "--content-of", found.value("agent").toString(), "--content-id", "2",
                                     "--timeout", "10"});
    QCOMPARE(wait.exitCode, waitExit);
    if (waitExit != 0)
        QVERIFY2(wait.err.contains(sentence.toUtf8()), wait.err.constData());
    const QJsonObject shown = state();
    QCOMPARE(shown.value("lastOutcome").toObject().value("outcome").toString(), outcome);
    // What the display really shows: the skipped content is not it.
    if (outcome == "skipped")
        QCOMPARE(shown.value("drawnContentId").toInt(), 1);
    if (outcome == "drawn")
        QCOMPARE(shown.value("drawnAgent").toString(), found.value("agent").toString());
}

void TestMessageRecord::followedLog()
{
    QProcess follower;
    follower.start(CtlProcess::program(), {"log", "--follow", "--agent", "followed", "--since",
                                                    QString::number(seen)});
    QVERIFY(follower.waitForStarted());
    TestAgent agent(emulator.ports().agent);
    QVERIFY(agent.waitForConnected());
    agent.sendFrame(content("followed", 2, "9", {}, {}));
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += follower.readAllStandardOutput()).contains("layout \"9\" does not exist"), 20000);
    QVERIFY2(out.contains(" in frame followed: received agent_content"), out.constData());
    follower.kill();
    follower.waitForFinished();
}

void TestMessageRecord::lint_data()
{
    QTest::addColumn<QJsonObject>("message");
    QTest::addColumn<QStringList>("ignored");
    QTest::addColumn<QString>("coerced");
    QTest::addColumn<QString>("sentence");

    const QJsonObject text{{"command.type", "agent_content"}, {"appId", "lint"}, {"contentId", 2}, {"layoutId", "0"},
                           {"texts", QJsonArray{"hello"}}};
    const auto with = [](QJsonObject message, const QString& key, const QJsonValue& value) {
        message.insert(key, value);
        return message;
    };
    QJsonObject misspelt = with(text, "layoutId", "1");
    misspelt.remove("texts");
    misspelt.insert("image.id", QJsonArray{"0"});
    QTest::newRow("image.id") << misspelt << QStringList{"image.id"} << QString()
                              << "the message has 0 images and 0 texts; member \"image.id\" ignored";
    QTest::newRow("layoutId two") << with(text, "layoutId", "two") << QStringList() << "layoutId"
                                  << "drawn with layout 0; \"layoutId\" \"two\" taken as 0";
    QTest::newRow("contentId \"2\"") << with(text, "contentId", "2") << QStringList() << "contentId"
                                     << "drawn with layout 0; \"contentId\" \"2\" taken as 2";
    QTest::newRow("contentId 1.5") << with(text, "contentId", 1.5) << QStringList() << "contentId"
                                   << "drawn with layout 0; \"contentId\" 1.5 taken as 2";
    // A text given is shown whole up to 40 characters.
    const QString forty(40, 'x');
    QTest::newRow("layoutId of 39 characters") << with(text, "layoutId", forty.left(39)) << QStringList() << "layoutId"
                                               << "; \"layoutId\" \"" + forty.left(39) + "\" taken as 0";
    QTest::newRow("layoutId of 40 characters") << with(text, "layoutId", forty) << QStringList() << "layoutId"
                                               << "; \"layoutId\" \"" + forty + "\" taken as 0";
    QTest::newRow("layoutId of 41 characters") << with(text, "layoutId", forty + 'y') << QStringList() << "layoutId"
                                               << "; \"layoutId\" \"" + forty + QChar(0x2026) + "\" taken as 0";
}

// What the emulator did not take as written is named in the message's
// records; what it does stays the same.
void TestMessageRecord::lint()
{
    QFETCH(QJsonObject, message);
    QFETCH(QStringList, ignored);
    QFETCH(QString, coerced);
    QFETCH(QString, sentence);

    TestAgent agent(emulator.ports().agent);
    QVERIFY(agent.waitForConnected());
    agent.send(framed({timing(0, 60000), json(message)}));

    QJsonObject frame;
    QJsonObject outcome;
    QTRY_VERIFY_WITH_TIMEOUT([&] {
        for (const QJsonObject& record : recordsSince(seen)) {
            if (record.value("commandType").toString() == "agent_content")
                frame = record;
            if (record.value("kind").toString() == "agent_content")
                outcome = record;
        }
        return !outcome.isEmpty();
    }(), 20000);
    for (const QJsonObject& record : {frame, outcome}) {
        QCOMPARE(record.value("ignored").toVariant().toStringList(), ignored);
        const QJsonArray taken = record.value("coerced").toArray();
        QCOMPARE(taken.size(), coerced.isEmpty() ? 0 : 1);
        QCOMPARE(taken.at(0).toObject().value("member").toString(), coerced);
    }
    QVERIFY2(outcome.value("sentence").toString().endsWith(sentence), qPrintable(outcome.value("sentence").toString()));
    QCOMPARE(outcome.value("contentId").toInt(), 2);
}

// A frame that is not JSON names no agent; it is found under the agent
// that used its connection, and a wait for that agent's content that runs
// out names it.
void TestMessageRecord::brokenFrameFoundUnderItsAgent()
{
    TestAgent agent(emulator.ports().agent);
    QVERIFY(agent.waitForConnected());
    agent.send(framed({"nonsense", content("broken", 1, "9", {}, {}), json({{"command.type", "agent_contnet"}})}));

    QList<QJsonObject> records;
    QTRY_VERIFY_WITH_TIMEOUT((records = recordsSince(seen)).size() >= 4, 20000);
    int connection = 0;
    for (const QJsonObject& record : records) {
        if (record.value("kind").toString() == "opened")
            connection = record.value("connection").toInt();
    }
    QVERIFY(connection > 0);

    const CtlResult log = CtlProcess::run({"log", "--json", "--agent", "broken", "--since", QString::number(seen)});
    QStringList reasons;
    for (const QByteArray& line : log.out.split('\n')) {
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        if (record.isEmpty())
            continue;
        QCOMPARE(record.value("connection").toInt(), connection);
        QVERIFY(!record.value("peer").toString().isEmpty());
        reasons.append(record.value("reason").toString());
    }
    QVERIFY2(reasons.contains("not_json") && reasons.contains("unknown_command_type"), log.out.constData());

    const CtlResult wait = CtlProcess::run({"wait", "--content-of", "broken", "--content-id", "3", "--since",
                                            QString::number(seen), "--timeout", "0.5"});
    QCOMPARE(wait.exitCode, 1);
    for (const char* named : {"the frame is not JSON", "layout \"9\" does not exist", "none of zelvo_config"})
        QVERIFY2(wait.err.contains(named), wait.err.constData());
}

void TestMessageRecord::cleanupTestCase()
{
    emulator.stop();
}

QTEST_GUILESS_MAIN(TestMessageRecord)
#include "tst_messagerecord.moc"
