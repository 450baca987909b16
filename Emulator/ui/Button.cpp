#include "ui/Button.h"
#include "ZelvoLog.h"
#include "clock/ZelvoClock.h"

#include <QDebug>
#include <QFontMetrics>
#include <QGraphicsSceneMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QString>

#include <array>

struct Button::Private
{
    // Until the button is given a clock it keeps one of its own.
    std::unique_ptr<ZelvoClock> ownClock = std::make_unique<ZelvoClock>();
    ZelvoClockTimer* longPressTimer = nullptr;
    QString text;
    bool pressedState = false;
    qint64 pressedAt = 0;
    std::array<QPixmap, 3> pixmaps;
};

Button::Button(const QPixmap& normal, QGraphicsItem* parent)
    : Button(normal, QPixmap(), QPixmap(), parent)
{
}

Button::Button(const QPixmap& normal, const QPixmap& pressed, QGraphicsItem* parent)
    : Button(normal, pressed, QPixmap(), parent)
{
}

Button::Button(const QPixmap& normal, const QPixmap& pressed, const QPixmap& disabled,
               QGraphicsItem* parent)
    : QGraphicsWidget(parent)
    , d(std::make_unique<Private>())
{
    d->pixmaps = {normal, pressed, disabled};
    setMinimumSize(normal.size());
    setMaximumSize(normal.size());
    setAcceptHoverEvents(true);
    setClock(d->ownClock.get());
}

void Button::setClock(ZelvoClock* clock)
{
    delete d->longPressTimer;
    d->longPressTimer = new ZelvoClockTimer(clock, this);
    d->longPressTimer->setSingleShot(true);
    d->longPressTimer->setInterval(longPressMillis);
    connect(d->longPressTimer, &ZelvoClockTimer::timeout, this, &Button::onLongPressed);
    if (clock != d->ownClock.get())
        d->ownClock.reset();
}

Button::~Button() = default;

void Button::setPixmap(int which, const QPixmap& pixmap)
{
    if (which < Normal || which > Disabled)
        return;
    d->pixmaps[which] = pixmap;
    if (which == Normal) {
        setMinimumSize(pixmap.size());
        setMaximumSize(pixmap.size());
    }
    if (which == shownPixmap())
        update();
}

QPixmap Button::pixmap(int which) const
{
    if (which < Normal || which > Disabled)
        return QPixmap();
    return d->pixmaps[which];
}

void Button::setText(const QString& text)
{
    if (text == d->text)
        return;
    d->text = text;
    update();
}

QString Button::text() const
{
    return d->text;
}

bool Button::isPressed() const
{
    return d->pressedState;
}

bool Button::isLongPressPending() const
{
    return d->longPressTimer->isActive();
}

qint64 Button::pressedAt() const
{
    return d->pressedAt;
}

void Button::press()
{
    d->pressedState = true;
    const ZelvoClock* clock = d->longPressTimer->clock();
    d->pressedAt = clock ? clock->now() : 0;
    d->longPressTimer->startAt(d->pressedAt + longPressMillis);
    update();
    emit pressed();
}

void Button::release(bool inside)
{
    d->longPressTimer->stop();
    const bool wasPressed = d->pressedState;
    d->pressedState = false;
    qCDebug(zelvoWindowLog, "release->isClick %d", int(wasPressed));
    update();
    emit released();
    if (wasPressed && inside) {
        qCDebug(zelvoWindowLog, "release->clicked");
        emit clicked();
    }
}

// A pointer that left the button no longer holds it long; the press itself
// stays, so coming back and releasing inside is still a click.
void Button::leave()
{
    d->longPressTimer->stop();
}

void Button::paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget)
{
    Q_UNUSED(option)
    Q_UNUSED(widget)

    const QPixmap& picture = d->pixmaps[shownPixmap()];
    if (!picture.isNull())
        painter->drawPixmap(0, 0, picture);

    if (d->text.isEmpty())
        return;
    const QRect rect = boundingRect().toRect();
    const QString elided = QFontMetrics(font()).elidedText(d->text, Qt::ElideRight, rect.width());
    painter->setFont(font());
    painter->setPen(Qt::white);
    painter->drawText(rect, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine, elided);
}

void Button::mousePressEvent(QGraphicsSceneMouseEvent* event)
{
    // The press of any button is kept, so that its release comes here too.
    if (event->button() != Qt::LeftButton)
        return;
    press();
}

void Button::mouseMoveEvent(QGraphicsSceneMouseEvent* event)
{
    // While the button holds the mouse the scene sends no hover events, so
    // leaving it with the button held is seen here.
    if (d->pressedState && !contains(event->pos()))
        leave();
}

void Button::mouseReleaseEvent(QGraphicsSceneMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        d->longPressTimer->stop();
        return;
    }
    release(contains(event->pos()));
}

void Button::hoverLeaveEvent(QGraphicsSceneHoverEvent* event)
{
    QGraphicsWidget::hoverLeaveEvent(event);
    leave();
}

void Button::onLongPressed()
{
    emit longPressed();
}

// The picture paint() draws: Pressed and Disabled fall back to Normal.
int Button::shownPixmap() const
{
    if (!isEnabled())
        return d->pixmaps[Disabled].isNull() ? Normal : Disabled;
    if (d->pressedState && !d->pixmaps[Pressed].isNull())
        return Pressed;
    return Normal;
}
