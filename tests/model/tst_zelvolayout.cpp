#include "model/ZelvoLayout.h"

#include <QPoint>
#include <QRect>
#include <QRegularExpression>
#include <QSize>
#include <QTest>

Q_DECLARE_METATYPE(ZelvoLayout)

namespace {

ZelvoLayout sample()
{
    ZelvoLayout layout(1, QStringLiteral("a"));
    layout.addImage(0, 0, 4, 4);
    layout.addImage(0, 5, 4, 4);
    layout.addText(5, 0, 4, 4);
    return layout;
}

// Calls the adder named by form with the arguments that describe rect.
void add(ZelvoLayout& layout, const QString& form, const QRect& rect)
{
    if (form == QLatin1String("addImage(QRect)"))
        layout.addImage(rect);
    else if (form == QLatin1String("addImage(QPoint,QPoint)"))
        layout.addImage(rect.topLeft(), rect.bottomRight());
    else if (form == QLatin1String("addImage(QPoint,QSize)"))
        layout.addImage(rect.topLeft(), rect.size());
    else if (form == QLatin1String("addImage(int,int,int,int)"))
        layout.addImage(rect.x(), rect.y(), rect.width(), rect.height());
    else if (form == QLatin1String("addText(QRect)"))
        layout.addText(rect);
    else if (form == QLatin1String("addText(QPoint,QPoint)"))
        layout.addText(rect.topLeft(), rect.bottomRight());
    else if (form == QLatin1String("addText(QPoint,QSize)"))
        layout.addText(rect.topLeft(), rect.size());
    else if (form == QLatin1String("addText(int,int,int,int)"))
        layout.addText(rect.x(), rect.y(), rect.width(), rect.height());
    else
        QFAIL(qPrintable(QStringLiteral("unknown adder ") + form));
}

} // namespace

class TestZelvoLayout : public QObject
{
    Q_OBJECT

private slots:
    void constructors_data();
    void constructors();
    void builtInLayouts_data();
    void builtInLayouts();
    void builtInLayoutsExistOnce();
    void adderForms_data();
    void adderForms();
    void duplicates_data();
    void duplicates();
    void copiesAreIndependent();
    void equality_data();
    void equality();
};

void TestZelvoLayout::constructors_data()
{
    QTest::addColumn<ZelvoLayout>("layout");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("name");

    QTest::newRow("default") << ZelvoLayout() << -1 << QString();
    QTest::newRow("index 3") << ZelvoLayout(3) << 3 << QStringLiteral("?");
    QTest::newRow("index 7 and name") << ZelvoLayout(7, QStringLiteral("Seven")) << 7 << QStringLiteral("Seven");
}

void TestZelvoLayout::constructors()
{
    QFETCH(ZelvoLayout, layout);
    QFETCH(int, index);
    QFETCH(QString, name);

    QCOMPARE(layout.index(), index);
    QCOMPARE(layout.name(), name);
    QCOMPARE(layout.name().isNull(), name.isNull());
    QVERIFY(layout.isEmpty());
    QVERIFY(layout.images().isEmpty());
    QVERIFY(layout.texts().isEmpty());
}

void TestZelvoLayout::builtInLayouts_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QList<QRect>>("images");
    QTest::addColumn<QList<QRect>>("texts");

    QTest::newRow("0 text") << 0 << QList<QRect>() << QList<QRect>{QRect(0, 0, 320, 216)};
    QTest::newRow("1 image") << 1 << QList<QRect>{QRect(0, 0, 320, 216)} << QList<QRect>();
    QTest::newRow("2 image and text") << 2 << QList<QRect>{QRect(0, 0, 158, 216)}
                                      << QList<QRect>{QRect(162, 0, 158, 216)};
    QTest::newRow("3 title, image and text") << 3 << QList<QRect>{QRect(0, 42, 158, 174)}
                                             << QList<QRect>{QRect(0, 0, 320, 40), QRect(162, 42, 158, 174)};
    QTest::newRow("4 grid") << 4
                            << QList<QRect>{QRect(0, 0, 158, 106), QRect(162, 0, 158, 106),
                                            QRect(0, 107, 158, 106), QRect(162, 107, 158, 106)}
                            << QList<QRect>();
}

