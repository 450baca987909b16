#include "control/ZelvoControlCommands.h"

#include "clock/ZelvoClock.h"
#include "control/ZelvoControlRequest.h"
#include "control/ZelvoTracePlayer.h"
#include "control/ZelvoTraceReader.h"
#include "comm/ZelvoServer.h"
#include "services/ZelvoServices.h"
#include "pending/ZelvoPendingReply.h"
#include "pose/ZelvoHeadMotion.h"
#include "ui/Button.h"
#include "ui/ZelvoEmulator.h"
#include "recording/ZelvoDisplayHistory.h"
#include "ZelvoReport.h"
#include "ui/sensor/ZelvoSensorList.h"
#include "ZelvoControlCommand.h"
#include "ZelvoFile.h"
#include "ZelvoSensorReading.h"
#include "ZelvoTrace.h"
#include "record/ZelvoRecorder.h"
#include "recording/ZelvoDisplayRecorder.h"
#include "recording/ZelvoSessionRecorder.h"
#include "util/ZelvoImageStore.h"
#include "util/ZelvoUtil.h"
#include "ZelvoVocabulary.h"

#include <QByteArray>
#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cmath>
#include <utility>

namespace {

// Beyond this a trace file is not a trace.
constexpr qint64 maxTraceBytes = 64 * 1024 * 1024;

QJsonObject traceState(const ZelvoTracePlayer& player)
{
    return {{QStringLiteral("playing"), player.isPlaying()},
            {QStringLiteral("played"), player.playedCount()},
            {QStringLiteral("readings"), player.readingCount()}};
}

// What a recording wrote: its file, how many frames or records, and bytes.
QJsonObject written(const QString& path, const QString& countKey, int count)
{
    return {{QStringLiteral("file"), path}, {countKey, count}, {QStringLiteral("bytes"), double(QFileInfo(path).size())}};
}

ZelvoHeadPose headPoseOf(const ZelvoSensorReading& reading)
{
    return ZelvoHeadPose(double(reading.values[0]), double(reading.values[1]), double(reading.values[2]));
}

// The pose a request asks for: the angles it gives, the others as they are.
ZelvoHeadPose requestedPose(const ZelvoControlRequest& request, const ZelvoHeadPose& current)
{
    const auto angle = [&request](const QString& key, double now) { return request.has(key) ? request.number(key) : now; };
    return ZelvoHeadPose(angle(QStringLiteral("yaw"), current.yaw()), angle(QStringLiteral("pitch"), current.pitch()),
                         angle(QStringLiteral("roll"), current.roll()));
}

ZelvoEmulator::Control controlOf(const ZelvoControlRequest& request)
{
    return request.text(QStringLiteral("button")) == ZelvoVocabulary::buttonName(ZelvoVocabulary::PlusButton)
        ? ZelvoEmulator::Control::Plus
        : ZelvoEmulator::Control::Minus;
}

// The outcome of the latest content message, or null before any.
QJsonValue lastOutcome(const ZelvoRecord& record)
{
    if (record.sequence == 0)
        return QJsonValue::Null;
    return QJsonObject{{QStringLiteral("seq"), double(record.sequence)},
                       {QStringLiteral("outcome"), ZelvoRecord::outcomeName(record.outcome)},
                       {QStringLiteral("agent"), record.agent},
                       {QStringLiteral("contentId"), record.contentId},
                       {QStringLiteral("sentence"), record.sentence()}};
}

// A failed wait names at most this many frames, the first ones.
constexpr int namedFrames = 5;

// A frame that changed nothing the agent may have meant: not an action, an
// unknown command type, a member its type does not read, a layout that
// does not exist.
bool isWithoutEffect(const ZelvoRecord& record)
{
    if (record.kind == ZelvoRecord::Kind::FrameReceived)
        return record.outcome == ZelvoRecord::Outcome::NoAction || !record.source.lint.ignored.isEmpty();
    return record.kind == ZelvoRecord::Kind::AgentContent && record.reason == ZelvoRecord::Reason::NoSuchLayout;
}

// Why a wait for the agent's content ran out: its frames after sequence
// that had no effect, by sequence number and sentence.
QString framesWithoutEffect(const ZelvoRecorder& recorder, const QString& agentHash, quint64 sequence)
{
    const QSet<int> connections = recorder.connectionsOf(agentHash);
    QStringList named;
    int unnamed = 0;
    for (const ZelvoRecord& record : recorder.since(sequence)) {
        if (!isWithoutEffect(record) || !record.isOf(agentHash, connections))
            continue;
        if (named.size() < namedFrames)
            named.append(QStringLiteral("record %1: %2").arg(record.sequence).arg(record.sentence()));
        else
            ++unnamed;
    }
    if (named.isEmpty())
        return QString();
    return QStringLiteral("; its frames without effect: ") + named.join(QStringLiteral("; "))
        + (unnamed > 0 ? QStringLiteral("; and %1 more").arg(unnamed) : QString());
}

} // namespace

