#include "ui/ZelvoEmulator.h"

#include "ui/Button.h"
#include "clock/ZelvoClock.h"
#include "ui/ZelvoDisplay.h"
#include "ZelvoLog.h"
#include "ui/ZelvoGeometry.h"

#include <QDebug>
#include <QGraphicsScene>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPixmap>
#include <QResizeEvent>
#include <QScreen>
#include <QWindow>

namespace {

// The scene is laid out again only when the window has had time to take its
// new size.
constexpr int relayoutDelayMillis = 400;

} // namespace

void ZelvoEmulator::onFullScreenToggle()
{
    setFullScreen(!fullScreen);
}

void ZelvoEmulator::onFullScreenOn()
{
    setFullScreen(true);
}

void ZelvoEmulator::onFullScreenOff()
{
    setFullScreen(false);
}

bool ZelvoEmulator::setFullScreen(bool on)
{
    if (on == fullScreen)
        return fullScreen;
    if (on)
        enterFullScreen();
    else
        leaveFullScreen();
    return fullScreen;
}

void ZelvoEmulator::enterFullScreen()
{
    // Without a screen there is nothing to fill; the window stays as it is.
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        qCWarning(zelvoWindowLog, "\033[33mZelvoEmulator: no screen for full-screen mode\033[0m");
        return;
    }
    fullScreen = true;
    // The frame's place, to come back to; a switch still under way has
    // already left it.
    if (!isFullScreen() && !(windowFlags() & Qt::FramelessWindowHint))
        windowModePosition = pos();
    const QRect screenRect = screen->geometry();
    setWindowFlagsInPlace(Qt::Window | Qt::FramelessWindowHint);
    // The size hints must allow the screen's size before the window asks
    // for full screen, or a window manager keeps it at its fixed size.
    setFixedSize(screenRect.width(), screenRect.height());
    move(0, 0);
    showFullScreen();
    setBackgroundBrush(Qt::black);
    deviceClock->singleShot(relayoutDelayMillis, this, [this] { onFullScreenOnSlot(); });
}

void ZelvoEmulator::leaveFullScreen()
{
    fullScreen = false;
    fullScreenLaidOut = false;
    setWindowFlagsInPlace(windowFlags() & ~Qt::FramelessWindowHint);
    showNormal();
    setFixedSize(ZelvoGeometry::windowModeSize);
    // A frameless window's move() places its client area; the window
    // manager puts the frame back where it stood.
    windowHandle()->setFramePosition(windowModePosition);
    deviceClock->singleShot(relayoutDelayMillis, this, [this] { onFullScreenOffSlot(); });
}

void ZelvoEmulator::setWindowFlagsInPlace(Qt::WindowFlags flags)
{
    // setWindowFlags() would unmap the window and map it anew: a window
    // manager then places it as a new window and may miss the full-screen
    // request sent meanwhile. The native window takes the flags while it shows.
    overrideWindowFlags(flags);
    if (QWindow* native = windowHandle())
        native->setFlags(flags);
}

void ZelvoEmulator::onFullScreenOnSlot()
{
    const int w = width();
    const int h = height();
    qCDebug(zelvoWindowLog).nospace() << " onFullScreenOnSlot " << w << " h " << h;

    // A leaving switch's delayed layout may have run since this one started.
    setBackgroundBrush(Qt::black);
    scene()->setSceneRect(0, 0, w, h);
    constexpr int margin = ZelvoGeometry::fullScreenDisplayMargin;
    display->setSize(w - 2 * margin, h - 2 * margin);
    display->setPos(margin, margin);
    // Laid out again after a late resize, the display is already mirrored.
    if (!fullScreenLaidOut)
        savedDisplayTransform = display->transform();
    fullScreenLaidOut = fullScreen;
    // The glasses show their screen mirrored: a point x of the display item
    // lands at (w - 200) - x, within the item's own rectangle.
    display->setTransform(QTransform(savedDisplayTransform).scale(-1, 1).translate(2 * margin - w, 0));

    fullScreenButton->setPixmap(Button::Normal, QPixmap(QStringLiteral(":/data/fullscreen_off.png")));
    fullScreenButton->setPos(ZelvoGeometry::fromRightEdge(w, ZelvoGeometry::fullScreenButtonFromRight));
    plusButton->setPos(ZelvoGeometry::fromRightEdge(w, ZelvoGeometry::plusButtonFromRight));
    minusButton->setPos(ZelvoGeometry::fromRightEdge(w, ZelvoGeometry::minusButtonFromRight));
    sensorButton->setPos(ZelvoGeometry::fromRightEdge(w, ZelvoGeometry::sensorButtonFromRight));
    showClockMark();
}

void ZelvoEmulator::onFullScreenOffSlot()
{
    // Switching back before the window system has confirmed the full screen
    // lets its late confirmation make the window full screen again.
    if (!fullScreen && isFullScreen()) {
        showNormal();
        resize(ZelvoGeometry::windowModeSize);
    }
    applyWindowModeLayout();
}

void ZelvoEmulator::resizeEvent(QResizeEvent* event)
{
    QGraphicsView::resizeEvent(event);
    if (!fullScreen)
        return;
    event->accept();
    // A window manager may apply the full-screen size after the delayed
    // layout: lay out again for the size the window really has.
    if (fullScreenLaidOut) {
        onFullScreenOnSlot();
        return;
    }
    // Until onFullScreenOnSlot sets the margins, the display covers the window.
    resize(event->size());
    setBackgroundBrush(Qt::black);
    display->setSize(event->size().width(), event->size().height());
    display->setPos(0, 0);
}

void ZelvoEmulator::keyPressEvent(QKeyEvent* event)
{
    QGraphicsView::keyPressEvent(event);
    if (event->key() == Qt::Key_Escape && fullScreen) {
        setFullScreen(false);
        event->accept();
    }
}
