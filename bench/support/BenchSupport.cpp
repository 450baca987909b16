#include "BenchSupport.h"

#include "util/ZelvoMemory.h"

#include <QApplication>
#include <QByteArray>
#include <QLoggingCategory>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

#include <benchmark/benchmark.h>

#include <algorithm>

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values.at(std::min(values.size() - 1, size_t(fraction * double(values.size()))));
}

void setRatioCounters(benchmark::State& state, const std::string& name, const std::vector<double>& micros,
                      const std::string& floorName, const std::vector<double>& floorMicros)
{
    const double p50 = percentile(micros, 0.5);
    const double p99 = percentile(micros, 0.99);
    const double floorP50 = percentile(floorMicros, 0.5);
    const double floorP99 = percentile(floorMicros, 0.99);
    state.counters[name + "_p50_us"] = p50;
    state.counters[name + "_p99_us"] = p99;
    state.counters[floorName + "_p50_us"] = floorP50;
    state.counters[floorName + "_p99_us"] = floorP99;
    state.counters["ratio_p50"] = p50 / floorP50;
    state.counters["ratio_p99"] = p99 / floorP99;
}

void prepareQuietOffscreenRun(const QString& home)
{
    qputenv("HOME", home.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home + QStringLiteral("/.config")).toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false\nzelvo.*.debug=false"));
}

int runOffscreenBenchmarks(int argc, char** argv, const std::function<void()>& registerBenchmarks,
                           const std::function<void()>& beforeExit)
{
    ZelvoMemory::returnLargeBlocks();
    QTemporaryDir home;
    prepareQuietOffscreenRun(home.path());
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (registerBenchmarks)
        registerBenchmarks();
    benchmark::RunSpecifiedBenchmarks();
    if (beforeExit)
        beforeExit();
    benchmark::Shutdown();
    return 0;
}