void TestZelvoLayout::builtInLayouts()
{
    QFETCH(int, index);
    QFETCH(QList<QRect>, images);
    QFETCH(QList<QRect>, texts);

    QCOMPARE(ZelvoLayout::builtInLayouts().size(), 5);
    const ZelvoLayout& layout = ZelvoLayout::builtInLayouts().at(index);
    QCOMPARE(layout.index(), index);
    QCOMPARE(layout.name(), QStringLiteral("?"));
    QCOMPARE(layout.images(), images);
    QCOMPARE(layout.texts(), texts);

    const QRect contentArea(0, 0, 320, 216);
    for (const QRect& rect : layout.images() + layout.texts())
        QVERIFY2(contentArea.contains(rect), "every rectangle lies in the content area");
}

void TestZelvoLayout::builtInLayoutsExistOnce()
{
    const QList<ZelvoLayout>& first = ZelvoLayout::builtInLayouts();
    const QList<ZelvoLayout>& second = ZelvoLayout::builtInLayouts();
    QCOMPARE(&first, &second);

    // What each window does: it gets all five, whichever window it is.
    const QList<ZelvoLayout> firstWindow = ZelvoLayout::builtInLayouts();
    const QList<ZelvoLayout> secondWindow = ZelvoLayout::builtInLayouts();
    QCOMPARE(secondWindow.size(), 5);
    QCOMPARE(secondWindow, firstWindow);
    QList<int> rectangles;
    for (const ZelvoLayout& layout : secondWindow)
        rectangles << layout.images().size() + layout.texts().size();
    QCOMPARE(rectangles, (QList<int>{1, 1, 2, 3, 4}));
}

void TestZelvoLayout::adderForms_data()
{
    QTest::addColumn<QString>("form");
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<int>("right");
    QTest::addColumn<int>("bottom");

    const QStringList forms = {QStringLiteral("QRect"), QStringLiteral("QPoint,QPoint"),
                               QStringLiteral("QPoint,QSize"), QStringLiteral("int,int,int,int")};
    for (const QString& adder : {QStringLiteral("addImage"), QStringLiteral("addText")}) {
        for (const QString& form : forms) {
            const QString call = adder + QLatin1Char('(') + form + QLatin1Char(')');
            QTest::addRow("%s 0,0 5x5", qPrintable(call)) << call << QRect(0, 0, 5, 5) << 4 << 4;
            QTest::addRow("%s 10,10 10x20", qPrintable(call)) << call << QRect(10, 10, 10, 20) << 19 << 29;
            QTest::addRow("%s 5,5 0x10", qPrintable(call)) << call << QRect(5, 5, 0, 10) << 4 << 14;
        }
    }
}

void TestZelvoLayout::adderForms()
{
    QFETCH(QString, form);
    QFETCH(QRect, rect);
    QFETCH(int, right);
    QFETCH(int, bottom);

    ZelvoLayout layout(0);
    add(layout, form, rect);
    const QList<QRect>& stored = form.startsWith(QLatin1String("addImage")) ? layout.images() : layout.texts();
    const QList<QRect>& other = form.startsWith(QLatin1String("addImage")) ? layout.texts() : layout.images();
    QCOMPARE(stored.size(), 1);
    QVERIFY(other.isEmpty());
    QCOMPARE(stored.first().left(), rect.x());
    QCOMPARE(stored.first().top(), rect.y());
    QCOMPARE(stored.first().right(), right);
    QCOMPARE(stored.first().bottom(), bottom);
    QVERIFY(layout.contains(rect));
    QVERIFY(!layout.isEmpty());
}

