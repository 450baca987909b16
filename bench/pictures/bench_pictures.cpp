// Large pictures on their way to the display, each beside a floor measured
// in the same run:
// - one 4000 x 3000 photo-like PNG in a configuration: the time until it is
//   stored against Qt decoding and encoding the same picture alone on a
//   thread (each iteration's ratio, and their median); the longest the
//   window's event loop was held meanwhile (a 1 ms timer's lateness, beside
//   its lateness with nothing to do); content showing it right after,
//   against drawing the part of it that shows alone; the process's peak
//   memory;
// - 20 pictures of 4096 x 4096 white (a few KiB of PNG, 64 MiB decoded
//   each) in one configuration: the loop held, the peak memory;
// - configurations of 4 and 32 MiB: the path from the first byte written to
//   the pictures stored, against the same bytes over a plain loopback
//   socket and against Qt's JSON parse of the frame alone, and the loop held;
// - reset while a configuration of six 3000 x 3000 photos is being stored,
//   against reset with nothing pending.

#include "BenchSupport.h"
#include "ZIImageUtil.h"
#include "ZelvoFrame.h"
#include "comm/ZelvoServer.h"
#include "services/ZelvoServices.h"
#include "record/ZelvoRecorder.h"
#include "ui/ZelvoEmulator.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double millisSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

QByteArray pngOf(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Noise over a gradient: nothing for the encoder to squeeze, as in a photo.
QImage photo(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int noise = int(random.bounded(48));
            line[x] = qRgb((x * 200 / width + noise) & 0xFF, (y * 200 / height + noise) & 0xFF, noise * 4);
        }
    }
    return image;
}

QByteArray configFrame(const QString& hash, const QList<QByteArray>& pictures)
{
    QJsonArray images;
    for (const QByteArray& picture : pictures)
        images.append(QString::fromLatin1(picture.toBase64()));
    return ZelvoFrame::encode(QJsonDocument(QJsonObject{{"command.type", "agent_config"}, {"appId", hash},
                                                        {"images", images}})
                                  .toJson(QJsonDocument::Compact));
}

// The process's peak resident memory so far, in MiB.
double peakMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    }
    return 0;
}

// The longest gap between the ticks of a 1 ms timer, in ms, while it lives.
class LoopWatch final
{
public:
    LoopWatch()
    {
        QObject::connect(&ticker, &QTimer::timeout, [this] {
            const double gap = millisSince(last);
            longest = std::max(longest, gap);
            last = Clock::now();
        });
        ticker.setTimerType(Qt::PreciseTimer);
        ticker.start(1);
        last = Clock::now();
    }
    double longestMillis() const { return longest; }

private:
    QTimer ticker;
    Clock::time_point last;
    double longest = 0;
};

// An agent on a thread of its own, as it would be in a process of its own:
// Qt copying its megabytes into the socket is the agent's work, not the
// emulator's, and must not count as the emulator's loop held.
class Agent final
{
public:
    Agent()
    {
        context.moveToThread(&thread);
        thread.start();
    }
    ~Agent()
    {
        QMetaObject::invokeMethod(&context, [this] { socket.reset(); }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }
    void connectTo(quint16 port)
    {
        QMetaObject::invokeMethod(
            &context,
            [this, port] {
                socket = std::make_unique<QTcpSocket>();
                socket->connectToHost(QHostAddress::LocalHost, port);
            },
            Qt::BlockingQueuedConnection);
    }
    void write(const QByteArray& bytes)
    {
        QMetaObject::invokeMethod(&context, [this, bytes] { socket->write(bytes); });
    }

private:
    QThread thread;
    QObject context;
    std::unique_ptr<QTcpSocket> socket;
};

// The emulator in this process with one agent on loopback; each frame sent
// returns once its record of the given kind is made.
class Rig final
{
public:
    Rig()
    {
        server.start(QHostAddress::LocalHost, 0);
        window = std::make_unique<ZelvoEmulator>(&server, services, nullptr);
        QObject::connect(services.recorder.get(), &ZelvoRecorder::appended, &watcher, [this](const ZelvoRecord& record) {
            if (record.kind == awaited) {
                awaited = ZelvoRecord::Kind::FrameReceived;
                doneAt = Clock::now();
            }
        });
        agent.connectTo(server.serverPort());
        waitFor([this] { return server.connections().size() == 1; });
        send(ZelvoFrame::encode(QJsonDocument(QJsonObject{{"command.type", "zelvo_config"},
                                                          {"minPersistingTimeMillis", 0},
                                                          {"maxPersistingTimeMillis", 600000}})
                                    .toJson(QJsonDocument::Compact)),
             ZelvoRecord::Kind::ZelvoConfig);
    }

    Clock::time_point send(const QByteArray& frame, ZelvoRecord::Kind until)
    {
        awaited = until;
        agent.write(frame);
        waitFor([this] { return awaited == ZelvoRecord::Kind::FrameReceived; });
        return doneAt;
    }

