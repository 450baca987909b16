#include "ControlClient.h"
#include "TestAgent.h"
#include "ZelvoJson.h"

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <functional>

namespace {

constexpr int rounds = 1000;
constexpr int batch = 50;
// Every earlier value kept would grow the emulator by this much a frame.
constexpr int padding = 64 * 1024;

qint64 residentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

bool underAddressSanitizer()
{
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#endif
#endif
    return false;
}

} // namespace

class TestZelvoJson final : public QObject
{
    Q_OBJECT

private slots:
    void lastValueWins_data();
    void lastValueWins();
    void repeatedKeysLeaveMemoryFlat_data();
    void repeatedKeysLeaveMemoryFlat();
};

void TestZelvoJson::lastValueWins_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("same");

    QTest::newRow("array then number") << QByteArray(R"({"a":[1,2],"a":1})") << QByteArray(R"({"a":1})");
    QTest::newRow("object between others")
        << QByteArray(R"({"a":{"x":1},"b":[true],"a":{"y":2},"c":3})") << QByteArray(R"({"b":[true],"a":{"y":2},"c":3})");
    QTest::newRow("three times") << QByteArray(R"({"a":[1], "a":[2] ,"a":[3]})") << QByteArray(R"({"a":[3]})");
    QTest::newRow("escaped spelling") << QByteArray(R"({"a":[1],"\u0061":2})") << QByteArray(R"({"a":2})");
    QTest::newRow("nested object") << QByteArray(R"({"o":{"k":[1],"k":{"z":0}},"p":1})")
                                   << QByteArray(R"({"o":{"k":{"z":0}},"p":1})");
    QTest::newRow("repeat inside a repeated member") << QByteArray(R"({"a":{"k":[1],"k":2},"a":[{"k":[3],"k":4}]})")
                                                     << QByteArray(R"({"a":[{"k":4}]})");
    QTest::newRow("objects in an array") << QByteArray(R"([{"k":[1],"k":2},{"k":3}])") << QByteArray(R"([{"k":2},{"k":3}])");
    QTest::newRow("key text inside a value") << QByteArray(R"({"s":"\",\"s\":[","t":"\\","s":1})")
                                             << QByteArray(R"({"t":"\\","s":1})");
    QTest::newRow("same key in other objects") << QByteArray(R"({"a":{"a":[1]},"b":{"a":2}})")
                                               << QByteArray(R"({"a":{"a":[1]},"b":{"a":2}})");
    QTest::newRow("broken after a repeat") << QByteArray(R"({"a":[1],"a":2,)") << QByteArray(R"({"a":2,)");
}

void TestZelvoJson::lastValueWins()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, same);

    QJsonParseError error;
    QJsonParseError expectedError;
    const QJsonDocument expected = QJsonDocument::fromJson(same, &expectedError);
    QCOMPARE(ZelvoJson::parse(text, &error), expected);
    QCOMPARE(error.error, expectedError.error);
}

void TestZelvoJson::repeatedKeysLeaveMemoryFlat_data()
{
    QTest::addColumn<bool>("control");

    QTest::newRow("agent port") << false;
    QTest::newRow("control port") << true;
}

void TestZelvoJson::repeatedKeysLeaveMemoryFlat()
{
    QFETCH(bool, control);

    ControlRig rig;
    QVERIFY(rig.started);
    TestAgent agent(rig.server.serverPort());
    ControlClient client(rig.control.port());
    QVERIFY(client.authenticate());
    QSignalSpy configs(&rig.server, &ZelvoServer::zelvoConfigReceived);

    const QByteArray repeated = R"("a":[")" + QByteArray(padding, 'A') + R"("],"a":1)";
    int answered = 0;
    const std::function<bool(int)> sendBatch = [&](int count) {
        for (int i = 0; i < count; ++i) {
            if (control)
                client.send(R"({"cmd":"state","id":0,)" + repeated + "}\n");
            else
                agent.sendFrame(R"({"command.type":"zelvo_config",)" + repeated + "}");
        }
        answered += count;
        return QTest::qWaitFor([&] {
            if (control) {
                while (!client.answers.isEmpty() && client.answers.takeFirst().value("ok").toBool())
                    --answered;
                return answered == 0;
            }
            return configs.count() == answered;
        }, 20000);
    };

    QVERIFY(sendBatch(batch));
    const qint64 before = residentKilobytes();
    for (int sent = batch; sent < rounds; sent += batch)
        QVERIFY(sendBatch(batch));
    // Under AddressSanitizer the quarantine holds freed memory for a while;
    // LeakSanitizer checks the same at exit instead.
    if (!underAddressSanitizer())
        QVERIFY2(residentKilobytes() - before < rounds * padding / 1024 / 4,
                 qPrintable(QStringLiteral("grew from %1 kB to %2 kB").arg(before).arg(residentKilobytes())));
}

QTEST_MAIN(TestZelvoJson)
#include "tst_zelvojson.moc"
