#include "ChildProcess.h"
#include "VirtualDisplay.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QImage>
#include <QPainter>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// The program built with sanitizers starts slowly on a loaded machine.
constexpr int startDeadline = 90000;
constexpr int answerDeadline = 30000;
// Other programs that use the agent port may hold it for a while.
constexpr int portDeadline = 300000;
constexpr quint16 agentPort = 2000;

const QString windowTitle = QStringLiteral("^Zelvo Emulator$");
const QString refusalTitle = QStringLiteral("^ZelvoEmulator$");

bool portAcceptsConnections()
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, agentPort);
    return socket.waitForConnected(1000);
}

QString artifact(const QString& name)
{
    return QDir(QStringLiteral(ZELVO_ARTIFACT_DIR)).filePath(name);
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
    // Starts the emulator on the virtual display with `home` as its home.
    void start(ChildProcess& program, const QTemporaryDir& home);
    // Starts it and waits until agents can connect and its window is on
    // screen; `window` receives the window id.
    void launch(ChildProcess& program, const QTemporaryDir& home, QString* window);
    void saveScreen(const QString& name);

    VirtualDisplay display;
};

void TestApplication::initTestCase()
{
    QVERIFY(QDir().mkpath(QStringLiteral(ZELVO_ARTIFACT_DIR)));
    QVERIFY2(display.start(), "Xvfb did not start");
}

void TestApplication::init()
{
    // Another run may still be releasing the port.
    QTRY_VERIFY2_WITH_TIMEOUT(!portAcceptsConnections(), "port 2000 is held by another program",
                              portDeadline);
}

void TestApplication::start(ChildProcess& program, const QTemporaryDir& home)
{
    QVERIFY(home.isValid());
    const QString runtime = home.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(runtime));
    QVERIFY(QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QProcessEnvironment environment = display.environment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral(".config")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    program.setProcessEnvironment(environment);
    // The log goes to the test's output, where a failure is read.
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QStringLiteral(ZELVO_EMULATOR), {});
    QVERIFY2(program.waitForStarted(), qPrintable(program.errorString()));
}

void TestApplication::launch(ChildProcess& program, const QTemporaryDir& home, QString* window)
{
    start(program, home);
    if (QTest::currentTestFailed())
        return;

    const auto refused = [&] { return !display.windows(program.processId(), refusalTitle).isEmpty(); };
    QTRY_VERIFY_WITH_TIMEOUT(portAcceptsConnections() || refused() || program.state() == QProcess::NotRunning,
                             startDeadline);
    QVERIFY2(!refused(), "another program took port 2000 while the emulator started");
    QCOMPARE(program.state(), QProcess::Running);
    QTRY_COMPARE_WITH_TIMEOUT(display.windows(program.processId(), windowTitle).size(), 1, startDeadline);
    *window = display.windows(program.processId(), windowTitle).constFirst();
}

void TestApplication::saveScreen(const QString& name)
{
    const QImage screen = display.grab(QStringLiteral("root"));
    QVERIFY(!screen.isNull());
    QVERIFY(screen.save(artifact(name)));
}

void TestApplication::startsListeningWithItsWindow()
{
    QTemporaryDir home;
    ChildProcess emulator;
    QString window;
    launch(emulator, home, &window);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(display.geometry(window).size(), QSize(640, 480));
    // The window draws fully once mapped; wait until the picture settles.
    const QImage expected = expectedWindow();
    QImage shown;
    QTRY_VERIFY_WITH_TIMEOUT((shown = display.grab(window)).size() == expected.size()
                                 && differingPixels(shown, expected) < shown.width() * shown.height() / 200,
                             answerDeadline);
    shown.save(artifact(QStringLiteral("window.png")));
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
    QTemporaryDir firstHome;
    ChildProcess first;
    QTcpServer unrelated;
    QString firstWindow;
    if (holderIsEmulator) {
        launch(first, firstHome, &firstWindow);
        if (QTest::currentTestFailed())
            return;
    } else {
        QVERIFY(unrelated.listen(QHostAddress::Any, agentPort));
    }

    QTemporaryDir secondHome;
    ChildProcess second;
    start(second, secondHome);
    if (QTest::currentTestFailed())
        return;

    QTRY_COMPARE_WITH_TIMEOUT(display.windows(second.processId(), refusalTitle).size(), 1, startDeadline);
    QVERIFY(display.windows(second.processId(), windowTitle).isEmpty());
    saveScreen(QStringLiteral("refused-%1.png").arg(holderIsEmulator ? "emulator" : "unrelated"));

    // Dismissing the box ends the refused copy, and only it.
    QCOMPARE(second.state(), QProcess::Running);
    QVERIFY(display.type(display.windows(second.processId(), refusalTitle).constFirst(), {"Return"}));
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, answerDeadline);
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 1);

    if (holderIsEmulator) {
        QCOMPARE(first.state(), QProcess::Running);
        QCOMPARE(display.windows(first.processId(), windowTitle), QStringList{firstWindow});
        QVERIFY(portAcceptsConnections());
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
    QVERIFY(holder.listen(QHostAddress::Any, agentPort));
    ChildProcess second;
    second.start(QStringLiteral(ZELVO_EMULATOR), {QStringLiteral("-platform"), platform});

    // Nobody could dismiss a box here: the refusal goes to standard error.
    QVERIFY(second.waitForFinished(startDeadline));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 1);
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
    QTemporaryDir home;
    ChildProcess emulator;
    QString window;
    launch(emulator, home, &window);
    if (QTest::currentTestFailed())
        return;

    QVERIFY(display.requestClose(window));
    QString question;
    QTRY_VERIFY_WITH_TIMEOUT(display.windows(emulator.processId(), windowTitle).size() == 2, answerDeadline);
    for (const QString& id : display.windows(emulator.processId(), windowTitle)) {
        if (id != window)
            question = id;
    }
    saveScreen(QStringLiteral("close-question.png"));
    QVERIFY(display.type(question, keys));

    if (closes) {
        QTRY_COMPARE_WITH_TIMEOUT(emulator.state(), QProcess::NotRunning, answerDeadline);
        QCOMPARE(emulator.exitStatus(), QProcess::NormalExit);
        QCOMPARE(emulator.exitCode(), 0);
        QVERIFY(!portAcceptsConnections());
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(display.windows(emulator.processId(), windowTitle), QStringList{window},
                                  answerDeadline);
        QCOMPARE(emulator.state(), QProcess::Running);
        QVERIFY(portAcceptsConnections());
    }
}

QTEST_GUILESS_MAIN(TestApplication)
#include "tst_application.moc"
