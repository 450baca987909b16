#pragma once

#include "ChildProcess.h"

#include <QSize>
#include <QString>

// A private X server for one test: Xvfb on a display number it picks
// itself, so that tests never share a display with each other or a desktop.
// Stopped with the object, failed test or not.
class XvfbServer final
{
public:
    XvfbServer();
    ~XvfbServer();

    bool start(const QSize& screen);
    // Runs openbox on the display, as on a person's desktop, and waits
    // until it manages windows.
    bool startWindowManager();
    // ":N" once started.
    QString display() const { return displayName; }
    QString errorString() const { return error; }

private:
    ChildProcess process;
    ChildProcess windowManager;
    QString displayName;
    QString error;
};
