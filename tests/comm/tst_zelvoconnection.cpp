#include "comm/ZelvoConnection.h"

#include "TestAgent.h"
#include "ZelvoFrame.h"
#include "comm/ZelvoServer.h"
#include "LinkParts.h"
#include "record/ZelvoRecorder.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QSignalSpy>
#include <QString>
#include <QtTest>

#include <limits>

namespace {

// Sent after every payload under test: frames are handled in order, so once
// its signal is out, the payload before it has been dealt with.
const QByteArray sentinel = R"({"command.type": "zelvo_config", "minPersistingTimeMillis": -111,
                                 "maxPersistingTimeMillis": -222})";

using Strings = QList<QString>;

} // namespace

// A connection's path from frame to server signal: which payloads are
// actions, how each command type reads its members, and their defaults.
class TestZelvoConnection final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void ignoredPayloads_data();
    void ignoredPayloads();
    void zelvoConfig_data();
    void zelvoConfig();
    void numbersBeyondIntAreClamped_data();
    void numbersBeyondIntAreClamped();
    void agentConfig_data();
    void agentConfig();
    void agentContent_data();
    void agentContent();
    void twoAgentsReachTheSameServer();
    void logsTheDocumentAsIndentedJson();

private:
    // Sends bytes and then the sentinel; true once the sentinel is through.
    bool deliver(const QByteArray& bytes);

    LinkParts parts;
    std::unique_ptr<ZelvoServer> server;
    std::unique_ptr<TestAgent> agent;
    std::unique_ptr<QSignalSpy> zelvoConfigs;
    std::unique_ptr<QSignalSpy> agentConfigs;
    std::unique_ptr<QSignalSpy> agentContents;
};

void TestZelvoConnection::init()
{
    parts.recorder.clear();
    server = std::make_unique<ZelvoServer>(&parts.clock, &parts.recorder, &parts.pictures);
    QVERIFY(server->start(QHostAddress::LocalHost, 0));
    zelvoConfigs = std::make_unique<QSignalSpy>(server.get(), &ZelvoServer::zelvoConfigReceived);
    agentConfigs = std::make_unique<QSignalSpy>(server.get(), &ZelvoServer::agentConfigReceived);
    agentContents = std::make_unique<QSignalSpy>(server.get(), &ZelvoServer::agentContentReceived);
    agent = std::make_unique<TestAgent>(server->serverPort());
    QTRY_COMPARE(server->connections().size(), 1);
}

void TestZelvoConnection::cleanup()
{
    agent.reset();
    zelvoConfigs.reset();
    agentConfigs.reset();
    agentContents.reset();
    server.reset();
}

bool TestZelvoConnection::deliver(const QByteArray& bytes)
{
    agent->send(bytes + ZelvoFrame::encode(sentinel));
    const QList<QVariant> done{-111, -222};
    return QTest::qWaitFor([this, &done] { return !zelvoConfigs->isEmpty() && zelvoConfigs->last() == done; });
}

void TestZelvoConnection::ignoredPayloads_data()
{
    QTest::addColumn<QByteArray>("bytes");

    const auto frame = &ZelvoFrame::encode;
    QTest::newRow("text that is not JSON") << frame("hello emulator");
    QTest::newRow("JSON cut short") << frame(R"({"command.type": "agent_config", "appId": )");
    QTest::newRow("array") << frame(R"([{"command.type": "agent_config"}])");
    QTest::newRow("empty array") << frame("[]");
    QTest::newRow("number") << frame("42");
    QTest::newRow("string") << frame(R"("agent_config")");
    QTest::newRow("empty object") << frame("{}");
    QTest::newRow("empty payload") << frame(QByteArray());
    QTest::newRow("prefix 0x80000000") << QByteArray::fromHex("80000000");
    QTest::newRow("nested command object") << frame(R"({"command": {"type": "agent_config"}, "appId": "a"})");
    QTest::newRow("key in other letter case") << frame(R"({"Command.Type": "agent_config", "appId": "a"})");
    QTest::newRow("type in capitals") << frame(R"({"command.type": "AGENT_CONFIG", "appId": "a"})");
    QTest::newRow("unknown type") << frame(R"({"command.type": "agent_reset"})");
    QTest::newRow("type as number") << frame(R"({"command.type": 3})");
    QTest::newRow("type with a space") << frame(R"({"command.type": "agent_content "})");
    QTest::newRow("UTF-16 text") << frame(QByteArray("{\0\"\0}\0", 6));
}

