#pragma once

#include <QGraphicsWidget>

#include <memory>

class QPixmap;
class QString;
class ZelvoClock;

// A push button of the glasses, drawn from pictures, living in a scene.
// A left press held 750 ms emits longPressed() before the release.
class Button final : public QGraphicsWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Button)

public:
    enum ButtonPixmap { Normal, Pressed, Disabled };
    static constexpr int longPressMillis = 750;

    explicit Button(const QPixmap& normal, QGraphicsItem* parent = nullptr);
    Button(const QPixmap& normal, const QPixmap& pressed, QGraphicsItem* parent = nullptr);
    Button(const QPixmap& normal, const QPixmap& pressed, const QPixmap& disabled,
           QGraphicsItem* parent = nullptr);
    ~Button() override;

    // The long press is timed on clock from now on; set before any press.
    void setClock(ZelvoClock* clock);

    void setPixmap(int which, const QPixmap& pixmap);
    QPixmap pixmap(int which) const;
    void setText(const QString& text);
    QString text() const;

    bool isPressed() const;
    bool isLongPressPending() const;
    // When the last press began, on the button's clock: the instant its
    // long press is timed from, and so a hold that must match it.
    qint64 pressedAt() const;

    // The gestures of a left mouse button; the mouse handlers call them, and
    // so can anything else that drives the button as a user would.
    void press();
    void release(bool inside);
    void leave();

    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

signals:
    void clicked();
    void pressed();
    void released();
    void longPressed();

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent* event) override;

private slots:
    void onLongPressed();

private:
    struct Private;

    int shownPixmap() const;

    std::unique_ptr<Private> d;
};
