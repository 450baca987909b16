#include "comm/ZelvoSocket.h"

#include "../zelvo_protocol/HandFrames.h"
#include "TestAgent.h"
#include "clock/ZelvoClock.h"
#include "ZelvoAction.h"

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>
#include <QList>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

using HandFrames::frame;
using HandFrames::header;
using HandFrames::split;

QList<QByteArray> payloads(const QSignalSpy& spy)
{
    QList<QByteArray> received;
    for (const QList<QVariant>& arguments : spy)
        received << arguments.at(0).toByteArray();
    return received;
}

// Counts the log lines containing a text while it lives; the lines still
// reach the previous handler.
class LogCounter final
{
public:
    explicit LogCounter(const QString& text)
        : text(text)
    {
        instance = this;
        previous = qInstallMessageHandler(&LogCounter::handle);
    }
    ~LogCounter()
    {
        qInstallMessageHandler(previous);
        instance = nullptr;
    }
    Q_DISABLE_COPY_MOVE(LogCounter)

    int count() const { return hits; }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        if (message.contains(instance->text))
            ++instance->hits;
        instance->previous(type, context, message);
    }

    static inline LogCounter* instance = nullptr;
    QString text;
    QtMessageHandler previous = nullptr;
    int hits = 0;
};

} // namespace

class TestZelvoSocket final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void framing_data();
    void framing();
    void sendData_data();
    void sendData();
    void sendDataWithoutSocket();
    void sendCommand();
    void pollTimerStartsWithFirstSend();
    void disconnectedOnce_data();
    void disconnectedOnce();
    void agentSide_data();
    void agentSide();

private:
    quint16 port() const { return listener->serverPort(); }
    // Waits for the agent's connection and returns the emulator's end of it.
    QTcpSocket* accept(QTcpSocket& agentSocket);

    std::unique_ptr<QTcpServer> listener;
};

void TestZelvoSocket::init()
{
    listener = std::make_unique<QTcpServer>();
    QVERIFY(listener->listen(QHostAddress::LocalHost, 0));
}

void TestZelvoSocket::cleanup()
{
    listener.reset();
}

QTcpSocket* TestZelvoSocket::accept(QTcpSocket& agentSocket)
{
    if (!agentSocket.waitForConnected(5000) || !listener->waitForNewConnection(5000))
        return nullptr;
    return listener->nextPendingConnection();
}

void TestZelvoSocket::framing_data()
{
    QTest::addColumn<QList<QByteArray>>("writes");
    // How many payloads are out after each write.
    QTest::addColumn<QList<int>>("counts");
    QTest::addColumn<QList<QByteArray>>("expected");

    // The cases of the framing itself are the reader's; these show that
    // the socket hands on every frame in the read that completes it.
    const QByteArray action = "{\"command.type\": \"zelvo_config\"}";
    const QByteArray whole = frame(action);
    QList<int> oneByOne = QVector<int>(whole.size() - 1, 0).toList();
    oneByOne << 1;
    QTest::newRow("one byte at a time") << split(whole, 1) << oneByOne << QList<QByteArray>{action};
    QTest::newRow("two frames and a half, then the rest")
        << QList<QByteArray>{frame("one") + frame("two") + frame("three").left(6), frame("three").mid(6)}
        << QList<int>{2, 3} << QList<QByteArray>{"one", "two", "three"};
}

void TestZelvoSocket::framing()
{
    QFETCH(QList<QByteArray>, writes);
    QFETCH(QList<int>, counts);
    QFETCH(QList<QByteArray>, expected);

    TestAgent agent(port());
    QTcpSocket* accepted = accept(agent.socket);
    QVERIFY(accepted);
    ZelvoSocket framing(accepted, nullptr);
    QSignalSpy delivered(&framing, &ZelvoSocket::dataReceived);
    int reads = 0;
    connect(accepted, &QIODevice::readyRead, &framing, [&reads] { ++reads; });

    for (int i = 0; i < writes.size(); ++i) {
        const int before = reads;
        agent.send(writes.at(i));
        QTRY_VERIFY(reads > before);
        // Checked in the read that brought the write: no frame waits for
        // more input or for the poll timer.
        QCOMPARE(delivered.size(), counts.at(i));
    }
    QCOMPARE(payloads(delivered), expected);
}

void TestZelvoSocket::sendData_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("written");

    const QByteArray text(300, 'q');
    QTest::newRow("empty") << QByteArray() << QByteArray::fromHex("00000000");
    QTest::newRow("300 bytes") << text << QByteArray::fromHex("0000012c") + text;
    QTest::newRow("70000 bytes") << QByteArray(70000, '\x80') << QByteArray::fromHex("00011170") + QByteArray(70000, '\x80');
}

