// Content at animation rates through the real program: an agent sends
// "agent_content" 30 and 60 times a second for 10 seconds, each with another
// picture and another text (layout 2, persisting times 0 and a minute).
// Figures per rate: requests drawn and skipped (the control channel's
// record), frame to pixels (from the last byte written to the display's
// first paint of that content, which the program logs under the category
// "zelvo.paint" with the monotonic clock's time) and the program's CPU time
// per second (/proc/PID/stat). The floor, measured in this process at the
// same rate on the same platform: the same pictures and text drawn into a
// 320 x 240 image shown by a bare QGraphicsView of that size, from the start
// of the drawing to its paint.
//
//   bench_animation ZELVO_EMULATOR      (QT_QPA_PLATFORM chooses the platform)
//
// Prints one JSON object a rate on standard output.

#include "ZIImage.h"
#include "ZIImageUtil.h"
#include "ZelvoControlToken.h"
#include "ZelvoFrame.h"

#include <QApplication>
#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QHash>
#include <QHostAddress>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <vector>

namespace {

constexpr int pictureCount = 10;
constexpr int seconds = 10;

qint64 nowNs()
{
    return QDeadlineTimer::current(Qt::PreciseTimer).deadlineNSecs();
}

// User and system time of a process in seconds.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which may hold spaces: utime and stime
    // are the 12th and 13th of them.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values.at(std::min(values.size() - 1, size_t(fraction * double(values.size()))));
}

// A picture that differs from frame to frame: a bar of another length.
QImage picture(int index)
{
    QImage image(158, 174, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.fillRect(QRect(4, 70, 15 * (index + 1), 30), Qt::green);
    painter.drawRect(QRect(2, 68, 154, 34));
    return image;
}

QString text(int frame)
{
    return QStringLiteral("Frame %1").arg(frame);
}

// Sleeps between events, so that this process leaves the emulator its core;
// the timer only bounds each sleep.
void waitFor(const std::function<bool()>& done, int timeoutMillis = 30000)
{
    QDeadlineTimer deadline(timeoutMillis);
    QTimer wake;
    wake.start(20);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// Sends at rate frames a second for the given time; calls frame(n) at each tick.
void tick(int rate, const std::function<void(int)>& frame)
{
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(1000 / rate);
    int n = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] { frame(++n); });
    timer.start();
    waitFor([&] { return n >= rate * seconds; }, (seconds + 30) * 1000);
    timer.stop();
}

class Emulator final
{
public:
    explicit Emulator(const QString& program)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("zelvo.paint.info=true"));
        process.setProcessEnvironment(environment);
        process.setStandardOutputFile(QProcess::nullDevice());
        QObject::connect(&process, &QProcess::readyReadStandardError, [this] { readLog(); });
        process.start(program, {});
        waitFor([this] {
            agent.connectToHost(QHostAddress::LocalHost, 2000);
            return agent.waitForConnected(200);
        });
    }

    ~Emulator()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
    }

    bool isUp() const { return agent.state() == QAbstractSocket::ConnectedState; }
    qint64 pid() const { return process.processId(); }

    // The time of the write that carries the frame's last byte: taken before
    // it, since the emulator may run before this process returns from it.
    qint64 send(const QJsonObject& action)
    {
        const QByteArray frame = ZelvoFrame::encode(QJsonDocument(action).toJson(QJsonDocument::Compact));
        const qint64 sentAt = nowNs();
        agent.write(frame);
        agent.flush();
        return sentAt;
    }

    QHash<int, qint64> paints;

    // How many content records of each outcome the program holds.
    QHash<QString, int> outcomes()
    {
        QTcpSocket control;
        control.connectToHost(QHostAddress::LocalHost, 2001);
        control.waitForConnected(5000);
        QString error;
        const QByteArray token = ZelvoControlToken::readFile(ZelvoControlToken::filePath(), &error);
        if (token.isEmpty())
            std::fprintf(stderr, "bench_animation: %s\n", qPrintable(error));
        const auto call = [&control](const QJsonObject& request) {
            control.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
            while (!control.canReadLine() && control.waitForReadyRead(10000)) {
            }
            return QJsonDocument::fromJson(control.readLine()).object();
        };
        call({{"id", 1}, {"cmd", "auth"}, {"token", QString::fromLatin1(token)}});
        const QJsonArray records = call({{"id", 2}, {"cmd", "log"}}).value("records").toArray();
        QHash<QString, int> counts;
        for (const QJsonValue& record : records) {
            if (record.toObject().value("kind").toString() == QLatin1String("agent_content"))
                ++counts[record.toObject().value("outcome").toString()];
        }
        return counts;
    }

private:
    void readLog()
    {
        static const QRegularExpression painted(QStringLiteral("display painted content (-?\\d+) at (\\d+)"));
        buffer += process.readAllStandardError();
        int end;
        while ((end = buffer.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(buffer.left(end));
            buffer.remove(0, end + 1);
            const QRegularExpressionMatch match = painted.match(line);
            if (match.hasMatch() && !paints.contains(match.captured(1).toInt()))
                paints.insert(match.captured(1).toInt(), match.captured(2).toLongLong());
        }
    }

    QProcess process;
    QTcpSocket agent;
    QByteArray buffer;
};

