#include "comm/ZelvoServer.h"

#include "LinkParts.h"
#include "TestAgent.h"
#include "ZelvoFrame.h"
#include "ZelvoFrameBudget.h"
#include "comm/ZelvoConnection.h"
#include "comm/ZelvoInboxBudget.h"
#include "comm/ZelvoSocket.h"
#include "record/ZelvoRecorder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QList>
#include <QNetworkInterface>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSignalSpy>
#include <QString>
#include <QStringList>
#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

namespace {

using Strings = QList<QString>;

QByteArray agentConfig(const QString& agentHash)
{
    return QStringLiteral(R"({"command.type": "agent_config", "appId": "%1"})").arg(agentHash).toUtf8();
}

// User and system CPU time that a process has used so far.
qint64 cpuMillis(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold spaces.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const qint64 ticks = fields.value(11).toLongLong() + fields.value(12).toLongLong();
    return ticks * 1000 / sysconf(_SC_CLK_TCK);
}

// Starts the limited server (run by program, when given, with the
// arguments before it) and returns its port; 0 when it did not start.
quint16 startLimitedServer(QProcess& server, const QString& program = {}, QStringList arguments = {})
{
    arguments << QStringLiteral(ZELVO_LIMITED_SERVER);
    server.start(program.isEmpty() ? arguments.takeLast() : program, arguments);
    if (!server.waitForStarted() || !QTest::qWaitFor([&] { return server.canReadLine(); }))
        return 0;
    return server.readLine().trimmed().toUShort();
}

// True when a new agent gets the limited server's answer to its configuration.
bool servesNewAgent(quint16 port)
{
    auto* own = new QTcpSocket;
    ZelvoSocket agent(own, nullptr);
    QSignalSpy replies(&agent, &ZelvoSocket::dataReceived);
    own->connectToHost(QHostAddress::LocalHost, port);
    return QTest::qWaitFor([&] { return own->state() == QAbstractSocket::ConnectedState; }, 30000)
           && agent.sendData(agentConfig(QStringLiteral("late"))) && replies.wait(30000)
           && replies.first().first().toByteArray() == "late";
}

} // namespace

// Stands in for the window, whose slots are connected by signature.
class SignatureReceiver final : public QObject
{
    Q_OBJECT

public:
    QList<QVariantList> calls;

public slots:
    void onZelvoConfig(int minPersistingTMillis, int maxPersistingTMillis)
    {
        calls << QVariantList{minPersistingTMillis, maxPersistingTMillis};
    }
    void onAgentConfig(const QString& agentHash, const QList<QString>& imagesArray)
    {
        calls << QVariantList{agentHash, QVariant::fromValue(imagesArray)};
    }
    void onAgentContent(const QString& agentHash, int contentId, const QString& layId,
                        const QList<QString>& imagesId, const QList<QString>& texts)
    {
        calls << QVariantList{agentHash, contentId, layId, QVariant::fromValue(imagesId),
                              QVariant::fromValue(texts)};
    }
};

class TestZelvoServer final : public QObject
{
    Q_OBJECT

private slots:
    void listensOnEveryInterface();
    void portInUse();
    void signatureConnections_data();
    void signatureConnections();
    void broadcastInOrderOfAcceptance();
    void connectionEnds_data();
    void connectionEnds();
    void clientDoneEndsBroadcasts();
    void manyAgentsComeAndGo();
    void outOfFileDescriptors();
    void headersAloneUnderAddressSpaceLimit();
    void agentThatReadsNothingIsClosed();
    void unreadEventsOfAllAgentsAreBounded();
    void strangersGoBeforeAnAgentWithinItsShare();
    void inboxesOfAllAgentsAreBounded();
    void burstLeavesOtherAgentsServed();
    void burstThenEnd_data();
    void burstThenEnd();

private:
    // Connects a new agent and waits until the server lists it.
    static bool connectAgent(ZelvoServer& server, std::vector<std::unique_ptr<TestAgent>>& agents);
};

