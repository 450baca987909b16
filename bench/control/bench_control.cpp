// Input injection through the control channel: a "button" "click" request
// timed until a connected agent has read its three events, beside its floor
// measured in the same run: the round trip of a "state" request on the same
// connection, which crosses the same sockets and event loop but drives no
// button. Median and 99th percentile of each, and their ratios. Likewise
// the round trip of a "screen" request, with content of two texts and a
// picture on display, beside the "state" round trip.

#include "BenchSupport.h"
#include "control/ZelvoControlServer.h"
#include "ZelvoControlToken.h"
#include "ui/ZelvoEmulator.h"
#include "ZelvoFrame.h"
#include "comm/ZelvoServer.h"
#include "services/ZelvoServices.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

#include <benchmark/benchmark.h>

#include <functional>
#include <vector>

namespace {

constexpr int clicks = 1000;

// Turns the event loop until the condition holds; false after 5 s.
bool spinUntil(const std::function<bool()>& condition)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > 5000)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

class Rig final
{
public:
    Rig()
    {
        server.start(QHostAddress::LocalHost, 0);
        control.start(0);
        agent.connectToHost(QHostAddress::LocalHost, server.serverPort());
        QObject::connect(&agent, &QTcpSocket::readyRead, &agent, [this] { countFrames(); });
        client.connectToHost(QHostAddress::LocalHost, control.port());
        QString error;
        const QByteArray token = ZelvoControlToken::readFile(ZelvoControlToken::filePath(), &error);
        client.write(R"({"id":0,"cmd":"auth","token":")" + token + "\"}\n");
        ready = spinUntil([this] { return server.connections().size() == 1 && client.canReadLine(); })
                && client.readLine().contains("\"ok\":true");
    }

    // Nanoseconds from the request until the agent has read the click's three events.
    qint64 click()
    {
        const int wanted = frames + 3;
        QElapsedTimer clock;
        clock.start();
        client.write(R"({"id":1,"cmd":"button","button":"plus","gesture":"click"})" "\n");
        ready = spinUntil([&] { return frames >= wanted; });
        const qint64 elapsed = clock.nsecsElapsed();
        ready = ready && spinUntil([this] { return client.canReadLine(); }) && client.readLine().contains("\"ok\":true");
        return elapsed;
    }

    // Nanoseconds of the round trip of a "state" request.
    qint64 state() { return roundTrip(R"({"id":2,"cmd":"state"})" "\n"); }
    qint64 screen() { return roundTrip(R"({"id":3,"cmd":"screen"})" "\n"); }

    // Layout 3 with a title, a text long enough to be cut and a picture
    // that is not stored, kept on display.
    void showContent()
    {
        const QJsonObject content{{"command.type", "agent_content"}, {"appId", "bench"}, {"contentId", 1},
                                  {"layoutId", "3"}, {"images.id", QJsonArray{"0"}},
                                  {"texts", QJsonArray{"Weather in the mountains",
                                                       QString("Sunny, then clouds from the west. ").repeated(6)}}};
        agent.write(ZelvoFrame::encode(QJsonDocument(content).toJson(QJsonDocument::Compact)));
        ready = ready && spinUntil([this] { return window.drawnContentId() == 1; });
    }

    bool ready = false;

private:
    qint64 roundTrip(const QByteArray& line)
    {
        QElapsedTimer clock;
        clock.start();
        client.write(line);
        ready = spinUntil([this] { return client.canReadLine(); });
        const qint64 elapsed = clock.nsecsElapsed();
        ready = ready && client.readLine().contains("\"ok\":true");
        return elapsed;
    }

    void countFrames()
    {
        pending += agent.readAll();
        while (pending.size() >= ZelvoFrame::headerSize) {
            const qint64 length = ZelvoFrame::payloadSize(pending.constData());
            if (pending.size() < ZelvoFrame::headerSize + length)
                return;
            pending.remove(0, int(ZelvoFrame::headerSize + length));
            ++frames;
        }
    }

    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    ZelvoEmulator window{&server, services, nullptr};
    ZelvoControlServer control{&window, &server, services};
    QTcpSocket agent;
    QTcpSocket client;
    QByteArray pending;
    int frames = 0;
};

void BM_ClickToAgent(benchmark::State& state)
{
    Rig rig;
    if (!rig.ready) {
        state.SkipWithError("the emulator did not come up");
        return;
    }
    // Microseconds.
    std::vector<double> clickTimes;
    std::vector<double> floorTimes;
    for (auto _ : state) {
        const qint64 clickTime = rig.click();
        floorTimes.push_back(double(rig.state()) / 1000);
        clickTimes.push_back(double(clickTime) / 1000);
        state.SetIterationTime(double(clickTime) / 1e9);
        if (!rig.ready) {
            state.SkipWithError("an answer or event did not come");
            return;
        }
    }
    setRatioCounters(state, "click", clickTimes, "floor", floorTimes);
}
BENCHMARK(BM_ClickToAgent)->Iterations(clicks)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_ScreenRoundTrip(benchmark::State& state)
{
    Rig rig;
    rig.showContent();
    if (!rig.ready) {
        state.SkipWithError("the emulator did not come up");
        return;
    }
    // Microseconds, alternating.
    std::vector<double> screenTimes;
    std::vector<double> floorTimes;
    for (auto _ : state) {
        const qint64 screenTime = rig.screen();
        floorTimes.push_back(double(rig.state()) / 1000);
        screenTimes.push_back(double(screenTime) / 1000);
        state.SetIterationTime(double(screenTime) / 1e9);
        if (!rig.ready) {
            state.SkipWithError("an answer did not come");
            return;
        }
    }
    setRatioCounters(state, "screen", screenTimes, "floor", floorTimes);
}
BENCHMARK(BM_ScreenRoundTrip)->Iterations(clicks)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    return runOffscreenBenchmarks(argc, argv);
}
