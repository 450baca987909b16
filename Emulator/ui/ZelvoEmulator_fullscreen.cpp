#include "ui/ZelvoEmulator.h"

#include "ui/Button.h"
#include "ui/ZelvoDisplay.h"
#include "ZelvoLog.h"

#include <QDebug>
#include <QGraphicsScene>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPixmap>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>
#include <QWindow>

namespace {

// The scene is laid out again only when the window has had time to take its
// new size.
constexpr int relayoutDelayMillis = 400;
constexpr int displayMargin = 100;

} // namespace

void ZelvoEmulator::onFullScreenToggle()
{
    if (fullScreen)
        onFullScreenOff();
    else
        onFullScreenOn();
}

void ZelvoEmulator::onFullScreenOn()
{
    fullScreen = true;
    // The frame's place, to come back to; a switch still under way has
    // already left it.
    if (!isFullScreen() && !(windowFlags() & Qt::FramelessWindowHint))
        windowModePosition = pos();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    setWindowFlagsInPlace(Qt::Window | Qt::FramelessWindowHint);
    // The size hints must allow the screen's size before the window asks
    // for full screen, or a window manager keeps it at its fixed size.
    setFixedSize(screen.width(), screen.height());
    move(0, 0);
    showFullScreen();
    setBackgroundBrush(Qt::black);
    QTimer::singleShot(relayoutDelayMillis, this, &ZelvoEmulator::onFullScreenOnSlot);
}

void ZelvoEmulator::onFullScreenOff()
{
    fullScreen = false;
    fullScreenLaidOut = false;
    setWindowFlagsInPlace(windowFlags() & ~Qt::FramelessWindowHint);
    showNormal();
    setFixedSize(windowModeWidth, windowModeHeight);
    // A frameless window's move() places its client area; the window
    // manager puts the frame back where it stood.
    windowHandle()->setFramePosition(windowModePosition);
    QTimer::singleShot(relayoutDelayMillis, this, &ZelvoEmulator::onFullScreenOffSlot);
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
    qCDebug(zelvoLog).nospace() << " onFullScreenOnSlot " << w << " h " << h;

    // A leaving switch's delayed layout may have run since this one started.
    setBackgroundBrush(Qt::black);
    scene()->setSceneRect(0, 0, w, h);
    display->setSize(w - 2 * displayMargin, h - 2 * displayMargin);
    display->setPos(displayMargin, displayMargin);
    // Laid out again after a late resize, the display is already mirrored.
    if (!fullScreenLaidOut)
        savedDisplayTransform = display->transform();
    fullScreenLaidOut = fullScreen;
    // The glasses show their screen mirrored: a point x of the display item
    // lands at (w - 200) - x, within the item's own rectangle.
    display->setTransform(QTransform(savedDisplayTransform).scale(-1, 1).translate(2 * displayMargin - w, 0));

    fullScreenButton->setPixmap(Button::Normal, QPixmap(QStringLiteral(":/data/fullscreen_off.png")));
    fullScreenButton->setPos(w - 34, 4);
    plusButton->setPos(w - 72, 140);
    minusButton->setPos(w - 72, 200);
    sensorButton->setPos(w - 72, 60);
}

void ZelvoEmulator::onFullScreenOffSlot()
{
    // Switching back before the window system has confirmed the full screen
    // lets its late confirmation make the window full screen again.
    if (!fullScreen && isFullScreen()) {
        showNormal();
        resize(windowModeWidth, windowModeHeight);
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
        onFullScreenOff();
        event->accept();
    }
}
