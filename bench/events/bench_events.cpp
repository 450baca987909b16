// One button event broadcast to 1 ... 500 agents on loopback, timed until the
// last agent has read it, beside its floor: the same frame written straight
// to the same server-side sockets. scripts/bench prints both with their
// ratio; the broadcast may take at most twice its floor, at every size.

#include "comm/ZelvoConnection.h"
#include "ui/ZelvoEmulator.h"
#include "model/ZelvoEvent.h"
#include "ZelvoVocabulary.h"
#include "comm/ZelvoServer.h"
#include "services/ZelvoServices.h"
#include "comm/ZelvoSocket.h"

#include <QApplication>
#include <QByteArray>
#include <QEventLoop>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QTcpSocket>
#include <QtEndian>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

const int agentCounts[] = {1, 10, 100, 500};

// The emulator with its agents, kept while both benchmarks of one size run,
// so that broadcast and floor write to the very same sockets.
class Rig final
{
public:
    explicit Rig(int agentCount)
    {
        server.start(QHostAddress::LocalHost, 0);
        window = std::make_unique<ZelvoEmulator>(&server, services, nullptr);
        // A few at a time, so that no connection waits in a full listen backlog.
        const int batch = 25;
        for (int first = 0; first < agentCount; first += batch) {
            for (int i = first; i < std::min(first + batch, agentCount); ++i)
                addAgent();
            waitFor([&] { return server.connections().size() == int(agents.size()); });
        }
        for (ZelvoConnection* connection : server.connections())
            serverSockets.append(connection->socket()->socket());

        frame = firstFrame();
    }

    void broadcast()
    {
        expectFrameOf(frame.size());
        window->dispatchSensorEvent(buttonEvent(), QStringLiteral("abc"), 7);
        waitFor([&] { return behind == 0; });
    }

    void writeDirectly()
    {
        expectFrameOf(frame.size());
        for (QTcpSocket* socket : serverSockets) {
            socket->write(frame);
            socket->flush();
        }
        waitFor([&] { return behind == 0; });
    }

    int agentCount() const { return int(agents.size()); }

private:
    struct Agent
    {
        QTcpSocket socket;
        qint64 received = 0;
        bool keepBytes = false;
        QByteArray bytes;
    };

    static ZelvoEvent buttonEvent()
    {
        ZelvoEvent event(ZelvoVocabulary::ButtonEvent);
        event.values[0] = 1.0f;
        event.values[1] = 2.0f;
        return event;
    }

    template<typename Condition>
    static void waitFor(Condition done)
    {
        while (!done())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }

    void addAgent()
    {
        agents.push_back(std::make_unique<Agent>());
        Agent* agent = agents.back().get();
        QObject::connect(&agent->socket, &QTcpSocket::readyRead, &agent->socket, [this, agent] {
            const qint64 before = agent->received;
            char buffer[4096];
            qint64 count = 0;
            while ((count = agent->socket.read(buffer, sizeof buffer)) > 0) {
                agent->received += count;
                if (agent->keepBytes)
                    agent->bytes.append(buffer, int(count));
            }
            if (before < target && agent->received >= target)
                --behind;
        });
        agent->socket.connectToHost(QHostAddress::LocalHost, server.serverPort());
    }

    // The bytes of one button event as the first agent reads them, once
    // every agent has read them.
    QByteArray firstFrame()
    {
        Agent& first = *agents.front();
        first.keepBytes = true;
        window->dispatchSensorEvent(buttonEvent(), QStringLiteral("abc"), 7);
        waitFor([&] {
            return first.bytes.size() >= 4
                && first.bytes.size() >= 4 + qint64(qFromBigEndian<quint32>(first.bytes.constData()));
        });
        first.keepBytes = false;
        target = first.bytes.size();
        waitFor([&] {
            return std::all_of(agents.cbegin(), agents.cend(),
                               [&](const std::unique_ptr<Agent>& agent) { return agent->received >= target; });
        });
        return first.bytes;
    }

    void expectFrameOf(qint64 size)
    {
        target += size;
        behind = int(agents.size());
    }

    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    std::unique_ptr<ZelvoEmulator> window;
    std::vector<std::unique_ptr<Agent>> agents;
    QList<QTcpSocket*> serverSockets;
    QByteArray frame;
    qint64 target = 0;
    int behind = 0;
};

// Holds one rig at a time, so that both benchmarks of one size share it.
// main owns it: the window and its sockets must go before the QApplication.
class Rigs final
{
public:
    Rig& rigFor(int agentCount)
    {
        if (!rig || rig->agentCount() != agentCount) {
            rig.reset();
            rig = std::make_unique<Rig>(agentCount);
        }
        return *rig;
    }

private:
    std::unique_ptr<Rig> rig;
};

void BM_Broadcast(benchmark::State& state, Rigs* rigs)
{
    Rig& rig = rigs->rigFor(int(state.range(0)));
    for (auto _ : state)
        rig.broadcast();
}

void BM_Floor(benchmark::State& state, Rigs* rigs)
{
    Rig& rig = rigs->rigFor(int(state.range(0)));
    for (auto _ : state)
        rig.writeDirectly();
}

void registerBenchmarks(Rigs* rigs)
{
    for (int agents : agentCounts) {
        benchmark::RegisterBenchmark("Broadcast", BM_Broadcast, rigs)->Arg(agents)->UseRealTime()
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("Floor", BM_Floor, rigs)->Arg(agents)->UseRealTime()
            ->Unit(benchmark::kMicrosecond);
    }
}

void raiseOpenFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

int main(int argc, char** argv)
{
    raiseOpenFileLimit();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QApplication application(argc, argv);

    benchmark::Initialize(&argc, argv);
    Rigs rigs;
    registerBenchmarks(&rigs);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