ZelvoControlCommands::ZelvoControlCommands(ZelvoEmulator* window, ZelvoServer* server, const ZelvoServices& services,
                                           QObject* parent)
    : QObject(parent)
    , window(window)
    , server(server)
    , deviceClock(services.clock.get())
    , messageRecorder(services.recorder.get())
    , head(services.headMotion.get())
    , displayRecorder(services.displayRecorder.get())
    , sessionRecorder(services.sessionRecorder.get())
    , displayHistory(services.displayHistory.get())
    , player(new ZelvoTracePlayer(deviceClock, this))
    , reader(new ZelvoTraceReader(this))
{
    connect(player, &ZelvoTracePlayer::readingDue, this, &ZelvoControlCommands::shoot);
    connect(player, &ZelvoTracePlayer::poseDue, this, &ZelvoControlCommands::followTracePose);
    connect(player, &ZelvoTracePlayer::finished, this, [this] { traceMovesHead = false; });
}

ZelvoControlCommands::~ZelvoControlCommands() = default;

ZelvoControlCommands::Operation ZelvoControlCommands::operation(const QString& operationName)
{
    using C = ZelvoControlCommands;
    static const QHash<QString, Operation> operations = {
        {QStringLiteral("button click"), &C::click},
        {QStringLiteral("button press"), &C::press},
        {QStringLiteral("button release"), &C::release},
        {QStringLiteral("button long"), &C::longPress},
        {QStringLiteral("sensor shot"), &C::sensorShot},
        {QStringLiteral("sensor start"), &C::simulate},
        {QStringLiteral("sensor stop"), &C::simulate},
        {QStringLiteral("trace play"), &C::playTrace},
        {QStringLiteral("trace stop"), &C::stopTrace},
        {QStringLiteral("screenshot"), &C::screenshot},
        {QStringLiteral("record display"), &C::recordDisplay},
        {QStringLiteral("record session"), &C::recordSession},
        {QStringLiteral("record stop"), &C::stopRecording},
        {QStringLiteral("state"), &C::state},
        {QStringLiteral("screen"), &C::screen},
        {QStringLiteral("wait"), &C::wait},
        {QStringLiteral("fullscreen"), &C::fullScreen},
        {QStringLiteral("link state"), &C::link},
        {QStringLiteral("link drop"), &C::link},
        {QStringLiteral("link refuse"), &C::link},
        {QStringLiteral("link delay"), &C::link},
        {QStringLiteral("battery"), &C::battery},
        {QStringLiteral("reset"), &C::reset},
        {QStringLiteral("web"), &C::web},
        {QStringLiteral("clock pause"), &C::clock},
        {QStringLiteral("clock resume"), &C::clock},
        {QStringLiteral("clock advance"), &C::clock},
        {QStringLiteral("clock state"), &C::clock},
        {QStringLiteral("pose set"), &C::setPose},
        {QStringLiteral("pose move"), &C::movePose},
        {QStringLiteral("pose gesture"), &C::movePose},
        {QStringLiteral("pose rate"), &C::poseState},
        {QStringLiteral("pose stop"), &C::poseState},
        {QStringLiteral("pose state"), &C::poseState},
        {QStringLiteral("report"), &C::report},
        {QStringLiteral("mark"), &C::mark},
    };
    return operations.value(operationName);
}

void ZelvoControlCommands::catchUpClock() const
{
    deviceClock->catchUp();
}

void ZelvoControlCommands::execute(const QJsonObject& json, const Reply& reply, QObject* client)
{
    catchUpClock();
    const ZelvoControlCommand* command = nullptr;
    const ZelvoControlCommand::Action* action = nullptr;
    const QString error = ZelvoControlCommand::check(json, &command, &action);
    if (!error.isEmpty()) {
        reply(ZelvoControlCommand::usageError(), error);
        return;
    }
    const QString name = command->operationName(*action);
    const Operation apply = operation(name);
    if (!apply) {
        reply({}, QStringLiteral("unknown command \"%1\"").arg(name));
        return;
    }
    const ZelvoControlRequest request(json, action->name, command->fieldsOf(*action), client);
    if (!isRecorded(name)) {
        (this->*apply)(request, reply);
        return;
    }
    // In the record before what it causes; a refusal has a record of its own.
    const QString given = commandText(json, *command, *action);
    recordCommand(given, QString());
    (this->*apply)(request, [this, given, reply](const QJsonObject& results, const QString& error) {
        if (!error.isEmpty())
            recordCommand(given, error);
        reply(results, error);
    });
}

bool ZelvoControlCommands::isRecorded(const QString& operationName)
{
    // What only reads leaves the record alone, and a reset leaves it as
    // empty as a fresh start does.
    static const QStringList unrecorded = {QStringLiteral("state"),       QStringLiteral("screen"),
                                        QStringLiteral("wait"),        QStringLiteral("web"),
                                        QStringLiteral("link state"),  QStringLiteral("clock state"),
                                        QStringLiteral("pose state"),  QStringLiteral("report"),
                                        QStringLiteral("mark"),        QStringLiteral("screenshot"),
                                        QStringLiteral("reset")};
    return !unrecorded.contains(operationName);
}

