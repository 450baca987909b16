// One "agent_content" frame from a loopback agent until the display image
// shows it, beside two floors: the same frame's bytes carried by a plain
// loopback socket, then drawn alone (what a frame to pixels costs without
// any of the emulator's own work), and the drawing alone for context (the
// same pictures, decoded beforehand, and the same texts on a 320 x 216
// canvas with the window's own drawing code). The frame and its carried
// floor alternate request by request, so that both meet the same moments
// of a shared machine. Every request is accepted (persisting times 0, each
// sent once the previous content is gone); each run reports the median and
// the 99th percentile of its requests and their ratios; scripts/bench sets
// the median ratio of five runs beside their spread.
// The drawing that describes what it drew (each text's lines and fit, each
// picture's place) is set beside the drawing as it was before it did, kept
// here as the baseline, the two alternating request by request in one run.

#include "BenchSupport.h"
#include "LoopbackRig.h"
#include "ZIImage.h"
#include "ZIImageUtil.h"
#include "ui/ZelvoEmulator.h"
#include "ui/ZelvoScreen.h"
#include "ZelvoFrame.h"
#include "model/ZelvoLayout.h"
#include "comm/ZelvoServer.h"
#include "util/ZelvoImageStore.h"
#include "util/ZelvoUtil.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFont>
#include <QFontMetrics>
#include <QHash>
#include <QHostAddress>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QPainter>
#include <QPen>
#include <QPointF>
#include <QTextLayout>
#include <QTextLine>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using Clock = LoopbackRig::Clock;

const QString agentHash = QStringLiteral("bench");

struct Request
{
    const char* name;
    int layout;
    QStringList imageIds;
    QStringList texts;
};

const QString longText = QStringLiteral(
    "The quick brown fox jumps over the lazy dog while the glasses show every word of this long "
    "message, wrapped line after line until the last visible line ends in an ellipsis");

const std::vector<Request>& requests()
{
    static const std::vector<Request> all{
        {"layout4_four_zi", 4, {"0", "1", "2", "3"}, {}},
        {"layout3_title_text", 3, {"4"}, {longText.left(80), longText}},
    };
    return all;
}

// A line drawing with some text, reduced to the glasses' lit pixels.
QByteArray ziPicture(int width, int height, int seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setPen(QPen(Qt::green, 3));
    painter.drawEllipse(QRect(4 + seed, 4, width - 12 - seed, height - 8));
    painter.drawLine(0, height - 1, width - 1, 0);
    painter.drawText(QRect(0, 0, width, height), Qt::AlignCenter, QStringLiteral("ZELVO %1").arg(seed));
    painter.end();
    return ZIImageUtil::ziCompress(image).toByteArray();
}

class Rig final
{
public:
    Rig()
    {
        loopback.send(QJsonObject{{"command.type", "zelvo_config"}, {"minPersistingTimeMillis", 0}, {"maxPersistingTimeMillis", 0}});
        QJsonArray images;
        for (int i = 0; i < 4; ++i)
            images.append(QString::fromLatin1(ziPicture(158, 106, i).toBase64()));
        images.append(QString::fromLatin1(ziPicture(158, 174, 4).toBase64()));
        loopback.send(QJsonObject{{"command.type", "agent_config"}, {"appId", agentHash}, {"images", images}});

        plainServer.listen(QHostAddress::LocalHost);
        plainSender.connectToHost(QHostAddress::LocalHost, plainServer.serverPort());
        waitFor([this] { return plainServer.hasPendingConnections(); });
        plainReceiver.reset(plainServer.nextPendingConnection());
    }

    // Until the content shown last has gone, and with it the work it left.
    void settle()
    {
        ZelvoEmulator& window = loopback.window();
        waitFor([&window] { return !window.isMinPersistingTimerRunning() && !window.isContentOnDisplay(); });
        QCoreApplication::processEvents();
    }

    // Microseconds from the first byte written to the content on display.
    double show(const Request& request, int contentId)
    {
        const QByteArray frame = encoded(request, contentId);
        settle();
        const Clock::time_point start = Clock::now();
        return std::chrono::duration<double, std::micro>(loopback.send(frame) - start).count();
    }

