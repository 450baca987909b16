#include "ui/ZelvoEmulator.h"
#include "model/ZelvoLayout.h"
#include "comm/ZelvoServer.h"
#include "services/ZelvoServices.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QTextCodec>
#endif

#include <algorithm>

Q_DECLARE_METATYPE(ZelvoLayout)

// Printed by QCOMPARE when layouts differ.
char* toString(const ZelvoLayout& layout)
{
    QString text = QStringLiteral("ZelvoLayout(%1, \"%2\", images").arg(layout.index()).arg(layout.name());
    for (const QRect& rect : layout.images())
        text += QStringLiteral(" (%1,%2 %3x%4)").arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height());
    text += QStringLiteral(", texts");
    for (const QRect& rect : layout.texts())
        text += QStringLiteral(" (%1,%2 %3x%4)").arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height());
    return QTest::toString(text + QLatin1Char(')'));
}

namespace {

// The document for the five built-in layouts, attributes in a fixed order.
const char* const builtInDocument = R"(<!DOCTYPE zelvo_layouts>
<zelvo_layouts>
 <layout index="0" name="?">
  <images/>
  <texts>
   <text left="0" top="0" width="320" height="216"/>
  </texts>
 </layout>
 <layout index="1" name="?">
  <images>
   <image left="0" top="0" width="320" height="216"/>
  </images>
  <texts/>
 </layout>
 <layout index="2" name="?">
  <images>
   <image left="0" top="0" width="158" height="216"/>
  </images>
  <texts>
   <text left="162" top="0" width="158" height="216"/>
  </texts>
 </layout>
 <layout index="3" name="?">
  <images>
   <image left="0" top="42" width="158" height="174"/>
  </images>
  <texts>
   <text left="0" top="0" width="320" height="40"/>
   <text left="162" top="42" width="158" height="174"/>
  </texts>
 </layout>
 <layout index="4" name="?">
  <images>
   <image left="0" top="0" width="158" height="106"/>
   <image left="162" top="0" width="158" height="106"/>
   <image left="0" top="107" width="158" height="106"/>
   <image left="162" top="107" width="158" height="106"/>
  </images>
  <texts/>
 </layout>
</zelvo_layouts>
)";

// The writer keeps attributes in the order of a hash; the order carries no
// meaning, so it is put into the order of builtInDocument before comparing.
QString withOrderedAttributes(const QString& document)
{
    static const QStringList order = {"index", "name", "left", "top", "width", "height"};
    static const QRegularExpression tag(QStringLiteral("<(\\w+)((?: \\w+=\"[^\"]*\")+)(/?)>"));
    static const QRegularExpression attribute(QStringLiteral(" (\\w+)=\"[^\"]*\""));
    QString result;
    int last = 0;
    QRegularExpressionMatchIterator tags = tag.globalMatch(document);
    while (tags.hasNext()) {
        const QRegularExpressionMatch match = tags.next();
        QStringList attributes;
        QRegularExpressionMatchIterator found = attribute.globalMatch(match.captured(2));
        while (found.hasNext())
            attributes.append(found.next().captured(0));
        std::sort(attributes.begin(), attributes.end(), [](const QString& a, const QString& b) {
            return order.indexOf(a.mid(1, a.indexOf('=') - 1)) < order.indexOf(b.mid(1, b.indexOf('=') - 1));
        });
        result += document.mid(last, match.capturedStart() - last);
        result += QLatin1Char('<') + match.captured(1) + attributes.join(QString()) + match.captured(3) + QLatin1Char('>');
        last = match.capturedEnd();
    }
    return result + document.mid(last);
}

QByteArray readFile(const QString& fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& fileName, const QByteArray& content)
{
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

ZelvoLayout layout(int index, const QString& name, const QList<QRect>& images, const QList<QRect>& texts)
{
    ZelvoLayout result(index, name);
    for (const QRect& rect : images)
        result.addImage(rect);
    for (const QRect& rect : texts)
        result.addText(rect);
    return result;
}

// A Latin-1 locale for its lifetime. Qt 6 has no locale codec: its local
// 8-bit text is UTF-8 whatever the locale, so there it changes nothing.
class LatinLocale final
{
public:
    LatinLocale()
    {
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("ISO-8859-1"));
#endif
    }
    ~LatinLocale()
    {
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
        QTextCodec::setCodecForLocale(localeCodec);
#endif
    }
    Q_DISABLE_COPY_MOVE(LatinLocale)

private:
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QTextCodec* const localeCodec = QTextCodec::codecForLocale();
#endif
};

} // namespace

