#include "ui/ZelvoEmulator.h"
#include "ZelvoLog.h"

#include <QDebug>
#include <QDomDocument>
#include <QDomElement>
#include <QFile>
#include <QRect>

namespace {

// One "images" or "texts" element holding one child per rectangle, with the
// width and height of QRect's inclusive convention.
QDomElement rectsElement(QDomDocument& document, const QString& tag, const QString& itemTag,
                         const QList<QRect>& rects)
{
    QDomElement element = document.createElement(tag);
    for (const QRect& rect : rects) {
        QDomElement item = document.createElement(itemTag);
        item.setAttribute(QStringLiteral("left"), qlonglong(rect.left()));
        item.setAttribute(QStringLiteral("top"), qlonglong(rect.top()));
        item.setAttribute(QStringLiteral("width"), qlonglong(rect.width()));
        item.setAttribute(QStringLiteral("height"), qlonglong(rect.height()));
        element.appendChild(item);
    }
    return element;
}

// Missing attributes and text that is no number read as 0.
int intAttribute(const QDomElement& element, const QString& name)
{
    return element.attribute(name).toInt();
}

// The rectangles of the first element named tag under layout; empty when
// there is none.
QList<QRect> readRects(const QDomElement& layout, const QString& tag, const QString& itemTag)
{
    QList<QRect> rects;
    const QDomElement container = layout.firstChildElement(tag);
    for (QDomElement item = container.firstChildElement(itemTag); !item.isNull();
         item = item.nextSiblingElement(itemTag)) {
        rects.append(QRect(intAttribute(item, QStringLiteral("left")), intAttribute(item, QStringLiteral("top")),
                           intAttribute(item, QStringLiteral("width")), intAttribute(item, QStringLiteral("height"))));
    }
    return rects;
}

} // namespace

void ZelvoEmulator::saveLayouts(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        qCDebug(zelvoContentLog).noquote() << "ZelvoEmulator::saveLayouts couldn't open" << fileName;
        return;
    }
    qCDebug(zelvoContentLog).noquote() << "ZelvoEmulator::saveLayouts saving layouts on file" << fileName;

    QDomDocument document(QStringLiteral("zelvo_layouts"));
    QDomElement root = document.createElement(QStringLiteral("zelvo_layouts"));
    for (int i = 0; i < layouts.size(); ++i) {
        const ZelvoLayout& layout = layouts.at(i);
        QDomElement element = document.createElement(QStringLiteral("layout"));
        element.setAttribute(QStringLiteral("index"), qlonglong(layout.index()));
        element.setAttribute(QStringLiteral("name"), layout.name());
        qCDebug(zelvoContentLog).nospace() << "ZelvoEmulator::saveLayouts saving layout " << i << " INDEX " << layout.index()
                                    << " NAME " << layout.name();
        element.appendChild(rectsElement(document, QStringLiteral("images"), QStringLiteral("image"), layout.images()));
        element.appendChild(rectsElement(document, QStringLiteral("texts"), QStringLiteral("text"), layout.texts()));
        root.appendChild(element);
    }
    document.appendChild(root);

    // The reader follows the XML default, so names outside ASCII are
    // written in UTF-8 whatever the locale.
    file.write(document.toByteArray(1));
    file.flush();
    file.close();
}

void ZelvoEmulator::loadLayouts(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qCDebug(zelvoContentLog).noquote() << "ZelvoEmulator::loadLayouts couldn't open" << fileName;
        return;
    }

    // The parser keeps what it read up to an error; malformed XML counts as
    // an empty document instead, so that no half-read layout gets in.
    QDomDocument document;
    const QDomElement root = document.setContent(&file) ? document.documentElement() : QDomElement();
    QDomElement element = root.firstChildElement(QStringLiteral("layout"));
    if (element.isNull()) {
        qCDebug(zelvoContentLog).noquote() << "\033[34mZelvoEmulator::loadLayouts No layout to Load...\033[0m";
        return;
    }

    for (; !element.isNull(); element = element.nextSiblingElement(QStringLiteral("layout"))) {
        ZelvoLayout layout(intAttribute(element, QStringLiteral("index")), element.attribute(QStringLiteral("name")));
        qCDebug(zelvoContentLog).nospace() << "\033[34mZelvoEmulator::loadLayouts loading layout " << layout.name() << "\033[0m";

        const QList<QRect> images = readRects(element, QStringLiteral("images"), QStringLiteral("image"));
        if (images.isEmpty())
            qCDebug(zelvoContentLog).noquote() << "\033[34mZelvoEmulator::loadLayouts No IMAGE to Load...\033[0m";
        for (const QRect& rect : images)
            layout.addImage(rect);

        const QList<QRect> texts = readRects(element, QStringLiteral("texts"), QStringLiteral("text"));
        if (texts.isEmpty())
            qCDebug(zelvoContentLog).noquote() << "\033[34mZelvoEmulator::loadLayouts No TEXT to Load...\033[0m";
        for (const QRect& rect : texts)
            layout.addText(rect);

        layouts.append(layout);
    }
}
