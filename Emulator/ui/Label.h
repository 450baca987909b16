#pragma once

#include <QGraphicsWidget>

#include <memory>

class QColor;
class QFont;
class QString;

// A multi-line text in a scene, sized to fit its lines.
class Label final : public QGraphicsWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Label)

public:
    explicit Label(QGraphicsItem* parent = nullptr);
    explicit Label(const QString& text, QGraphicsItem* parent = nullptr);
    ~Label() override;

    QString text() const;
    void setText(const QString& text);
    bool isBold() const;
    void setBold(bool bold);
    QColor textColor() const;
    void setTextColor(const QColor& color);
    int alignment() const;
    void setAlignment(int alignment);
    int elideMode() const;
    void setElideMode(int elideMode);
    int extraWidth() const;
    void setExtraWidth(int extraWidth);
    int extraHeight() const;
    void setExtraHeight(int extraHeight);

    // Hides the widget's own setFont(), which leaves the size alone.
    void setFont(const QFont& font);

    void adjustSize();

    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

private:
    struct Private;

    QFont textFont() const;
    QStringList lines() const;

    std::unique_ptr<Private> d;
};