class tst_LayoutFile final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void savedDocument();
    void saveThenLoad();
    void loading_data();
    void loading();
    void namesOutsideAscii();
    void unopenableFiles_data();
    void unopenableFiles();
    void savingOverLongerFile();

private:
    QString path(const QString& name) const { return home.filePath(name); }

    QTemporaryDir home{QDir::home().filePath(QStringLiteral("layouts-XXXXXX"))};
};

void tst_LayoutFile::init()
{
    QVERIFY(home.isValid());
}

void tst_LayoutFile::savedDocument()
{
    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    ZelvoEmulator window(&server, services, nullptr);

    QTest::ignoreMessage(QtDebugMsg, qPrintable("ZelvoEmulator::saveLayouts saving layouts on file " + path("built-in.xml")));
    QTest::ignoreMessage(QtDebugMsg, "ZelvoEmulator::saveLayouts saving layout 3 INDEX 3 NAME \"?\"");
    window.saveLayouts(path("built-in.xml"));
    const QString written = QString::fromUtf8(readFile(path("built-in.xml")));
    QCOMPARE(withOrderedAttributes(written), QString::fromLatin1(builtInDocument));
}

void tst_LayoutFile::saveThenLoad()
{
    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    ZelvoEmulator writer(&server, services, nullptr);
    writer.saveLayouts(path("layouts.xml"));

    ZelvoEmulator reader(&server, services, nullptr);
    reader.loadLayouts(path("layouts.xml"));
    const QList<ZelvoLayout>& layouts = reader.layoutList();
    QCOMPARE(layouts.size(), 10);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(layouts.at(i + 5), layouts.at(i));
    QCOMPARE(layouts.mid(0, 5), ZelvoLayout::builtInLayouts());
    // The writer's list is its own.
    QCOMPARE(writer.layoutList().size(), 5);

    // What was loaded is written out again by the next save.
    reader.saveLayouts(path("ten.xml"));
    ZelvoEmulator third(&server, services, nullptr);
    third.loadLayouts(path("ten.xml"));
    QCOMPARE(third.layoutList().size(), 15);
    QCOMPARE(third.layoutList().mid(5), layouts);
}

