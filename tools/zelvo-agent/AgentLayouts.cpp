#include "AgentLayouts.h"

#include "model/ZelvoLayout.h"

#include <QList>
#include <QRect>

namespace {

QString counted(int number, const QString& noun)
{
    return QStringLiteral("%1 %2%3").arg(number).arg(noun, number == 1 ? QString() : QStringLiteral("s"));
}

QString rectangle(const QString& what, int number, const QRect& rect)
{
    return QStringLiteral("  %1 %2: %3 x %4 at (%5, %6)\n")
        .arg(what)
        .arg(number)
        .arg(rect.width())
        .arg(rect.height())
        .arg(rect.x())
        .arg(rect.y());
}

} // namespace

QString AgentLayouts::table()
{
    QString text = QStringLiteral(
        "Layouts of the 320 x 216 content area (below the 24-pixel status strip). Sizes\n"
        "and places are display pixels; send the image ids and texts in this order.\n");
    for (const ZelvoLayout& layout : ZelvoLayout::builtInLayouts()) {
        text += QStringLiteral("\nlayout %1: %2 and %3\n")
                    .arg(layout.index())
                    .arg(counted(layout.images().size(), QStringLiteral("image")),
                         counted(layout.texts().size(), QStringLiteral("text")));
        for (int i = 0; i < layout.images().size(); ++i)
            text += rectangle(QStringLiteral("image"), i, layout.images().at(i));
        for (int i = 0; i < layout.texts().size(); ++i)
            text += rectangle(QStringLiteral("text "), i, layout.texts().at(i));
    }
    return text;
}

QString AgentLayouts::check(const QString& layoutId, int images, int texts)
{
    const QList<ZelvoLayout>& layouts = ZelvoLayout::builtInLayouts();
    bool number = false;
    const int index = layoutId.toInt(&number);
    if (!number || index < 0 || index >= layouts.size())
        return QStringLiteral("layout \"%1\" does not exist; the layouts are 0 to %2 (see 'zelvo-agent layouts')")
            .arg(layoutId)
            .arg(layouts.size() - 1);
    const ZelvoLayout& layout = layouts.at(index);
    if (layout.images().size() == images && layout.texts().size() == texts)
        return QString();
    return QStringLiteral("layout %1 takes %2 and %3; given %4 and %5")
        .arg(index)
        .arg(counted(layout.images().size(), QStringLiteral("image")), counted(layout.texts().size(), QStringLiteral("text")),
             counted(images, QStringLiteral("image")), counted(texts, QStringLiteral("text")));
}
