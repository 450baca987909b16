#pragma once

#include "ChildProcess.h"

#include <QString>
#include <QTemporaryDir>

class XDesktop;

// The real ZelvoEmulator program on an X display, started as the README's
// run command starts it: the built binary, no arguments, the user's HOME.
// Its log goes to a file among the artifacts. Killed with the object if it
// still runs.
class EmulatorProcess final
{
public:
    EmulatorProcess(const XDesktop& desktop, const QString& home, const QString& logName);
    ~EmulatorProcess();

    // Port 2000 is one per machine; other emulators may hold it for a while.
    static bool waitForFreePort(int timeoutMillis);

    void start();
    qint64 pid() const { return process.processId(); }
    bool isRunning() const { return process.state() == QProcess::Running; }
    QString logPath() const { return log; }

    // The main window, "Zelvo Emulator", once it shows; empty if it does not.
    QString waitForMainWindow(int timeoutMillis) const;
    // The exit code, or -1 when it still runs after the timeout or crashed.
    int waitForExit(int timeoutMillis);

    // Agent connections the program has accepted and holds open, read from
    // its descriptors and the kernel's TCP table.
    int acceptedAgents() const;
    qint64 residentKilobytes() const;

private:
    const XDesktop& desktop;
    QTemporaryDir runtimeDir;
    QString home;
    QString log;
    ChildProcess process;
};