QString ZelvoControlCommands::commandText(const QJsonObject& request, const ZelvoControlCommand& command,
                                          const ZelvoControlCommand::Action& action)
{
    // As zelvo-ctl would be given it: "button click plus", "clock advance 6000 ms".
    QStringList words{command.operationName(action)};
    for (const ZelvoControlField& field : command.fieldsOf(action)) {
        const QJsonValue value = request.value(field.key);
        if (value.isUndefined() || !field.sent)
            continue;
        QString shown;
        if (value.isArray()) {
            QStringList numbers;
            for (const QJsonValue each : value.toArray())
                numbers.append(QString::number(each.toDouble()));
            shown = numbers.join(QLatin1Char(' '));
        } else if (value.isBool()) {
            shown = value.toBool() ? QStringLiteral("on") : QStringLiteral("off");
        } else if (value.isDouble()) {
            shown = QString::number(value.toDouble());
        } else {
            shown = value.toString();
        }
        words.append(field.isOption() ? QStringLiteral("--%1 %2").arg(field.commandLineOption, shown) : shown);
    }
    return words.join(QLatin1Char(' '));
}

void ZelvoControlCommands::recordCommand(const QString& given, const QString& error)
{
    ZelvoRecord record(ZelvoRecord::Direction::Control, ZelvoRecord::Kind::Command,
                       error.isEmpty() ? ZelvoRecord::Outcome::Info : ZelvoRecord::Outcome::Refused);
    record.text = given;
    record.error = error;
    messageRecorder->append(std::move(record));
}

void ZelvoControlCommands::mark(const ZelvoControlRequest& request, const Reply& reply)
{
    ZelvoRecord record(ZelvoRecord::Direction::Control, ZelvoRecord::Kind::Mark, ZelvoRecord::Outcome::Info);
    record.text = request.text(QStringLiteral("text"));
    const quint64 sequence = messageRecorder->append(std::move(record));
    reply({{QStringLiteral("seq"), double(sequence)}}, QString());
}

void ZelvoControlCommands::report(const ZelvoControlRequest& request, const Reply& reply)
{
    const quint64 since = quint64(request.number(QStringLiteral("since")));
    const QString title = request.text(QStringLiteral("title"));
    // Once the display's last changes are compressed; the records are
    // taken then too, so that both end at the same moment.
    displayHistory->framesSince(
        since, [recorder = messageRecorder, clock = deviceClock, since, title, reply](const ZelvoDisplayHistory::Frames& frames, qint64 dropped) {
            ZelvoReport report;
            report.title = title.isEmpty() ? QStringLiteral("ZelvoEmulator") : title;
            report.madeMillis = QDateTime::currentMSecsSinceEpoch();
            report.startMillis = clock->epochMillis() - clock->now();
            const QVector<ZelvoRecord> records = recorder->since(since);
            for (const ZelvoRecord& record : records)
                report.records.append(record.toJson());
            const quint64 first = records.isEmpty() ? recorder->lastSequence() + 1 : records.first().sequence;
            const quint64 from = std::max(since, recorder->clearedAfter());
            report.droppedRecords = first > from + 1 ? qint64(first - 1 - from) : 0;
            report.frames = frames;
            report.droppedFrames = dropped;
            const QByteArray html = report.html();
            reply({{QStringLiteral("html"), QString::fromUtf8(html)},
                   {QStringLiteral("records"), records.size()},
                   {QStringLiteral("frames"), frames.size()}},
                  QString());
        });
}

bool ZelvoControlCommands::isFree(const ZelvoControlRequest& request, const Reply& reply) const
{
    // A finger cannot press a button that is already down.
    if (!window->control(controlOf(request))->isPressed())
        return true;
    reply({}, QStringLiteral("%1 is already held; release it first").arg(request.text(QStringLiteral("button"))));
    return false;
}

void ZelvoControlCommands::click(const ZelvoControlRequest& request, const Reply& reply)
{
    if (!isFree(request, reply))
        return;
    window->pressControl(controlOf(request));
    window->releaseControl(controlOf(request));
    reply({}, QString());
}

void ZelvoControlCommands::press(const ZelvoControlRequest& request, const Reply& reply)
{
    if (!isFree(request, reply))
        return;
    const Control target = controlOf(request);
    if (!request.has(QStringLiteral("hold"))) {
        window->pressControl(target);
        reply({}, QString());
        return;
    }
    ZelvoPendingReply* pending = later(request);
    connect(window->control(target), &Button::released, pending, [pending, reply] {
        pending->finish([&reply] { reply({{QStringLiteral("releasedElsewhere"), true}}, QString()); });
    });
    // A hold may last minutes: its client gone, the finger lifts.
    pending->setCancelAnswer([this, target] { window->releaseControl(target); });
    const int holdMillis = request.whole(QStringLiteral("hold"));
    window->pressControl(target);
    // Timed from the instant the button's long press is timed from, and
    // started after it: at one instant that timer fires first, so a hold of
    // Button::longPressMillis is long, as "held at least 750 ms" has it.
    deviceClock->singleShotAt(window->control(target)->pressedAt() + holdMillis, pending,
                              [this, pending, target, reply] {
                                  pending->finish([this, target, &reply] {
                                      window->releaseControl(target);
                                      reply({{QStringLiteral("releasedElsewhere"), false}}, QString());
                                  });
                              });
    pending->passManualTime(deviceClock, holdMillis);
}

