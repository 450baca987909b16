#include "ui/Button.h"
#include "clock/ZelvoClock.h"
#include "clock/ZelvoClockTimer.h"

#include <QApplication>
#include <QColor>
#include <QGraphicsScene>
#include <QGraphicsSceneHoverEvent>
#include <QGraphicsView>
#include <QImage>
#include <QMouseEvent>
#include <QPixmap>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

const QColor normalColor(200, 30, 30);
const QColor pressedColor(30, 30, 200);
const QColor disabledColor(30, 160, 30);
const QColor backgroundColor(Qt::black);

QPixmap filled(const QSize& size, const QColor& color)
{
    QPixmap pixmap(size);
    pixmap.fill(color);
    return pixmap;
}

// A view showing a scene with one button, and the order of its signals.
// Its long press waits for the stage's manual clock.
struct Stage
{
    explicit Stage(std::unique_ptr<Button> created)
    {
        scene.setSceneRect(0, 0, 200, 150);
        scene.setBackgroundBrush(backgroundColor);
        button = created.release();
        button->setClock(&clock);
        button->setPos(60, 50);
        scene.addItem(button);
        view.setScene(&scene);
        view.setFixedSize(220, 170);
        view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.show();
        const auto record = [this](const char* name) { return [this, name] { order << QLatin1String(name); }; };
        QObject::connect(button, &Button::pressed, record("pressed"));
        QObject::connect(button, &Button::released, record("released"));
        QObject::connect(button, &Button::clicked, record("clicked"));
        QObject::connect(button, &Button::longPressed, record("longPressed"));
    }

    QPoint inside() const { return view.mapFromScene(button->mapToScene(button->boundingRect().center())); }
    QPoint outside() const { return view.mapFromScene(button->mapToScene(QPointF(-20, -20))); }

    QColor shownColor()
    {
        return view.viewport()->grab().toImage().pixelColor(inside());
    }

    void moveHeld(const QPoint& pos)
    {
        QMouseEvent move(QEvent::MouseMove, pos, view.viewport()->mapToGlobal(pos), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &move);
    }

    ZelvoClock clock{ZelvoClock::Mode::Manual};
    QGraphicsScene scene;
    QGraphicsView view;
    Button* button = nullptr;
    QStringList order;
};

std::unique_ptr<Button> twoPictureButton()
{
    return std::make_unique<Button>(filled(QSize(40, 30), normalColor), filled(QSize(40, 30), pressedColor));
}

} // namespace

class TestButton : public QObject
{
    Q_OBJECT

private slots:
    void gestures_data();
    void gestures();
    void rightButtonReleaseStopsLongPress();
    void hoverLeaveStopsLongPress();
    void pictureWhilePressed_data();
    void pictureWhilePressed();
    void disabledPicture_data();
    void disabledPicture();
    void sizeFollowsNormalPicture_data();
    void sizeFollowsNormalPicture();
    void textStaysInsideButton_data();
    void textStaysInsideButton();
    void timerDiesWithButton();
};

void TestButton::gestures_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("holdLong");
    QTest::addColumn<bool>("leaveWhileHeld");
    QTest::addColumn<bool>("releaseInside");
    QTest::addColumn<QStringList>("order");

    QTest::newRow("left, short, inside")
        << int(Qt::LeftButton) << false << false << true << QStringList{"pressed", "released", "clicked"};
    QTest::newRow("left, short, outside")
        << int(Qt::LeftButton) << false << false << false << QStringList{"pressed", "released"};
    QTest::newRow("left, long, inside")
        << int(Qt::LeftButton) << true << false << true << QStringList{"pressed", "longPressed", "released", "clicked"};
    QTest::newRow("left, long, outside")
        << int(Qt::LeftButton) << true << false << false << QStringList{"pressed", "longPressed", "released"};
    QTest::newRow("left, long, leaving, back inside")
        << int(Qt::LeftButton) << true << true << true << QStringList{"pressed", "released", "clicked"};
    QTest::newRow("left, long, leaving, outside")
        << int(Qt::LeftButton) << true << true << false << QStringList{"pressed", "released"};
    QTest::newRow("right, short, inside") << int(Qt::RightButton) << false << false << true << QStringList();
    QTest::newRow("right, long, inside") << int(Qt::RightButton) << true << false << true << QStringList();
    QTest::newRow("middle, short, inside") << int(Qt::MiddleButton) << false << false << true << QStringList();
}