bool TestZelvoServer::connectAgent(ZelvoServer& server, std::vector<std::unique_ptr<TestAgent>>& agents)
{
    const int before = server.connections().size();
    agents.push_back(std::make_unique<TestAgent>(server.serverPort()));
    return QTest::qWaitFor([&] { return server.connections().size() == before + 1; });
}

void TestZelvoServer::listensOnEveryInterface()
{
    ZelvoServer server;
    QVERIFY(server.start(QHostAddress::Any, 0));
    QVERIFY(server.isListening());

    QHostAddress outside;
    const QList<QHostAddress> addresses = QNetworkInterface::allAddresses();
    for (const QHostAddress& address : addresses) {
        if (!address.isLoopback() && address.protocol() == QAbstractSocket::IPv4Protocol)
            outside = address;
    }
    if (outside.isNull())
        QSKIP("This machine has no address besides loopback");
    QTcpSocket agent;
    agent.connectToHost(outside, server.serverPort());
    QTRY_COMPARE(server.connections().size(), 1);
}

void TestZelvoServer::portInUse()
{
    ZelvoServer first;
    QVERIFY(first.start(QHostAddress::LocalHost, 0));
    ZelvoServer second;
    QTest::ignoreMessage(QtDebugMsg,
                         "\033[94mZelvoServer::setup Server can't start. Check your port configuration\033[0m");
    QVERIFY(!second.start(QHostAddress::LocalHost, first.serverPort()));
    QVERIFY(!second.isListening());
}

void TestZelvoServer::signatureConnections_data()
{
    QTest::addColumn<Qt::ConnectionType>("type");
    QTest::newRow("direct") << Qt::DirectConnection;
    QTest::newRow("queued") << Qt::QueuedConnection;
}

void TestZelvoServer::signatureConnections()
{
    QFETCH(Qt::ConnectionType, type);

    ZelvoServer server;
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    SignatureReceiver window;
    QVERIFY(connect(&server, SIGNAL(zelvoConfigReceived(int, int)), &window, SLOT(onZelvoConfig(int, int)), type));
    QVERIFY(connect(&server, SIGNAL(agentConfigReceived(QString, QList<QString>)), &window,
                    SLOT(onAgentConfig(QString, QList<QString>)), type));
    QVERIFY(connect(&server, SIGNAL(agentContentReceived(QString, int, QString, QList<QString>, QList<QString>)),
                    &window, SLOT(onAgentContent(QString, int, QString, QList<QString>, QList<QString>)), type));

    TestAgent agent(server.serverPort());
    QTRY_VERIFY(agent.isConnected());
    agent.sendFrame(R"({"command.type": "zelvo_config", "minPersistingTimeMillis": 100,
                        "maxPersistingTimeMillis": 200})");
    agent.sendFrame(R"({"command.type": "agent_config", "appId": "a1", "images": ["WkkBAA=="]})");
    agent.sendFrame(R"({"command.type": "agent_content", "appId": "a1", "layoutId": "4", "contentId": 9,
                        "images.id": ["0"], "texts": ["x", "y"]})");
    QTRY_COMPARE(window.calls.size(), 3);
    QCOMPARE(window.calls.at(0), (QVariantList{100, 200}));
    QCOMPARE(window.calls.at(1).at(0).toString(), QString("a1"));
    QCOMPARE(window.calls.at(1).at(1).value<Strings>(), Strings{"WkkBAA=="});
    QCOMPARE(window.calls.at(2).mid(0, 3), (QVariantList{"a1", 9, "4"}));
    QCOMPARE(window.calls.at(2).at(3).value<Strings>(), Strings{"0"});
    QCOMPARE(window.calls.at(2).at(4).value<Strings>(), (Strings{"x", "y"}));
}

void TestZelvoServer::broadcastInOrderOfAcceptance()
{
    ZelvoServer server;
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    std::vector<std::unique_ptr<TestAgent>> agents;
    QVERIFY(connectAgent(server, agents));
    QVERIFY(connectAgent(server, agents));

    QList<quint16> written;
    for (ZelvoConnection* connection : server.connections()) {
        QTcpSocket* socket = connection->socket()->socket();
        connect(socket, &QIODevice::bytesWritten, this, [&written, socket] { written << socket->peerPort(); });
    }
    const QByteArray event = R"({"type": 4, "values": [1, 0, 0, 0]})";
    server.sendMessageToClients(event);
    QCOMPARE(written, (QList<quint16>{agents.at(0)->socket.localPort(), agents.at(1)->socket.localPort()}));

    const QByteArray frame = QByteArray::fromHex("00000023") + event;
    for (const auto& agent : agents) {
        QTRY_COMPARE(agent->socket.bytesAvailable(), qint64(frame.size()));
        QCOMPARE(agent->socket.readAll(), frame);
    }
}

