#pragma once

#include "ChildProcess.h"

#include <QProcessEnvironment>
#include <QSize>
#include <QString>
#include <QStringList>

class QImage;
class QMargins;
class QPoint;
class QRect;

// A private X desktop for one test: Xvfb on a display number it picks
// itself, so that tests never share a display with each other or a person,
// optionally with openbox as a person's window manager. It gives the hands
// and eyes of a person at it: xdotool for the mouse, the keyboard and
// finding windows, import for screenshots. Coordinates are window
// coordinates, measured on the client area, so that they hold under a
// window manager's frame too. Stopped with the object, failed test or not.
class Desktop final
{
    Q_DISABLE_COPY_MOVE(Desktop)

public:
    enum class WindowManager { None, Openbox };

    Desktop();
    ~Desktop();

    bool start(const QSize& screen = QSize(1280, 1024), WindowManager manager = WindowManager::None);
    // ":N" once started.
    QString display() const { return displayName; }
    QString errorString() const { return error; }
    // The environment in which programs use this display.
    QProcessEnvironment environment() const;

    // Visible windows that meet all criteria of xdotool search, e.g.
    // {"--pid", "123", "--name", "^Zelvo Emulator$"}.
    QStringList findWindows(const QStringList& criteria) const;
    // Visible windows of process `pid` whose title matches the regular
    // expression `title`.
    QStringList windows(qint64 pid, const QString& title) const;
    // Waits for a visible window that meets the criteria and is not in
    // `known`; empty when none comes in time.
    QString waitForWindow(const QStringList& criteria, const QStringList& known, int timeoutMillis) const;
    // The client area on the screen; null when the window is gone.
    QRect geometry(const QString& window) const;
    // The window manager's frame around the client area; none without one.
    QMargins frameExtents(const QString& window) const;
    // The states the window manager gives the window, e.g. "_NET_WM_STATE_FULLSCREEN".
    QStringList windowStates(const QString& window) const;

    bool click(const QString& window, const QPoint& at) const;
    // Puts the window's client area at `to` on the screen, as a person
    // dragging the title bar would.
    bool move(const QString& window, const QPoint& to) const;
    // Gives `window` the keyboard focus and presses `keys` (xdotool key
    // names) one after the other.
    bool pressKeys(const QString& window, const QStringList& keys) const;
    bool type(const QString& window, const QString& text) const;
    // What a window manager does for the close button of the title bar:
    // a WM_DELETE_WINDOW message, with or without a window manager running.
    bool askToClose(const QString& window) const;

    // A picture of `window`, or of the whole screen for "root".
    QImage screenshot(const QString& window) const;

    // Keeps a picture under the artifacts folder of the build and returns
    // its path; empty when it could not be written.
    static QString keep(const QImage& picture, const QString& name);
    static QString artifactsPath();

private:
    bool startWindowManager();
    // The value of a window property as xprop prints it; empty when unset.
    QByteArray property(const QString& window, const QString& name) const;
    // False when the program fails or is still running after timeoutMillis
    // (it is killed then).
    bool run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr,
             int timeoutMillis = 30000) const;

    // SIGTERM lets Xvfb remove its lock file and socket; a kill would not.
    ChildProcess xvfb{SIGTERM};
    ChildProcess windowManager{SIGTERM};
    QString displayName;
    QString error;
};