ZelvoPendingReply* ZelvoControlCommands::later(const ZelvoControlRequest& request)
{
    ZelvoPendingReply* pending = untilReset();
    endWithClient(request, pending);
    return pending;
}

ZelvoPendingReply* ZelvoControlCommands::untilReset()
{
    auto* pending = new ZelvoPendingReply(this);
    endedByReset.insert(pending);
    connect(pending, &QObject::destroyed, this, [this, pending] { endedByReset.remove(pending); });
    return pending;
}

void ZelvoControlCommands::endWithClient(const ZelvoControlRequest& request, ZelvoPendingReply* pending)
{
    if (request.client())
        connect(request.client(), &QObject::destroyed, pending, &ZelvoPendingReply::cancel);
}

void ZelvoControlCommands::release(const ZelvoControlRequest& request, const Reply& reply)
{
    const Control target = controlOf(request);
    if (!window->control(target)->isPressed()) {
        reply({}, QStringLiteral("%1 is not held").arg(request.text(QStringLiteral("button"))));
        return;
    }
    window->releaseControl(target);
    reply({}, QString());
}

void ZelvoControlCommands::longPress(const ZelvoControlRequest& request, const Reply& reply)
{
    if (!isFree(request, reply))
        return;
    // The button's own timer decides when the press is long, as it does
    // for the mouse; the answer waits for it without blocking the loop.
    const Control target = controlOf(request);
    const QString name = request.text(QStringLiteral("button"));
    ZelvoPendingReply* pending = untilReset();
    const Button* button = window->control(target);
    connect(button, &Button::longPressed, pending, [this, pending, target, reply] {
        pending->finish([this, target, &reply] {
            window->releaseControl(target);
            reply({}, QString());
        });
    });
    connect(button, &Button::released, pending, [pending, name, reply] {
        pending->finish([&name, &reply] { reply({}, QStringLiteral("%1 was released before the long press").arg(name)); });
    });
    pending->setCancelAnswer([this, target] { window->releaseControl(target); });
    window->pressControl(target);
    pending->passManualTime(deviceClock, Button::longPressMillis);
}

void ZelvoControlCommands::sensorShot(const ZelvoControlRequest& request, const Reply& reply)
{
    const QString name = request.text(QStringLiteral("sensor"));
    ZelvoSensorReading reading;
    reading.sensor = ZelvoSensorReading::sensorNamed(name);
    const QJsonArray values = request.numbers(QStringLiteral("values"));
    const int count = ZelvoSensorReading::valueCount(reading.sensor);
    if (values.size() != count) {
        reply(ZelvoControlCommand::usageError(),
              QStringLiteral("%1 takes %2 number%3 in \"values\"").arg(name).arg(count).arg(count == 1 ? "" : "s"));
        return;
    }
    for (int i = 0; i < count; ++i)
        reading.values[size_t(i)] = float(values.at(i).toDouble());
    shoot(reading);
    reply({}, QString());
}

void ZelvoControlCommands::simulate(const ZelvoControlRequest& request, const Reply& reply)
{
    const int sensor = ZelvoSensorReading::sensorNamed(request.text(QStringLiteral("sensor")));
    ZelvoSensorList* panel = window->sensorPanel();
    // Starting a running simulation changes nothing, as the answer's
    // "changed" says; the panel's button would stop it instead.
    const bool changed = panel->setRunning(sensor, request.action() == QLatin1String("start"));
    reply({{QStringLiteral("running"), panel->isRunning(sensor)}, {QStringLiteral("changed"), changed}}, QString());
}

// A reading of a script or a trace is the panel's single shot: the agents
// get it, and a battery reading leaves the shown level alone, which only
// the battery command sets.
void ZelvoControlCommands::shoot(const ZelvoSensorReading& reading)
{
    window->sensorPanel()->sendReading(reading.sensor, reading.values);
}

void ZelvoControlCommands::link(const ZelvoControlRequest& request, const Reply& reply)
{
    QJsonObject results;
    if (request.action() == QLatin1String("drop"))
        results.insert(QStringLiteral("dropped"), server->dropLinks());
    else if (request.action() == QLatin1String("refuse"))
        server->setLinkRefused(request.isOn(QStringLiteral("on")));
    else if (request.action() == QLatin1String("delay"))
        server->setLinkDelay(request.whole(QStringLiteral("millis")));
    const QJsonObject state = linkState();
    for (auto it = state.begin(); it != state.end(); ++it)
        results.insert(it.key(), it.value());
    reply(results, QString());
}

QJsonObject ZelvoControlCommands::linkState() const
{
    return {{QStringLiteral("refused"), server->isLinkRefused()},
            {QStringLiteral("delayMillis"), server->linkDelay()},
            {QStringLiteral("agents"), server->connections().size()},
            {QStringLiteral("droppedEvents"), double(server->droppedMessageCount())}};
}