void TestZelvoServer::connectionEnds_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("orderly close") << QStringLiteral("close");
    QTest::newRow("reset") << QStringLiteral("reset");
    QTest::newRow("write failure in a broadcast") << QStringLiteral("write failure");
    QTest::newRow("server destroyed") << QStringLiteral("server destroyed");
}

// Walks every way a connection ends (see ZelvoConnection), with each agent
// in the middle of a frame, so that its end also gives memory back.
void TestZelvoServer::connectionEnds()
{
    QFETCH(QString, how);

    auto server = std::make_unique<ZelvoServer>();
    QVERIFY(server->start(QHostAddress::LocalHost, 0));
    QSignalSpy configs(server.get(), &ZelvoServer::agentConfigReceived);
    std::vector<std::unique_ptr<TestAgent>> agents;
    for (int i = 0; i < 3; ++i)
        QVERIFY(connectAgent(*server, agents));
    for (const auto& agent : agents)
        agent->send(ZelvoFrame::encode(agentConfig(QStringLiteral("a"))) + QByteArray::fromHex("00001000") + "half");
    QTRY_COMPARE(configs.size(), 3);

    QList<QPointer<ZelvoConnection>> all;
    for (ZelvoConnection* connection : server->connections())
        all << connection;
    const QPointer<ZelvoConnection> leaving = all.first();
    const QList<ZelvoConnection*> staying = server->connections().mid(1);
    QSignalSpy disconnected(leaving.data(), &ZelvoConnection::disconnected);

    if (how == QLatin1String("server destroyed")) {
        server.reset();
        for (const QPointer<ZelvoConnection>& connection : qAsConst(all))
            QVERIFY(connection.isNull());
        for (const auto& agent : agents)
            QTRY_COMPARE(agent->socket.state(), QAbstractSocket::UnconnectedState);
        return;
    }

    int broadcasts = 0;
    if (how == QLatin1String("close")) {
        agents.front()->close();
    } else {
        agents.front()->reset();
    }
    if (how == QLatin1String("write failure")) {
        // The server learns of the reset only when it writes: its first
        // connection ends in the middle of the broadcast.
        server->sendMessageToClients("event");
        ++broadcasts;
        QCOMPARE(server->connections(), staying);
    }
    QTRY_VERIFY(leaving.isNull());
    QCOMPARE(disconnected.size(), 1);
    QCOMPARE(server->connections(), staying);

    server->sendMessageToClients("event");
    ++broadcasts;
    for (std::size_t i = 1; i < agents.size(); ++i)
        QTRY_COMPARE(agents.at(i)->socket.bytesAvailable(), qint64(broadcasts * (4 + 5)));
}

void TestZelvoServer::clientDoneEndsBroadcasts()
{
    ZelvoServer server;
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    std::vector<std::unique_ptr<TestAgent>> agents;
    QVERIFY(connectAgent(server, agents));
    QVERIFY(connectAgent(server, agents));
    const QPointer<ZelvoConnection> done = server.connections().first();

    server.clientDone(done);
    QCOMPARE(server.connections().size(), 1);
    server.sendMessageToClients("event");
    QTRY_COMPARE(agents.back()->socket.bytesAvailable(), qint64(4 + 5));
    // Had the broadcast reached it, its bytes would have come first.
    QVERIFY(!agents.front()->socket.waitForReadyRead(200));

    agents.front()->close();
    QTRY_VERIFY(done.isNull());
}

