#include "control/ZelvoControlCommands.h"

#include "clock/ZelvoClock.h"
#include "control/ZelvoTracePlayer.h"
#include "comm/ZelvoServer.h"
#include "ui/Button.h"
#include "ui/ZelvoEmulator.h"
#include "ui/sensor/ZelvoSensorList.h"
#include "ZelvoFile.h"
#include "ZelvoSensorReading.h"
#include "ZelvoTrace.h"
#include "record/ZelvoRecorder.h"
#include "recording/ZelvoDisplayRecorder.h"
#include "recording/ZelvoSessionRecorder.h"
#include "util/ZelvoUtil.h"

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QSaveFile>
#include <QString>
#include <QTimer>

#include <cmath>
#include <limits>
#include <memory>

namespace {

// Longer than any test would hold a button or wait, short enough that a
// typo in milliseconds does not hang a CI job for days.
constexpr double maxMillis = 3600000;
constexpr int defaultWaitMillis = 10000;
// Beyond this a trace file is not a trace.
constexpr qint64 maxTraceBytes = 64 * 1024 * 1024;

// A whole number of milliseconds from 0 to maxMillis; fallback when absent.
bool readMillis(const QJsonObject& request, const QString& key, int fallback, int* millis, QString* error)
{
    const QJsonValue value = request.value(key);
    if (value.isUndefined()) {
        *millis = fallback;
        return true;
    }
    const double number = value.toDouble(-1);
    if (!value.isDouble() || number < 0 || number > maxMillis || number != std::floor(number)) {
        *error = QStringLiteral("\"%1\" must be whole milliseconds from 0 to %2").arg(key).arg(maxMillis, 0, 'f', 0);
        return false;
    }
    *millis = int(number);
    return true;
}

// The same, when the request must give it.
bool readGivenMillis(const QJsonObject& request, const QString& key, int* millis, QString* error)
{
    if (request.value(key).isUndefined()) {
        *error = QStringLiteral("\"%1\" must be given").arg(key);
        return false;
    }
    return readMillis(request, key, 0, millis, error);
}

QString oneOf(const QString& key, const QStringList& choices)
{
    return QStringLiteral("\"%1\" must be \"%2\"").arg(key, choices.join(QStringLiteral("\", \"")));
}

QJsonObject traceState(const ZelvoTracePlayer& player)
{
    return {{QStringLiteral("playing"), player.isPlaying()},
            {QStringLiteral("played"), player.playedCount()},
            {QStringLiteral("readings"), player.readingCount()}};
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

} // namespace

ZelvoControlCommands::ZelvoControlCommands(ZelvoEmulator* window, ZelvoServer* server, QObject* parent)
    : QObject(parent)
    , window(window)
    , server(server)
    , player(new ZelvoTracePlayer(server->clock(), this))
{
    connect(player, &ZelvoTracePlayer::readingDue, this, &ZelvoControlCommands::shoot);
}

ZelvoControlCommands::~ZelvoControlCommands() = default;

ZelvoRecorder* ZelvoControlCommands::recorder() const
{
    return server->recorder();
}

void ZelvoControlCommands::execute(const QJsonObject& request, const Reply& reply)
{
    const QString command = request.value(QStringLiteral("cmd")).toString();
    if (command == QLatin1String("button"))
        button(request, reply);
    else if (command == QLatin1String("sensor"))
        sensor(request, reply);
    else if (command == QLatin1String("trace"))
        trace(request, reply);
    else if (command == QLatin1String("screenshot"))
        screenshot(request, reply);
    else if (command == QLatin1String("record"))
        record(request, reply);
    else if (command == QLatin1String("state"))
        reply(state(), QString());
    else if (command == QLatin1String("fullscreen"))
        fullScreen(request, reply);
    else if (command == QLatin1String("wait"))
        wait(request, reply);
    else if (command == QLatin1String("link"))
        link(request, reply);
    else if (command == QLatin1String("battery"))
        battery(request, reply);
    else if (command == QLatin1String("reset"))
        reset(reply);
    else if (command == QLatin1String("clock"))
        clock(request, reply);
    else if (command.isEmpty())
        reply({}, QStringLiteral("\"cmd\" must name a command"));
    else
        reply({}, QStringLiteral("unknown command \"%1\"").arg(command));
}

void ZelvoControlCommands::button(const QJsonObject& request, const Reply& reply)
{
    const QString name = request.value(QStringLiteral("button")).toString();
    if (name != QLatin1String("plus") && name != QLatin1String("minus")) {
        reply({}, oneOf(QStringLiteral("button"), {QStringLiteral("plus"), QStringLiteral("minus")}));
        return;
    }
    const Control target = name == QLatin1String("plus") ? Control::Plus : Control::Minus;
    const QString gesture = request.value(QStringLiteral("gesture")).toString();
    const bool held = window->control(target)->isPressed();
    if (gesture == QLatin1String("release")) {
        if (!held) {
            reply({}, QStringLiteral("%1 is not held").arg(name));
            return;
        }
        window->releaseControl(target);
        reply({}, QString());
        return;
    }
    const bool known = gesture == QLatin1String("click") || gesture == QLatin1String("press")
                       || gesture == QLatin1String("long");
    if (!known) {
        reply({}, oneOf(QStringLiteral("gesture"), {QStringLiteral("click"), QStringLiteral("press"),
                                                     QStringLiteral("release"), QStringLiteral("long")}));
        return;
    }
    int holdMillis = -1;
    QString error;
    if (gesture == QLatin1String("press") && !readMillis(request, QStringLiteral("hold"), -1, &holdMillis, &error)) {
        reply({}, error);
        return;
    }
    // A finger cannot press a button that is already down.
    if (held) {
        reply({}, QStringLiteral("%1 is already held; release it first").arg(name));
        return;
    }
    if (gesture == QLatin1String("long")) {
        longPress(target, name, reply);
        return;
    }
    if (gesture == QLatin1String("press") && holdMillis >= 0) {
        holdPress(target, holdMillis, reply);
        return;
    }
    window->pressControl(target);
    if (gesture == QLatin1String("click"))
        window->releaseControl(target);
    reply({}, QString());
}

void ZelvoControlCommands::longPress(Control target, const QString& name, const Reply& reply)
{
    // The button's own timer decides when the press is long, as it does
    // for the mouse; the answer waits for it without blocking the loop.
    // Each pending answer has a QObject of its own as the context of its
    // connections and timers: deleting it ends all of them, so that the
    // answer goes exactly once (Qt keeps the running slot alive until it
    // returns).
    auto* waiter = new QObject(this);
    const Button* button = window->control(target);
    connect(button, &Button::longPressed, waiter, [this, waiter, target, reply] {
        delete waiter;
        window->releaseControl(target);
        reply({}, QString());
    });
    connect(button, &Button::released, waiter, [waiter, name, reply] {
        delete waiter;
        reply({}, QStringLiteral("%1 was released before the long press").arg(name));
    });
    window->pressControl(target);
    passManualTime(Button::longPressMillis);
}

void ZelvoControlCommands::holdPress(Control target, int holdMillis, const Reply& reply)
{
    auto* waiter = new QObject(this);
    connect(window->control(target), &Button::released, waiter, [waiter, reply] {
        delete waiter;
        reply({{QStringLiteral("releasedElsewhere"), true}}, QString());
    });
    server->clock()->singleShot(holdMillis, waiter, [this, waiter, target, reply] {
        delete waiter;
        window->releaseControl(target);
        reply({{QStringLiteral("releasedElsewhere"), false}}, QString());
    });
    window->pressControl(target);
    passManualTime(holdMillis);
}

void ZelvoControlCommands::passManualTime(qint64 millis)
{
    ZelvoClock* deviceClock = server->clock();
    if (deviceClock->isManual())
        deviceClock->advance(millis);
}

void ZelvoControlCommands::sensor(const QJsonObject& request, const Reply& reply)
{
    const QString name = request.value(QStringLiteral("sensor")).toString();
    ZelvoSensorReading reading;
    reading.sensor = ZelvoSensorReading::sensorNamed(name);
    if (reading.sensor == 0) {
        reply({}, oneOf(QStringLiteral("sensor"), {QStringLiteral("battery"), QStringLiteral("accelerometer"),
                                                    QStringLiteral("compass"), QStringLiteral("light")}));
        return;
    }
    const QString action = request.value(QStringLiteral("action")).toString(QStringLiteral("shot"));
    ZelvoSensorList* panel = window->sensorPanel();
    if (action == QLatin1String("start") || action == QLatin1String("stop")) {
        // Starting a running simulation changes nothing, as the answer's
        // "changed" says; the panel's button would stop it instead.
        const bool changed = panel->setRunning(reading.sensor, action == QLatin1String("start"));
        reply({{QStringLiteral("running"), panel->isRunning(reading.sensor)}, {QStringLiteral("changed"), changed}},
              QString());
        return;
    }
    if (action != QLatin1String("shot")) {
        reply({}, oneOf(QStringLiteral("action"), {QStringLiteral("shot"), QStringLiteral("start"),
                                                    QStringLiteral("stop")}));
        return;
    }
    const QJsonArray values = request.value(QStringLiteral("values")).toArray();
    const int count = ZelvoSensorReading::valueCount(reading.sensor);
    if (values.size() != count) {
        reply({}, QStringLiteral("%1 takes %2 number%3 in \"values\"").arg(name).arg(count).arg(count == 1 ? "" : "s"));
        return;
    }
    for (int i = 0; i < count; ++i) {
        const double value = values.at(i).toDouble(NAN);
        if (!values.at(i).isDouble() || !std::isfinite(float(value))) {
            reply({}, QStringLiteral("\"values\" must hold numbers that fit a float"));
            return;
        }
        reading.values[size_t(i)] = float(value);
    }
    shoot(reading);
    reply({}, QString());
}

void ZelvoControlCommands::shoot(const ZelvoSensorReading& reading)
{
    const float level = reading.values[0];
    if (reading.sensor == ZelvoSensorList::Battery && level >= 0 && level <= 100 && level == std::floor(level)) {
        window->setBattery(int(level), window->isChargingSet());
        return;
    }
    window->sensorPanel()->sendReading(reading.sensor, reading.values);
}

void ZelvoControlCommands::link(const QJsonObject& request, const Reply& reply)
{
    const QString action = request.value(QStringLiteral("action")).toString(QStringLiteral("state"));
    QJsonObject results;
    if (action == QLatin1String("drop")) {
        results.insert(QStringLiteral("dropped"), server->dropLinks());
    } else if (action == QLatin1String("refuse")) {
        const QJsonValue on = request.value(QStringLiteral("on"));
        if (!on.isBool()) {
            reply({}, QStringLiteral("\"on\" must be true or false"));
            return;
        }
        server->setLinkRefused(on.toBool());
    } else if (action == QLatin1String("delay")) {
        int millis = 0;
        QString error;
        if (!readGivenMillis(request, QStringLiteral("millis"), &millis, &error)) {
            reply({}, error);
            return;
        }
        server->setLinkDelay(millis);
    } else if (action != QLatin1String("state")) {
        reply({}, oneOf(QStringLiteral("action"), {QStringLiteral("state"), QStringLiteral("drop"),
                                                    QStringLiteral("refuse"), QStringLiteral("delay")}));
        return;
    }
    const QJsonObject state = linkState();
    for (auto it = state.begin(); it != state.end(); ++it)
        results.insert(it.key(), it.value());
    reply(results, QString());
}

QJsonObject ZelvoControlCommands::linkState() const
{
    return {{QStringLiteral("refused"), server->isLinkRefused()},
            {QStringLiteral("delayMillis"), server->linkDelay()},
            {QStringLiteral("agents"), server->connections().size()}};
}

void ZelvoControlCommands::battery(const QJsonObject& request, const Reply& reply)
{
    const QJsonValue level = request.value(QStringLiteral("level"));
    const double percent = level.toDouble(-1);
    if (!level.isDouble() || percent < 0 || percent > 100 || percent != std::floor(percent)) {
        reply({}, QStringLiteral("\"level\" must be a whole percent from 0 to 100"));
        return;
    }
    const QJsonValue charging = request.value(QStringLiteral("charging"));
    if (!charging.isUndefined() && !charging.isBool()) {
        reply({}, QStringLiteral("\"charging\" must be true or false"));
        return;
    }
    window->setBattery(int(percent), charging.isBool() ? charging.toBool() : window->isChargingSet());
    reply({{QStringLiteral("battery"), window->battery()}, {QStringLiteral("charging"), window->isBatteryCharging()}},
          QString());
}

void ZelvoControlCommands::trace(const QJsonObject& request, const Reply& reply)
{
    const QString action = request.value(QStringLiteral("action")).toString(QStringLiteral("play"));
    if (action == QLatin1String("stop")) {
        const bool wasPlaying = player->isPlaying();
        player->stop();
        QJsonObject results = traceState(*player);
        results.insert(QStringLiteral("stopped"), wasPlaying);
        reply(results, QString());
        return;
    }
    if (action != QLatin1String("play")) {
        reply({}, oneOf(QStringLiteral("action"), {QStringLiteral("play"), QStringLiteral("stop")}));
        return;
    }
    const QString path = request.value(QStringLiteral("file")).toString();
    if (path.isEmpty() || QDir::isRelativePath(path)) {
        reply({}, QStringLiteral("\"file\" must be an absolute path"));
        return;
    }
    if (player->isPlaying()) {
        reply({}, QStringLiteral("a trace is playing; stop it first"));
        return;
    }
    QByteArray csv;
    QString error;
    if (!ZelvoFile::readRegular(path, maxTraceBytes, &csv, &error)) {
        reply({}, error);
        return;
    }
    QList<ZelvoTrace::TimedReading> readings;
    if (!ZelvoTrace::parse(csv, &readings, &error)) {
        reply({}, QStringLiteral("%1: %2").arg(path, error));
        return;
    }
    if (readings.isEmpty()) {
        reply({}, QStringLiteral("%1 holds no readings").arg(path));
        return;
    }
    const bool waitForEnd = request.value(QStringLiteral("wait")).toBool();
    if (waitForEnd) {
        auto* waiter = new QObject(this);
        connect(player, &ZelvoTracePlayer::finished, waiter, [this, waiter, reply](bool completed) {
            delete waiter;
            QJsonObject results = traceState(*player);
            results.insert(QStringLiteral("completed"), completed);
            reply(results, QString());
        });
    }
    player->play(readings);
    if (waitForEnd)
        passManualTime(readings.constLast().millis);
    if (!waitForEnd) {
        QJsonObject results = traceState(*player);
        results.insert(QStringLiteral("duration"), double(readings.constLast().millis));
        reply(results, QString());
    }
}

void ZelvoControlCommands::screenshot(const QJsonObject& request, const Reply& reply)
{
    const QImage shown = window->displayImage();
    const QImage image = request.value(QStringLiteral("opaque")).toBool() ? ZelvoDisplayRecorder::opaque(shown) : shown;
    QJsonObject results{{QStringLiteral("width"), image.width()}, {QStringLiteral("height"), image.height()}};
    const QJsonValue pathValue = request.value(QStringLiteral("path"));
    if (pathValue.isUndefined()) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        results.insert(QStringLiteral("png"), QString::fromLatin1(png.toBase64()));
        reply(results, QString());
        return;
    }
    // The emulator's working directory means nothing to the client.
    const QString path = pathValue.toString();
    if (path.isEmpty() || QDir::isRelativePath(path)) {
        reply({}, QStringLiteral("\"path\" must be an absolute path"));
        return;
    }
    // The file is replaced by renaming a new one over it: done to a device
    // or a FIFO, that would put a plain file in its place.
    const QFileInfo target(path);
    if (target.exists() && !target.isFile()) {
        reply({}, QStringLiteral("cannot write %1: not a regular file").arg(path));
        return;
    }
    // flush() before commit(), because commit() overlooks a failure of the
    // buffered bytes written while it closes the file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.flush() || !file.commit()) {
        reply({}, QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
        return;
    }
    results.insert(QStringLiteral("path"), path);
    reply(results, QString());
}

