#include "ui/ZelvoDisplay.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QLoggingCategory>
#include <QPainter>
#include <QPainterPath>
#include <QSize>

namespace {

Q_LOGGING_CATEGORY(paintLog, "zelvo.paint", QtWarningMsg)

} // namespace

ZelvoDisplay::ZelvoDisplay(QGraphicsItem* parent)
    : QGraphicsItem(parent)
{
}

void ZelvoDisplay::setImage(const QImage& image, int contentId)
{
    picture = image;
    pictureContentId = contentId;
    painted = false;
    update();
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
// image's own size would put it.
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
    painter->drawImage(boundingRect(), picture);
    if (!painted && paintLog().isInfoEnabled())
        qCInfo(paintLog).nospace() << "display painted content " << pictureContentId << " at "
                                   << QDeadlineTimer::current(Qt::PreciseTimer).deadlineNSecs();
    painted = true;
}