class TimedItem final : public QGraphicsPixmapItem
{
public:
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override
    {
        QGraphicsPixmapItem::paint(painter, option, widget);
        if (pending >= 0 && !paints.contains(pending))
            paints.insert(pending, nowNs());
    }

    int pending = -1;
    QHash<int, qint64> paints;
};

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", QDir(home.path()).filePath(QStringLiteral(".config")).toLocal8Bit());
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_animation ZELVO_EMULATOR\n");
        return 2;
    }
    const QString program = QString::fromLocal8Bit(argv[1]);
    const QString platform = QGuiApplication::platformName();

    QList<QImage> pictures;
    QJsonArray images;
    for (int i = 0; i < pictureCount; ++i) {
        pictures.append(ZIImageUtil::ziUncompress(ZIImageUtil::ziCompress(picture(i)).toByteArray()));
        images.append(QString::fromLatin1(ZIImageUtil::ziCompress(picture(i)).toByteArray().toBase64()));
    }

    Emulator emulator(program);
    if (!emulator.isUp()) {
        std::fprintf(stderr, "bench_animation: %s does not take agents on port 2000\n", argv[1]);
        return 1;
    }
    emulator.send({{"command.type", "zelvo_config"}, {"minPersistingTimeMillis", 0}, {"maxPersistingTimeMillis", 60000}});
    emulator.send({{"command.type", "agent_config"}, {"appId", "animation"}, {"images", images}});

    QGraphicsScene scene;
    auto* item = new TimedItem;
    scene.addItem(item);
    QGraphicsView view(&scene);
    view.setFrameShape(QFrame::NoFrame);
    view.setFixedSize(320, 240);
    view.setSceneRect(0, 0, 320, 240);
    view.show();

    int contentId = 0;
    QHash<QString, int> before;
    for (const int rate : {30, 60}) {
        QHash<int, qint64> sent;
        const int firstId = contentId + 1;
        const double cpuBefore = cpuSeconds(emulator.pid());
        QElapsedTimer elapsed;
        elapsed.start();
        tick(rate, [&](int frame) {
            ++contentId;
            sent.insert(contentId, emulator.send({{"command.type", "agent_content"},
                                                  {"appId", "animation"},
                                                  {"contentId", contentId},
                                                  {"layoutId", "2"},
                                                  {"images.id", QJsonArray{QString::number(frame % pictureCount)}},
                                                  {"texts", QJsonArray{text(frame)}}}));
        });
        waitFor([&] { return emulator.paints.contains(contentId); }, 2000);
        const double cpu = (cpuSeconds(emulator.pid()) - cpuBefore) / (double(elapsed.nsecsElapsed()) / 1e9);
        const QHash<QString, int> outcomes = emulator.outcomes();

        std::vector<double> toPixels;
        for (int id = firstId; id <= contentId; ++id) {
            if (emulator.paints.contains(id))
                toPixels.push_back(double(emulator.paints.value(id) - sent.value(id)) / 1e6);
        }

        // The floor at the same rate.
        const double floorCpuBefore = cpuSeconds(QCoreApplication::applicationPid());
        elapsed.restart();
        QHash<int, qint64> started;
        tick(rate, [&](int frame) {
            started.insert(frame, nowNs());
            QImage canvas(320, 240, QImage::Format_ARGB32_Premultiplied);
            canvas.fill(Qt::transparent);
            {
                QPainter painter(&canvas);
                QFont font(QStringLiteral("DejaVu Sans"), 20, QFont::Bold);
                font.setCapitalization(QFont::AllUppercase);
                painter.setFont(font);
                painter.setPen(QPen(Qt::green, 5));
                painter.drawText(QRect(160, 24, 160, 216), Qt::TextWordWrap, text(frame));
                painter.drawImage(QPointF(0, 24), pictures.at(frame % pictureCount));
            }
            item->pending = frame;
            item->setPixmap(QPixmap::fromImage(std::move(canvas)));
        });
        waitFor([&] { return item->paints.contains(rate * seconds); }, 2000);
        const double floorCpu =
            (cpuSeconds(QCoreApplication::applicationPid()) - floorCpuBefore) / (double(elapsed.nsecsElapsed()) / 1e9);
        std::vector<double> floorToPixels;
        for (auto it = started.cbegin(); it != started.cend(); ++it) {
            if (item->paints.contains(it.key()))
                floorToPixels.push_back(double(item->paints.value(it.key()) - it.value()) / 1e6);
        }
        item->paints.clear();

        const QJsonObject figures{{"platform", platform},
                                  {"rate", rate},
                                  {"sent", rate * seconds},
                                  {"drawn", outcomes.value("drawn") - before.value("drawn")},
                                  {"skipped", outcomes.value("skipped") - before.value("skipped")},
                                  {"painted", int(toPixels.size())},
                                  {"p50_ms", percentile(toPixels, 0.5)},
                                  {"p99_ms", percentile(toPixels, 0.99)},
                                  {"cpu_per_s", cpu},
                                  {"floor_painted", int(floorToPixels.size())},
                                  {"floor_p50_ms", percentile(floorToPixels, 0.5)},
                                  {"floor_p99_ms", percentile(floorToPixels, 0.99)},
                                  {"floor_cpu_per_s", floorCpu}};
        std::printf("%s\n", QJsonDocument(figures).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
        before = outcomes;
    }
    return 0;
}
