#pragma once

#include "ui/ZelvoEmulator.h"
#include "ZelvoControlCommand.h"

#include <QObject>

#include <QSet>

#include <functional>

class QJsonObject;
class QString;
class ZelvoClock;
class ZelvoControlRequest;
class ZelvoDisplayHistory;
class ZelvoDisplayRecorder;
class ZelvoHeadMotion;
class ZelvoPendingReply;
class ZelvoSensorReading;
class ZelvoRecorder;
class ZelvoServer;
class ZelvoServices;
class ZelvoSessionRecorder;
class ZelvoTracePlayer;
class ZelvoTraceReader;

// The commands of the control channel (declared in ZelvoControlCommand),
// applied through the operations the window and its sensor panel offer to
// a person at the mouse, so that the agents see exactly what a person at
// the mouse would give them. Every command answers once, when it has been
// applied; the ones that take time (a long press, a held press, a wait, a
// trace played to its end) answer later from the event loop.
class ZelvoControlCommands final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoControlCommands)

public:
    // The results of a command, or a non-empty error text.
    using Reply = std::function<void(const QJsonObject& results, const QString& error)>;
    // What a declared command does, by its operation name ("button click").
    using Operation = void (ZelvoControlCommands::*)(const ZelvoControlRequest& request, const Reply& reply);

    // window, server and services must outlive the commands.
    ZelvoControlCommands(ZelvoEmulator* window, ZelvoServer* server, const ZelvoServices& services,
                         QObject* parent = nullptr);
    ~ZelvoControlCommands() override;

    // Checks the request against its declaration and applies it, after
    // every timer due by now. What it waits for ends should client go.
    void execute(const QJsonObject& request, const Reply& reply, QObject* client = nullptr);
    // A fresh start without restarting, for the "reset" command and every
    // other caller alike: the trace stopped, the window back as it began
    // (ZelvoEmulator::reset()), and the answers still waiting ended; the
    // agents stay connected and the clock keeps its mode.
    void resetEmulator();
    // Fires the device clock's timers due by now, so that a request finds
    // them fired, as it would a 0 ms timer in real time.
    void catchUpClock() const;
    // The operation of "button click", "state" and so on; null for "log",
    // which the session serves, and for names no command declares.
    static Operation operation(const QString& operationName);

    ZelvoTracePlayer* tracePlayer() const { return player; }
    // The web page's address with its token, which the "web" command
    // tells; empty while no page is served.
    void setWebAddress(const QString& address) { webAddress = address; }

private:
    using Control = ZelvoEmulator::Control;

    void click(const ZelvoControlRequest& request, const Reply& reply);
    void press(const ZelvoControlRequest& request, const Reply& reply);
    void release(const ZelvoControlRequest& request, const Reply& reply);
    void longPress(const ZelvoControlRequest& request, const Reply& reply);
    // False after replying with why, when the button is held already.
    bool isFree(const ZelvoControlRequest& request, const Reply& reply) const;
    void sensorShot(const ZelvoControlRequest& request, const Reply& reply);
    void simulate(const ZelvoControlRequest& request, const Reply& reply);
    void playTrace(const ZelvoControlRequest& request, const Reply& reply);
    void stopTrace(const ZelvoControlRequest& request, const Reply& reply);
    void screenshot(const ZelvoControlRequest& request, const Reply& reply);
    void recordDisplay(const ZelvoControlRequest& request, const Reply& reply);
    void recordSession(const ZelvoControlRequest& request, const Reply& reply);
    void stopRecording(const ZelvoControlRequest& request, const Reply& reply);
    void fullScreen(const ZelvoControlRequest& request, const Reply& reply);
    void wait(const ZelvoControlRequest& request, const Reply& reply);
    void waitRemoved(const ZelvoControlRequest& request, const Reply& reply);
    void link(const ZelvoControlRequest& request, const Reply& reply);
    void battery(const ZelvoControlRequest& request, const Reply& reply);
    // Pauses, resumes or advances the device clock, or tells its state.
    void clock(const ZelvoControlRequest& request, const Reply& reply);
    QJsonObject clockState() const;
    // Which recordings run, and why one stopped by itself.
    QJsonObject recordingState() const;
    // An answer given later, cancelled when the request's client goes and
    // by a reset; on a manual clock a command that holds for device time
    // passes that time on it (ZelvoPendingReply::passManualTime()).
    ZelvoPendingReply* later(const ZelvoControlRequest& request);
    // One that only a reset cancels: a long press ends as begun, its
    // client gone or not, so that an agent never sees it turned into a
    // click because a script went away.
    ZelvoPendingReply* untilReset();
    // Cancelled when the request's client goes; a reset leaves it to its
    // own end (a clock advance, a recording's file).
    void endWithClient(const ZelvoControlRequest& request, ZelvoPendingReply* pending);
    void reset(const ZelvoControlRequest& request, const Reply& reply);
    void state(const ZelvoControlRequest& request, const Reply& reply);
    // The display as data: its texts and pictures as drawn, the status
    // strip and the persisting timers.
    void screen(const ZelvoControlRequest& request, const Reply& reply);
    void web(const ZelvoControlRequest& request, const Reply& reply);
    // A run report of the records after "since" and the display's changes
    // since then, as one HTML file in the answer.
    void report(const ZelvoControlRequest& request, const Reply& reply);
    void mark(const ZelvoControlRequest& request, const Reply& reply);
    // Commands that change something are in the record, as given.
    static bool isRecorded(const QString& operationName);
    static QString commandText(const QJsonObject& request, const ZelvoControlCommand& command,
                               const ZelvoControlCommand::Action& action);
    void recordCommand(const QString& given, const QString& error);
    QJsonObject linkState() const;
    // A single shot from the sensor panel, as its button sends one; a
    // battery reading of a whole percent sets the shown level as well.
    void shoot(const ZelvoSensorReading& reading);
    // The head: set at once, moved or a gesture played (answered when it
    // ends), or its rate, its stop and its state.
    void setPose(const ZelvoControlRequest& request, const Reply& reply);
    void movePose(const ZelvoControlRequest& request, const Reply& reply);
    void poseState(const ZelvoControlRequest& request, const Reply& reply);
    QJsonObject headState() const;
    // A trace's pose line: the head is there at its time (the first line
    // places it) and moves on to reach the next pose line at that one's.
    void followTracePose(const ZelvoSensorReading& pose, qint64 dueAt, const ZelvoSensorReading& next, qint64 nextDueAt);

    ZelvoEmulator* window = nullptr;
    ZelvoServer* server = nullptr;
    ZelvoClock* deviceClock = nullptr;
    ZelvoRecorder* messageRecorder = nullptr;
    ZelvoHeadMotion* head = nullptr;
    ZelvoDisplayRecorder* displayRecorder = nullptr;
    ZelvoSessionRecorder* sessionRecorder = nullptr;
    ZelvoDisplayHistory* displayHistory = nullptr;
    ZelvoTracePlayer* player = nullptr;
    ZelvoTraceReader* reader = nullptr;
    QString webAddress;
    // The trace playing moves the head, which its stop ends too.
    bool traceMovesHead = false;
    // The answers waiting that a reset ends.
    QSet<ZelvoPendingReply*> endedByReset;
};