    // Sends both at once; returns when each was recorded.
    std::pair<Clock::time_point, Clock::time_point> configureAndShow(const QByteArray& config, const QString& hash)
    {
        const QByteArray content = ZelvoFrame::encode(
            QJsonDocument(QJsonObject{{"command.type", "agent_content"}, {"appId", hash}, {"contentId", 1},
                                      {"layoutId", "1"}, {"images.id", QJsonArray{"0"}}, {"texts", QJsonArray()}})
                .toJson(QJsonDocument::Compact));
        Clock::time_point stored;
        QMetaObject::Connection watch = QObject::connect(
            services.recorder.get(), &ZelvoRecorder::appended, &watcher, [&stored](const ZelvoRecord& record) {
                if (record.kind == ZelvoRecord::Kind::AgentConfig)
                    stored = Clock::now();
            });
        agent.write(config);
        const Clock::time_point shown = send(content, ZelvoRecord::Kind::AgentContent);
        QObject::disconnect(watch);
        return {stored, shown};
    }

    // How long the window's reset takes, once the frame (when given) has
    // been read and its pictures are being stored.
    double resetMillis(const QByteArray& frame = QByteArray())
    {
        if (!frame.isEmpty()) {
            bool read = false;
            QMetaObject::Connection watch = QObject::connect(
                services.recorder.get(), &ZelvoRecorder::appended, &watcher, [&read](const ZelvoRecord& record) {
                    read = read || record.kind == ZelvoRecord::Kind::FrameReceived;
                });
            agent.write(frame);
            waitFor([&read] { return read; });
            QObject::disconnect(watch);
        }
        const Clock::time_point start = Clock::now();
        window->reset();
        const double millis = millisSince(start);
        // What a reset left running ends before the next figure: a picture
        // being decoded takes well under this.
        QEventLoop settle;
        QTimer::singleShot(3000, &settle, &QEventLoop::quit);
        settle.exec();
        return millis;
    }

private:
    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    std::unique_ptr<ZelvoEmulator> window;
    Agent agent;
    // Receives the records on this thread.
    QObject watcher;
    ZelvoRecord::Kind awaited = ZelvoRecord::Kind::FrameReceived;
    Clock::time_point doneAt;
};

// Made on first use, before any figure is taken, and gone before the
// application is.
std::unique_ptr<Rig> theRig;

Rig& rig()
{
    if (!theRig)
        theRig = std::make_unique<Rig>();
    return *theRig;
}

void BM_Photo(benchmark::State& state)
{
    const QImage picture = photo(4000, 3000);
    const QByteArray png = pngOf(picture);
    const QByteArray frame = configFrame(QStringLiteral("photo"), {png});
    std::vector<double> stored, floor, ratio, content, drawFloor, held;
    Rig& emulator = rig();
    for (auto _ : state) {
        // Qt alone: the same picture decoded and encoded again, on a thread
        // as the emulator does it, while this loop's timer ticks as it does
        // while the emulator stores: its wakeups slow the other thread.
        Clock::time_point start;
        {
            const LoopWatch ticking;
            start = Clock::now();
            const std::unique_ptr<QThread> decoder(
                QThread::create([&png] { benchmark::DoNotOptimize(pngOf(QImage::fromData(png, "PNG")).size()); }));
            decoder->start();
            waitFor([&decoder] { return decoder->isFinished(); });
            floor.push_back(millisSince(start));
        }

        LoopWatch watch;
        start = Clock::now();
        const auto [storedAt, shownAt] = emulator.configureAndShow(frame, QStringLiteral("photo"));
        stored.push_back(std::chrono::duration<double, std::milli>(storedAt - start).count());
        // Each against the floor taken just before it, since this machine's
        // speed drifts by more than the path adds.
        ratio.push_back(stored.back() / floor.back());
        content.push_back(std::chrono::duration<double, std::milli>(shownAt - storedAt).count());
        held.push_back(watch.longestMillis());

        // Drawing alone the part that shows, into a display image.
        const QImage shownPart = picture.copy(0, 0, 320, 216);
        QImage display(320, 240, QImage::Format_ARGB32_Premultiplied);
        start = Clock::now();
        {
            QPainter painter(&display);
            painter.drawImage(QPointF(0, 24), shownPart);
        }
        drawFloor.push_back(millisSince(start));
        state.SetIterationTime(stored.back() / 1000);
    }
    state.counters["stored_ms"] = percentile(stored, 0.5);
    state.counters["floor_decode_encode_ms"] = percentile(floor, 0.5);
    state.counters["stored_per_floor"] = percentile(ratio, 0.5);
    state.counters["content_after_ms"] = percentile(content, 0.5);
    state.counters["floor_draw_ms"] = percentile(drawFloor, 0.5);
    state.counters["loop_held_ms"] = *std::max_element(held.begin(), held.end());
    // The same timer with nothing to do for as long: what the machine alone
    // makes it late by.
    {
        LoopWatch idle;
        const Clock::time_point start = Clock::now();
        waitFor([start, &stored] { return millisSince(start) >= percentile(stored, 0.5); });
        state.counters["floor_idle_loop_held_ms"] = idle.longestMillis();
    }
    state.counters["png_MiB"] = double(png.size()) / (1024 * 1024);
    state.counters["peak_MiB"] = peakMiB();
}

void BM_Bombs(benchmark::State& state)
{
    QImage white(4096, 4096, QImage::Format_RGB32);
    white.fill(Qt::white);
    const QByteArray bomb = pngOf(white);
    white = QImage();
    QList<QByteArray> pictures;
    for (int i = 0; i < 20; ++i)
        pictures.append(bomb);
    const QByteArray frame = configFrame(QStringLiteral("bombs"), pictures);
    Rig& emulator = rig();
    for (auto _ : state) {
        LoopWatch watch;
        const Clock::time_point start = Clock::now();
        const auto [storedAt, shownAt] = emulator.configureAndShow(frame, QStringLiteral("bombs"));
        state.SetIterationTime(std::chrono::duration<double>(storedAt - start).count());
        state.counters["loop_held_ms"] = watch.longestMillis();
        state.counters["stored_ms"] = std::chrono::duration<double, std::milli>(storedAt - start).count();
    }
    state.counters["frame_KiB"] = double(frame.size()) / 1024;
    state.counters["peak_MiB"] = peakMiB();
}

// Bytes from an agent's thread through a plain loopback socket until the
// last one arrived.
double plainSocketMillis(const QByteArray& bytes)
{
    QTcpServer listener;
    listener.listen(QHostAddress::LocalHost, 0);
    Agent sender;
    sender.connectTo(listener.serverPort());
    waitFor([&listener] { return listener.hasPendingConnections(); });
    std::unique_ptr<QTcpSocket> receiver(listener.nextPendingConnection());
    qint64 received = 0;
    const Clock::time_point start = Clock::now();
    sender.write(bytes);
    waitFor([&] {
        received += receiver->readAll().size();
        return received >= bytes.size();
    });
    return millisSince(start);
}

void BM_Large(benchmark::State& state)
{
    const qint64 bytes = state.range(0) * 1024 * 1024;
    // ZI pictures of 4095 x 4095 and what is left, stored as sent.
    QList<QByteArray> pictures;
    qint64 left = bytes * 3 / 4;
    QRandomGenerator random(3);
    while (left > 0) {
        const qint64 size = std::min<qint64>(left, ZIImageUtil::ziByteCount(4095, 4095) - 6);
        QByteArray pixels(int(size), Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32*>(pixels.data()), int(size / 4));
        pictures.append(ZIImageUtil::ziHeader(4095, 4095) + pixels);
        left -= size;
    }
    const QByteArray frame = configFrame(QStringLiteral("large"), pictures);
    std::vector<double> path, socket, parse, held;
    Rig& emulator = rig();
    for (auto _ : state) {
        LoopWatch watch;
        Clock::time_point start = Clock::now();
        emulator.send(frame, ZelvoRecord::Kind::AgentConfig);
        path.push_back(millisSince(start));
        held.push_back(watch.longestMillis());
        socket.push_back(plainSocketMillis(frame));
        start = Clock::now();
        benchmark::DoNotOptimize(QJsonDocument::fromJson(frame.mid(ZelvoFrame::headerSize)).isObject());
        parse.push_back(millisSince(start));
        state.SetIterationTime(path.back() / 1000);
    }
    state.counters["path_ms"] = percentile(path, 0.5);
    state.counters["floor_socket_ms"] = percentile(socket, 0.5);
    state.counters["floor_parse_ms"] = percentile(parse, 0.5);
    state.counters["loop_held_ms"] = *std::max_element(held.begin(), held.end());
}

void BM_Reset(benchmark::State& state)
{
    // A smooth photo: six of its noisy kind would not fit in one frame.
    QImage smooth(3000, 3000, QImage::Format_RGB32);
    for (int y = 0; y < smooth.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(smooth.scanLine(y));
        for (int x = 0; x < smooth.width(); ++x)
            line[x] = qRgb(x * 255 / smooth.width(), y * 255 / smooth.height(), (x * 7 + y * 13) & 0xFF);
    }
    const QByteArray png = pngOf(smooth);
    const QByteArray frame = configFrame(QStringLiteral("reset"), {png, png, png, png, png, png});
    std::vector<double> pending, idle;
    Rig& emulator = rig();
    for (auto _ : state) {
        pending.push_back(emulator.resetMillis(frame));
        idle.push_back(emulator.resetMillis());
        state.SetIterationTime(pending.back() / 1000);
    }
    state.counters["reset_ms"] = percentile(pending, 0.5);
    state.counters["floor_reset_idle_ms"] = percentile(idle, 0.5);
    state.counters["frame_MiB"] = double(frame.size()) / (1024 * 1024);
}

} // namespace

int main(int argc, char** argv)
{
    return runOffscreenBenchmarks(
        argc, argv,
        [] {
            benchmark::RegisterBenchmark("Photo", BM_Photo)
                ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
            benchmark::RegisterBenchmark("Bombs", BM_Bombs)
                ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
            benchmark::RegisterBenchmark("Large", BM_Large)
                ->ArgName("MiB")->Arg(4)->Arg(32)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
            // Last: a reset sets the persisting times back to their defaults.
            benchmark::RegisterBenchmark("Reset", BM_Reset)
                ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
        },
        [] { theRig.reset(); });
}
