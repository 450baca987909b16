// The agent link's costs beside their floors, all measured in the same run:
// framing against a plain socket pair moving the same bytes; the whole path
// from frame to agentConfigReceived against parsing the JSON alone; and
// 32 MiB against 4 MiB, which should cost about 8 times as much, not 64,
// shown beside the same ratio for the plain socket and for the parse alone.
// The log goes to a handler that drops it; the whole path is measured with
// the debug category both on (every log text built, then dropped) and off.
// Each figure is the median of 5 runs; scripts/bench sets them side by side.

#include "ZelvoFrame.h"
#include "comm/ZelvoServer.h"
#include "comm/ZelvoSocket.h"
#include "util/ZelvoMemory.h"

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

#include <functional>

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
    QLoggingCategory::setFilterRules(on ? QStringLiteral("zelvo.*.debug=true")
                                        : QStringLiteral("zelvo.*.debug=false"));
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

} // namespace

int main(int argc, char** argv)
{
    // Large blocks come from the system and go back to it, as in the
    // program: a large frame's buffer is fresh pages, faulted in as it fills.
    ZelvoMemory::returnLargeBlocks();
    QCoreApplication application(argc, argv);
    qInstallMessageHandler(dropMessage);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
