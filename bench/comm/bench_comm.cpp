// The agent link's costs beside their floors, all measured in the same run:
// framing against a plain socket pair moving the same bytes; the whole path
// from frame to agentConfigReceived against parsing the JSON alone; and
// 32 MiB against 4 MiB, which should cost about 8 times as much, not 64,
// shown beside the same ratio for the plain socket and for the parse alone.
// The log goes to a handler that drops it; the whole path is measured with
// the debug category both on (every log text built, then dropped) and off.

#include "ZelvoFrame.h"
#include "comm/ZelvoServer.h"
#include "comm/ZelvoSocket.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr qint64 kiB = 1024;
constexpr qint64 MiB = 1024 * kiB;

void dropMessage(QtMsgType, const QMessageLogContext&, const QString&)
{
}

void waitUntil(const std::function<bool()>& done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void setDebugLog(bool on)
{
    QLoggingCategory::setFilterRules(on ? QStringLiteral("default.debug=true")
                                        : QStringLiteral("default.debug=false"));
}

// A connected pair of sockets on loopback.
struct Loopback
{
    Loopback()
    {
        listener.listen(QHostAddress::LocalHost, 0);
        writer.connectToHost(QHostAddress::LocalHost, listener.serverPort());
        writer.waitForConnected(5000);
        listener.waitForNewConnection(5000);
        reader = listener.nextPendingConnection();
    }

    QTcpServer listener;
    QTcpSocket writer;
    QTcpSocket* reader = nullptr;
};

// An agent configuration of about size bytes: Base64 images of 256 kiB.
QByteArray agentConfig(qint64 size)
{
    QJsonArray images;
    for (qint64 total = 0; total < size; total += 256 * kiB) {
        QByteArray image(192 * kiB, Qt::Uninitialized);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(image.data()), image.size() / 4);
        images.append(QString::fromLatin1(image.toBase64()));
    }
    const QJsonObject action{{QStringLiteral("command.type"), QStringLiteral("agent_config")},
                             {QStringLiteral("appId"), QStringLiteral("bench")},
                             {QStringLiteral("images"), images}};
    return QJsonDocument(action).toJson(QJsonDocument::Compact);
}

