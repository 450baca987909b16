#pragma once

#include <QList>
#include <QRect>
#include <QString>

class QPoint;
class QSize;

// How the 320 x 216 content area is divided: image rectangles and text
// rectangles, each list in insertion order, no rectangle twice across both.
class ZelvoLayout
{
public:
    ZelvoLayout() = default;
    explicit ZelvoLayout(int index);
    ZelvoLayout(int index, const QString& name);

    // The five layouts every window starts with, indexes 0 to 4.
    static const QList<ZelvoLayout>& builtInLayouts();

    int index() const { return layoutIndex; }
    void setIndex(int index) { layoutIndex = index; }
    QString name() const { return layoutName; }
    void setName(const QString& name) { layoutName = name; }
    const QList<QRect>& images() const { return imageRects; }
    const QList<QRect>& texts() const { return textRects; }

    bool isEmpty() const;
    bool contains(const QRect& rect) const;

    void addImage(const QRect& rect);
    void addImage(const QPoint& topLeft, const QPoint& bottomRight);
    void addImage(const QPoint& topLeft, const QSize& size);
    void addImage(int x, int y, int width, int height);

    void addText(const QRect& rect);
    void addText(const QPoint& topLeft, const QPoint& bottomRight);
    void addText(const QPoint& topLeft, const QSize& size);
    void addText(int x, int y, int width, int height);

    bool operator==(const ZelvoLayout& other) const;
    bool operator!=(const ZelvoLayout& other) const { return !(*this == other); }

private:
    void appendUnique(QList<QRect>& list, const QRect& rect, const char* adder);

    int layoutIndex = -1;
    QString layoutName;
    QList<QRect> imageRects;
    QList<QRect> textRects;
};
