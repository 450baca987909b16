// One button event broadcast to 1 ... 500 agents on loopback, timed until the
// last agent has read it, beside its floor: the same frame written straight
// to the same server-side sockets. The summary prints both with their ratio,
// the costs per agent and the target ratio.

#include "comm/ZelvoConnection.h"
#include "ui/ZelvoEmulator.h"
#include "model/ZelvoEvent.h"
#include "comm/ZelvoServer.h"
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
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

const int agentCounts[] = {1, 10, 100, 500};
// The broadcast may take at most this many times its floor, at every size.
constexpr double targetRatio = 2.0;

// The emulator with its agents, kept while both benchmarks of one size run,
// so that broadcast and floor write to the very same sockets.
class Rig final
{
public:
    explicit Rig(int agentCount)
    {
        server.start(QHostAddress::LocalHost, 0);
        window = std::make_unique<ZelvoEmulator>(&server, nullptr);
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
        ZelvoEvent event(ZelvoEvent::ButtonEvent);
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

    ZelvoServer server;
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

// The usual console output, then one line per size: broadcast beside floor,
// in wall time and in this process's CPU time (steadier on a busy machine).
// The floor itself grows faster than linearly, as the event loop polls more
// sockets; what the emulator adds per agent is the last column.
class SideBySideReporter final : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                Figures& figures = results[run.run_name.function_name][std::stoi(run.run_name.args)];
                figures.real = run.GetAdjustedRealTime();
                figures.cpu = run.GetAdjustedCPUTime();
            }
        }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\n%6s | %14s %10s %6s | %14s %10s %6s | %16s %12s %16s | %6s\n", "agents", "broadcast us",
                    "floor us", "ratio", "broadcast cpu", "floor cpu", "ratio", "broadcast/agent", "floor/agent",
                    "cpu over floor/agent", "target");
        for (int agents : agentCounts) {
            const auto broadcast = results["Broadcast"].find(agents);
            const auto floor = results["Floor"].find(agents);
            // A benchmark filter may have left out either figure of this size.
            if (broadcast == results["Broadcast"].end() || floor == results["Floor"].end())
                continue;
            const Figures& path = broadcast->second;
            const Figures& plain = floor->second;
            std::printf("%6d | %14.1f %10.1f %6.2f | %14.1f %10.1f %6.2f | %16.2f %12.2f %16.2f | <= %3.1f\n",
                        agents, path.real, plain.real, path.real / plain.real, path.cpu, plain.cpu,
                        path.cpu / plain.cpu, path.real / agents, plain.real / agents, (path.cpu - plain.cpu) / agents,
                        targetRatio);
        }
    }

private:
    struct Figures
    {
        double real = 0;
        double cpu = 0;
    };
    std::map<std::string, std::map<int, Figures>> results;
};

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
    SideBySideReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