void TestZelvoLayout::duplicates_data()
{
    QTest::addColumn<QString>("firstForm");
    QTest::addColumn<QRect>("firstRect");
    QTest::addColumn<QString>("secondForm");
    QTest::addColumn<QRect>("secondRect");
    QTest::addColumn<bool>("accepted");

    const QRect whole(0, 0, 320, 216);
    const QRect tall(10, 10, 10, 20);
    QTest::newRow("addText(0,0,320,216) over that image")
        << "addImage(QRect)" << whole << "addText(int,int,int,int)" << whole << false;
    QTest::newRow("addImage(QRect) over that text")
        << "addText(QRect)" << whole << "addImage(QRect)" << whole << false;
    QTest::newRow("addImage(10,10,10,20) after addImage((10,10),(19,29))")
        << "addImage(QPoint,QPoint)" << tall << "addImage(int,int,int,int)" << tall << false;
    QTest::newRow("addImage((10,10),(10x20)) after addText(10,10,10,20)")
        << "addText(int,int,int,int)" << tall << "addImage(QPoint,QSize)" << tall << false;
    QTest::newRow("addText((10,10),(19,29)) twice")
        << "addText(QPoint,QPoint)" << tall << "addText(QPoint,QPoint)" << tall << false;
    QTest::newRow("addText((10,10),(10x20)) after addImage(QRect)")
        << "addImage(QRect)" << tall << "addText(QPoint,QSize)" << tall << false;
    QTest::newRow("same corner, other size")
        << "addImage(QRect)" << tall << "addImage(QRect)" << QRect(10, 10, 20, 10) << true;
    QTest::newRow("same corner, other size as text")
        << "addImage(QRect)" << tall << "addText(QRect)" << QRect(10, 10, 10, 21) << true;
    QTest::newRow("width 0 beside width 1")
        << "addText(QRect)" << QRect(5, 5, 0, 10) << "addText(QRect)" << QRect(5, 5, 1, 10) << true;
}

void TestZelvoLayout::duplicates()
{
    QFETCH(QString, firstForm);
    QFETCH(QRect, firstRect);
    QFETCH(QString, secondForm);
    QFETCH(QRect, secondRect);
    QFETCH(bool, accepted);

    ZelvoLayout layout(1);
    add(layout, firstForm, firstRect);
    const ZelvoLayout before = layout;

    if (!accepted) {
        const QString adder = secondForm.left(secondForm.indexOf(QLatin1Char('(')));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^ZelvoLayout::%1 rect already "
                                                                           "added, skipping request")
                                                                .arg(adder)));
    }
    add(layout, secondForm, secondRect);

    if (accepted) {
        QCOMPARE(layout.images().size() + layout.texts().size(), 2);
        QVERIFY(layout.contains(secondRect));
        const QList<QRect>& list = secondForm.startsWith(QLatin1String("addImage")) ? layout.images()
                                                                                    : layout.texts();
        QCOMPARE(list.last(), secondRect);
    } else {
        QCOMPARE(layout, before);
    }
}

void TestZelvoLayout::copiesAreIndependent()
{
    ZelvoLayout original(2, QStringLiteral("original"));
    original.addImage(0, 0, 10, 10);
    ZelvoLayout copy = original;
    copy.addText(20, 0, 10, 10);
    copy.setName(QStringLiteral("copy"));
    copy.setIndex(9);

    QCOMPARE(original.index(), 2);
    QCOMPARE(original.name(), QStringLiteral("original"));
    QVERIFY(original.texts().isEmpty());
    QCOMPARE(copy.images(), original.images());
    QCOMPARE(copy.texts().size(), 1);
}

void TestZelvoLayout::equality_data()
{
    QTest::addColumn<ZelvoLayout>("other");
    QTest::addColumn<bool>("equal");

    QTest::newRow("same") << sample() << true;

    ZelvoLayout otherIndex = sample();
    otherIndex.setIndex(2);
    QTest::newRow("other index") << otherIndex << false;

    ZelvoLayout otherName = sample();
    otherName.setName(QStringLiteral("b"));
    QTest::newRow("other name") << otherName << false;

    ZelvoLayout moreImages = sample();
    moreImages.addImage(0, 10, 4, 4);
    QTest::newRow("one more image") << moreImages << false;

    ZelvoLayout swapped(1, QStringLiteral("a"));
    swapped.addImage(0, 0, 4, 4);
    swapped.addText(0, 5, 4, 4);
    swapped.addImage(5, 0, 4, 4);
    QTest::newRow("second image and text swapped") << swapped << false;

    ZelvoLayout reordered(1, QStringLiteral("a"));
    reordered.addImage(0, 5, 4, 4);
    reordered.addImage(0, 0, 4, 4);
    reordered.addText(5, 0, 4, 4);
    QTest::newRow("images in other order") << reordered << false;
}

void TestZelvoLayout::equality()
{
    QFETCH(ZelvoLayout, other);
    QFETCH(bool, equal);

    const ZelvoLayout layout = sample();
    QCOMPARE(layout == other, equal);
    QCOMPARE(layout != other, !equal);
}

QTEST_GUILESS_MAIN(TestZelvoLayout)
#include "tst_zelvolayout.moc"
