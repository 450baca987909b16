#include "AgentReplay.h"

#include "CtlConnection.h"
#include "ExitCode.h"
#include "ZelvoFrame.h"
#include "ZelvoFrameReader.h"
#include "ZelvoImageComparison.h"
#include "ZelvoInstance.h"
#include "ZelvoPorts.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

constexpr int connectMillis = 5000;
// Events still due after the last frame get this long to arrive.
constexpr qint64 lateEventMillis = 1500;
constexpr qint64 controlMillis = 15000;

// One event as a line, the same for a recorded and a received one.
QString eventLine(int type, const QString& agent, int contentId, const QVector<float>& values)
{
    QStringList numbers;
    for (float value : values)
        numbers.append(QString::number(double(value), 'g', 6));
    return QStringLiteral("type %1 appId \"%2\" content %3 values %4").arg(type).arg(agent).arg(contentId)
        .arg(numbers.join(QLatin1Char(' ')));
}

} // namespace

QString AgentReplay::parse(const QStringList& arguments, Options* options)
{
    // "--port=P" reads as "--port P", as in the other commands.
    QStringList split;
    for (const QString& argument : arguments) {
        const int equals = argument.indexOf(QLatin1Char('='));
        if (argument.startsWith(QLatin1String("--")) && equals > 2)
            split << argument.left(equals) << argument.mid(equals + 1);
        else
            split << argument;
    }
    // The environment and a ports file name the instance; --port and
    // --control-port override them.
    const int portsFileAt = split.indexOf(QStringLiteral("--ports-file"));
    ZelvoInstance instance;
    QString error;
    if (!instance.locate(portsFileAt > 0 ? split.value(portsFileAt + 1) : QString(), &error))
        return error;
    options->host = instance.host;
    options->agentPort = instance.agentPort;
    options->controlPort = instance.controlPort;
    options->tokenFile = instance.tokenFile();
    if (portsFileAt > 0)
        split.erase(split.begin() + portsFileAt, split.begin() + qMin(portsFileAt + 2, int(split.size())));
    for (int i = 2; i < split.size(); ++i) {
        const QString& argument = split.at(i);
        const bool hasValue = i + 1 < split.size();
        bool ok = true;
        if (argument == QLatin1String("--speed") && hasValue) {
            options->speed = split.at(++i).toDouble(&ok);
            if (!ok || !(options->speed > 0 && options->speed <= 1000))
                return QStringLiteral("--speed needs a factor above 0 up to 1000, not '%1'").arg(split.at(i));
        } else if (argument == QLatin1String("--expect-display") && hasValue) {
            options->displayDirectory = split.at(++i);
        } else if ((argument == QLatin1String("--port") || argument == QLatin1String("--control-port")) && hasValue) {
            const uint port = split.at(++i).toUInt(&ok);
            if (!ok || port == 0 || port > 65535)
                return QStringLiteral("%1 needs a port from 1 to 65535, not '%2'").arg(argument, split.at(i));
            (argument == QLatin1String("--port") ? options->agentPort : options->controlPort) = quint16(port);
        } else if (!argument.startsWith(QLatin1String("--")) && options->file.isEmpty()) {
            options->file = argument;
        } else {
            return QStringLiteral("unexpected argument '%1'").arg(argument);
        }
    }
    if (options->file.isEmpty())
        return QStringLiteral("give the recorded session: zelvo-agent replay FILE [--speed F] [--expect-display DIR]");
    return QString();
}

AgentReplay::AgentReplay(const Options& options, QObject* parent)
    : QObject(parent)
    , options(options)
{
}

AgentReplay::~AgentReplay() = default;

