#include "ui/ZelvoScreen.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QSize>

namespace {

QJsonArray rectJson(const QRect& rect)
{
    return {rect.x(), rect.y(), rect.width(), rect.height()};
}

QJsonArray indexes(const QVector<int>& values)
{
    QJsonArray array;
    for (int value : values)
        array.append(value);
    return array;
}

QString withoutTrailingBlanks(const QString& line)
{
    qsizetype end = line.size();
    while (end > 0 && line.at(end - 1).isSpace())
        --end;
    return line.left(end);
}

// As the font's capitalization draws it: each character by its own
// upper case, never one into several ("ß" stays), and a surrogate without
// its other half left as it is, where QString::toUpper() would pair it
// with the next character. A pair's high half never changes case.
QString drawnUpperCase(QString line)
{
    for (int i = 0; i < int(line.size()); ++i) {
        const QChar high = line.at(i);
        if (high.isHighSurrogate() && i + 1 < line.size() && line.at(i + 1).isLowSurrogate()) {
            line[i + 1] = QChar::lowSurrogate(QChar::toUpper(QChar::surrogateToUcs4(high, line.at(i + 1))));
            ++i;
        } else if (!high.isSurrogate()) {
            line[i] = high.toUpper();
        }
    }
    return line;
}

} // namespace

QStringList ZelvoScreen::Text::shownLines() const
{
    QStringList shown;
    for (int i = 0; i < lines.size(); ++i) {
        const bool last = i == lines.size() - 1;
        const QString line = last && !lastLine.isNull() ? lastLine : text.mid(lines.at(i).start, lines.at(i).length);
        shown.append(drawnUpperCase(withoutTrailingBlanks(line)));
    }
    return shown;
}

void ZelvoScreen::place(Image* image, const QSize& pictureSize, const QSize& canvasSize) const
{
    const QRect whole(image->rect.topLeft(), pictureSize);
    image->drawn = whole & QRect(QPoint(0, 0), canvasSize);
    image->cut = image->drawn != whole;
    image->covers.clear();
    for (int i = 0; i < texts.size(); ++i) {
        if (!texts.at(i).text.isEmpty() && image->drawn.intersects(texts.at(i).rect))
            image->covers.append(i);
    }
}

void ZelvoScreen::describeFit(ZelvoRecord* record) const
{
    for (int i = 0; i < texts.size(); ++i) {
        const Text& text = texts.at(i);
        if (!text.fits())
            record->textsNotFitting.append({i, int(text.lines.size()), text.cut, text.hiddenChars, text.overflow});
    }
    for (const Image& image : images) {
        if (!image.covers.isEmpty())
            record->imagesOverText.append({image.id, image.covers});
    }
}

QJsonObject ZelvoScreen::toJson() const
{
    QJsonArray textList;
    for (const Text& text : texts) {
        textList.append(QJsonObject{{QStringLiteral("rect"), rectJson(text.rect)},
                                    {QStringLiteral("text"), text.text},
                                    {QStringLiteral("lines"), QJsonArray::fromStringList(text.shownLines())},
                                    {QStringLiteral("cut"), text.cut},
                                    {QStringLiteral("hiddenChars"), text.hiddenChars},
                                    {QStringLiteral("overflow"), text.overflow},
                                    {QStringLiteral("missingGlyphs"), text.missingGlyphs}});
    }
    QJsonArray imageList;
    for (const Image& image : images) {
        const bool drawn = image.reason == ZelvoRecord::Reason::None;
        imageList.append(QJsonObject{
            {QStringLiteral("id"), image.id},
            {QStringLiteral("rect"), rectJson(image.rect)},
            {QStringLiteral("drawn"), drawn ? QJsonValue(rectJson(image.drawn)) : QJsonValue(QJsonValue::Null)},
            {QStringLiteral("cut"), image.cut},
            {QStringLiteral("covers"), indexes(image.covers)},
            {QStringLiteral("reason"), drawn ? QJsonValue(QJsonValue::Null)
                                             : QJsonValue(ZelvoRecord::reasonName(image.reason))}});
    }
    return {{QStringLiteral("agent"), agent},
            {QStringLiteral("contentId"), contentId},
            {QStringLiteral("layoutId"), layoutId},
            {QStringLiteral("layout"), layout},
            {QStringLiteral("texts"), textList},
            {QStringLiteral("images"), imageList}};
}
