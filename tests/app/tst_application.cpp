#include "Desktop.h"
#include "ChildProcess.h"
#include "EmulatorProcess.h"

#include <QHostAddress>
#include <QImage>
#include <QPainter>
#include <QTcpServer>
#include <QtTest>

namespace {

// The program built with sanitizers starts slowly on a loaded machine.
constexpr int startDeadline = 90000;
constexpr int answerDeadline = 30000;
// Other programs that use the agent port may hold it for a while.
constexpr int portDeadline = 300000;

const QString windowTitle = QStringLiteral("^Zelvo Emulator$");
const QString refusalTitle = QStringLiteral("^ZelvoEmulator$");

const QString logName = QStringLiteral("application/emulator");

QString artifact(const QString& name)
{
    return QStringLiteral("application/") + name;
}

// What the window shows right after start: the glasses, the keys at their
// places and the empty, transparent display.
QImage expectedWindow()
{
    QImage picture(QStringLiteral(":/data/glass.png"));
    picture = picture.convertToFormat(QImage::Format_RGB32);
    QPainter painter(&picture);
    painter.drawImage(606, 4, QImage(QStringLiteral(":/data/fullscreen_on.png")));
    painter.drawImage(570, 140, QImage(QStringLiteral(":/data/buttonplus.png")));
    painter.drawImage(565, 200, QImage(QStringLiteral(":/data/buttonminus.png")));
    painter.drawImage(570, 60, QImage(QStringLiteral(":/data/buttonsensor.png")));
    return picture;
}

int differingPixels(const QImage& a, const QImage& b)
{
    const QImage left = a.convertToFormat(QImage::Format_RGB32);
    const QImage right = b.convertToFormat(QImage::Format_RGB32);
    int count = 0;
    for (int y = 0; y < left.height(); ++y) {
        for (int x = 0; x < left.width(); ++x) {
            const QRgb p = left.pixel(x, y);
            const QRgb q = right.pixel(x, y);
            if (qAbs(qRed(p) - qRed(q)) > 3 || qAbs(qGreen(p) - qGreen(q)) > 3 || qAbs(qBlue(p) - qBlue(q)) > 3)
                ++count;
        }
    }
    return count;
}

} // namespace

class TestApplication final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void startsListeningWithItsWindow();
    void refusesSecondInstance_data();
    void refusesSecondInstance();
    void refusesSecondInstanceWithoutScreen_data();
    void refusesSecondInstanceWithoutScreen();
    void closeAsksFirst_data();
    void closeAsksFirst();

private:
    // Starts the emulator and waits until agents can connect and its window
    // is on screen; `window` receives the window id.
    void launch(EmulatorProcess& program, QString* window);
    void saveScreen(const QString& name);

    Desktop display;
};

void TestApplication::initTestCase()
{
    // A person's desktop has a window manager; it frames and places the
    // window and its message boxes.
    QVERIFY2(display.start(QSize(1280, 1024), Desktop::WindowManager::Openbox), qPrintable(display.errorString()));
}

void TestApplication::init()
{
    // Another run may still be releasing the ports.
    QVERIFY2(EmulatorProcess(&display, logName).waitForFreePorts(portDeadline),
             "port 2000 or 2001 is held by another program");
}

void TestApplication::launch(EmulatorProcess& program, QString* window)
{
    QVERIFY2(program.start(), "the emulator does not start");

    const auto refused = [&] { return !display.windows(program.pid(), refusalTitle).isEmpty(); };
    QTRY_VERIFY_WITH_TIMEOUT(program.isListening() || refused() || !program.isRunning(), startDeadline);
    QVERIFY2(!refused(), "another program took port 2000 while the emulator started");
    QVERIFY2(program.isRunning(), qPrintable("the emulator ended; see " + program.logPath()));
    QTRY_COMPARE_WITH_TIMEOUT(display.windows(program.pid(), windowTitle).size(), 1, startDeadline);
    *window = display.windows(program.pid(), windowTitle).constFirst();
}

void TestApplication::saveScreen(const QString& name)
{
    const QImage screen = display.screenshot(QStringLiteral("root"));
    QVERIFY(!screen.isNull());
    QVERIFY(!Desktop::keep(screen, artifact(name)).isEmpty());
}

void TestApplication::startsListeningWithItsWindow()
{
    EmulatorProcess emulator(&display, logName);
    emulator.useDefaultPorts();
    QString window;
    launch(emulator, &window);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(display.geometry(window).size(), QSize(640, 480));
    // The window draws fully once mapped; wait until the picture settles.
    const QImage expected = expectedWindow();
    QVERIFY2(!expected.isNull(), "the window's pictures are not in this test");
    QImage shown;
    QTRY_VERIFY_WITH_TIMEOUT((shown = display.screenshot(window)).size() == expected.size()
                                 && differingPixels(shown, expected) < shown.width() * shown.height() / 200,
                             answerDeadline);
    Desktop::keep(shown, artifact(QStringLiteral("window.png")));
    saveScreen(QStringLiteral("started.png"));
}