void tst_LayoutFile::loading_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QList<ZelvoLayout>>("loaded");
    QTest::addColumn<QStringList>("logLines");

    const QString noLayout = QStringLiteral("\033[34mZelvoEmulator::loadLayouts No layout to Load...\033[0m");
    const QString noImage = QStringLiteral("\033[34mZelvoEmulator::loadLayouts No IMAGE to Load...\033[0m");
    const QString noText = QStringLiteral("\033[34mZelvoEmulator::loadLayouts No TEXT to Load...\033[0m");

    QTest::newRow("layout without images and texts")
        << QByteArray(R"(<zelvo_layouts><layout index="7" name="bare"/></zelvo_layouts>)")
        << QList<ZelvoLayout>{ZelvoLayout(7, "bare")}
        << QStringList{"\033[34mZelvoEmulator::loadLayouts loading layout \"bare\"\033[0m", noImage, noText};
    QTest::newRow("empty images and texts")
        << QByteArray(R"(<zelvo_layouts><layout index="1" name="e"><images/><texts/></layout></zelvo_layouts>)")
        << QList<ZelvoLayout>{ZelvoLayout(1, "e")} << QStringList{noImage, noText};
    QTest::newRow("root of another name")
        << QByteArray(R"(<other><layout index="2" name="x"><images>)"
                      R"(<image left="1" top="2" width="3" height="4"/></images><texts/></layout></other>)")
        << QList<ZelvoLayout>{layout(2, "x", {QRect(1, 2, 3, 4)}, {})} << QStringList{noText};
    QTest::newRow("image directly under layout")
        << QByteArray(R"(<zelvo_layouts><layout index="1" name="a">)"
                      R"(<image left="1" top="2" width="3" height="4"/><text left="5" top="6" width="7" height="8"/>)"
                      R"(<images/><texts><text left="9" top="9" width="9" height="9"/></texts></layout></zelvo_layouts>)")
        << QList<ZelvoLayout>{layout(1, "a", {}, {QRect(9, 9, 9, 9)})} << QStringList{noImage};
    QTest::newRow("only the first images element")
        << QByteArray(R"(<zelvo_layouts><layout index="1" name="a"><images><image left="1" top="1" width="1" height="1"/>)"
                      R"(</images><images><image left="2" top="2" width="2" height="2"/></images></layout></zelvo_layouts>)")
        << QList<ZelvoLayout>{layout(1, "a", {QRect(1, 1, 1, 1)}, {})} << QStringList{noText};
    QTest::newRow("other elements between layouts")
        << QByteArray(R"(<zelvo_layouts><note/><layout index="1" name="a"/><note><layout index="9"/></note>)"
                      R"(<layout index="2" name="b"/></zelvo_layouts>)")
        << QList<ZelvoLayout>{ZelvoLayout(1, "a"), ZelvoLayout(2, "b")} << QStringList();
    QTest::newRow("index already in the list")
        << QByteArray(R"(<zelvo_layouts><layout index="0" name="?"><images/><texts>)"
                      R"(<text left="0" top="0" width="320" height="216"/></texts></layout></zelvo_layouts>)")
        << QList<ZelvoLayout>{ZelvoLayout::builtInLayouts().at(0)} << QStringList{noImage};
    QTest::newRow("missing attributes")
        << QByteArray(R"(<zelvo_layouts><layout><images><image/></images>)"
                      R"(<texts><text left="5"/></texts></layout></zelvo_layouts>)")
        << QList<ZelvoLayout>{layout(0, QString(), {QRect(0, 0, 0, 0)}, {QRect(5, 0, 0, 0)})} << QStringList();
    QTest::newRow("attributes that are no numbers")
        << QByteArray(R"(<zelvo_layouts><layout index="three" name="n"><images>)"
                      R"(<image left="x" top="12px" width="0x10" height="4"/></images><texts/></layout></zelvo_layouts>)")
        << QList<ZelvoLayout>{layout(0, "n", {QRect(0, 0, 0, 4)}, {})} << QStringList();
    QTest::newRow("negative and zero sizes")
        << QByteArray(R"(<zelvo_layouts><layout index="-3" name="z"><images>)"
                      R"(<image left="-5" top="10" width="0" height="-2"/></images><texts/></layout></zelvo_layouts>)")
        << QList<ZelvoLayout>{layout(-3, "z", {QRect(-5, 10, 0, -2)}, {})} << QStringList();
    QTest::newRow("duplicate rectangles")
        << QByteArray(R"(<zelvo_layouts><layout index="5" name="d"><images>)"
                      R"(<image left="1" top="2" width="3" height="4"/><image left="1" top="2" width="3" height="4"/>)"
                      R"(<image left="1" top="2" width="3" height="5"/></images><texts>)"
                      R"(<text left="1" top="2" width="3" height="4"/><text left="9" top="9" width="9" height="9"/>)"
                      R"(</texts></layout></zelvo_layouts>)")
        << QList<ZelvoLayout>{layout(5, "d", {QRect(1, 2, 3, 4), QRect(1, 2, 3, 5)}, {QRect(9, 9, 9, 9)})}
        << QStringList{"ZelvoLayout::addImage rect already added, skipping request QRect(1,2 3x4)",
                       "ZelvoLayout::addText rect already added, skipping request QRect(1,2 3x4)"};
    QTest::newRow("root without layouts") << QByteArray("<zelvo_layouts><images/></zelvo_layouts>")
                                          << QList<ZelvoLayout>() << QStringList{noLayout};
    QTest::newRow("malformed XML")
        << QByteArray(R"(<zelvo_layouts><layout index="1" name="a"><images></layout>)") << QList<ZelvoLayout>()
        << QStringList{noLayout};
    QTest::newRow("not XML at all") << QByteArray("index=1 name=a") << QList<ZelvoLayout>() << QStringList{noLayout};
    QTest::newRow("empty file") << QByteArray() << QList<ZelvoLayout>() << QStringList{noLayout};
}

