#include "ZelvoEmulator.h"

#include "Button.h"
#include "ZelvoDisplay.h"
#include "ZelvoLog.h"

#include <QDebug>
#include <QGraphicsScene>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPixmap>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>

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
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    setWindowFlags(Qt::FramelessWindowHint);
    showFullScreen();
    setFixedSize(screen.width(), screen.height());
    move(0, 0);
    setBackgroundBrush(Qt::black);
    QTimer::singleShot(relayoutDelayMillis, this, &ZelvoEmulator::onFullScreenOnSlot);
}

void ZelvoEmulator::onFullScreenOff()
{
    fullScreen = false;
    setWindowFlags(windowFlags() & ~Qt::FramelessWindowHint);
    showNormal();
    setFixedSize(windowModeWidth, windowModeHeight);
    QTimer::singleShot(relayoutDelayMillis, this, &ZelvoEmulator::onFullScreenOffSlot);
}

void ZelvoEmulator::onFullScreenOnSlot()
{
    const int w = width();
    const int h = height();
    qCDebug(zelvoLog).nospace() << " onFullScreenOnSlot " << w << " h " << h;

    scene()->setSceneRect(0, 0, w, h);
    display->setSize(w - 2 * displayMargin, h - 2 * displayMargin);
    display->setPos(displayMargin, displayMargin);
    savedDisplayTransform = display->transform();
    // The glasses show their screen mirrored: a point x of the display item
    // lands at (w - 200) - x, within the item's own rectangle.
    display->setTransform(display->transform().scale(-1, 1).translate(2 * displayMargin - w, 0));

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
    // Until onFullScreenOnSlot sets the margins, the display covers the window.
    event->accept();
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
