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
    // ":N" once started.
    QString display() const { return displayName; }
    QString errorString() const { return error; }

private:
    ChildProcess process;
    QString displayName;
    QString error;
};
