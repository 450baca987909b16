// A one-hour advance of the manual clock with the four sensor simulations
// running, agents that read every event and a trace of readings through
// the hour. Measured: the round trip of a "state" request that another
// control client sends over and over meanwhile (99th percentile and
// worst), and the advance's time beside its floor measured in the same
// run: the same timers fired in one go, the clock's advance without
// slices, which serves nothing else until it is done.

#include "BenchSupport.h"
#include "clock/ZelvoClock.h"
#include "comm/ZelvoServer.h"
#include "services/ZelvoServices.h"
#include "control/ZelvoControlCommands.h"
#include "control/ZelvoControlServer.h"
#include "ZelvoControlToken.h"
#include "ui/ZelvoEmulator.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QJsonObject>

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr qint64 hourMillis = 3600000;

int connectTo(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Agents on a thread of their own that read and drop whatever comes.
class Readers final
{
public:
    // Connects on its thread: the emulator accepts on the benchmark's.
    Readers(quint16 port, int count)
        : thread([this, port, count] { run(port, count); })
    {
    }
    ~Readers()
    {
        stop = true;
        thread.join();
        for (int fd : fds)
            ::close(fd);
    }

private:
    void run(quint16 port, int count)
    {
        std::vector<pollfd> polled;
        for (int i = 0; i < count; ++i) {
            fds.push_back(connectTo(port));
            polled.push_back({fds.back(), POLLIN, 0});
        }
        char buffer[65536];
        while (!stop) {
            if (::poll(polled.data(), polled.size(), 20) <= 0)
                continue;
            for (const pollfd& entry : polled) {
                if (entry.revents & POLLIN)
                    (void)::recv(entry.fd, buffer, sizeof buffer, 0);
            }
        }
    }

    std::vector<int> fds;
    std::atomic<bool> stop{false};
    std::thread thread;
};

// A control client on a thread of its own that times "state" round trips.
class Prober final
{
public:
    explicit Prober(quint16 port, QByteArray token)
        : port(port)
        , token(std::move(token))
    {
    }
    ~Prober()
    {
        finish();
        if (fd >= 0)
            ::close(fd);
    }

    // Connects and proves itself on its thread, where the benchmark's turns
    // the emulator's event loop.
    void start()
    {
        stop = false;
        ended = false;
        thread = std::thread([this] {
            probe();
            ended = true;
            // Wakes the loop that finish() turns.
            QMetaObject::invokeMethod(QCoreApplication::instance(), [] {}, Qt::QueuedConnection);
        });
    }
    // The round trips in microseconds. The answer to a request on its way
    // comes from the emulator's loop, which turns on this thread: it turns
    // until the prober has ended, then joins it.
    std::vector<double> finish()
    {
        stop = true;
        if (thread.joinable()) {
            waitFor([this] { return bool(ended); });
            thread.join();
        }
        return times;
    }

private:
    void probe()
    {
        fd = connectTo(port);
        if (fd < 0 || roundTrip(R"({"id":0,"cmd":"auth","token":")" + token + "\"}\n") < 0)
            return;
        while (!stop) {
            const double micros = roundTrip(R"({"id":1,"cmd":"state"})" "\n");
            if (micros < 0)
                return;
            times.push_back(micros);
            // A client that looks now and then, not one that floods.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    // Microseconds until the answer's line end; -1 when the connection failed.
    double roundTrip(const QByteArray& request)
    {
        QElapsedTimer clock;
        clock.start();
        if (::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) != request.size())
            return -1;
        char byte = 0;
        do {
            if (::recv(fd, &byte, 1, 0) != 1)
                return -1;
        } while (byte != '\n');
        return double(clock.nsecsElapsed()) / 1000;
    }

    quint16 port = 0;
    QByteArray token;
    int fd = -1;
    std::atomic<bool> stop{false};
    std::atomic<bool> ended{false};
    std::thread thread;
    std::vector<double> times;
};

// Starts the simulations and the trace from where the clock stands. The
// trace answers once it is read, in turns of the loop, which this turns.
bool startTimers(ZelvoControlCommands* commands, const QString& trace)
{
    std::vector<QJsonObject> requests;
    for (const char* sensor : {"battery", "accelerometer", "compass", "light"})
        requests.push_back({{"cmd", "sensor"}, {"sensor", sensor}, {"action", "start"}});
    requests.push_back({{"cmd", "trace"}, {"file", trace}});
    size_t answered = 0;
    bool failed = false;
    for (const QJsonObject& request : requests) {
        commands->execute(request, [&answered, &failed](const QJsonObject&, const QString& error) {
            ++answered;
            failed = failed || !error.isEmpty();
        });
    }
    waitFor([&] { return answered == requests.size(); });
    return !failed;
}

void BM_HourAdvance(benchmark::State& state)
{
    const int agents = int(state.range(0));
    const int readings = int(state.range(1));
    QFile trace(QDir::home().filePath(QStringLiteral("hour.csv")));
    if (!trace.open(QIODevice::WriteOnly)) {
        state.SkipWithError("cannot write the trace");
        return;
    }
    for (int i = 0; i < readings; ++i)
        trace.write(QByteArray::number(hourMillis * i / readings) + ",light," + QByteArray::number(i % 1000) + '\n');
    trace.close();

    ZelvoServices services(ZelvoClock::Mode::Manual);
    ZelvoClock& clock = *services.clock;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    ZelvoEmulator window(&server, services, nullptr);
    ZelvoControlServer control(&window, &server, services);
    if (!server.start(QHostAddress::LocalHost, 0) || !control.start(0)) {
        state.SkipWithError("the emulator did not come up");
        return;
    }
    ZelvoControlCommands* commands = control.controlCommands();
    Readers readers(server.serverPort(), agents);
    waitFor([&] { return server.connections().size() == agents; });
    QString error;
    Prober prober(control.port(), ZelvoControlToken::readFile(ZelvoControlToken::filePath(), &error));

    double sliced = 0;
    double whole = 0;
    std::vector<double> roundTrips;
    for (auto _ : state) {
        if (!startTimers(commands, trace.fileName())) {
            state.SkipWithError("the simulations or the trace did not start");
            return;
        }
        QElapsedTimer timer;
        timer.start();
        clock.advance(hourMillis);
        whole = double(timer.nsecsElapsed()) / 1e6;

        if (!startTimers(commands, trace.fileName())) {
            state.SkipWithError("the simulations or the trace did not start");
            return;
        }
        prober.start();
        bool done = false;
        timer.start();
        clock.advanceInSlices(hourMillis, &window, [&done] { done = true; });
        waitFor([&done] { return done; });
        sliced = double(timer.nsecsElapsed()) / 1e6;
        roundTrips = prober.finish();
        state.SetIterationTime(sliced / 1000);
    }
    if (roundTrips.empty()) {
        state.SkipWithError("the control client was not answered");
        return;
    }
    state.counters["advance_ms"] = sliced;
    state.counters["unsliced_ms"] = whole;
    state.counters["state_p99_ms"] = percentile(roundTrips, 0.99) / 1000;
    state.counters["state_worst_ms"] = percentile(roundTrips, 1.0) / 1000;
    state.counters["state_p50_ms"] = percentile(roundTrips, 0.5) / 1000;
    state.counters["state_count"] = double(roundTrips.size());
}
// Agents and trace readings: 200 agents and a million readings take hours
// of a loaded two-core machine, since every reading goes to every agent.
BENCHMARK(BM_HourAdvance)->Args({20, 5000})->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return runOffscreenBenchmarks(argc, argv);
}
