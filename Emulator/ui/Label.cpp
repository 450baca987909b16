#include "ui/Label.h"

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QString>
#include <QStringList>

struct Label::Private
{
    QString text;
    bool bold = false;
    QColor textColor = Qt::white;
    int alignment = Qt::AlignLeft;
    int elideMode = Qt::ElideRight;
    int extraWidth = 0;
    int extraHeight = 0;
};

namespace {

constexpr int lineSpacing = 2;
// How far beyond the label's width a line may run before it is elided.
constexpr int elideSlack = 16;

} // namespace

Label::Label(QGraphicsItem* parent)
    : QGraphicsWidget(parent)
    , d(std::make_unique<Private>())
{
}

Label::Label(const QString& text, QGraphicsItem* parent)
    : Label(parent)
{
    setText(text);
}

Label::~Label() = default;

QString Label::text() const
{
    return d->text;
}

void Label::setText(const QString& text)
{
    if (text == d->text)
        return;
    d->text = text;
    adjustSize();
}

bool Label::isBold() const
{
    return d->bold;
}

void Label::setBold(bool bold)
{
    if (bold == d->bold)
        return;
    d->bold = bold;
    // The size stays until the next adjustSize(): the text, the font or the
    // owner calling it.
    update();
}

QColor Label::textColor() const
{
    return d->textColor;
}

void Label::setTextColor(const QColor& color)
{
    if (color == d->textColor)
        return;
    d->textColor = color;
    update();
}

int Label::alignment() const
{
    return d->alignment;
}

void Label::setAlignment(int alignment)
{
    if (alignment == d->alignment)
        return;
    d->alignment = alignment;
    update();
}

int Label::elideMode() const
{
    return d->elideMode;
}

void Label::setElideMode(int elideMode)
{
    if (elideMode == d->elideMode)
        return;
    d->elideMode = elideMode;
    update();
}

int Label::extraWidth() const
{
    return d->extraWidth;
}

void Label::setExtraWidth(int extraWidth)
{
    d->extraWidth = extraWidth;
}

int Label::extraHeight() const
{
    return d->extraHeight;
}

void Label::setExtraHeight(int extraHeight)
{
    d->extraHeight = extraHeight;
}

void Label::adjustSize()
{
    const QFontMetrics metrics(textFont());
    const QStringList textLines = lines();
    int width = 0;
    int height = lineSpacing * (textLines.size() - 1);
    for (const QString& line : textLines) {
        const QRect rect = metrics.boundingRect(line);
        width = qMax(width, rect.width());
        height += rect.height();
    }
    resize(width, height);
    update();
}

void Label::paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget)
{
    Q_UNUSED(option)
    Q_UNUSED(widget)

    if (d->text.isEmpty())
        return;
    const QFont font = textFont();
    const QFontMetrics metrics(font);
    painter->setFont(font);
    painter->setPen(d->textColor);

    const int elideWidth = qRound(size().width()) + elideSlack;
    int y = 0;
    bool first = true;
    for (const QString& line : lines()) {
        const QString elided = metrics.elidedText(line, Qt::TextElideMode(d->elideMode), elideWidth);
        const QRect rect = metrics.boundingRect(line);
        if (!first)
            y += lineSpacing;
        first = false;
        painter->drawText(QRect(0, y, rect.width() + d->extraWidth, rect.height() + d->extraHeight),
                          d->alignment, elided);
        y += rect.height();
    }
}

void Label::setFont(const QFont& font)
{
    QGraphicsWidget::setFont(font);
    adjustSize();
}

QFont Label::textFont() const
{
    QFont textFont = font();
    if (d->bold)
        textFont.setWeight(QFont::Bold);
    return textFont;
}

QStringList Label::lines() const
{
    return d->text.split(QLatin1Char('\n'));
}
