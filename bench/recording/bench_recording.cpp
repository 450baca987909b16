// An agent sends content 30 (and 60) times a second while the display is
// recorded, beside the same with no recording, a second of each in turn
// for ten rounds so that both see the same machine: the content path's
// cost (first byte written to the content on display, median and 99th
// percentile, and their ratios), the frames the recordings lost, and the
// files' size per second of recording.

#include "BenchSupport.h"
#include "LoopbackRig.h"
#include "recording/ZelvoDisplayRecorder.h"
#include "ui/ZelvoEmulator.h"

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

constexpr int rounds = 10;

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

    ZelvoDisplayRecorder* recorder() { return loopback.displayRecorder(); }

private:
    LoopbackRig loopback;
};

Rig& rig()
{
    static Rig instance;
    return instance;
}

// One second of content at the rate; the microseconds of each go to times.
void showForASecond(int perSecond, std::vector<double>* times)
{
    static int contentId = 0;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < perSecond; ++i) {
        sleepUntil(clock, qint64(i) * 1000 / perSecond);
        times->push_back(rig().show(++contentId));
    }
    sleepUntil(clock, 1000);
}

void BM_Content(benchmark::State& state)
{
    const int perSecond = int(state.range(0));
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("display.png"));
    ZelvoDisplayRecorder* recorder = rig().recorder();
    std::vector<double> plain;
    std::vector<double> recorded;
    int lost = 0;
    qint64 bytes = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        for (int round = 0; round < rounds; ++round) {
            showForASecond(perSecond, &plain);
            if (!recorder->start(path, 0)) {
                state.SkipWithError("the recording did not start");
                return;
            }
            showForASecond(perSecond, &recorded);
            // The display as it was at the start, then one frame per content.
            int written = -1;
            QString error;
            const QMetaObject::Connection told = QObject::connect(
                recorder, &ZelvoDisplayRecorder::finished,
                [&written, &error](const QString&, int frames, const QString& failure) {
                    written = frames;
                    error = failure;
                });
            recorder->stop();
            waitFor([&written] { return written >= 0; });
            QObject::disconnect(told);
            if (!error.isEmpty()) {
                state.SkipWithError(qPrintable(error));
                return;
            }
            lost += 1 + perSecond - written;
            bytes += QFileInfo(path).size();
        }
        state.SetIterationTime(double(clock.elapsed()) / 1000);
    }
    setRatioCounters(state, "recording", recorded, "plain", plain);
    state.counters["frames_lost"] = lost;
    state.counters["bytes_per_s"] = double(bytes) / rounds;
}

} // namespace

int main(int argc, char** argv)
{
    return runOffscreenBenchmarks(argc, argv, [] {
        benchmark::RegisterBenchmark("Content", BM_Content)
            ->ArgName("per_second")->Arg(30)->Arg(60)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
    });
}