void ZelvoControlCommands::record(const QJsonObject& request, const Reply& reply)
{
    ZelvoDisplayRecorder* display = window->displayRecorder();
    ZelvoSessionRecorder* session = window->sessionRecorder();
    const QString what = request.value(QStringLiteral("what")).toString();
    const QString path = request.value(QStringLiteral("file")).toString();
    QString error;
    if (what == QLatin1String("display")) {
        const QJsonValue seconds = request.value(QStringLiteral("seconds"));
        if (!seconds.isUndefined() && (!seconds.isDouble() || seconds.toDouble() <= 0)) {
            reply({}, QStringLiteral("\"seconds\" must be a number above 0"));
            return;
        }
        if (!display->start(path, seconds.toDouble(0), &error)) {
            reply({}, error);
            return;
        }
        reply({{QStringLiteral("file"), path}, {QStringLiteral("frames"), display->frameCount()}}, QString());
    } else if (what == QLatin1String("session")) {
        if (!session->start(path, &error)) {
            reply({}, error);
            return;
        }
        reply({{QStringLiteral("file"), path}}, QString());
    } else if (what == QLatin1String("stop")) {
        const bool displayWasRecording = display->isRecording();
        const bool sessionWasRecording = session->isRecording();
        if (!displayWasRecording && !sessionWasRecording) {
            reply({}, QStringLiteral("nothing is being recorded"));
            return;
        }
        QJsonObject results;
        if (displayWasRecording) {
            const QString displayPath = display->path();
            const int frames = display->frameCount();
            if (!display->stop(&error)) {
                session->stop();
                reply({}, error);
                return;
            }
            results.insert(QStringLiteral("display"),
                           QJsonObject{{QStringLiteral("file"), displayPath}, {QStringLiteral("frames"), frames}});
        }
        if (sessionWasRecording) {
            const QString sessionPath = session->path();
            const int lines = session->lineCount();
            if (!session->stop(&error)) {
                reply({}, error);
                return;
            }
            results.insert(QStringLiteral("session"),
                           QJsonObject{{QStringLiteral("file"), sessionPath}, {QStringLiteral("records"), lines}});
        }
        reply(results, QString());
    } else {
        reply({}, oneOf(QStringLiteral("what"), {QStringLiteral("display"), QStringLiteral("session"),
                                                  QStringLiteral("stop")}));
    }
}

