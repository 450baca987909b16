#include "model/ZelvoLayout.h"

#include "ZelvoLog.h"

#include <QDebug>
#include <QPoint>
#include <QSize>

namespace {

QList<ZelvoLayout> makeBuiltInLayouts()
{
    ZelvoLayout text(0);
    text.addText(0, 0, 320, 216);

    ZelvoLayout image(1);
    image.addImage(0, 0, 320, 216);

    ZelvoLayout imageText(2);
    imageText.addImage(0, 0, 158, 216);
    imageText.addText(162, 0, 158, 216);

    ZelvoLayout titled(3);
    titled.addText(0, 0, 320, 40);
    titled.addImage(0, 42, 158, 174);
    titled.addText(162, 42, 158, 174);

    ZelvoLayout grid(4);
    grid.addImage(0, 0, 158, 106);
    grid.addImage(162, 0, 158, 106);
    grid.addImage(0, 107, 158, 106);
    grid.addImage(162, 107, 158, 106);

    return {text, image, imageText, titled, grid};
}

} // namespace

ZelvoLayout::ZelvoLayout(int index)
    : ZelvoLayout(index, QStringLiteral("?"))
{
}

ZelvoLayout::ZelvoLayout(int index, const QString& name)
    : layoutIndex(index)
    , layoutName(name)
{
}

const QList<ZelvoLayout>& ZelvoLayout::builtInLayouts()
{
    static const QList<ZelvoLayout> layouts = makeBuiltInLayouts();
    return layouts;
}

bool ZelvoLayout::isEmpty() const
{
    return imageRects.isEmpty() && textRects.isEmpty();
}

bool ZelvoLayout::contains(const QRect& rect) const
{
    return imageRects.contains(rect) || textRects.contains(rect);
}

void ZelvoLayout::addImage(const QRect& rect)
{
    appendUnique(imageRects, rect, "ZelvoLayout::addImage");
}

void ZelvoLayout::addImage(const QPoint& topLeft, const QPoint& bottomRight)
{
    addImage(QRect(topLeft, bottomRight));
}

void ZelvoLayout::addImage(const QPoint& topLeft, const QSize& size)
{
    addImage(QRect(topLeft, size));
}

void ZelvoLayout::addImage(int x, int y, int width, int height)
{
    addImage(QRect(x, y, width, height));
}

void ZelvoLayout::addText(const QRect& rect)
{
    appendUnique(textRects, rect, "ZelvoLayout::addText");
}

void ZelvoLayout::addText(const QPoint& topLeft, const QPoint& bottomRight)
{
    addText(QRect(topLeft, bottomRight));
}

void ZelvoLayout::addText(const QPoint& topLeft, const QSize& size)
{
    addText(QRect(topLeft, size));
}

void ZelvoLayout::addText(int x, int y, int width, int height)
{
    addText(QRect(x, y, width, height));
}

bool ZelvoLayout::operator==(const ZelvoLayout& other) const
{
    return layoutIndex == other.layoutIndex && layoutName == other.layoutName
           && imageRects == other.imageRects && textRects == other.textRects;
}

void ZelvoLayout::appendUnique(QList<QRect>& list, const QRect& rect, const char* adder)
{
    if (contains(rect)) {
        // The default category, as every emulator log line; the model library
        // stands on Qt alone so that tools can use the layouts.
        qCDebug(zelvoContentLog).noquote() << adder << "rect already added, skipping request" << rect;
        return;
    }
    list.append(rect);
}