void plainSocket(benchmark::State& state)
{
    // The bytes of one frame, header included, moved without framing.
    const QByteArray bytes(int(ZelvoFrame::headerSize + state.range(0)), 'x');
    Loopback link;
    qint64 received = 0;
    // Reading into one reused buffer keeps allocation out of the floor.
    QByteArray buffer(int(64 * kiB), Qt::Uninitialized);
    QObject::connect(link.reader, &QIODevice::readyRead, [&] {
        qint64 count = 0;
        while ((count = link.reader->read(buffer.data(), buffer.size())) > 0)
            received += count;
    });
    for (auto _ : state) {
        received = 0;
        link.writer.write(bytes);
        waitUntil([&] { return received == bytes.size(); });
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

void framing(benchmark::State& state)
{
    const QByteArray frame = ZelvoFrame::encode(QByteArray(int(state.range(0)), 'x'));
    Loopback link;
    ZelvoSocket zelvoSocket(link.reader, nullptr);
    int delivered = 0;
    QObject::connect(&zelvoSocket, &ZelvoSocket::dataReceived, [&](const QByteArray& payload) {
        benchmark::DoNotOptimize(payload.constData());
        ++delivered;
    });
    for (auto _ : state) {
        const int before = delivered;
        link.writer.write(frame);
        waitUntil([&] { return delivered > before; });
    }
    state.SetBytesProcessed(state.iterations() * frame.size());
}

void parseAlone(benchmark::State& state)
{
    const QByteArray payload = agentConfig(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(QJsonDocument::fromJson(payload));
    state.SetBytesProcessed(state.iterations() * payload.size());
}

void wholePath(benchmark::State& state)
{
    const QByteArray frame = ZelvoFrame::encode(agentConfig(state.range(0)));
    setDebugLog(state.range(1) != 0);
    ZelvoServer server;
    server.start(QHostAddress::LocalHost, 0);
    int configs = 0;
    QObject::connect(&server, &ZelvoServer::agentConfigReceived, [&] { ++configs; });
    QTcpSocket agent;
    agent.connectToHost(QHostAddress::LocalHost, server.serverPort());
    waitUntil([&] { return !server.connections().isEmpty(); });
    for (auto _ : state) {
        const int before = configs;
        agent.write(frame);
        waitUntil([&] { return configs > before; });
    }
    state.SetBytesProcessed(state.iterations() * frame.size());
    setDebugLog(true);
}

void sizes(benchmark::internal::Benchmark* benchmark)
{
    benchmark->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
}

BENCHMARK(plainSocket)->Name("plain socket")->Arg(200)->Arg(4 * MiB)->Arg(32 * MiB)->Apply(sizes);
BENCHMARK(framing)->Name("framing")->Arg(200)->Arg(4 * MiB)->Arg(32 * MiB)->Apply(sizes);
BENCHMARK(parseAlone)->Name("fromJson alone")->Arg(4 * MiB)->Arg(32 * MiB)->Apply(sizes);
BENCHMARK(wholePath)->Name("frame to agentConfigReceived")->ArgNames({"size", "debug"})
    ->Args({4 * MiB, 0})->Args({32 * MiB, 0})->Args({4 * MiB, 1})->Apply(sizes);

// Keeps the median of every benchmark for the table of figures and floors.
class TableReporter final : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[run.run_name.function_name + '/' + run.run_name.args] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void printTable() const
    {
        struct Row
        {
            const char* figure;
            std::string name;
            const char* floor;
            std::string floorName;
            const char* target;
        };
        const std::string config4 = "frame to agentConfigReceived/size:4194304/debug:0";
        const std::vector<Row> rows = {
            {"framing, 200 B frames", "framing/200", "plain socket, 204 B", "plain socket/200", "none"},
            {"framing, 4 MiB frames", "framing/4194304", "plain socket, 4 MiB + 4 B", "plain socket/4194304",
             "<= 2"},
            {"frame to signal, 4 MiB agent_config", config4, "fromJson alone, 4 MiB", "fromJson alone/4194304",
             "<= 3"},
            {"same, debug log on (dropped)", "frame to agentConfigReceived/size:4194304/debug:1",
             "fromJson alone, 4 MiB", "fromJson alone/4194304", "none"},
            {"framing, 32 MiB frame", "framing/33554432", "framing, 4 MiB frame", "framing/4194304", "~8"},
            {"  plain socket, 32 MiB", "plain socket/33554432", "plain socket, 4 MiB", "plain socket/4194304",
             "~8"},
            {"frame to signal, 32 MiB", "frame to agentConfigReceived/size:33554432/debug:0",
             "frame to signal, 4 MiB", config4, "~8"},
            {"  fromJson alone, 32 MiB", "fromJson alone/33554432", "fromJson alone, 4 MiB",
             "fromJson alone/4194304", "~8"},
        };
        std::printf("\nMedians of 5 runs; ratio = figure / floor.\n");
        std::printf("%-38s %12s   %-28s %12s %8s %8s\n", "figure", "us", "floor", "us", "ratio", "target");
        for (const Row& row : rows) {
            const auto figure = medians.find(row.name);
            const auto floor = medians.find(row.floorName);
            if (figure == medians.end() || floor == medians.end())
                continue;
            std::printf("%-38s %12.1f   %-28s %12.1f %8.2f %8s\n", row.figure, figure->second, row.floor,
                        floor->second, figure->second / floor->second, row.target);
        }
    }

private:
    std::map<std::string, double> medians;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    qInstallMessageHandler(dropMessage);
    benchmark::Initialize(&argc, argv);
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printTable();
    benchmark::Shutdown();
    return 0;
}
