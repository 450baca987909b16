#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

class QImage;
class QMargins;
class QPoint;
class QRect;

// The hands and eyes of a person at an X display: xdotool for the mouse,
// the keyboard and finding windows, import for screenshots. Coordinates are
// window coordinates. Screenshots can be kept as artifacts of the run.
class XDesktop final
{
public:
    explicit XDesktop(const QString& display);

    QProcessEnvironment environment() const { return env; }

    // Visible windows that meet all criteria of xdotool search, e.g.
    // {"--pid", "123", "--name", "^Zelvo Emulator$"}.
    QStringList findWindows(const QStringList& criteria) const;
    // Waits for a visible window that meets the criteria and is not in
    // `known`; empty when none comes in time.
    QString waitForWindow(const QStringList& criteria, const QStringList& known, int timeoutMillis) const;
    QRect geometry(const QString& window) const;
    // The client area on the screen, as the X server has it; under a window
    // manager geometry() can be off by the frame.
    QRect clientGeometry(const QString& window) const;
    // The window manager's frame around the client area; none without one.
    QMargins frameExtents(const QString& window) const;
    // The states the window manager gives the window, e.g. "_NET_WM_STATE_FULLSCREEN".
    QStringList windowStates(const QString& window) const;

    bool click(const QString& window, const QPoint& at) const;
    bool pressKeys(const QString& window, const QStringList& keys) const;
    bool type(const QString& window, const QString& text) const;
    // What a window manager does for the close button of the title bar.
    bool askToClose(const QString& window) const;

    QImage screenshot(const QString& window) const;

    // Keeps a picture under the artifacts folder of the build and returns
    // its path.
    static QString keep(const QImage& picture, const QString& name);
    static QString artifactsPath();

private:
    // The value of a window property as xprop prints it; empty when unset.
    QByteArray property(const QString& window, const QString& name) const;
    bool run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr) const;

    QProcessEnvironment env;
};