void tst_LayoutFile::loading()
{
    QFETCH(QByteArray, document);
    QFETCH(QList<ZelvoLayout>, loaded);
    QFETCH(QStringList, logLines);

    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    ZelvoEmulator window(&server, services, nullptr);
    QVERIFY(writeFile(path("load.xml"), document));

    for (const QString& line : qAsConst(logLines))
        QTest::ignoreMessage(QtDebugMsg, qPrintable(line));
    window.loadLayouts(path("load.xml"));
    // Loading only appends: the built-in copies stay first.
    QCOMPARE(window.layoutList().mid(0, 5), ZelvoLayout::builtInLayouts());
    QCOMPARE(window.layoutList().mid(5), loaded);
}

void tst_LayoutFile::namesOutsideAscii()
{
    const QString name = QStringLiteral("Caf\u00e9 \u00fcber \u2603");
    // A Latin-1 locale must not change what the file holds.
    const LatinLocale latin;

    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    ZelvoEmulator writer(&server, services, nullptr);
    const QByteArray document = R"(<zelvo_layouts><layout index="8" name=")" + name.toUtf8() + R"("/></zelvo_layouts>)";
    QVERIFY(writeFile(path("named.xml"), document));
    writer.loadLayouts(path("named.xml"));
    writer.saveLayouts(path("saved.xml"));

    ZelvoEmulator reader(&server, services, nullptr);
    reader.loadLayouts(path("saved.xml"));
    QCOMPARE(reader.layoutList().size(), 11);
    QCOMPARE(reader.layoutList().constLast().name(), name);
    QVERIFY(readFile(path("saved.xml")).contains(name.toUtf8()));
}

void tst_LayoutFile::unopenableFiles_data()
{
    QTest::addColumn<QString>("fileName");

    QTest::newRow("in a missing directory") << QStringLiteral("missing/layouts.xml");
    QTest::newRow("a directory") << QStringLiteral("folder");
}

void tst_LayoutFile::unopenableFiles()
{
    QFETCH(QString, fileName);

    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    ZelvoEmulator window(&server, services, nullptr);
    QVERIFY(QDir(home.path()).mkpath(QStringLiteral("folder")));
    const QString file = path(fileName);

    QTest::ignoreMessage(QtDebugMsg, qPrintable("ZelvoEmulator::saveLayouts couldn't open " + file));
    window.saveLayouts(file);
    QVERIFY(!QFileInfo(file).isFile());

    QTest::ignoreMessage(QtDebugMsg, qPrintable("ZelvoEmulator::loadLayouts couldn't open " + file));
    window.loadLayouts(file);
    QCOMPARE(window.layoutList(), ZelvoLayout::builtInLayouts());
}

void tst_LayoutFile::savingOverLongerFile()
{
    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
    ZelvoEmulator window(&server, services, nullptr);

    window.saveLayouts(path("fresh.xml"));
    const QByteArray fresh = readFile(path("fresh.xml"));
    QByteArray longer = fresh;
    longer.replace("?", "a much longer name than before");
    longer += QByteArray(4096, '~');
    QVERIFY(writeFile(path("reused.xml"), longer));

    window.saveLayouts(path("reused.xml"));
    const QByteArray reused = readFile(path("reused.xml"));
    QCOMPARE(withOrderedAttributes(QString::fromUtf8(reused)), withOrderedAttributes(QString::fromUtf8(fresh)));
    QVERIFY(!reused.contains("longer"));
    QVERIFY(!reused.contains('~'));
    QCOMPARE(reused.size(), fresh.size());
}

QTEST_MAIN(tst_LayoutFile)
#include "tst_layoutfile.moc"