void TestZelvoServer::manyAgentsComeAndGo()
{
    // Four ways to leave, in every round: a frame then the orderly close at
    // once; a frame, later a reset; half a frame then the orderly close; half
    // a frame, later a reset.
    const QByteArray whole = ZelvoFrame::encode(agentConfig(QStringLiteral("agent")));
    const QByteArray half = whole.left(whole.size() / 2);
    int created = 0;
    int destroyed = 0;
    std::vector<std::unique_ptr<TestAgent>> stayers;
    {
        ZelvoServer server;
        QVERIFY(server.start(QHostAddress::LocalHost, 0));
        QSignalSpy configs(&server, &ZelvoServer::agentConfigReceived);
        connect(&server, &QTcpServer::newConnection, this, [&] {
            ++created;
            connect(server.connections().last(), &QObject::destroyed, this, [&destroyed] { ++destroyed; });
        });

        for (int round = 1; round <= 10; ++round) {
            std::vector<std::unique_ptr<TestAgent>> agents;
            for (int i = 0; i < 20; ++i)
                agents.push_back(std::make_unique<TestAgent>(server.serverPort()));
            QTRY_COMPARE(server.connections().size(), 20);
            for (std::size_t i = 0; i < agents.size(); ++i) {
                TestAgent& agent = *agents.at(i);
                agent.send(i % 4 < 2 ? whole : half);
                if (i % 2 == 0)
                    agent.close();
            }
            QTRY_COMPARE(configs.size(), round * 10);
            for (std::size_t i = 1; i < agents.size(); i += 2)
                agents.at(i)->reset();
            // Most resets are met by this write rather than by a read.
            server.sendMessageToClients("bye");
            QTRY_VERIFY(server.connections().isEmpty());
        }

        for (int i = 0; i < 20; ++i)
            stayers.push_back(std::make_unique<TestAgent>(server.serverPort()));
        QTRY_COMPARE(server.connections().size(), 20);
    }
    QCOMPARE(created, 220);
    QCOMPARE(destroyed, created);
    for (const auto& agent : stayers)
        QTRY_COMPARE(agent->socket.state(), QAbstractSocket::UnconnectedState);
}

void TestZelvoServer::outOfFileDescriptors()
{
    QProcess server;
    const quint16 port = startLimitedServer(server);
    QVERIFY(port != 0);

    const QByteArray pauseLine = "ZelvoServer::acceptAgents CANNOT ACCEPT AGENTS";
    QByteArray log;
    const auto pauses = [&] {
        log += server.readAllStandardError();
        return log.count(pauseLine);
    };

    std::vector<std::unique_ptr<TestAgent>> crowd;
    for (int i = 0; i < 200; ++i)
        crowd.push_back(std::make_unique<TestAgent>(port));
    QTRY_COMPARE_WITH_TIMEOUT(pauses(), 1, 20000);

    // A server that spins on failing accepts burns a whole core meanwhile.
    const qint64 cpuBefore = cpuMillis(server.processId());
    QElapsedTimer clock;
    clock.start();
    // Real time on purpose: the other process's CPU over a span of it.
    QTest::qWait(500);
    const qint64 cpu = cpuMillis(server.processId()) - cpuBefore;
    QVERIFY2(cpu < clock.elapsed() / 5, qPrintable(QStringLiteral("%1 ms CPU in %2 ms").arg(cpu).arg(clock.elapsed())));
    QCOMPARE(pauses(), 1);

    crowd.clear();
    QVERIFY(servesNewAgent(port));

    server.closeWriteChannel();
    QVERIFY(server.waitForFinished(30000));
    pauses();
    QVERIFY2(server.exitStatus() == QProcess::NormalExit && server.exitCode() == 0, log.right(2000).constData());
}

void TestZelvoServer::headersAloneUnderAddressSpaceLimit()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    QSKIP("A sanitizer's shadow memory does not fit under an address-space limit");
#endif
    // Room for the server, not for the 2.5 GiB that the headers announce.
    QProcess server;
    const quint16 port = startLimitedServer(server, QStringLiteral("prlimit"),
                                            {QStringLiteral("--as=%1").arg(512 << 20), QStringLiteral("--")});
    QVERIFY(port != 0);
    std::vector<std::unique_ptr<TestAgent>> crowd;
    for (int i = 0; i < 40; ++i) {
        crowd.push_back(std::make_unique<TestAgent>(port));
        QVERIFY(crowd.back()->socket.waitForConnected(5000));
        crowd.back()->send(QByteArray::fromHex("04000000"));
    }
    QVERIFY(servesNewAgent(port));
    server.closeWriteChannel();
    QVERIFY(server.waitForFinished(30000) && server.exitStatus() == QProcess::NormalExit && server.exitCode() == 0);
}