void ZelvoControlCommands::battery(const ZelvoControlRequest& request, const Reply& reply)
{
    const bool charging = request.has(QStringLiteral("charging")) ? request.isOn(QStringLiteral("charging"))
                                                                  : window->isChargingSet();
    window->setBattery(request.whole(QStringLiteral("level")), charging);
    reply({{QStringLiteral("battery"), window->battery()}, {QStringLiteral("charging"), window->isBatteryCharging()}},
          QString());
}

void ZelvoControlCommands::stopTrace(const ZelvoControlRequest&, const Reply& reply)
{
    const bool wasPlaying = player->isPlaying() || reader->isReading();
    const bool headMoved = traceMovesHead;
    reader->cancel();
    player->stop();
    if (headMoved)
        head->stop();
    QJsonObject results = traceState(*player);
    results.insert(QStringLiteral("stopped"), wasPlaying);
    reply(results, QString());
}

void ZelvoControlCommands::playTrace(const ZelvoControlRequest& request, const Reply& reply)
{
    if (player->isPlaying() || reader->isReading()) {
        reply({}, QStringLiteral("a trace is playing; stop it first"));
        return;
    }
    const QString path = request.text(QStringLiteral("file"));
    QString error;
    if (!reader->start(path, maxTraceBytes, &error)) {
        reply({}, error);
        return;
    }
    // Answered once the file is read, or once it has played with --wait.
    ZelvoPendingReply* pending = later(request);
    pending->setCancelAnswer([this] { reader->cancel(); });
    const bool waitForEnd = request.isOn(QStringLiteral("wait"));
    connect(reader, &ZelvoTraceReader::finished, pending, [this, pending, reply, path, waitForEnd](bool read) {
        ZelvoTrace::Readings readings = reader->takeReadings();
        if (!read || readings.empty()) {
            const QString error = read ? QStringLiteral("%1 holds no readings").arg(path) : reader->errorString();
            pending->finish([&reply, &error] { reply({}, error); });
            return;
        }
        if (waitForEnd) {
            connect(player, &ZelvoTracePlayer::finished, pending, [this, pending, reply](bool completed) {
                pending->finish([this, &reply, completed] {
                    QJsonObject results = traceState(*player);
                    results.insert(QStringLiteral("completed"), completed);
                    reply(results, QString());
                });
            });
        }
        const qint64 duration = readings.back().millis;
        player->play(std::move(readings));
        if (waitForEnd) {
            pending->passManualTime(deviceClock, duration);
            return;
        }
        pending->finish([this, &reply, duration] {
            QJsonObject results = traceState(*player);
            results.insert(QStringLiteral("duration"), double(duration));
            reply(results, QString());
        });
    });
}

void ZelvoControlCommands::screenshot(const ZelvoControlRequest& request, const Reply& reply)
{
    const QImage shown = window->displayImage();
    const QImage image = request.isOn(QStringLiteral("opaque")) ? ZelvoDisplayRecorder::opaque(shown) : shown;
    QJsonObject results{{QStringLiteral("width"), image.width()}, {QStringLiteral("height"), image.height()}};
    if (!request.has(QStringLiteral("path"))) {
        results.insert(QStringLiteral("png"), QString::fromLatin1(ZelvoUtil::encodePng(image).toBase64()));
        reply(results, QString());
        return;
    }
    // The file is replaced by renaming a new one over it: done to a device
    // or a FIFO, that would put a plain file in its place.
    const QString path = request.text(QStringLiteral("path"));
    const QFileInfo target(path);
    if (target.exists() && !target.isFile()) {
        reply({}, QStringLiteral("cannot write %1: not a regular file").arg(path));
        return;
    }
    QString reason;
    if (!ZelvoFile::writeWhole(path, [&image](QIODevice* file, QString*) { return image.save(file, "PNG"); },
                               &reason)) {
        reply({}, QStringLiteral("cannot write %1: %2").arg(path, reason));
        return;
    }
    results.insert(QStringLiteral("path"), path);
    reply(results, QString());
}

void ZelvoControlCommands::recordDisplay(const ZelvoControlRequest& request, const Reply& reply)
{
    const QString path = request.text(QStringLiteral("file"));
    const double seconds = request.number(QStringLiteral("seconds"));
    QString error;
    if (!displayRecorder->start(path, seconds, &error)) {
        reply({}, error);
        return;
    }
    if (!request.isOn(QStringLiteral("wait")) || seconds <= 0) {
        reply({{QStringLiteral("file"), path}, {QStringLiteral("frames"), displayRecorder->frameCount()}}, QString());
        return;
    }
    // Ended at its time, by "record stop" or by a reset: answered once the
    // file is written, with what it holds.
    ZelvoPendingReply* pending =
        displayRecorder->whenFinished(this, [reply](const QString& finishedPath, int frames, const QString& failure) {
            reply(failure.isEmpty() ? written(finishedPath, QStringLiteral("frames"), frames) : QJsonObject(), failure);
        });
    endWithClient(request, pending);
    if (displayRecorder->remainingMillis() >= 0) {
        pending->passManualTime(deviceClock, displayRecorder->remainingMillis());
        return;
    }
    // The recording a reset ended is still being written: this one, and its
    // time, begin once that file is finished.
    auto* beginning = new ZelvoPendingReply(pending);
    connect(displayRecorder, &ZelvoDisplayRecorder::finished, beginning, [this, pending, beginning] {
        beginning->finish([this, pending] {
            pending->passManualTime(deviceClock, displayRecorder->remainingMillis());
        });
    });
}