void TestButton::gestures()
{
    QFETCH(int, button);
    QFETCH(bool, holdLong);
    QFETCH(bool, leaveWhileHeld);
    QFETCH(bool, releaseInside);
    QFETCH(QStringList, order);
    const auto mouseButton = Qt::MouseButton(button);

    Stage stage(twoPictureButton());
    QVERIFY(QTest::qWaitForWindowExposed(&stage.view));
    QWidget* viewport = stage.view.viewport();

    QTest::mousePress(viewport, mouseButton, Qt::NoModifier, stage.inside());
    QCOMPARE(stage.button->isLongPressPending(), mouseButton == Qt::LeftButton);
    if (leaveWhileHeld) {
        stage.moveHeld(stage.outside());
        QVERIFY(!stage.button->isLongPressPending());
        QVERIFY(stage.button->isPressed());
    }
    if (holdLong) {
        // A millisecond before the long press and at it, or, where it must
        // stay silent, a whole interval and more.
        QVERIFY(stage.clock.advance(Button::longPressMillis - 1));
        QVERIFY(!stage.order.contains(QLatin1String("longPressed")));
        QVERIFY(stage.clock.advance(order.contains(QLatin1String("longPressed")) ? 1 : 250));
        QCOMPARE(stage.order.contains(QLatin1String("longPressed")), order.contains(QLatin1String("longPressed")));
    }
    if (leaveWhileHeld && releaseInside)
        stage.moveHeld(stage.inside());
    if (mouseButton == Qt::LeftButton)
        QTest::ignoreMessage(QtDebugMsg, "release->isClick 1");
    if (order.contains(QLatin1String("clicked")))
        QTest::ignoreMessage(QtDebugMsg, "release->clicked");
    QTest::mouseRelease(viewport, mouseButton, Qt::NoModifier, releaseInside ? stage.inside() : stage.outside());

    QCOMPARE(stage.order, order);
    QVERIFY(!stage.button->isPressed());
    QVERIFY(!stage.button->isLongPressPending());
}

void TestButton::rightButtonReleaseStopsLongPress()
{
    Stage stage(twoPictureButton());
    QVERIFY(QTest::qWaitForWindowExposed(&stage.view));
    QWidget* viewport = stage.view.viewport();

    QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, stage.inside());
    QTest::mousePress(viewport, Qt::RightButton, Qt::NoModifier, stage.inside());
    QTest::mouseRelease(viewport, Qt::RightButton, Qt::NoModifier, stage.inside());
    QVERIFY(!stage.button->isLongPressPending());
    QVERIFY(stage.button->isPressed());
    QCOMPARE(stage.order, QStringList{"pressed"});
}

void TestButton::hoverLeaveStopsLongPress()
{
    Stage stage(twoPictureButton());
    QVERIFY(QTest::qWaitForWindowExposed(&stage.view));

    QTest::mousePress(stage.view.viewport(), Qt::LeftButton, Qt::NoModifier, stage.inside());
    QGraphicsSceneHoverEvent leave(QEvent::GraphicsSceneHoverLeave);
    stage.scene.sendEvent(stage.button, &leave);
    QVERIFY(!stage.button->isLongPressPending());
    // Still pressed: a release inside is a click.
    QVERIFY(stage.button->isPressed());
    QTest::mouseRelease(stage.view.viewport(), Qt::LeftButton, Qt::NoModifier, stage.inside());
    QCOMPARE(stage.order, (QStringList{"pressed", "released", "clicked"}));
}

void TestButton::pictureWhilePressed_data()
{
    QTest::addColumn<bool>("withPressedPicture");
    QTest::addColumn<QColor>("whilePressed");

    QTest::newRow("normal and pressed pictures") << true << pressedColor;
    QTest::newRow("normal picture only") << false << normalColor;
}

void TestButton::pictureWhilePressed()
{
    QFETCH(bool, withPressedPicture);
    QFETCH(QColor, whilePressed);

    const QPixmap normal = filled(QSize(40, 30), normalColor);
    Stage stage(withPressedPicture ? std::make_unique<Button>(normal, filled(QSize(40, 30), pressedColor))
                                   : std::make_unique<Button>(normal));
    QVERIFY(QTest::qWaitForWindowExposed(&stage.view));
    QWidget* viewport = stage.view.viewport();

    QCOMPARE(stage.shownColor(), normalColor);
    QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, stage.inside());
    QCOMPARE(stage.shownColor(), whilePressed);
    QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, stage.inside());
    QCOMPARE(stage.shownColor(), normalColor);
}