void TestZelvoServer::agentThatReadsNothingIsClosed()
{
    LinkParts parts;
    ZelvoServer server(&parts.clock, &parts.recorder, &parts.pictures);
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    std::vector<std::unique_ptr<TestAgent>> agents;
    QVERIFY(connectAgent(server, agents));
    QVERIFY(connectAgent(server, agents));
    // Takes one byte off the network and leaves the rest in the kernel.
    agents.front()->socket.setReadBufferSize(1);
    const QPointer<ZelvoConnection> idle = server.connections().first();
    QTcpSocket& reader = agents.back()->socket;

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("AGENT READS NOTHING")));
    const QByteArray event(64 * 1024, 'e');
    qint64 sent = 0;
    qint64 received = 0;
    // Far more than the kernel's buffers and the bound together.
    for (int i = 0; i < 2000 && server.connections().size() == 2; ++i, sent += 4 + event.size()) {
        server.sendMessageToClients(event);
        QCoreApplication::processEvents();
        received += reader.readAll().size();
    }
    QTRY_VERIFY(idle.isNull());
    QCOMPARE(server.connections().size(), 1);
    QTRY_COMPARE(received += reader.readAll().size(), sent);
    // The record says why, not only the log.
    QStringList closed;
    for (int i = 0; i < parts.recorder.size(); ++i) {
        if (parts.recorder.at(i).kind == ZelvoRecord::Kind::ConnectionClosed)
            closed << parts.recorder.at(i).toJson().value("reason").toString();
    }
    QCOMPARE(closed, QStringList{"events_unread"});
}

// Agents that each stay within their own bound of unread events, and
// together pass the bound of all: those with the most are closed, and an
// agent that reads is served on.
void TestZelvoServer::unreadEventsOfAllAgentsAreBounded()
{
    LinkParts parts;
    ZelvoServer server(&parts.clock, &parts.recorder, &parts.pictures);
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    std::vector<std::unique_ptr<TestAgent>> agents;
    QVERIFY(connectAgent(server, agents));
    QTcpSocket& reader = agents.back()->socket;
    // Past the bound of all at two thirds of their own.
    const int idle = int(ZelvoServer::maxUnsentEventBytes * 3 / (ZelvoFrame::maxUnsentSize * 2)) + 1;
    for (int i = 0; i < idle; ++i) {
        QVERIFY(connectAgent(server, agents));
        agents.back()->socket.setReadBufferSize(1);
    }
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("AGENTS READ NOTHING OF")));
    const QByteArray event(64 * 1024, 'e');
    qint64 sent = 0;
    qint64 received = 0;
    for (int i = 0; i < 2000 && server.connections().size() == idle + 1; ++i, sent += 4 + event.size()) {
        server.sendMessageToClients(event);
        QCoreApplication::processEvents();
        received += reader.readAll().size();
    }
    QTRY_VERIFY(server.connections().size() <= idle);
    QTRY_COMPARE(received += reader.readAll().size(), sent);
    QStringList closed;
    for (int i = 0; i < parts.recorder.size(); ++i) {
        if (parts.recorder.at(i).kind == ZelvoRecord::Kind::ConnectionClosed)
            closed << parts.recorder.at(i).toJson().value("reason").toString();
    }
    QVERIFY(!closed.isEmpty());
    QCOMPARE(closed.count("events_unread"), closed.size());
}