void TestZelvoConnection::ignoredPayloads()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(deliver(bytes));
    QCOMPARE(zelvoConfigs->size(), 1);
    QCOMPARE(agentConfigs->size(), 0);
    QCOMPARE(agentContents->size(), 0);
    QCOMPARE(server->connections().size(), 1);
}

void TestZelvoConnection::zelvoConfig_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("min");
    QTest::addColumn<int>("max");

    QTest::newRow("both times") << QByteArray(R"({"command.type": "zelvo_config",
        "minPersistingTimeMillis": 1500, "maxPersistingTimeMillis": 9000})") << 1500 << 9000;
    QTest::newRow("only minimum") << QByteArray(R"({"command.type": "zelvo_config",
        "minPersistingTimeMillis": 2500})") << 2500 << 0;
    QTest::newRow("only maximum") << QByteArray(R"({"command.type": "zelvo_config",
        "maxPersistingTimeMillis": 7000})") << 0 << 7000;
    QTest::newRow("only the type") << QByteArray(R"({"command.type": "zelvo_config"})") << 0 << 0;
    QTest::newRow("times as text") << QByteArray(R"({"command.type": "zelvo_config",
        "minPersistingTimeMillis": "300", "maxPersistingTimeMillis": "4000"})") << 300 << 4000;
    QTest::newRow("times as words, array and object") << QByteArray(R"({"command.type": "zelvo_config",
        "minPersistingTimeMillis": "soon", "maxPersistingTimeMillis": [4000]})") << 0 << 0;
    QTest::newRow("minimum above maximum, negative") << QByteArray(R"({"command.type": "zelvo_config",
        "minPersistingTimeMillis": 8000, "maxPersistingTimeMillis": -1})") << 8000 << -1;
    QTest::newRow("fractions") << QByteArray(R"({"command.type": "zelvo_config",
        "minPersistingTimeMillis": 1000.4, "maxPersistingTimeMillis": 2000.6})") << 1000 << 2001;
}

void TestZelvoConnection::zelvoConfig()
{
    QFETCH(QByteArray, payload);
    QFETCH(int, min);
    QFETCH(int, max);

    QVERIFY(deliver(ZelvoFrame::encode(payload)));
    QCOMPARE(zelvoConfigs->size(), 2);
    QCOMPARE(zelvoConfigs->first(), (QList<QVariant>{min, max}));
    QCOMPARE(agentConfigs->size(), 0);
    QCOMPARE(agentContents->size(), 0);
}

void TestZelvoConnection::numbersBeyondIntAreClamped_data()
{
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<int>("taken");
    QTest::addColumn<bool>("clamped");

    QTest::newRow("2147483648") << QByteArray("2147483648") << std::numeric_limits<int>::max() << true;
    QTest::newRow("9007199254740993") << QByteArray("9007199254740993") << std::numeric_limits<int>::max() << true;
    QTest::newRow("text 99999999999") << QByteArray(R"("99999999999")") << std::numeric_limits<int>::max() << true;
    QTest::newRow("-1e300") << QByteArray("-1e300") << std::numeric_limits<int>::min() << true;
    QTest::newRow("-2147483648") << QByteArray("-2147483648") << std::numeric_limits<int>::min() << false;
    QTest::newRow("text 2147483647") << QByteArray(R"("2147483647")") << std::numeric_limits<int>::max() << false;
    // Halves round up, as Qt's variant rounds them, negative ones too.
    QTest::newRow("2.5") << QByteArray("2.5") << 3 << false;
    QTest::newRow("-2.5") << QByteArray("-2.5") << -2 << false;
    QTest::newRow("-0.5") << QByteArray("-0.5") << 0 << false;
    QTest::newRow("-2.6") << QByteArray("-2.6") << -3 << false;
    QTest::newRow("2147483647.4") << QByteArray("2147483647.4") << std::numeric_limits<int>::max() << false;
    QTest::newRow("2147483647.5") << QByteArray("2147483647.5") << std::numeric_limits<int>::max() << true;
    QTest::newRow("-2147483648.5") << QByteArray("-2147483648.5") << std::numeric_limits<int>::min() << false;
    QTest::newRow("-2147483648.6") << QByteArray("-2147483648.6") << std::numeric_limits<int>::min() << true;
    QTest::newRow("text -2147483649") << QByteArray(R"("-2147483649")") << std::numeric_limits<int>::min() << true;
    QTest::newRow("text of 20 digits") << QByteArray(R"("99999999999999999999")") << std::numeric_limits<int>::max() << true;
    // Text Qt reads as no integer stays 0, however large its value.
    QTest::newRow("text 5.5") << QByteArray(R"("5.5")") << 0 << false;
    QTest::newRow("text 1e10") << QByteArray(R"("1e10")") << 0 << false;
}

