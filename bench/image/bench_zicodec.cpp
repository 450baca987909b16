// Decoding and encoding of a full 320 x 216 content area, each beside its
// floor measured in the same run: filling a picture of that size for
// decoding, reading each of its pixels once for encoding. scripts/bench
// compares their CPU times (the machine is often shared, and waiting is not
// work); the targets are 3 for decoding and 5 for encoding.

#include "ZIImageUtil.h"

#include <QByteArray>
#include <QImage>
#include <QRandomGenerator>
#include <QtGlobal>

#include <benchmark/benchmark.h>


namespace {

constexpr int pictureWidth = 320;
constexpr int pictureHeight = 216;

// Half of the pixels lit, at random, so that neither direction can profit
// from long runs.
QImage contentPicture()
{
    QRandomGenerator random(320216);
    QImage picture(pictureWidth, pictureHeight, QImage::Format_RGB32);
    for (int y = 0; y < pictureHeight; ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < pictureWidth; ++x)
            line[x] = random.bounded(2) ? ZIImageUtil::litColor : ZIImageUtil::backgroundColor;
    }
    return picture;
}

void decodeFloor(benchmark::State& state)
{
    QImage picture(pictureWidth, pictureHeight, QImage::Format_RGB32);
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
    const int count = pictureWidth * pictureHeight;
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

} // namespace

int main(int argc, char** argv)
{
    // The codec logs every call; formatting stays in the figures, output not.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