void TestButton::disabledPicture_data()
{
    QTest::addColumn<bool>("withDisabledPicture");
    QTest::addColumn<QColor>("shown");

    QTest::newRow("with disabled picture") << true << disabledColor;
    QTest::newRow("without disabled picture") << false << normalColor;
}

void TestButton::disabledPicture()
{
    QFETCH(bool, withDisabledPicture);
    QFETCH(QColor, shown);

    const QSize size(40, 30);
    Stage stage(std::make_unique<Button>(filled(size, normalColor), filled(size, pressedColor),
                                         withDisabledPicture ? filled(size, disabledColor) : QPixmap()));
    QVERIFY(QTest::qWaitForWindowExposed(&stage.view));

    stage.button->setEnabled(false);
    QCOMPARE(stage.shownColor(), shown);
    QTest::mousePress(stage.view.viewport(), Qt::LeftButton, Qt::NoModifier, stage.inside());
    QVERIFY(stage.order.isEmpty());
    QCOMPARE(stage.shownColor(), shown);
}

void TestButton::sizeFollowsNormalPicture_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<QSize>("replacement");
    QTest::addColumn<QSizeF>("size");

    QTest::newRow("Normal 28x28") << int(Button::Normal) << QSize(28, 28) << QSizeF(28, 28);
    QTest::newRow("Pressed 32x32") << int(Button::Pressed) << QSize(32, 32) << QSizeF(39, 43);
    QTest::newRow("Disabled 50x50") << int(Button::Disabled) << QSize(50, 50) << QSizeF(39, 43);
    QTest::newRow("index 3") << 3 << QSize(50, 50) << QSizeF(39, 43);
    QTest::newRow("index -1") << -1 << QSize(50, 50) << QSizeF(39, 43);
}

void TestButton::sizeFollowsNormalPicture()
{
    QFETCH(int, which);
    QFETCH(QSize, replacement);
    QFETCH(QSizeF, size);

    Button button(filled(QSize(39, 43), normalColor), filled(QSize(32, 32), pressedColor));
    QCOMPARE(button.size(), QSizeF(39, 43));
    const QPixmap picture = filled(replacement, disabledColor);
    button.setPixmap(which, picture);
    QCOMPARE(button.size(), size);
    QCOMPARE(button.minimumSize(), size);
    QCOMPARE(button.maximumSize(), size);
    if (which >= Button::Normal && which <= Button::Disabled)
        QCOMPARE(button.pixmap(which).cacheKey(), picture.cacheKey());
}

void TestButton::textStaysInsideButton_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("+") << QStringLiteral("+");
    QTest::newRow("a sentence far wider than the button")
        << QStringLiteral("a sentence far wider than the button");
}

void TestButton::textStaysInsideButton()
{
    QFETCH(QString, text);

    // A dark picture, so that only the white text is bright.
    Stage stage(std::make_unique<Button>(filled(QSize(40, 30), Qt::black)));
    stage.button->setText(text);
    QCOMPARE(stage.button->text(), text);
    QVERIFY(QTest::qWaitForWindowExposed(&stage.view));

    const QImage shot = stage.view.viewport()->grab().toImage();
    const QRect buttonRect(stage.view.mapFromScene(stage.button->scenePos()), QSize(40, 30));
    int inside = 0;
    int outside = 0;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            if (qGray(shot.pixel(x, y)) > 128)
                ++(buttonRect.contains(x, y) ? inside : outside);
        }
    }
    QVERIFY(inside > 0);
    QCOMPARE(outside, 0);
}

void TestButton::timerDiesWithButton()
{
    auto button = std::make_unique<Button>(filled(QSize(10, 10), normalColor));
    QSignalSpy longPressed(button.get(), &Button::longPressed);
    button->press();
    const QPointer<ZelvoClockTimer> timer = button->findChild<ZelvoClockTimer*>();
    QVERIFY(timer);
    QVERIFY(timer->isActive());
    button.reset();
    QVERIFY(timer.isNull());
}

QTEST_MAIN(TestButton)
#include "tst_button.moc"