// A number past the int range takes the nearest bound, never a wrapped
// value, and the frame's record says so.
void TestZelvoConnection::numbersBeyondIntAreClamped()
{
    QFETCH(QByteArray, number);
    QFETCH(int, taken);
    QFETCH(bool, clamped);

    QVERIFY(deliver(ZelvoFrame::encode(R"({"command.type": "zelvo_config", "maxPersistingTimeMillis": 9000,
        "minPersistingTimeMillis": )" + number + "}")));
    QCOMPARE(zelvoConfigs->first(), (QList<QVariant>{taken, 9000}));
    zelvoConfigs->clear();
    QVERIFY(deliver(ZelvoFrame::encode(R"({"command.type": "agent_content", "appId": "a", "contentId": )" + number + "}")));
    QCOMPARE(agentContents->first().at(1).toInt(), taken);

    QList<bool> recorded;
    for (int i = 0; i < parts.recorder.size(); ++i) {
        const QJsonObject record = parts.recorder.at(i).toJson();
        if (record.value("kind") == "frame" && record.value("size").toInt() != sentinel.size())
            recorded << record.value("clamped").toBool();
    }
    QCOMPARE(recorded, (QList<bool>{clamped, clamped}));
}

void TestZelvoConnection::agentConfig_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("agentHash");
    QTest::addColumn<Strings>("images");

    QTest::newRow("appId and images") << QByteArray(R"({"command.type": "agent_config", "appId": "4f2a",
        "images": ["iVBORw0KGgo=", "WkkBAA=="]})") << "4f2a" << Strings{"iVBORw0KGgo=", "WkkBAA=="};
    QTest::newRow("only the type") << QByteArray(R"({"command.type": "agent_config"})") << "" << Strings{};
    QTest::newRow("images missing") << QByteArray(R"({"command.type": "agent_config", "appId": "4f2a"})")
                                    << "4f2a" << Strings{};
    QTest::newRow("appId as number") << QByteArray(R"({"command.type": "agent_config", "appId": 42,
        "images": []})") << "42" << Strings{};
    QTest::newRow("appId as object") << QByteArray(R"({"command.type": "agent_config", "appId": {"id": 1}})")
                                     << "" << Strings{};
    QTest::newRow("images as object") << QByteArray(R"({"command.type": "agent_config", "appId": "a",
        "images": {"0": "WkkBAA=="}})") << "a" << Strings{};
    QTest::newRow("images as one string") << QByteArray(R"({"command.type": "agent_config", "appId": "a",
        "images": "WkkBAA=="})") << "a" << Strings{"WkkBAA=="};
    QTest::newRow("images of mixed types") << QByteArray(R"({"command.type": "agent_config", "appId": "a",
        "images": ["WkkBAA==", 7, null, true]})") << "a" << Strings{"WkkBAA==", "7", "", "true"};
}

void TestZelvoConnection::agentConfig()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, agentHash);
    QFETCH(Strings, images);

    QVERIFY(deliver(ZelvoFrame::encode(payload)));
    QCOMPARE(agentConfigs->size(), 1);
    QCOMPARE(agentConfigs->first().at(0).toString(), agentHash);
    QCOMPARE(agentConfigs->first().at(1).value<Strings>(), images);
    QCOMPARE(zelvoConfigs->size(), 1);
    QCOMPARE(agentContents->size(), 0);
}

