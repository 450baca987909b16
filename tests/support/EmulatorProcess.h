#pragma once

#include "ChildProcess.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class Desktop;

// The real ZelvoEmulator program, on a desktop or, without one, on the
// offscreen platform. It takes free ports and tells them in a ports file,
// so that tests run side by side; useDefaultPorts() starts it as the
// README's run command does instead, with no arguments on ports 2000 and
// 2001. It runs in a temporary home of its own unless given one, and its
// output goes to a log file among the artifacts of the build. Stopped with
// the object if it still runs.
class EmulatorProcess final
{
    Q_DISABLE_COPY_MOVE(EmulatorProcess)

public:
    // The ports the program serves: the defaults, or those of its ports
    // file once it has written one.
    struct Ports
    {
        quint16 agent = 2000;
        quint16 control = 2001;
    };

    EmulatorProcess(const Desktop* desktop, const QString& logName);

    // The built ZelvoEmulator, for a test that runs it its own way.
    static QString program();

    // Before start(): the HOME to run in instead of a temporary one, for a
    // second copy in the same home or the test's own.
    void setHome(const QString& path) { homePath = path; }
    QString home() const;
    // Before start(): no arguments, the default ports, one such program per
    // machine (or per network namespace) at a time.
    void useDefaultPorts() { defaultPorts = true; }
    // Before start(): more arguments, after the port options.
    void setArguments(const QStringList& extra) { arguments = extra; }
    const Ports& ports() const { return served; }
    // Where the program tells its ports; empty with the default ports.
    QString portsFile() const;
    // The control token of this run, as its ports file names it.
    QString tokenFile() const { return token; }
    // Reads the ports file once the program has written it; false when
    // the program ends or the time runs out first.
    bool waitForPorts(int timeoutMillis);

    // Whether no other program holds one of the ports.
    bool portsAreFree() const;
    // Other emulators may hold the ports for a while.
    bool waitForFreePorts(int timeoutMillis) const;

    // False when it does not start, or has no home to start in.
    bool start();
    // Starts the program and waits until agents can connect (and, with free
    // ports, until it has told them); false when it ends or the time runs
    // out first.
    bool startUntilListening(int timeoutMillis);
    // Starts the program and waits for its main window, "Zelvo Emulator",
    // once agents can connect; empty when it does not come in time.
    QString startWithWindow(int timeoutMillis);
    // Whether the agent port takes connections, whoever serves it.
    bool isListening() const;
    void stop() { process.stop(); }

    qint64 pid() const { return process.processId(); }
    bool isRunning() const { return process.state() == QProcess::Running; }
    QString logPath() const { return log; }
    QByteArray logText() const;

    // The main window, "Zelvo Emulator", once it shows; empty if it does not.
    QString waitForMainWindow(int timeoutMillis) const;
    // The exit code, or -1 when it still runs after the timeout or crashed.
    int waitForExit(int timeoutMillis) { return process.waitForExit(timeoutMillis); }

    // Agent connections the program has accepted and holds open, read from
    // its descriptors and the kernel's TCP table.
    int acceptedAgents() const;
    qint64 residentKilobytes() const;

private:
    const Desktop* desktop = nullptr;
    Ports served;
    bool defaultPorts = false;
    QStringList arguments;
    QString token;
    QTemporaryDir ownHome;
    QTemporaryDir runtimeDir;
    QString homePath;
    QString log;
    ChildProcess process;
};
