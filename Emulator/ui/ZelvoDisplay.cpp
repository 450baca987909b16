#include "ui/ZelvoDisplay.h"

#include <QPainter>
#include <QPainterPath>
#include <QSize>

ZelvoDisplay::ZelvoDisplay(QGraphicsItem* parent)
    : QGraphicsPixmapItem(parent)
{
}

QSize ZelvoDisplay::size() const
{
    return QSize(width, height);
}

void ZelvoDisplay::setSize(int width, int height)
{
    if (width == this->width && height == this->height)
        return;
    prepareGeometryChange();
    this->width = width;
    this->height = height;
}

QRectF ZelvoDisplay::boundingRect() const
{
    return QRectF(0, 0, width, height);
}

// The item is hit, collides and covers where it draws, not where the
// pixmap's own size would put it.
QPainterPath ZelvoDisplay::shape() const
{
    QPainterPath path;
    path.addRect(boundingRect());
    return path;
}

void ZelvoDisplay::paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget)
{
    Q_UNUSED(option)
    Q_UNUSED(widget)
    painter->drawPixmap(boundingRect().toRect(), pixmap());
}
