#include "ui/Label.h"

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QGraphicsScene>
#include <QImage>
#include <QPainter>
#include <QTest>

namespace {

QFont boldOf(QFont font)
{
    font.setWeight(QFont::Bold);
    return font;
}

// Where the label drew pixels of its colour, on a black scene.
QRect inkRect(Label& label, const QSize& canvas = QSize(400, 200))
{
    QGraphicsScene scene(0, 0, canvas.width(), canvas.height());
    scene.setBackgroundBrush(Qt::black);
    scene.addItem(&label);
    QImage image(canvas, QImage::Format_ARGB32);
    image.fill(Qt::black);
    {
        QPainter painter(&image);
        scene.render(&painter, QRectF(QPointF(0, 0), canvas), scene.sceneRect());
    }
    scene.removeItem(&label);

    QRect ink;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qRed(image.pixel(x, y)) > 100)
                ink |= QRect(x, y, 1, 1);
        }
    }
    return ink;
}

} // namespace

class TestLabel : public QObject
{
    Q_OBJECT

private slots:
    void sizeFitsLines_data();
    void sizeFitsLines();
    void emptyTextHasNoSize();
    void fontChangesResize();
    void boldResizesOnlyWhenAdjusted();
    void drawsInsideItsSize();
    void emptyTextDrawsNothing();
    void elidesLinesBeyondWidth();
    void alignsInWidenedLineRect();
};

void TestLabel::sizeFitsLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<int>("lineCount");
    QTest::addColumn<int>("blankLines");
    QTest::addColumn<QString>("widestLine");

    QTest::newRow("Zelvo") << QStringLiteral("Zelvo") << false << 1 << 0 << QStringLiteral("Zelvo");
    QTest::newRow("three lines") << QStringLiteral("Zelvo\nsmart glasses\nemulator") << false << 3 << 0
                                 << QStringLiteral("smart glasses");
    QTest::newRow("three bold lines") << QStringLiteral("Zelvo\nsmart glasses\nemulator") << true << 3 << 0
                                      << QStringLiteral("smart glasses");
    // An empty line is as high as its bounding rectangle: nothing but the spacing.
    QTest::newRow("blank middle line") << QStringLiteral("top\n\nbottom") << false << 3 << 1
                                       << QStringLiteral("bottom");
    QTest::newRow("trailing line break") << QStringLiteral("Zelvo\n") << false << 2 << 1 << QStringLiteral("Zelvo");
}

void TestLabel::sizeFitsLines()
{
    QFETCH(QString, text);
    QFETCH(bool, bold);
    QFETCH(int, lineCount);
    QFETCH(int, blankLines);
    QFETCH(QString, widestLine);

    Label label;
    label.setBold(bold);
    label.setText(text);
    QCOMPARE(label.text(), text);

    const QFontMetrics metrics(bold ? boldOf(label.font()) : label.font());
    const int lineHeight = metrics.boundingRect(QStringLiteral("Zelvo")).height();
    QVERIFY(lineHeight > 0);
    QCOMPARE(label.size().height(), qreal((lineCount - blankLines) * lineHeight + 2 * (lineCount - 1)));
    QCOMPARE(label.size().width(), qreal(metrics.boundingRect(widestLine).width()));
}

void TestLabel::emptyTextHasNoSize()
{
    Label label(QStringLiteral("Zelvo"));
    QVERIFY(!label.size().isEmpty());
    label.setText(QString());
    QCOMPARE(label.size(), QSizeF(0, 0));
}

void TestLabel::fontChangesResize()
{
    Label label(QStringLiteral("Zelvo\nglasses"));
    const QSizeF before = label.size();
    QFont font = label.font();
    font.setPixelSize(QFontInfo(font).pixelSize() * 2);
    label.setFont(font);
    QVERIFY(label.size().width() > before.width());
    QVERIFY(label.size().height() > before.height());
}

void TestLabel::boldResizesOnlyWhenAdjusted()
{
    Label label(QStringLiteral("Zelvo smart glasses"));
    const QSizeF regular = label.size();
    label.setBold(true);
    QVERIFY(label.isBold());
    QCOMPARE(label.size(), regular);
    label.adjustSize();
    QCOMPARE(label.size().width(), qreal(QFontMetrics(boldOf(label.font())).boundingRect(label.text()).width()));
    QVERIFY(label.size().width() > regular.width());
}

void TestLabel::drawsInsideItsSize()
{
    Label label(QStringLiteral("Zelvo\nsmart glasses\nemulator"));
    label.setTextColor(Qt::red);
    QCOMPARE(label.textColor(), QColor(Qt::red));
    const QRect ink = inkRect(label);
    QVERIFY(!ink.isEmpty());
    QVERIFY2(QRect(QPoint(0, 0), label.size().toSize()).contains(ink), "text stays within the label");
    // Three lines of ink, not one.
    QVERIFY(ink.height() > label.size().height() / 2);
}

void TestLabel::emptyTextDrawsNothing()
{
    Label label;
    label.setTextColor(Qt::red);
    label.resize(100, 40);
    QVERIFY(inkRect(label).isEmpty());
}

void TestLabel::elidesLinesBeyondWidth()
{
    Label label(QStringLiteral("a line much longer than the label is wide"));
    label.setTextColor(Qt::red);
    QCOMPARE(label.elideMode(), int(Qt::ElideRight));
    const QRect full = inkRect(label);
    label.resize(40, label.size().height());
    const QRect elided = inkRect(label);
    QVERIFY(!elided.isEmpty());
    QVERIFY2(elided.right() < 40 + 16, qPrintable(QString::number(elided.right())));
    QVERIFY(full.right() > 40 + 16);
}

void TestLabel::alignsInWidenedLineRect()
{
    Label label(QStringLiteral("Zelvo"));
    label.setTextColor(Qt::red);
    QCOMPARE(label.alignment(), int(Qt::AlignLeft));
    const QRect left = inkRect(label);

    label.setAlignment(Qt::AlignRight);
    label.setExtraWidth(60);
    QCOMPARE(label.extraWidth(), 60);
    const QRect right = inkRect(label);
    QVERIFY2(qAbs(right.left() - left.left() - 60) <= 2, qPrintable(QString::number(right.left())));
}

QTEST_MAIN(TestLabel)
#include "tst_label.moc"