// An agent that stopped reading, behind more than the strangers around it
// and within its own share: past the bound of all, the strangers who never
// sent a message go, and it stays.
void TestZelvoServer::strangersGoBeforeAnAgentWithinItsShare()
{
    LinkParts parts;
    ZelvoServer server(&parts.clock, &parts.recorder, &parts.pictures);
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    TestAgent agent(server);
    QVERIFY(agent.waitForConnected());
    QVERIFY(agent.setPersistingTimes(500, 5000));
    agent.socket.setReadBufferSize(1);
    const QPointer<ZelvoConnection> slow = server.connections().first();
    std::vector<std::unique_ptr<TestAgent>> strangers;
    const int crowd = int(ZelvoServer::maxUnsentEventBytes / (ZelvoFrame::maxUnsentSize / 2)) + 2;
    for (int i = 0; i < crowd; ++i) {
        QVERIFY(connectAgent(server, strangers));
        strangers.back()->socket.setReadBufferSize(1);
    }
    const QByteArray event(64 * 1024, 'e');
    const auto mostUnsent = [&server](bool least) {
        qint64 found = least ? ZelvoFrame::maxUnsentSize : 0;
        for (ZelvoConnection* connection : server.connections())
            found = least ? qMin(found, connection->unsentBytes()) : qMax(found, connection->unsentBytes());
        return found;
    };
    // The kernel's buffers full everywhere, then the agent furthest behind.
    while (mostUnsent(true) == 0) {
        server.sendMessageToClients(event);
        QCoreApplication::processEvents();
    }
    const qint64 lead = mostUnsent(false) + ZelvoFrame::maxUnsentSize / 8;
    while (slow->unsentBytes() < lead)
        slow->sendData(event);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("AGENTS READ NOTHING OF")));
    while (server.connections().size() == crowd + 1 && slow->unsentBytes() < ZelvoFrame::maxUnsentSize * 7 / 8) {
        server.sendMessageToClients(event);
        QCoreApplication::processEvents();
    }
    QVERIFY2(server.connections().size() <= crowd, "the bound of all agents was never reached");
    QVERIFY(!slow.isNull() && server.connections().contains(slow.data()));
    QStringList closed;
    for (int i = 0; i < parts.recorder.size(); ++i) {
        const ZelvoRecord& record = parts.recorder.at(i);
        if (record.kind == ZelvoRecord::Kind::ConnectionClosed)
            closed << record.toJson().value("reason").toString();
    }
    QVERIFY(!closed.isEmpty());
    QCOMPARE(closed.count("events_unread"), closed.size());
}

// Agents that each send large frames while no picture is stored: their
// inboxes together stay within the bound, each frame counted whole before
// it is read, nobody closed; once pictures are stored again every frame takes effect, in order.
void TestZelvoServer::inboxesOfAllAgentsAreBounded()
{
    constexpr int agentCount = 4;
    constexpr int framesEach = 3;
    constexpr qint64 frameBytes = 8 * 1024 * 1024;
    constexpr qint64 counted = frameBytes * ZelvoInboxBudget::decodedFactor;
    LinkParts parts;
    ZelvoServer server(&parts.clock, &parts.recorder, &parts.pictures);
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    ZelvoInboxBudget& budget = *server.inboxBudget();
    budget.setLimit(counted / 2);
    QSemaphore storeHeld;
    QThreadPool* store = parts.pictures.pool();
    for (int i = 0; i < store->maxThreadCount(); ++i)
        store->start([&storeHeld] { storeHeld.acquire(); });
    Strings applied;
    connect(&server, &ZelvoServer::agentConfigReceived, this, [&](const QString& agentHash) { applied << agentHash; });

    std::vector<std::unique_ptr<TestAgent>> agents;
    Strings expected;
    for (int a = 0; a < agentCount; ++a) {
        QVERIFY(connectAgent(server, agents));
        for (int f = 0; f < framesEach; ++f) {
            const QString hash = QStringLiteral("agent%1-%2").arg(a).arg(f);
            expected << hash;
            const QByteArray head = R"({"command.type": "agent_config", "appId": ")" + hash.toUtf8() + R"(", "images": [")";
            agents.back()->sendFrame(head + QByteArray(int(frameBytes - head.size() - 3), 'A') + R"("]})");
        }
    }
    // Megabytes through loopback: longer than five seconds under the
    // sanitizers on a busy machine.
    QTRY_VERIFY_WITH_TIMEOUT(budget.held() >= budget.limit(), 60000);
    for (int turn = 0; turn < 50; ++turn)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    // A frame larger than the bound is read alone; the others wait with no
    // byte of their payload read.
    QVERIFY2(budget.peak() <= qMax(budget.limit(), counted), qPrintable(QString::number(budget.peak())));
    QCOMPARE(server.frameBudget()->held(), 0);
    QVERIFY(applied.isEmpty());

    storeHeld.release(store->maxThreadCount());
    QTRY_COMPARE_WITH_TIMEOUT(applied.size(), expected.size(), 60000);
    for (int a = 0; a < agentCount; ++a) {
        const QString agent = QStringLiteral("agent%1-").arg(a);
        QCOMPARE(applied.filter(agent), expected.filter(agent));
    }
    QCOMPARE(server.connections().size(), agentCount);
    QTRY_COMPARE_WITH_TIMEOUT(budget.held(), 0, 60000);
    for (int i = 0; i < parts.recorder.size(); ++i)
        QVERIFY(parts.recorder.at(i).kind != ZelvoRecord::Kind::ConnectionClosed);
}

