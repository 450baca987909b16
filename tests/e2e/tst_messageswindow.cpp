#include "Desktop.h"
#include "EmulatorProcess.h"
#include "TestAgent.h"

#include <QImage>
#include <QRect>
#include <QTest>

#include <functional>

namespace {

constexpr int startTimeoutMillis = 60000;
constexpr int reactionTimeoutMillis = 20000;
const QString messagesTitle = QStringLiteral("^Zelvo Messages$");

bool waitFor(const std::function<bool()>& condition)
{
    return QTest::qWaitFor(condition, reactionTimeoutMillis);
}

} // namespace

// The Messages window of the real program under openbox, opened and
// closed with F12 as a person does, from either window.
class TestMessagesWindow final : public QObject
{
    Q_OBJECT

private slots:
    void f12OpensAndClosesTheWindow();

private:
    QString messagesWindow() const;

    Desktop desktop;
    EmulatorProcess emulator{&desktop, QStringLiteral("messageswindow/emulator")};
};

QString TestMessagesWindow::messagesWindow() const
{
    return desktop.waitForWindow({"--pid", QString::number(emulator.pid()), "--name", messagesTitle}, {},
                                 reactionTimeoutMillis);
}

void TestMessagesWindow::f12OpensAndClosesTheWindow()
{
    QVERIFY2(desktop.start(QSize(1920, 1080), Desktop::WindowManager::Openbox), qPrintable(desktop.errorString()));
    QString glasses = emulator.startWithWindow(startTimeoutMillis);
    QVERIFY2(!glasses.isEmpty(), qPrintable("no window; see " + emulator.logPath()));
    const QRect glassesPlace = desktop.geometry(glasses);
    // Content for a layout that does not exist: its row tells why, in red.
    TestAgent agent(emulator.ports().agent);
    QVERIFY(agent.socket.waitForConnected(reactionTimeoutMillis));
    QVERIFY(agent.show(QStringLiteral("messages-agent"), 3, QStringLiteral("7"), {}, {QStringLiteral("lost")}));

    QVERIFY(desktop.pressKeys(glasses, {"F12"}));
    QString messages = messagesWindow();
    QVERIFY2(!messages.isEmpty(), "F12 on the glasses shows no Messages window");
    QVERIFY(messages != glasses);
    const QRect opened = desktop.geometry(messages);
    QVERIFY2(opened.width() >= 600 && opened.height() >= 400,
             qPrintable(QStringLiteral("%1 x %2").arg(opened.width()).arg(opened.height())));
    // The refused row's red, within the list of the window.
    const auto refusedRowShown = [&] {
        const QImage shot = desktop.screenshot(messages);
        int red = 0;
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                const QRgb pixel = shot.pixel(x, y);
                red += qRed(pixel) > 220 && qGreen(pixel) > 170 && qGreen(pixel) < 220 && qBlue(pixel) > 170
                       && qBlue(pixel) < 220;
            }
        }
        return red > 2000;
    };
    const bool refusedShown = waitFor(refusedRowShown);
    QVERIFY(!Desktop::keep(desktop.screenshot(QStringLiteral("root")), QStringLiteral("messageswindow/open.png")).isEmpty());
    QVERIFY2(refusedShown, "no refused row in the Messages window");

    // A person moves it aside; F12 in the Messages window closes it: the
    // shortcut belongs to the program, not to one window.
    const QRect aside(QPoint(900, 300), opened.size());
    QVERIFY(desktop.move(messages, aside.topLeft()));
    QVERIFY(waitFor([&] { return desktop.geometry(messages) == aside; }));
    QVERIFY(desktop.pressKeys(messages, {"F12"}));
    QVERIFY(waitFor([&] { return desktop.windows(emulator.pid(), messagesTitle).isEmpty(); }));
    QCOMPARE(desktop.geometry(glasses), glassesPlace);

    QVERIFY(desktop.pressKeys(glasses, {"F12"}));
    messages = messagesWindow();
    QVERIFY(waitFor([&] { return desktop.geometry(messages) == aside; }));

    // The next run opens it where it was left.
    emulator.stop();
    EmulatorProcess again(&desktop, QStringLiteral("messageswindow/again"));
    again.setHome(emulator.home());
    glasses = again.startWithWindow(startTimeoutMillis);
    QVERIFY2(!glasses.isEmpty(), qPrintable("no window; see " + again.logPath()));
    QVERIFY(desktop.pressKeys(glasses, {"F12"}));
    messages = desktop.waitForWindow({"--pid", QString::number(again.pid()), "--name", messagesTitle}, {},
                                     reactionTimeoutMillis);
    QVERIFY(!messages.isEmpty());
    QVERIFY(waitFor([&] { return desktop.geometry(messages) == aside; }));
}

QTEST_GUILESS_MAIN(TestMessagesWindow)
#include "tst_messageswindow.moc"
