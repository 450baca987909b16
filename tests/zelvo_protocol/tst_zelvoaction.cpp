#include "ZelvoAction.h"

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

// The arguments exactly as the receiver builds them from an agent's text.
QVariantMap argsOf(const char* json)
{
    return QJsonDocument::fromJson(json).object().toVariantMap();
}

} // namespace

class TestZelvoAction final : public QObject
{
    Q_OBJECT

private slots:
    void binaryRoundTrip_data();
    void binaryRoundTrip();
    void binaryForm();
    void deserialize_data();
    void deserialize();
    void toString_data();
    void toString();
    void commandType_data();
    void commandType();
    void equality_data();
    void equality();
};

void TestZelvoAction::binaryRoundTrip_data()
{
    QTest::addColumn<QVariantMap>("args");
    QTest::newRow("no members") << QVariantMap();
    QTest::newRow("content action") << argsOf(R"({"command.type": "agent_content", "appId": "4f2a",
        "layoutId": "2", "contentId": 7, "images.id": ["1", "3"], "texts": ["Hello", "Wörld ✓"]})");
    QTest::newRow("numbers and booleans") << argsOf(R"({"a": 1.25, "b": -3, "c": true, "d": false, "e": 1e300})");
    QTest::newRow("nested object and array") << argsOf(R"({"command": {"type": "x", "list": [1, [2, {}]]}})");
    QTest::newRow("null member") << argsOf(R"({"appId": null, "command.type": "agent_config"})");
    QTest::newRow("empty key and empty text") << argsOf(R"({"": ""})");
}

void TestZelvoAction::binaryRoundTrip()
{
    QFETCH(QVariantMap, args);
    const ZelvoAction action(args);

    QByteArray binary;
    QDataStream out(&binary, QIODevice::WriteOnly);
    action.serialize(out);
    QCOMPARE(binary, action.toBinary());

    QDataStream in(binary);
    ZelvoAction read;
    QCOMPARE(read.deserialize(in), args.size());
    QCOMPARE(in.status(), QDataStream::Ok);
    QVERIFY(in.atEnd());
    QCOMPARE(read, action);
}

void TestZelvoAction::binaryForm()
{
    // Count, then the key as UTF-16 with its byte length, then the variant as
    // type, null flag and value: the Qt 4.6 stream format, big-endian.
    const ZelvoAction action(argsOf(R"({"n": 1.5})"));
    QCOMPARE(action.toBinary().toHex(), QByteArray("00000001"
                                                   "00000002006e"
                                                   "00000006003ff8000000000000"));
}

void TestZelvoAction::deserialize_data()
{
    QTest::addColumn<QVariantMap>("existing");
    QTest::addColumn<QByteArray>("binary");
    QTest::addColumn<int>("read");
    QTest::addColumn<QVariantMap>("args");

    const auto pairs = [](qint32 count, const QVector<QPair<QString, QVariant>>& entries) {
        QByteArray binary;
        QDataStream stream(&binary, QIODevice::WriteOnly);
        stream.setVersion(QDataStream::Qt_4_6);
        stream << count;
        for (const auto& entry : entries)
            stream << entry.first << entry.second;
        return binary;
    };
    const QVariantMap none;

    QTest::newRow("repeated key") << none << pairs(2, {{"k", 1.0}, {"k", 2.0}}) << 2
                                  << QVariantMap{{"k", 2.0}};
    QTest::newRow("entries already there stay") << QVariantMap{{"old", true}} << pairs(1, {{"new", "x"}}) << 1
                                                << QVariantMap{{"old", true}, {"new", "x"}};
    QTest::newRow("count larger than the pairs") << none << pairs(3, {{"a", 1.0}}) << 1
                                                 << QVariantMap{{"a", 1.0}};
    QTest::newRow("count 0x7fffffff and no pairs") << none << pairs(0x7fffffff, {}) << 0 << none;
    QTest::newRow("negative count") << none << pairs(-5, {{"a", 1.0}}) << 0 << none;
    QTest::newRow("value cut short") << none << pairs(1, {{"a", "long text"}}).chopped(4) << 0 << none;
    QTest::newRow("empty input") << none << QByteArray() << 0 << none;
}