void ZelvoControlCommands::recordSession(const ZelvoControlRequest& request, const Reply& reply)
{
    const QString path = request.text(QStringLiteral("file"));
    QString error;
    if (!sessionRecorder->start(path, &error)) {
        reply({}, error);
        return;
    }
    reply({{QStringLiteral("file"), path}}, QString());
}

void ZelvoControlCommands::stopRecording(const ZelvoControlRequest& request, const Reply& reply)
{
    // One that stopped by itself is ended here too, with its reason.
    const bool displayWasRecording = displayRecorder->isRecording() || !displayRecorder->failure().isEmpty();
    const bool sessionWasRecording = sessionRecorder->isRecording() || !sessionRecorder->failure().isEmpty();
    if (!displayWasRecording && !sessionWasRecording) {
        reply({}, QStringLiteral("nothing is being recorded"));
        return;
    }
    QJsonObject results;
    QStringList errors;
    QString error;
    if (sessionWasRecording) {
        const QString sessionPath = sessionRecorder->path();
        const int lines = sessionRecorder->lineCount();
        if (sessionRecorder->stop(&error))
            results.insert(QStringLiteral("session"), written(sessionPath, QStringLiteral("records"), lines));
        else
            errors.append(QStringLiteral("session: ") + error);
    }
    auto answer = [reply, results, errors](const QString& displayPath, int frames, const QString& displayError) mutable {
        if (!displayError.isEmpty())
            errors.prepend(QStringLiteral("display: ") + displayError);
        else if (!displayPath.isEmpty())
            results.insert(QStringLiteral("display"), written(displayPath, QStringLiteral("frames"), frames));
        reply(errors.isEmpty() ? results : QJsonObject(), errors.join(QStringLiteral("; ")));
    };
    if (!displayRecorder->isRecording()) {
        // Nothing to finish; one that stopped by itself tells its reason.
        const QString failure = displayRecorder->failure();
        displayRecorder->stop();
        answer(QString(), 0, failure);
        return;
    }
    // Answered once the frames still being encoded are in the file.
    endWithClient(request, displayRecorder->whenFinished(this, answer));
    displayRecorder->stop();
}

void ZelvoControlCommands::fullScreen(const ZelvoControlRequest& request, const Reply& reply)
{
    const bool before = window->isFullScreenMode();
    const bool after = window->setFullScreen(request.text(QStringLiteral("mode")) == QLatin1String("on"));
    reply({{QStringLiteral("fullScreen"), after}, {QStringLiteral("changed"), after != before}}, QString());
}

void ZelvoControlCommands::wait(const ZelvoControlRequest& request, const Reply& reply)
{
    if (request.isOn(QStringLiteral("removed"))) {
        waitRemoved(request, reply);
        return;
    }
    const QString agentHash = request.text(QStringLiteral("contentOf"));
    const bool anyContent = !request.has(QStringLiteral("contentId"));
    const int contentId = request.whole(QStringLiteral("contentId"));
    // Only records after this one count: the same content id may have been
    // sent before.
    const quint64 since = quint64(request.number(QStringLiteral("since")));
    const int timeoutMillis = request.whole(QStringLiteral("timeout"));
    const auto matches = [agentHash, anyContent, contentId](const ZelvoRecord& record) {
        return record.kind == ZelvoRecord::Kind::AgentContent && record.agent == agentHash
            && (anyContent || record.contentId == contentId);
    };
    // Drawn answers at once; skipped, not drawn or refused fails at once with
    // the reason, rather than waiting for a content that will not come.
    const auto settle = [reply](const ZelvoRecord& record) {
        const QString sentence = record.sentence();
        const QJsonObject results{{QStringLiteral("contentId"), record.contentId},
                                  {QStringLiteral("outcome"), ZelvoRecord::outcomeName(record.outcome)},
                                  {QStringLiteral("sentence"), sentence}};
        reply(results, record.outcome == ZelvoRecord::Outcome::Drawn ? QString() : sentence);
    };

    // The content's fate may be known already: the latest matching record.
    for (int index = messageRecorder->size() - 1; index >= 0; --index) {
        const ZelvoRecord& record = messageRecorder->at(index);
        if (record.sequence <= since)
            break;
        if (!matches(record))
            continue;
        // Without a content id, drawn content counts only while it is shown.
        const bool shown = window->drawnAgent() == agentHash && window->drawnContentId() == record.contentId;
        if (record.outcome != ZelvoRecord::Outcome::Drawn || !anyContent || shown) {
            settle(record);
            return;
        }
        break;
    }

    ZelvoPendingReply* pending = later(request);
    connect(messageRecorder, &ZelvoRecorder::appended, pending, [pending, matches, settle](const ZelvoRecord& record) {
        if (matches(record))
            pending->finish([&settle, &record] { settle(record); });
    });
    // The agent sends in its own time, so the wait counts real time on
    // either clock.
    // Running out, it names the frames that came to nothing, since the
    // point the request names or else since it began.
    const quint64 began = request.has(QStringLiteral("since")) ? since : messageRecorder->lastSequence();
    pending->expireAfter(timeoutMillis, [this, agentHash, timeoutMillis, began, reply] {
        reply({}, QStringLiteral("no content of %1 on the display after %2 ms").arg(agentHash).arg(timeoutMillis)
                      + framesWithoutEffect(*messageRecorder, agentHash, began));
    });
    // What came before the reset is gone, and what comes after is another
    // test's.
    pending->setCancelAnswer([agentHash, reply] {
        reply({}, QStringLiteral("reset while waiting for content of %1").arg(agentHash));
    });
}

