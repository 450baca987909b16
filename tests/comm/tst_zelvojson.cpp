#include "../control/ControlRig.h"
#include "ResidentMemory.h"
#include "TestAgent.h"
#include "ZelvoJson.h"
#include "record/ZelvoRecorder.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

class TestZelvoJson final : public QObject
{
    Q_OBJECT

private slots:
    void lastValueWins_data();
    void lastValueWins();
    void cutMembersAreChecked_data();
    void cutMembersAreChecked();
    void repeatedKeysLeaveMemoryFlat_data();
    void repeatedKeysLeaveMemoryFlat();
};

void TestZelvoJson::lastValueWins_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("same");

    QTest::newRow("escaped spelling, others between") << QByteArray(R"({"a":[1],"b":{},"\u0061":2})")
                                                      << QByteArray(R"({"b":{},"a":2})");
    QTest::newRow("unknown escape spelling") << QByteArray(R"({"k":[1],"\k":2})") << QByteArray(R"({"k":2})");
    QTest::newRow("repeat inside a repeated member") << QByteArray(R"({"a":{"k":[1],"k":2},"a":[{"k":[3],"k":4}]})")
                                                     << QByteArray(R"({"a":[{"k":4}]})");
    QTest::newRow("key text inside a value") << QByteArray(R"({"s":"\",\"s\":[","t":"\\","s":1})")
                                             << QByteArray(R"({"t":"\\","s":1})");
    QTest::newRow("broken after a repeat") << QByteArray(R"({"a":[1],"a":2,)") << QByteArray(R"({"a":2,)");
    // Qt alone takes the first two keys as one and keeps the array for good.
    QTest::newRow("raw NUL in keys") << QByteArray("{\"Id\0es\":[\"\"],\"Id\0}}\":1,\"k\\\0\":2}", 32)
                                     << QByteArray(R"({"Id\u0000es":[""],"Id\u0000}}":1,"k\u0000":2})");
}

void TestZelvoJson::lastValueWins()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, same);

    QJsonParseError error;
    QJsonParseError expectedError;
    QCOMPARE(ZelvoJson::parse(text, &error), QJsonDocument::fromJson(same, &expectedError));
    QCOMPARE(error.error, expectedError.error);
}

void TestZelvoJson::cutMembersAreChecked_data()
{
    QTest::addColumn<QByteArray>("members");
    QTest::addColumn<bool>("valid");

    QTest::newRow("misspelt literal") << QByteArray(R"("minPersistingTimeMillis": tru, "minPersistingTimeMillis": 5)")
                                      << false;
    QTest::newRow("numbers without commas") << QByteArray(R"("minPersistingTimeMillis": 1 2 3, "minPersistingTimeMillis": 5)")
                                            << false;
    QTest::newRow("no JSON at all") << QByteArray(R"("x": @@@ not json ### !!, "x": 0, "minPersistingTimeMillis": 5)")
                                    << false;
    QTest::newRow("broken repeat inside a repeat")
        << QByteArray(R"("x": {"y": [}, "y": 1}, "x": 0, "minPersistingTimeMillis": 5)") << false;
    QTest::newRow("sound repeat") << QByteArray(R"("minPersistingTimeMillis": [{"a":1,"a":2}], "minPersistingTimeMillis": 5)")
                                  << true;
}

// A frame Qt's own parser refuses is refused and never applied. Qt keeps
// the earlier of repeated values for good when it takes a frame, so it
// judges only the frames it refuses.
void TestZelvoJson::cutMembersAreChecked()
{
    QFETCH(QByteArray, members);
    QFETCH(bool, valid);

    const QByteArray frame = R"({"command.type":"zelvo_config",)" + members + R"(, "maxPersistingTimeMillis": 7})";
    QJsonParseError error;
    ZelvoJson::parse(frame, &error);
    QCOMPARE(error.error == QJsonParseError::NoError, valid);
    if (!valid) {
        QJsonParseError qtError;
        QJsonDocument::fromJson(frame, &qtError);
        QVERIFY(qtError.error != QJsonParseError::NoError);
    }

    ControlRig rig;
    TestAgent agent(rig.server.serverPort());
    QVERIFY(isReady(rig, {}, {&agent}));
    QSignalSpy configs(&rig.server, &ZelvoServer::zelvoConfigReceived);
    agent.sendFrame(frame);
    agent.sendFrame(R"({"command.type":"zelvo_config","minPersistingTimeMillis":1,"maxPersistingTimeMillis":2})");
    QTRY_COMPARE(configs.count(), valid ? 2 : 1);
    QCOMPARE(configs.first(), (QVariantList{valid ? 5 : 1, valid ? 7 : 2}));
}

void TestZelvoJson::repeatedKeysLeaveMemoryFlat_data()
{
    QTest::addColumn<bool>("control");
    QTest::newRow("agent port") << false;
    QTest::newRow("control port") << true;
}

// Each frame would keep 64 KiB for good if the earlier value leaked.
void TestZelvoJson::repeatedKeysLeaveMemoryFlat()
{
    QFETCH(bool, control);

    ControlRig rig;
    TestAgent agent(rig.server.serverPort());
    ControlClient client(rig.control.port());
    QVERIFY(isReady(rig, {&client}));
    QSignalSpy configs(&rig.server, &ZelvoServer::zelvoConfigReceived);
    const QByteArray repeated = R"("a":[")" + QByteArray(64 * 1024, 'A') + R"("],"a":1})";

    qint64 before = 0;
    for (int sent = 0; sent < 1000; sent += 50) {
        for (int i = 0; i < 50; ++i) {
            if (control)
                client.send(R"({"cmd":"state","id":0,)" + repeated + '\n');
            else
                agent.sendFrame(R"({"command.type":"zelvo_config",)" + repeated);
        }
        QTRY_COMPARE_WITH_TIMEOUT(control ? client.answers.size() : configs.count(), sent + 50, 20000);
        // The message record keeps received frames by design, within its
        // own budget; what must not stay is what the parser dropped.
        rig.services.recorder.get()->clear();
        if (sent == 0)
            before = residentKilobytes();
    }
    // Under AddressSanitizer freed memory waits in quarantine; LeakSanitizer
    // checks the same at exit instead.
#if !defined(__SANITIZE_ADDRESS__)
    QVERIFY2(residentKilobytes() - before < 16 * 1024, qPrintable(QString::number(residentKilobytes() - before)));
#endif
}

QTEST_MAIN(TestZelvoJson)
#include "tst_zelvojson.moc"
