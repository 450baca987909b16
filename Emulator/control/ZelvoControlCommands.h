#pragma once

#include "ui/ZelvoEmulator.h"

#include <QObject>

#include <functional>

class QJsonObject;
class QString;
class ZelvoSensorReading;
class ZelvoRecorder;
class ZelvoServer;
class ZelvoTracePlayer;

// The commands of the control channel, applied through the operations the
// window and its sensor panel offer to a person at the mouse, so that the agents see exactly what a person at the mouse
// would give them. Every command answers once, when it has been applied;
// the ones that take time (a long press, a held press, a wait, a trace
// played to its end) answer later from the event loop.
class ZelvoControlCommands final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoControlCommands)

public:
    // The results of a command, or a non-empty error text.
    using Reply = std::function<void(const QJsonObject& results, const QString& error)>;

    ZelvoControlCommands(ZelvoEmulator* window, ZelvoServer* server, QObject* parent = nullptr);
    ~ZelvoControlCommands() override;

    void execute(const QJsonObject& request, const Reply& reply);

    ZelvoTracePlayer* tracePlayer() const { return player; }
    ZelvoRecorder* recorder() const;

private:
    void button(const QJsonObject& request, const Reply& reply);
    using Control = ZelvoEmulator::Control;

    void longPress(Control target, const QString& name, const Reply& reply);
    void holdPress(Control target, int holdMillis, const Reply& reply);
    void sensor(const QJsonObject& request, const Reply& reply);
    void trace(const QJsonObject& request, const Reply& reply);
    void screenshot(const QJsonObject& request, const Reply& reply);
    void record(const QJsonObject& request, const Reply& reply);
    void fullScreen(const QJsonObject& request, const Reply& reply);
    void wait(const QJsonObject& request, const Reply& reply);
    void link(const QJsonObject& request, const Reply& reply);
    void battery(const QJsonObject& request, const Reply& reply);
    // Pauses, resumes or advances the device clock, or tells its state.
    void clock(const QJsonObject& request, const Reply& reply);
    QJsonObject clockState() const;
    // On a manual clock a command that holds for device time moves the
    // clock by that time itself, since nothing else would.
    void passManualTime(qint64 millis);
    QJsonObject linkState() const;
    // A fresh start without restarting: the window, the trace, the record
    // and the stored images; the agents stay connected.
    void reset(const Reply& reply);
    QJsonObject state() const;
    // A single shot from the sensor panel, as its button sends one; a
    // battery reading of a whole percent sets the shown level as well.
    void shoot(const ZelvoSensorReading& reading);

    ZelvoEmulator* window = nullptr;
    ZelvoServer* server = nullptr;
    ZelvoTracePlayer* player = nullptr;
};
