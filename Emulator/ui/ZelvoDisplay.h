#pragma once

#include "ui/ZelvoGeometry.h"

#include <QGraphicsPixmapItem>

// The glasses' screen in the scene: shows its pixmap scaled to a size of its
// own, whatever the pixmap's size (the 320 x 240 display image at 256 x 192).
class ZelvoDisplay final : public QGraphicsPixmapItem
{
public:
    explicit ZelvoDisplay(QGraphicsItem* parent = nullptr);

    QSize size() const;
    void setSize(int width, int height);

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

private:
    int width = ZelvoGeometry::displaySize.width();
    int height = ZelvoGeometry::displaySize.height();
};