bool AgentReplay::load(QString* error)
{
    QFile file(options.file);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(options.file, file.errorString());
        return false;
    }
    qint64 start = -1;
    int lineNumber = 0;
    while (!file.atEnd()) {
        const QByteArray read = file.readLine();
        const QByteArray line = read.trimmed();
        ++lineNumber;
        if (line.isEmpty())
            continue;
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        // An emulator killed while it wrote a line leaves that line cut.
        if (record.isEmpty() && file.atEnd() && !read.endsWith('\n')) {
            std::fprintf(stderr, "zelvo-agent: %s:%d: the last line is cut short, skipped\n",
                         qUtf8Printable(options.file), lineNumber);
            break;
        }
        if (record.isEmpty()) {
            *error = QStringLiteral("%1:%2: not a JSON record").arg(options.file).arg(lineNumber);
            return false;
        }
        const qint64 time = qint64(record.value(QStringLiteral("time")).toDouble());
        if (start < 0)
            start = time;
        const QString kind = record.value(QStringLiteral("kind")).toString();
        if (kind == QLatin1String("frame")) {
            Frame frame;
            frame.millis = time - start;
            frame.agent = record.value(QStringLiteral("agent")).toString();
            const int connection = record.value(QStringLiteral("connection")).toInt();
            frame.link = connection > 0 ? QString::number(connection) : QLatin1String("agent ") + frame.agent;
            frame.payload = record.contains(QStringLiteral("payload"))
                                ? record.value(QStringLiteral("payload")).toString().toUtf8()
                                : QByteArray::fromBase64(record.value(QStringLiteral("payloadBase64")).toString().toLatin1());
            frame.content = record.value(QStringLiteral("commandType")).toString() == QLatin1String("agent_content");
            frame.contentId = record.value(QStringLiteral("contentId")).toInt(-1);
            if (!frame.payload.isEmpty())
                frames.append(frame);
        } else if (kind == QLatin1String("event")) {
            QVector<float> values;
            for (const QJsonValue value : record.value(QStringLiteral("values")).toArray())
                values.append(float(value.toDouble()));
            recordedEvents.append(eventLine(record.value(QStringLiteral("eventType")).toInt(),
                                            record.value(QStringLiteral("agent")).toString(),
                                            record.value(QStringLiteral("contentId")).toInt(-1), values));
            lastEventMillis = time - start;
        }
    }
    return true;
}

bool AgentReplay::connectAgents(QString* error)
{
    for (const Frame& frame : qAsConst(frames)) {
        if (sockets.contains(frame.link))
            continue;
        auto* socket = new QTcpSocket(this);
        socket->connectToHost(options.host, options.agentPort);
        if (!socket->waitForConnected(connectMillis)) {
            *error = QStringLiteral("no emulator on port %1: %2").arg(options.agentPort).arg(socket->errorString());
            return false;
        }
        // Every connection gets every event; the first one listens for all.
        auto reader = std::make_shared<ZelvoFrameReader>();
        const bool listen = sockets.isEmpty();
        connect(socket, &QTcpSocket::readyRead, this,
                [this, socket, reader, listen] { readEvents(socket, reader.get(), listen); });
        sockets.insert(frame.link, socket);
    }
    return true;
}

void AgentReplay::readEvents(QTcpSocket* socket, ZelvoFrameReader* reader, bool listen)
{
    if (!reader->append(socket->readAll()))
        return;
    while (reader->hasPayload()) {
        const QJsonObject event = QJsonDocument::fromJson(reader->takePayload()).object();
        if (!listen)
            continue;
        const QJsonObject data = event.value(QStringLiteral("data")).toObject();
        QVector<float> values;
        for (const QJsonValue value : data.value(QStringLiteral("values")).toArray())
            values.append(value.toString().toFloat());
        receivedEvents.append(eventLine(data.value(QStringLiteral("type")).toInt(),
                                        event.value(QStringLiteral("appId")).toString(),
                                        event.value(QStringLiteral("contentId")).toString().toInt(), values));
    }
}