void ZelvoControlCommands::fullScreen(const QJsonObject& request, const Reply& reply)
{
    const QString mode = request.value(QStringLiteral("mode")).toString();
    if (mode != QLatin1String("on") && mode != QLatin1String("off")) {
        reply({}, oneOf(QStringLiteral("mode"), {QStringLiteral("on"), QStringLiteral("off")}));
        return;
    }
    const bool before = window->isFullScreenMode();
    const bool after = window->setFullScreen(mode == QLatin1String("on"));
    reply({{QStringLiteral("fullScreen"), after}, {QStringLiteral("changed"), after != before}}, QString());
}

void ZelvoControlCommands::wait(const QJsonObject& request, const Reply& reply)
{
    const QString agentHash = request.value(QStringLiteral("contentOf")).toString();
    if (agentHash.isEmpty()) {
        reply({}, QStringLiteral("\"contentOf\" must name an agent hash"));
        return;
    }
    const QJsonValue idValue = request.value(QStringLiteral("contentId"));
    const bool anyContent = idValue.isUndefined();
    if (!anyContent && (!idValue.isDouble() || idValue.toDouble() != std::floor(idValue.toDouble())
                        || std::abs(idValue.toDouble()) > std::numeric_limits<int>::max())) {
        reply({}, QStringLiteral("\"contentId\" must be a whole number"));
        return;
    }
    const int contentId = idValue.toInt();
    // Only records after this one count: the same content id may have been
    // sent before.
    const QJsonValue sinceValue = request.value(QStringLiteral("since"));
    if (!sinceValue.isUndefined() && (!sinceValue.isDouble() || sinceValue.toDouble() < 0)) {
        reply({}, QStringLiteral("\"since\" must be a sequence number from 0"));
        return;
    }
    const quint64 since = quint64(sinceValue.toDouble());
    int timeoutMillis = 0;
    QString error;
    if (!readMillis(request, QStringLiteral("timeout"), defaultWaitMillis, &timeoutMillis, &error)) {
        reply({}, error);
        return;
    }
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
    const ZelvoRecorder* recorder = server->recorder();
    for (int index = recorder->size() - 1; index >= 0; --index) {
        const ZelvoRecord& record = recorder->at(index);
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

    auto* waiter = new QObject(this);
    connect(server->recorder(), &ZelvoRecorder::appended, waiter, [waiter, matches, settle](const ZelvoRecord& record) {
        if (!matches(record))
            return;
        delete waiter;
        settle(record);
    });
    // The agent sends in its own time, so the wait counts real time on
    // either clock.
    QTimer::singleShot(timeoutMillis, waiter, [waiter, agentHash, timeoutMillis, reply] {
        delete waiter;
        reply({}, QStringLiteral("no content of %1 on the display after %2 ms").arg(agentHash).arg(timeoutMillis));
    });
}

void ZelvoControlCommands::clock(const QJsonObject& request, const Reply& reply)
{
    const QString action = request.value(QStringLiteral("action")).toString(QStringLiteral("state"));
    ZelvoClock* deviceClock = server->clock();
    if (action == QLatin1String("pause")) {
        deviceClock->pause();
    } else if (action == QLatin1String("resume")) {
        deviceClock->resume();
    } else if (action == QLatin1String("advance")) {
        int millis = 0;
        QString error;
        if (!readGivenMillis(request, QStringLiteral("ms"), &millis, &error)) {
            reply({}, error);
            return;
        }
        if (!deviceClock->advance(millis)) {
            reply({}, QStringLiteral("the clock runs in real time; pause it first"));
            return;
        }
    } else if (action != QLatin1String("state")) {
        reply({}, oneOf(QStringLiteral("action"), {QStringLiteral("state"), QStringLiteral("pause"),
                                                    QStringLiteral("resume"), QStringLiteral("advance")}));
        return;
    }
    reply({{QStringLiteral("clock"), clockState()}}, QString());
}

QJsonObject ZelvoControlCommands::clockState() const
{
    const ZelvoClock* deviceClock = server->clock();
    return {{QStringLiteral("mode"), ZelvoClock::modeName(deviceClock->mode())},
            {QStringLiteral("now"), double(deviceClock->now())}};
}

void ZelvoControlCommands::reset(const Reply& reply)
{
    // The trace first, so that no reading of it arrives after the reset.
    player->stop();
    server->clearLinkFaults();
    window->reset();
    server->recorder()->clear();
    ZelvoUtil::removeAgentImages();
    reply({}, QString());
}

QJsonObject ZelvoControlCommands::state() const
{
    const ZelvoSensorList* panel = window->sensorPanel();
    QJsonObject sensors;
    for (int sensor : {ZelvoSensorList::Battery, ZelvoSensorList::Accelerometer, ZelvoSensorList::Compass,
                       ZelvoSensorList::LightSensor})
        sensors.insert(ZelvoSensorReading::nameOf(sensor), panel->isRunning(sensor));
    return {
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
        {QStringLiteral("recording"), QJsonObject{{QStringLiteral("display"), window->displayRecorder()->isRecording()},
                                                  {QStringLiteral("session"), window->sessionRecorder()->isRecording()}}},
        {QStringLiteral("link"), linkState()},
        {QStringLiteral("drawnAgent"), window->drawnAgent()},
        {QStringLiteral("drawnContentId"), window->drawnContentId()},
        {QStringLiteral("lastOutcome"), lastOutcome(window->lastContentOutcome())},
        {QStringLiteral("clock"), clockState()},
    };
}
