#pragma once

#include "ui/ZelvoGeometry.h"

#include <QGraphicsItem>
#include <QImage>

// The glasses' screen in the scene: shows its image scaled to a size of its
// own, whatever the image's size (the 320 x 240 display image at 256 x 192).
// An image rather than a pixmap: the raster engine draws both alike, and an
// image is shown as composed, with no conversion and no scan for alpha.
//
// With the category "zelvo.paint" enabled at info level (off by default), the
// first paint of each new image logs "display painted content ID at NS",
// NS on the monotonic clock that every process of the machine shares: how a
// benchmark learns when a frame reached the window's pixels.
class ZelvoDisplay final : public QGraphicsItem
{
public:
    explicit ZelvoDisplay(QGraphicsItem* parent = nullptr);

    QSize size() const;
    void setSize(int width, int height);

    QImage image() const { return picture; }
    // Repaints the item's own area only: its bounds do not depend on the
    // image, so the scene's index is left alone.
    void setImage(const QImage& image, int contentId = -1);

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

private:
    int width = ZelvoGeometry::displaySize.width();
    int height = ZelvoGeometry::displaySize.height();
    QImage picture;
    int pictureContentId = -1;
    bool painted = true;
};
