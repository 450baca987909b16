#pragma once

#include "ui/ZelvoGeometry.h"

#include <QGraphicsItem>
#include <QPixmap>

// The glasses' screen in the scene: shows its pixmap scaled to a size of its
// own, whatever the pixmap's size (the 320 x 240 display image at 256 x 192).
//
// With the category "zelvo.paint" enabled at info level (off by default), the
// first paint of each new pixmap logs "display painted content ID at NS",
// NS on the monotonic clock that every process of the machine shares: how a
// benchmark learns when a frame reached the window's pixels.
class ZelvoDisplay final : public QGraphicsItem
{
public:
    explicit ZelvoDisplay(QGraphicsItem* parent = nullptr);

    QSize size() const;
    void setSize(int width, int height);

    QPixmap pixmap() const { return picture; }
    // Repaints the item's own area only: its bounds do not depend on the
    // pixmap, so the scene's index is left alone.
    void setPixmap(const QPixmap& pixmap, int contentId = -1);

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

private:
    int width = ZelvoGeometry::displaySize.width();
    int height = ZelvoGeometry::displaySize.height();
    QPixmap picture;
    int pictureContentId = -1;
    bool painted = true;
};