void TestApplication::refusesSecondInstance_data()
{
    QTest::addColumn<bool>("holderIsEmulator");
    QTest::newRow("another emulator") << true;
    QTest::newRow("an unrelated program") << false;
}

void TestApplication::refusesSecondInstance()
{
    QFETCH(bool, holderIsEmulator);
    EmulatorProcess first(&display, logName);
    first.useDefaultPorts();
    QTcpServer unrelated;
    QString firstWindow;
    if (holderIsEmulator) {
        launch(first, &firstWindow);
        if (QTest::currentTestFailed())
            return;
    } else {
        QVERIFY(unrelated.listen(QHostAddress::Any, first.ports().agent));
    }

    EmulatorProcess second(&display, logName);
    second.useDefaultPorts();

    QVERIFY2(second.start(), "the emulator does not start");

    QTRY_COMPARE_WITH_TIMEOUT(display.windows(second.pid(), refusalTitle).size(), 1, startDeadline);
    QVERIFY(display.windows(second.pid(), windowTitle).isEmpty());
    saveScreen(QStringLiteral("refused-%1.png").arg(holderIsEmulator ? "emulator" : "unrelated"));

    // Dismissing the box ends the refused copy, and only it.
    QVERIFY(second.isRunning());
    QVERIFY(display.pressKeys(display.windows(second.pid(), refusalTitle).constFirst(), {"Return"}));
    // -1 while it still runs or when it crashed.
    QCOMPARE(second.waitForExit(answerDeadline), 1);

    if (holderIsEmulator) {
        QVERIFY(first.isRunning());
        // A search of the windows while the box is torn down can miss them
        // all, now and then: one answer that holds the window is enough.
        QVERIFY(QTest::qWaitFor([&] { return display.windows(first.pid(), windowTitle) == QStringList{firstWindow}; },
                                answerDeadline));
        QVERIFY(first.isListening());
    }
}

void TestApplication::refusesSecondInstanceWithoutScreen_data()
{
    QTest::addColumn<QString>("platform");
    QTest::newRow("offscreen") << QStringLiteral("offscreen");
    QTest::newRow("minimal") << QStringLiteral("minimal");
}

void TestApplication::refusesSecondInstanceWithoutScreen()
{
    QFETCH(QString, platform);
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::Any, EmulatorProcess::Ports().agent));
    ChildProcess second;
    second.start(EmulatorProcess::program(), {QStringLiteral("-platform"), platform});

    // Nobody could dismiss a box here: the refusal goes to standard error.
    QCOMPARE(second.waitForExit(startDeadline), 1);
    const QByteArray errors = second.readAllStandardError();
    QVERIFY2(errors.contains("ZelvoEmulator already in use (port 2000)\n"), errors.constData());
}

void TestApplication::closeAsksFirst_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<bool>("closes");
    // Cancel is the default button, so Return alone keeps the program; Tab
    // moves to Ok.
    QTest::newRow("Escape") << QStringList{"Escape"} << false;
    QTest::newRow("Return") << QStringList{"Return"} << false;
    QTest::newRow("Tab Return") << QStringList{"Tab", "Return"} << true;
}

void TestApplication::closeAsksFirst()
{
    QFETCH(QStringList, keys);
    QFETCH(bool, closes);
    EmulatorProcess emulator(&display, logName);
    emulator.useDefaultPorts();
    QString window;
    launch(emulator, &window);
    if (QTest::currentTestFailed())
        return;

    QVERIFY(display.askToClose(window));
    QString question;
    QTRY_VERIFY_WITH_TIMEOUT(display.windows(emulator.pid(), windowTitle).size() == 2, answerDeadline);
    for (const QString& id : display.windows(emulator.pid(), windowTitle)) {
        if (id != window)
            question = id;
    }
    saveScreen(QStringLiteral("close-question.png"));
    QVERIFY(display.pressKeys(question, keys));

    if (closes) {
        QCOMPARE(emulator.waitForExit(answerDeadline), 0);
        QVERIFY(!emulator.isListening());
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(display.windows(emulator.pid(), windowTitle), QStringList{window},
                                  answerDeadline);
        QVERIFY(emulator.isRunning());
        QVERIFY(emulator.isListening());
    }
}

QTEST_GUILESS_MAIN(TestApplication)
#include "tst_application.moc"
