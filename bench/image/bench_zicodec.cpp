// Decoding and encoding of a full 320 x 216 content area, each beside its
// floor measured in the same run: filling a picture of that size for
// decoding, reading each of its pixels once for encoding. A table of the
// ratios follows the usual report; the targets are 3 for decoding and 5 for
// encoding.

#include "ZIImageUtil.h"

#include <QByteArray>
#include <QImage>
#include <QRandomGenerator>
#include <QtGlobal>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int Width = 320;
constexpr int Height = 216;

// Half of the pixels lit, at random, so that neither direction can profit
// from long runs.
QImage contentPicture()
{
    QRandomGenerator random(320216);
    QImage picture(Width, Height, QImage::Format_RGB32);
    for (int y = 0; y < Height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < Width; ++x)
            line[x] = random.bounded(2) ? ZIImageUtil::litColor : ZIImageUtil::backgroundColor;
    }
    return picture;
}

void decodeFloor(benchmark::State& state)
{
    QImage picture(Width, Height, QImage::Format_RGB32);
    for (auto _ : state) {
        picture.fill(ZIImageUtil::backgroundColor);
        benchmark::DoNotOptimize(picture.constBits());
        benchmark::ClobberMemory();
    }
}

void decode(benchmark::State& state)
{
    // A full content area is beyond the container's bound, so the raw bytes
    // are decoded, as content drawing does with an agent's stored file.
    const QByteArray bytes = ZIImageUtil::ziEncode(contentPicture());
    for (auto _ : state) {
        QImage picture = ZIImageUtil::ziUncompress(bytes);
        benchmark::DoNotOptimize(picture.constBits());
    }
}

void encodeFloor(benchmark::State& state)
{
    const QImage picture = contentPicture();
    const auto* pixels = reinterpret_cast<const quint32*>(picture.constBits());
    const int count = Width * Height;
    for (auto _ : state) {
        quint32 sum = 0;
        for (int i = 0; i < count; ++i)
            sum += pixels[i];
        benchmark::DoNotOptimize(sum);
    }
}

void encode(benchmark::State& state)
{
    const QImage picture = contentPicture();
    for (auto _ : state) {
        QByteArray bytes = ZIImageUtil::ziEncode(picture);
        benchmark::DoNotOptimize(bytes.constData());
    }
}

// Medians of five runs: the machine is often shared.
BENCHMARK(decodeFloor)->Name("floor/fill 320x216")->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(decode)->Name("decode 320x216")->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(encodeFloor)->Name("floor/read 320x216")->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(encode)->Name("encode 320x216")->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();

struct Comparison
{
    std::string name;
    std::string floor;
    double target;
};

const std::vector<Comparison> comparisons {
    { "decode 320x216", "floor/fill 320x216", 3.0 },
    { "encode 320x216", "floor/read 320x216", 5.0 },
};

// The console report, then each figure beside its floor and their ratio.
class FloorReporter final : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        // The median where there are repetitions, otherwise the one run.
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const std::string name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[name] = run.GetAdjustedCPUTime();
            else if (run.run_type == Run::RT_Iteration && medians.count(name) == 0)
                medians[name] = run.GetAdjustedCPUTime();
        }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        // CPU time: the machine is often shared, and waiting is not work.
        std::printf("\n%-16s %12s %12s %8s %8s\n", "", "cpu us", "floor cpu us", "ratio", "target");
        for (const Comparison& comparison : comparisons) {
            const auto time = medians.find(comparison.name);
            const auto floor = medians.find(comparison.floor);
            if (time == medians.end() || floor == medians.end())
                continue;
            const double ratio = time->second / floor->second;
            std::printf("%-16s %12.2f %12.2f %8.2f %8.1f%s\n", comparison.name.c_str(), time->second, floor->second,
                        ratio, comparison.target, ratio <= comparison.target ? "" : "  ABOVE TARGET");
        }
    }

private:
    std::map<std::string, double> medians;
};

} // namespace

int main(int argc, char** argv)
{
    // The codec logs every call; formatting stays in the figures, output not.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    FloorReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