void TestZelvoAction::deserialize()
{
    QFETCH(QVariantMap, existing);
    QFETCH(QByteArray, binary);
    QFETCH(int, read);
    QFETCH(QVariantMap, args);

    ZelvoAction action(existing);
    QDataStream stream(binary);
    QCOMPARE(action.deserialize(stream), read);
    QCOMPARE(action.args, args);
}

void TestZelvoAction::toString_data()
{
    QTest::addColumn<QVariantMap>("args");
    QTest::addColumn<QString>("text");

    QTest::newRow("appId and command.type")
        << argsOf(R"({"command.type": "agent_config", "appId": "4f2a"})")
        << "[ZelvoAction]\n###Args:\n(2) :\nappId : 4f2a\ncommand.type : agent_config";
    QTest::newRow("list value") << argsOf(R"({"texts": ["a", "b"]})")
                                << "[ZelvoAction]\n###Args:\n(1) :\ntexts : ";
    QTest::newRow("numbers and boolean") << argsOf(R"({"contentId": 7, "ratio": 0.5, "on": true})")
                                         << "[ZelvoAction]\n###Args:\n(3) :\ncontentId : 7\non : true\nratio : 0.5";
    QTest::newRow("no members") << QVariantMap() << "[ZelvoAction]\n###Args:\n(0) :";
}

void TestZelvoAction::toString()
{
    QFETCH(QVariantMap, args);
    QFETCH(QString, text);
    QCOMPARE(ZelvoAction(args).toString(), text);
}

void TestZelvoAction::commandType_data()
{
    QTest::addColumn<QVariantMap>("args");
    QTest::addColumn<QString>("type");

    QTest::newRow("agent_content") << argsOf(R"({"command.type": "agent_content"})") << commandAgentContent;
    QTest::newRow("missing") << argsOf(R"({"appId": "4f2a"})") << QString();
    QTest::newRow("number") << argsOf(R"({"command.type": 5})") << "5";
    QTest::newRow("array") << argsOf(R"({"command.type": ["agent_config"]})") << QString();
    QTest::newRow("nested command object") << argsOf(R"({"command": {"type": "agent_config"}})") << QString();
    QTest::newRow("key in other letter case") << argsOf(R"({"Command.Type": "agent_config"})") << QString();
}

void TestZelvoAction::commandType()
{
    QFETCH(QVariantMap, args);
    QFETCH(QString, type);
    QCOMPARE(ZelvoAction(args).commandType(), type);
}

void TestZelvoAction::equality_data()
{
    QTest::addColumn<QVariantMap>("first");
    QTest::addColumn<QVariantMap>("second");
    QTest::addColumn<bool>("equal");

    QTest::newRow("members in another order") << argsOf(R"({"appId": "a", "command.type": "agent_config"})")
                                              << argsOf(R"({"command.type": "agent_config", "appId": "a"})")
                                              << true;
    QTest::newRow("another value") << argsOf(R"({"appId": "a"})") << argsOf(R"({"appId": "b"})") << false;
    QTest::newRow("one member more") << argsOf(R"({"appId": "a"})") << argsOf(R"({"appId": "a", "x": 1})")
                                     << false;
    QTest::newRow("another list") << argsOf(R"({"texts": ["a", "b"]})") << argsOf(R"({"texts": ["b", "a"]})")
                                  << false;
}

void TestZelvoAction::equality()
{
    QFETCH(QVariantMap, first);
    QFETCH(QVariantMap, second);
    QFETCH(bool, equal);
    QCOMPARE(ZelvoAction(first) == ZelvoAction(second), equal);
    QCOMPARE(ZelvoAction(first) != ZelvoAction(second), !equal);
}

QTEST_GUILESS_MAIN(TestZelvoAction)
#include "tst_zelvoaction.moc"