void TestZelvoConnection::agentContent_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("agentHash");
    QTest::addColumn<int>("contentId");
    QTest::addColumn<QString>("layId");
    QTest::addColumn<Strings>("imagesId");
    QTest::addColumn<Strings>("texts");

    QTest::newRow("every member") << QByteArray(R"({"command.type": "agent_content", "appId": "4f2a",
        "layoutId": "3", "contentId": 12, "images.id": ["0", "2"], "texts": ["Hi", "Zürich ✓"]})")
                                  << "4f2a" << 12 << "3" << Strings{"0", "2"} << Strings{"Hi", "Zürich ✓"};
    QTest::newRow("only the type") << QByteArray(R"({"command.type": "agent_content"})")
                                   << "" << 0 << "" << Strings{} << Strings{};
    QTest::newRow("layoutId as number 2") << QByteArray(R"({"command.type": "agent_content", "appId": "a",
        "layoutId": 2, "contentId": 1})") << "a" << 1 << "2" << Strings{} << Strings{};
    QTest::newRow("layoutId missing") << QByteArray(R"({"command.type": "agent_content", "appId": "a",
        "contentId": 5, "texts": ["t"]})") << "a" << 5 << "" << Strings{} << Strings{"t"};
    QTest::newRow("contentId missing") << QByteArray(R"({"command.type": "agent_content", "appId": "a",
        "layoutId": "1"})") << "a" << 0 << "1" << Strings{} << Strings{};
    QTest::newRow("contentId as text") << QByteArray(R"({"command.type": "agent_content", "contentId": "77"})")
                                       << "" << 77 << "" << Strings{} << Strings{};
    QTest::newRow("contentId as word") << QByteArray(R"({"command.type": "agent_content", "contentId": "x"})")
                                       << "" << 0 << "" << Strings{} << Strings{};
    QTest::newRow("image ids as numbers") << QByteArray(R"({"command.type": "agent_content",
        "images.id": [1, 2.5]})") << "" << 0 << "" << Strings{"1", "2.5"} << Strings{};
    QTest::newRow("nested images object") << QByteArray(R"({"command.type": "agent_content",
        "images": {"id": ["1"]}})") << "" << 0 << "" << Strings{} << Strings{};
    QTest::newRow("texts as object") << QByteArray(R"({"command.type": "agent_content",
        "texts": {"a": "b"}})") << "" << 0 << "" << Strings{} << Strings{};
    QTest::newRow("empty strings kept") << QByteArray(R"({"command.type": "agent_content", "appId": "",
        "layoutId": "", "images.id": [""], "texts": ["", ""]})") << "" << 0 << "" << Strings{""}
                                        << Strings{"", ""};
}

void TestZelvoConnection::agentContent()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, agentHash);
    QFETCH(int, contentId);
    QFETCH(QString, layId);
    QFETCH(Strings, imagesId);
    QFETCH(Strings, texts);

    QVERIFY(deliver(ZelvoFrame::encode(payload)));
    QCOMPARE(agentContents->size(), 1);
    const QList<QVariant> arguments = agentContents->first();
    QCOMPARE(arguments.at(0).toString(), agentHash);
    QCOMPARE(arguments.at(1).toInt(), contentId);
    QCOMPARE(arguments.at(2).toString(), layId);
    QCOMPARE(arguments.at(3).value<Strings>(), imagesId);
    QCOMPARE(arguments.at(4).value<Strings>(), texts);
    QCOMPARE(zelvoConfigs->size(), 1);
    QCOMPARE(agentConfigs->size(), 0);
}

void TestZelvoConnection::twoAgentsReachTheSameServer()
{
    TestAgent second(server->serverPort());
    QTRY_COMPARE(server->connections().size(), 2);
    second.sendFrame(R"({"command.type": "agent_content", "appId": "second", "layoutId": "1"})");
    QTRY_COMPARE(agentContents->size(), 1);
    QVERIFY(deliver(ZelvoFrame::encode(R"({"command.type": "agent_content", "appId": "first"})")));
    QCOMPARE(agentContents->size(), 2);
    QCOMPARE(agentContents->at(0).at(0).toString(), QString("second"));
    QCOMPARE(agentContents->at(1).at(0).toString(), QString("first"));
}

void TestZelvoConnection::logsTheDocumentAsIndentedJson()
{
    // Built only while debug output is on; then it is the whole document.
    QTest::ignoreMessage(QtDebugMsg, "\033[95mZelvoReceiver::dataReceived ~~~DESERIALIZATION~~~ JSON: "
                                     "\"{\\n    \\\"appId\\\": \\\"a\\\",\\n    \\\"command.type\\\": "
                                     "\\\"agent_config\\\"\\n}\\n\" \033[0m");
    QVERIFY(deliver(ZelvoFrame::encode(R"({"command.type":"agent_config","appId":"a"})")));
    QCOMPARE(agentConfigs->size(), 1);
}

QTEST_GUILESS_MAIN(TestZelvoConnection)
#include "tst_zelvoconnection.moc"
