// An agent sends content 30 times a second for 10 seconds while the display
// is recorded, beside the same run with no recording: the content path's
// cost (first byte written to the content on display, median and 99th
// percentile), the frames the recording lost, and the file's size per
// second of recording.

#include "BenchSupport.h"
#include "LoopbackRig.h"
#include "recording/ZelvoDisplayRecorder.h"
#include "ui/ZelvoEmulator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

namespace {

using Clock = LoopbackRig::Clock;

constexpr int contentPerSecond = 30;
constexpr int seconds = 10;

void sleepUntil(const QElapsedTimer& clock, qint64 millis)
{
    const qint64 remaining = millis - clock.elapsed();
    if (remaining <= 0)
        return;
    QEventLoop loop;
    QTimer::singleShot(int(remaining), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

class Rig final
{
public:
    Rig()
    {
        // Every content is drawn at once and stays until the next one.
        loopback.send(QJsonObject{{"command.type", "zelvo_config"}, {"minPersistingTimeMillis", 0},
                                  {"maxPersistingTimeMillis", 600000}});
    }

    // Microseconds from the first byte written to the content on display.
    double show(int contentId)
    {
        const Clock::time_point start = Clock::now();
        const Clock::time_point shown = loopback.send(QJsonObject{
            {"command.type", "agent_content"},
            {"appId", "bench"},
            {"contentId", contentId},
            {"layoutId", "0"},
            {"images.id", QJsonArray()},
            {"texts", QJsonArray{QStringLiteral("Recorded while the agent keeps sending: frame %1").arg(contentId)}}});
        return std::chrono::duration<double, std::micro>(shown - start).count();
    }

    ZelvoDisplayRecorder* recorder() { return loopback.window().displayRecorder(); }

private:
    LoopbackRig loopback;
};

Rig& rig()
{
    static Rig instance;
    return instance;
}

// One 10-second run at 30 content a second; with recording, the frames it
// lost (each content changes the display) and the file's bytes per second.
void BM_Content(benchmark::State& state)
{
    const bool recording = state.range(0) != 0;
    static int contentId = 0;
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("display.png"));
    std::vector<double> times;
    for (auto _ : state) {
        if (recording && !rig().recorder()->start(path, 0)) {
            state.SkipWithError("the recording did not start");
            return;
        }
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < contentPerSecond * seconds; ++i) {
            sleepUntil(clock, qint64(i) * 1000 / contentPerSecond);
            times.push_back(rig().show(++contentId));
        }
        sleepUntil(clock, qint64(seconds) * 1000);
        if (recording) {
            // The display as it was at the start, then one frame per content.
            const int expected = 1 + contentPerSecond * seconds;
            state.counters["frames_lost"] = expected - rig().recorder()->frameCount();
            if (!rig().recorder()->stop()) {
                state.SkipWithError("the recording was not written");
                return;
            }
            state.counters["bytes_per_s"] = double(QFileInfo(path).size()) / seconds;
        }
        state.SetIterationTime(double(clock.elapsed()) / 1000);
    }
    state.counters["p50_us"] = percentile(times, 0.5);
    state.counters["p99_us"] = percentile(times, 0.99);
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    prepareQuietOffscreenRun(home.path());
    QApplication application(argc, argv);

    benchmark::Initialize(&argc, argv);
    benchmark::RegisterBenchmark("Content30", BM_Content)
        ->ArgName("recording")->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