void ZelvoControlCommands::waitRemoved(const ZelvoControlRequest& request, const Reply& reply)
{
    const QString agentHash = request.text(QStringLiteral("contentOf"));
    const bool anyContent = !request.has(QStringLiteral("contentId"));
    const int contentId = request.whole(QStringLiteral("contentId"));
    const int timeoutMillis = request.whole(QStringLiteral("timeout"));
    const auto shown = [this, agentHash, anyContent, contentId] {
        return window->drawnAgent() == agentHash && (anyContent || window->drawnContentId() == contentId);
    };
    const auto gone = [reply] { reply({{QStringLiteral("removed"), true}}, QString()); };
    if (!shown()) {
        gone();
        return;
    }
    // The display changes with a record: other content drawn over it (the
    // display already shows it then), its removal at the maximum time
    // (recorded just before the display is cleared), or a reset.
    ZelvoPendingReply* pending = later(request);
    connect(messageRecorder, &ZelvoRecorder::appended, pending,
            [pending, shown, gone, agentHash](const ZelvoRecord& record) {
                const bool removal = record.kind == ZelvoRecord::Kind::ContentRemoved && record.agent == agentHash;
                if (removal || !shown())
                    pending->finish(gone);
            });
    connect(messageRecorder, &ZelvoRecorder::cleared, pending, [pending, shown, gone] {
        if (!shown())
            pending->finish(gone);
    });
    pending->expireAfter(timeoutMillis, [agentHash, timeoutMillis, reply] {
        reply({}, QStringLiteral("content of %1 still on the display after %2 ms").arg(agentHash).arg(timeoutMillis));
    });
}

void ZelvoControlCommands::clock(const ZelvoControlRequest& request, const Reply& reply)
{
    const QString& action = request.action();
    if (action == QLatin1String("pause")) {
        deviceClock->pause();
    } else if (action == QLatin1String("resume") && !deviceClock->resume()) {
        reply({}, QStringLiteral("the clock is advancing to %1 ms; resume it once that advance has answered")
                      .arg(deviceClock->advanceTarget()));
        return;
    } else if (action == QLatin1String("advance")) {
        // Answered when the clock stands at the target, after any advance
        // already queued.
        // A reset leaves the advance to go on.
        auto* pending = new ZelvoPendingReply(this);
        endWithClient(request, pending);
        const bool queued = deviceClock->advanceInSlices(request.whole(QStringLiteral("ms")), pending, [this, pending, reply] {
            pending->finish([this, &reply] { reply({{QStringLiteral("clock"), clockState()}}, QString()); });
        });
        if (!queued)
            pending->finish([&reply] { reply({}, QStringLiteral("the clock runs in real time; pause it first")); });
        return;
    }
    reply({{QStringLiteral("clock"), clockState()}}, QString());
}

QJsonObject ZelvoControlCommands::clockState() const
{
    QJsonObject state{{QStringLiteral("mode"), ZelvoClock::modeName(deviceClock->mode())},
                      {QStringLiteral("now"), double(deviceClock->now())}};
    if (deviceClock->isAdvancing())
        state.insert(QStringLiteral("advancingTo"), double(deviceClock->advanceTarget()));
    return state;
}

QJsonObject ZelvoControlCommands::recordingState() const
{
    QJsonObject state{{QStringLiteral("display"), displayRecorder->isRecording()},
                      {QStringLiteral("session"), sessionRecorder->isRecording()}};
    if (!displayRecorder->failure().isEmpty())
        state.insert(QStringLiteral("displayStopped"), displayRecorder->failure());
    if (!sessionRecorder->failure().isEmpty())
        state.insert(QStringLiteral("sessionStopped"), sessionRecorder->failure());
    return state;
}

void ZelvoControlCommands::resetEmulator()
{
    // The trace first, so that no reading of it arrives after the reset.
    reader->cancel();
    player->stop();
    // Most waits end with what they wait for (a release, the head stopped,
    // the trace's end, the display cleared); the others end here.
    window->reset();
    const QSet<ZelvoPendingReply*> waiting = endedByReset;
    for (ZelvoPendingReply* pending : waiting)
        pending->cancel();
}