void AgentReplay::waitUntil(qint64 millis)
{
    const qint64 remaining = millis - clock.elapsed();
    if (remaining <= 0)
        return;
    QEventLoop loop;
    QTimer::singleShot(int(remaining), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool AgentReplay::checkDisplay(const Frame& frame, int number)
{
    // Wait until the emulator has decided about this content, then read the display.
    CtlConnection wait(options.host, options.controlPort, options.tokenFile, controlMillis);
    const CtlConnection::Result waited = wait.call({{QStringLiteral("cmd"), QStringLiteral("wait")},
                                                    {QStringLiteral("contentOf"), frame.agent},
                                                    {QStringLiteral("contentId"), frame.contentId},
                                                    {QStringLiteral("timeout"), 5000}});
    if (waited == CtlConnection::Result::Unreachable) {
        std::fprintf(stderr, "zelvo-agent: %s\n", qUtf8Printable(wait.errorString()));
        return false;
    }
    CtlConnection screenshot(options.host, options.controlPort, options.tokenFile, controlMillis);
    if (screenshot.call({{QStringLiteral("cmd"), QStringLiteral("screenshot")}}) != CtlConnection::Result::Done) {
        std::fprintf(stderr, "zelvo-agent: %s\n", qUtf8Printable(screenshot.errorString()));
        return false;
    }
    const QImage shown = QImage::fromData(
        QByteArray::fromBase64(screenshot.results().value(QStringLiteral("png")).toString().toLatin1()), "PNG");
    const QDir directory(options.displayDirectory);
    const QString expectedPath = directory.filePath(QStringLiteral("content-%1.png").arg(number));
    if (!QFileInfo::exists(expectedPath)) {
        std::printf("display after content %d: written to %s\n", number, qUtf8Printable(expectedPath));
        return shown.save(expectedPath, "PNG");
    }
    const ZelvoImageComparison comparison = ZelvoImageComparison::compare(shown, QImage(expectedPath));
    if (comparison.matches()) {
        std::printf("display after content %d: same as %s\n", number, qUtf8Printable(expectedPath));
        return true;
    }
    const QString diffPath = directory.filePath(QStringLiteral("content-%1-diff.png").arg(number));
    comparison.difference.save(diffPath, "PNG");
    std::printf("display after content %d: DIFFERS from %s in %d pixels, see %s\n", number,
                qUtf8Printable(expectedPath), comparison.differingPixels, qUtf8Printable(diffPath));
    return false;
}

int AgentReplay::compareEvents() const
{
    const int count = qMax(recordedEvents.size(), receivedEvents.size());
    bool same = recordedEvents.size() == receivedEvents.size();
    for (int i = 0; i < count; ++i) {
        const QString recorded = recordedEvents.value(i, QStringLiteral("-"));
        const QString received = receivedEvents.value(i, QStringLiteral("-"));
        same = same && recorded == received;
        std::printf("event %d %s\n  recorded: %s\n  received: %s\n", i + 1, recorded == received ? "same" : "DIFFERS",
                    qUtf8Printable(recorded), qUtf8Printable(received));
    }
    std::printf("%d events recorded, %d received: %s\n", int(recordedEvents.size()), int(receivedEvents.size()),
                same ? "the same" : "different");
    return toInt(same ? ExitCode::Success : ExitCode::Failure);
}

int AgentReplay::run()
{
    QString error;
    if (!load(&error)) {
        std::fprintf(stderr, "zelvo-agent: %s\n", qUtf8Printable(error));
        return toInt(ExitCode::Failure);
    }
    if (!connectAgents(&error)) {
        std::fprintf(stderr, "zelvo-agent: %s\n", qUtf8Printable(error));
        return toInt(ExitCode::Unreachable);
    }
    if (!options.displayDirectory.isEmpty() && !QDir().mkpath(options.displayDirectory)) {
        std::fprintf(stderr, "zelvo-agent: cannot make %s\n", qUtf8Printable(options.displayDirectory));
        return toInt(ExitCode::Failure);
    }
    clock.start();
    int contentNumber = 0;
    bool displaySame = true;
    qint64 pause = 0;
    for (const Frame& frame : qAsConst(frames)) {
        waitUntil(qint64(double(frame.millis) / options.speed) + pause);
        QTcpSocket* socket = sockets.value(frame.link);
        socket->write(ZelvoFrame::encode(frame.payload));
        socket->flush();
        if (frame.content && !options.displayDirectory.isEmpty()) {
            // The checks take time of their own, which the schedule leaves out.
            const qint64 before = clock.elapsed();
            displaySame = checkDisplay(frame, ++contentNumber) && displaySame;
            pause += clock.elapsed() - before;
        }
    }
    waitUntil(qMax(frames.isEmpty() ? 0 : qint64(double(frames.constLast().millis) / options.speed),
                   qint64(double(lastEventMillis) / options.speed)) + pause + lateEventMillis);
    const int events = compareEvents();
    return toInt(events == 0 && displaySame ? ExitCode::Success : ExitCode::Failure);
}