    // Microseconds for the drawing alone, on the window's canvas with its
    // own text code and the pictures decoded beforehand, as the window keeps
    // them once their configuration stored them.
    double drawAlone(const Request& request)
    {
        const ZelvoLayout& layout = ZelvoLayout::builtInLayouts().at(request.layout);
        QList<QImage> pictures;
        for (const QString& id : request.imageIds)
            pictures.append(decoded(id));

        const Clock::time_point start = Clock::now();
        QImage canvas(320, 216, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        {
            QPainter painter(&canvas);
            for (int i = 0; i < request.texts.size(); ++i)
                loopback.window().drawElidedText(&painter, layout.texts().at(i), request.texts.at(i));
            for (int i = 0; i < pictures.size(); ++i)
                painter.drawImage(QPointF(layout.images().at(i).topLeft()), pictures.at(i));
        }
        benchmark::DoNotOptimize(canvas.constBits());
        return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    }

    // Microseconds for drawing a request and describing it as the window
    // does, and for drawing it as the window did before it described
    // anything: the same canvas, texts and decoded pictures.
    double drawDescribed(const Request& request)
    {
        const ZelvoLayout& layout = ZelvoLayout::builtInLayouts().at(request.layout);
        const QList<QImage> pictures = decodedAll(request);
        // The window makes its record whether it describes or not.
        ZelvoRecord record;
        const Clock::time_point start = Clock::now();
        QImage canvas(320, 216, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        ZelvoScreen screen;
        {
            QPainter painter(&canvas);
            for (int i = 0; i < request.texts.size(); ++i)
                screen.texts.append(loopback.window().drawElidedText(&painter, layout.texts().at(i), request.texts.at(i)));
            for (int i = 0; i < pictures.size(); ++i) {
                painter.drawImage(QPointF(layout.images().at(i).topLeft()), pictures.at(i));
                ZelvoScreen::Image image;
                image.id = request.imageIds.at(i);
                image.rect = layout.images().at(i);
                screen.place(&image, pictures.at(i).size(), canvas.size());
                screen.images.append(image);
            }
        }
        screen.describeFit(&record);
        benchmark::DoNotOptimize(canvas.constBits());
        benchmark::DoNotOptimize(record.textsNotFitting.constData());
        return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    }

    double drawAsBefore(const Request& request)
    {
        const ZelvoLayout& layout = ZelvoLayout::builtInLayouts().at(request.layout);
        const QList<QImage> pictures = decodedAll(request);
        const Clock::time_point start = Clock::now();
        QImage canvas(320, 216, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        {
            QPainter painter(&canvas);
            for (int i = 0; i < request.texts.size(); ++i)
                drawTextAsBefore(&painter, layout.texts().at(i), request.texts.at(i));
            for (int i = 0; i < pictures.size(); ++i)
                painter.drawImage(QPointF(layout.images().at(i).topLeft()), pictures.at(i));
        }
        benchmark::DoNotOptimize(glyphsCoveredAsBefore(request.texts));
        benchmark::DoNotOptimize(canvas.constBits());
        return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    }

    // Microseconds for the same frame's bytes over a plain loopback socket,
    // read whole where they arrive, and then the drawing alone.
    double carryAndDrawAlone(const Request& request, int contentId)
    {
        const QByteArray frame = encoded(request, contentId);
        const Clock::time_point start = Clock::now();
        plainSender.write(frame);
        plainSender.flush();
        QByteArray received;
        waitFor([&] {
            received += plainReceiver->readAll();
            return received.size() == frame.size();
        });
        benchmark::DoNotOptimize(received.constData());
        return std::chrono::duration<double, std::micro>(Clock::now() - start).count() + drawAlone(request);
    }

private:
    // The window's text drawing before it described its lines: the
    // baseline of the description's cost.
    void drawTextAsBefore(QPainter* painter, const QRect& rect, const QString& text)
    {
        QFont font(QStringLiteral("DejaVu Sans"), 20, QFont::Bold);
        font.setCapitalization(QFont::AllUppercase);
        painter->setPen(QPen(QBrush(Qt::green), 5));
        painter->setFont(font);
        const QFontMetrics metrics = painter->fontMetrics();
        const int lineSpacing = metrics.lineSpacing();
        QTextLayout textLayout(text, painter->font());
        textLayout.beginLayout();
        int y = 0;
        for (;;) {
            QTextLine line = textLayout.createLine();
            if (!line.isValid())
                break;
            line.setLineWidth(rect.width());
            if (rect.height() < y + 2 * lineSpacing) {
                painter->drawText(QPoint(rect.left(), rect.top() + y + metrics.ascent()),
                                  metrics.elidedText(text.mid(line.textStart()), Qt::ElideRight, rect.width()));
                break;
            }
            line.draw(painter, QPointF(rect.left(), rect.top() + y));
            y += lineSpacing;
        }
        textLayout.endLayout();
    }

    // The characters without a glyph, counted then after drawing for the
    // record, in the common case of a font that has them all.
    static bool glyphsCoveredAsBefore(const QStringList& texts)
    {
        QFont font(QStringLiteral("DejaVu Sans"), 20, QFont::Bold);
        font.setCapitalization(QFont::AllUppercase);
        const QFontMetrics metrics(font);
        bool covered = true;
        for (const QString& text : texts) {
            for (uint character : text.toUcs4())
                covered = covered && (QChar::isSpace(character) || metrics.inFontUcs4(character));
        }
        return covered;
    }

    QList<QImage> decodedAll(const Request& request)
    {
        QList<QImage> all;
        for (const QString& id : request.imageIds)
            all.append(decoded(id));
        return all;
    }

    static QByteArray encoded(const Request& request, int contentId)
    {
        return ZelvoFrame::encode(QJsonDocument(contentAction(request, contentId)).toJson(QJsonDocument::Compact));
    }

    QImage decoded(const QString& id)
    {
        if (!pictures.contains(id)) {
            const QString directory = loopback.window().imageStore()->agentImagePath(agentHash);
            pictures.insert(id, ZIImageUtil::ziUncompress(
                                    directory + QLatin1Char('/') + ZelvoUtil::agentImageFileName(agentHash, id, QStringLiteral(".zi"))));
        }
        return pictures.value(id);
    }

    static QJsonObject contentAction(const Request& request, int contentId)
    {
        return {{"command.type", "agent_content"},
                {"appId", agentHash},
                {"contentId", contentId},
                {"layoutId", QString::number(request.layout)},
                {"images.id", QJsonArray::fromStringList(request.imageIds)},
                {"texts", QJsonArray::fromStringList(request.texts)}};
    }

    LoopbackRig loopback;
    QHash<QString, QImage> pictures;
    QTcpServer plainServer;
    QTcpSocket plainSender;
    std::unique_ptr<QTcpSocket> plainReceiver;
};

Rig& rig()
{
    static Rig instance;
    return instance;
}

// Times each request with show and reports the median and the 99th
// percentile of the run, which scripts/bench sets beside the floor's.
template<typename Show>
void timeRequests(benchmark::State& state, Show show)
{
    std::vector<double> times;
    times.reserve(size_t(state.max_iterations));
    for (auto _ : state) {
        const double micros = show();
        state.SetIterationTime(micros / 1e6);
        times.push_back(micros);
    }
    state.counters["p50_us"] = percentile(times, 0.5);
    state.counters["p99_us"] = percentile(times, 0.99);
}

void BM_Floor(benchmark::State& state, const Request& request)
{
    timeRequests(state, [&] { return rig().drawAlone(request); });
}

// The drawing with its description and as before it, alternating, with
// the ratio of their medians and 99th percentiles.
void BM_Description(benchmark::State& state, const Request& request)
{
    std::vector<double> described;
    std::vector<double> before;
    for (auto _ : state) {
        const double micros = rig().drawDescribed(request);
        before.push_back(rig().drawAsBefore(request));
        described.push_back(micros);
        state.SetIterationTime(micros / 1e6);
    }
    setRatioCounters(state, "described", described, "before", before);
}

// The frame to the display and its bytes over a plain socket then drawn,
// alternating, with the ratio of their medians and 99th percentiles.
void BM_Path(benchmark::State& state, const Request& request)
{
    std::vector<double> shown;
    std::vector<double> carried;
    int contentId = 0;
    for (auto _ : state) {
        const double micros = rig().show(request, ++contentId);
        rig().settle();
        carried.push_back(rig().carryAndDrawAlone(request, contentId));
        shown.push_back(micros);
        state.SetIterationTime(micros / 1e6);
    }
    setRatioCounters(state, "path", shown, "carried", carried);
}

} // namespace

int main(int argc, char** argv)
{
    return runOffscreenBenchmarks(argc, argv, [] {
        using Run = void (*)(benchmark::State&, const Request&);
        const std::pair<const char*, Run> runs[] = {{"Path/", BM_Path}, {"Floor/", BM_Floor}, {"Description/", BM_Description}};
        for (const Request& request : requests()) {
            for (const auto& [prefix, run] : runs) {
                benchmark::RegisterBenchmark((std::string(prefix) + request.name).c_str(), run, request)
                    ->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(3000)->Repetitions(5);
            }
        }
    });
}
