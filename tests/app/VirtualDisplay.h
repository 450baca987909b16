#pragma once

#include "ChildProcess.h"

#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>

class QImage;

// A private X server (Xvfb) with the tools to look at its windows and to
// act as the user on them. There is no window manager, so closing a window
// is requested the way a window manager would ask.
class VirtualDisplay final
{
    Q_DISABLE_COPY_MOVE(VirtualDisplay)

public:
    VirtualDisplay() = default;

    // Starts the server on a free display number; false when it did not.
    bool start();
    QString name() const { return displayName; }
    // The environment in which programs use this display.
    QProcessEnvironment environment() const;

    // Ids of the visible windows of process `pid` whose title matches the
    // regular expression `title`.
    QStringList windows(qint64 pid, const QString& title) const;
    QRect geometry(const QString& window) const;
    // Gives `window` the keyboard focus and types `keys` (xdotool key names).
    bool type(const QString& window, const QStringList& keys) const;
    // Sends WM_DELETE_WINDOW, as a window manager's close button does.
    bool requestClose(const QString& window) const;
    // A picture of `window`, or of the whole screen for "root".
    QImage grab(const QString& window) const;

private:
    bool run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr) const;

    ChildProcess server;
    QString displayName;
};