void TestZelvoServer::burstLeavesOtherAgentsServed()
{
    ZelvoServer server;
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    std::vector<std::unique_ptr<TestAgent>> agents;
    QVERIFY(connectAgent(server, agents));
    QVERIFY(connectAgent(server, agents));
    // The other agent writes while the burst is being handled: the emulator
    // sees its frame only if it goes back to the event loop in between.
    Strings order;
    connect(&server, &ZelvoServer::agentConfigReceived, this, [&](const QString& agentHash) {
        if (order.isEmpty())
            agents.back()->sendFrame(agentConfig(QStringLiteral("other")));
        order << agentHash;
    });
    Strings burst;
    QByteArray frames;
    for (int i = 0; i < 1000; ++i)
        frames += ZelvoFrame::encode(agentConfig(*burst.insert(burst.end(), QString::number(i))));
    agents.front()->send(frames);

    QTRY_COMPARE(order.size(), burst.size() + 1);
    QVERIFY2(order.indexOf(QStringLiteral("other")) < burst.size(), "the other agent waited for the burst");
    order.removeOne(QStringLiteral("other"));
    QCOMPARE(order, burst);
}

void TestZelvoServer::burstThenEnd_data()
{
    QTest::addColumn<bool>("halfClose");
    QTest::newRow("close") << false;
    QTest::newRow("shutdown(SHUT_WR), read until the emulator closes") << true;
}

// An agent that sends many frames and ends at once has every one of them
// handled, in order, however many turns of the event loop they take after
// its end was read; told the end by a half close, the emulator closes too.
void TestZelvoServer::burstThenEnd()
{
    QFETCH(bool, halfClose);

    ZelvoServer server;
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    std::vector<std::unique_ptr<TestAgent>> agents;
    QVERIFY(connectAgent(server, agents));
    QList<int> order;
    connect(&server, &ZelvoServer::agentContentReceived, this, [&](const QString&, int contentId) { order << contentId; });
    QList<int> burst;
    QByteArray frames;
    for (int i = 0; i < 1000; ++i) {
        burst << i;
        frames += ZelvoFrame::encode(
            QStringLiteral(R"({"command.type": "agent_content", "appId": "a", "contentId": %1, "layoutId": "0"})")
                .arg(i)
                .toUtf8());
    }
    TestAgent& agent = *agents.front();
    agent.send(frames);
    if (halfClose) {
        while (agent.socket.bytesToWrite() > 0)
            QVERIFY(agent.socket.waitForBytesWritten());
        QCOMPARE(::shutdown(int(agent.socket.socketDescriptor()), SHUT_WR), 0);
        QTRY_COMPARE(agent.socket.state(), QAbstractSocket::UnconnectedState);
    } else {
        agent.close();
    }
    QTRY_COMPARE(order.size(), burst.size());
    QCOMPARE(order, burst);
    QTRY_VERIFY(server.connections().isEmpty());
}

QTEST_GUILESS_MAIN(TestZelvoServer)
#include "tst_zelvoserver.moc"