void ZelvoControlCommands::reset(const ZelvoControlRequest&, const Reply& reply)
{
    resetEmulator();
    reply({}, QString());
}

void ZelvoControlCommands::web(const ZelvoControlRequest&, const Reply& reply)
{
    reply({{QStringLiteral("url"), webAddress}},
          webAddress.isEmpty() ? QStringLiteral("no web page; start the emulator with --web-port PORT") : QString());
}

void ZelvoControlCommands::state(const ZelvoControlRequest&, const Reply& reply)
{
    const ZelvoSensorList* panel = window->sensorPanel();
    QJsonObject sensors;
    for (int sensor : {ZelvoSensorList::Battery, ZelvoSensorList::Accelerometer, ZelvoSensorList::Compass,
                       ZelvoSensorList::LightSensor})
        sensors.insert(ZelvoSensorReading::nameOf(sensor), panel->isRunning(sensor));
    reply({
        {QStringLiteral("agent"), window->agentOnDisplay()},
        {QStringLiteral("contentId"), window->contentIdOnDisplay()},
        {QStringLiteral("contentShown"), window->isContentOnDisplay()},
        {QStringLiteral("minPersistingTimer"), window->isMinPersistingTimerRunning()},
        {QStringLiteral("maxPersistingTimer"), window->isMaxPersistingTimerRunning()},
        {QStringLiteral("battery"), window->battery()},
        {QStringLiteral("charging"), window->isBatteryCharging()},
        {QStringLiteral("agents"), server->connections().size()},
        {QStringLiteral("fullScreen"), window->isFullScreenMode()},
        {QStringLiteral("plusHeld"), window->plusControl()->isPressed()},
        {QStringLiteral("minusHeld"), window->minusControl()->isPressed()},
        {QStringLiteral("sensors"), sensors},
        {QStringLiteral("trace"), traceState(*player)},
        {QStringLiteral("recording"), recordingState()},
        {QStringLiteral("link"), linkState()},
        {QStringLiteral("drawnAgent"), window->drawnAgent()},
        {QStringLiteral("drawnContentId"), window->drawnContentId()},
        {QStringLiteral("lastOutcome"), lastOutcome(window->lastContentOutcome())},
        {QStringLiteral("clock"), clockState()},
        {QStringLiteral("pose"), headState()},
    }, QString());
}

void ZelvoControlCommands::screen(const ZelvoControlRequest&, const Reply& reply)
{
    reply(window->screenState(), QString());
}

QJsonObject ZelvoControlCommands::headState() const
{
    return {{QStringLiteral("yaw"), head->pose().yaw()},
            {QStringLiteral("pitch"), head->pose().pitch()},
            {QStringLiteral("roll"), head->pose().roll()},
            {QStringLiteral("moving"), head->isMoving()},
            {QStringLiteral("rate"), head->rate()}};
}

void ZelvoControlCommands::setPose(const ZelvoControlRequest& request, const Reply& reply)
{
    head->set(requestedPose(request, head->pose()));
    reply({{QStringLiteral("pose"), headState()}}, QString());
}

void ZelvoControlCommands::movePose(const ZelvoControlRequest& request, const Reply& reply)
{
    // The move under way ends first, answering its own request, so that
    // its end is not taken for this one's.
    head->stop();
    ZelvoPendingReply* pending = later(request);
    connect(head, &ZelvoHeadMotion::finished, pending, [this, pending, reply](bool completed) {
        pending->finish([this, &reply, completed] {
            reply({{QStringLiteral("pose"), headState()}, {QStringLiteral("completed"), completed}}, QString());
        });
    });
    qint64 millis = 0;
    if (request.action() == QLatin1String("gesture")) {
        const QString name = request.text(QStringLiteral("gesture"));
        const int times = request.whole(QStringLiteral("times"));
        millis = qint64(ZelvoHeadMotion::gestureMillis(name)) * times;
        head->gesture(name, times);
    } else {
        millis = request.whole(QStringLiteral("over"));
        head->move(requestedPose(request, head->pose()), millis);
    }
    pending->passManualTime(deviceClock, millis);
}

void ZelvoControlCommands::poseState(const ZelvoControlRequest& request, const Reply& reply)
{
    if (request.action() == QLatin1String("rate"))
        head->setRate(request.whole(QStringLiteral("rate")));
    else if (request.action() == QLatin1String("stop"))
        head->stop();
    reply({{QStringLiteral("pose"), headState()}}, QString());
}

void ZelvoControlCommands::followTracePose(const ZelvoSensorReading& pose, qint64 dueAt, const ZelvoSensorReading& next,
                                           qint64 nextDueAt)
{
    const ZelvoHeadPose here = headPoseOf(pose);
    const bool first = !traceMovesHead;
    traceMovesHead = true;
    // The move from the line before ends here, its last reading sent; the
    // first line places the head.
    head->stop();
    if (first || head->pose() != here)
        head->set(here);
    if (nextDueAt >= 0)
        head->move(headPoseOf(next), nextDueAt - dueAt, dueAt);
}