void TestZelvoSocket::sendData()
{
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, written);

    TestAgent agent(port());
    QTcpSocket* accepted = accept(agent.socket);
    QVERIFY(accepted);
    ZelvoSocket framing(accepted, nullptr);
    QVERIFY(framing.sendData(payload));
    QTRY_COMPARE(agent.socket.bytesAvailable(), qint64(written.size()));
    QCOMPARE(agent.socket.readAll(), written);
}

void TestZelvoSocket::sendDataWithoutSocket()
{
    ZelvoSocket framing(nullptr, nullptr);
    QTest::ignoreMessage(QtDebugMsg, "ZelvoSocket::sendData Null Socket return");
    QVERIFY(!framing.sendData("lost"));
}

void TestZelvoSocket::sendCommand()
{
    TestAgent agent(port());
    QTcpSocket* accepted = accept(agent.socket);
    QVERIFY(accepted);
    ZelvoSocket framing(accepted, nullptr);
    const ZelvoAction action(QVariantMap{{"command.type", commandAgentContent}, {"contentId", 3.0},
                                         {"texts", QVariantList{"a", "b"}}});
    QVERIFY(framing.sendCommand(action));

    const QByteArray binary = action.toBinary();
    QTRY_COMPARE(agent.socket.bytesAvailable(), qint64(4 + binary.size()));
    QDataStream stream(agent.socket.readAll());
    quint32 length = 0;
    stream >> length;
    QCOMPARE(length, quint32(binary.size()));
    ZelvoAction read;
    QCOMPARE(read.deserialize(stream), 3);
    QCOMPARE(read, action);
}

void TestZelvoSocket::pollTimerStartsWithFirstSend()
{
    TestAgent agent(port());
    QTcpSocket* accepted = accept(agent.socket);
    QVERIFY(accepted);
    LogCounter polls(QStringLiteral("pollAvailable Available"));
    ZelvoClock clock(ZelvoClock::Mode::Manual);
    ZelvoSocket framing(accepted, nullptr, &clock);
    QVERIFY(clock.advance(2500));
    QCOMPARE(polls.count(), 0);
    QVERIFY(framing.sendData("ping"));
    QVERIFY(clock.advance(1999));
    QCOMPARE(polls.count(), 0);
    // Nothing waits to be read, so the first tick also ends the polling.
    QVERIFY(clock.advance(1));
    QCOMPARE(polls.count(), 1);
    QVERIFY(clock.advance(4000));
    QCOMPARE(polls.count(), 1);
}

void TestZelvoSocket::disconnectedOnce_data()
{
    QTest::addColumn<bool>("reset");
    QTest::newRow("orderly close") << false;
    QTest::newRow("reset") << true;
}

void TestZelvoSocket::disconnectedOnce()
{
    QFETCH(bool, reset);

    TestAgent agent(port());
    QTcpSocket* accepted = accept(agent.socket);
    QVERIFY(accepted);
    ZelvoSocket framing(accepted, nullptr);
    QSignalSpy disconnected(&framing, &ZelvoSocket::disconnected);
    agent.send(frame("last words"));
    if (reset)
        agent.reset();
    else
        agent.close();
    QTRY_COMPARE(accepted->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(disconnected.size(), 1);
}

void TestZelvoSocket::agentSide_data()
{
    QTest::addColumn<bool>("readBeforeWrapping");
    QTest::newRow("frames after wrapping") << false;
    QTest::newRow("frames read before wrapping") << true;
}

void TestZelvoSocket::agentSide()
{
    QFETCH(bool, readBeforeWrapping);

    // The agent's own socket in a framing socket without a connection, the
    // way a command-line agent uses it.
    auto* own = new QTcpSocket;
    own->connectToHost(QHostAddress::LocalHost, port());
    QTcpSocket* emulatorEnd = accept(*own);
    QVERIFY(emulatorEnd);
    emulatorEnd->write(frame("event 1") + frame("event 2"));
    emulatorEnd->flush();
    if (readBeforeWrapping)
        QTRY_COMPARE(own->bytesAvailable(), qint64(2 * (4 + 7)));

    ZelvoSocket framing(own, nullptr);
    QSignalSpy received(&framing, &ZelvoSocket::dataReceived);
    QSignalSpy disconnected(&framing, &ZelvoSocket::disconnected);
    QTRY_COMPARE(payloads(received), (QList<QByteArray>{"event 1", "event 2"}));

    QVERIFY(framing.sendData("reply"));
    QTRY_COMPARE(emulatorEnd->bytesAvailable(), qint64(4 + 5));
    QCOMPARE(emulatorEnd->readAll(), frame("reply"));

    emulatorEnd->disconnectFromHost();
    QTRY_COMPARE(own->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(disconnected.size(), 1);
}

QTEST_GUILESS_MAIN(TestZelvoSocket)
#include "tst_zelvosocket.moc"
