#include "Desktop.h"
#include "EmulatorProcess.h"

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
    Desktop desktop;
    EmulatorProcess emulator{&desktop, QStringLiteral("messageswindow/emulator")};
};

void TestMessagesWindow::f12OpensAndClosesTheWindow()
{
    QVERIFY2(emulator.waitForFreePorts(5 * startTimeoutMillis), "port 2000 or 2001 stays taken");
    QVERIFY2(desktop.start(QSize(1920, 1080), Desktop::WindowManager::Openbox), qPrintable(desktop.errorString()));
    const QString glasses = emulator.startWithWindow(startTimeoutMillis);
    QVERIFY2(!glasses.isEmpty(), qPrintable("no window; see " + emulator.logPath()));
    const QRect glassesPlace = desktop.geometry(glasses);

    QVERIFY(desktop.pressKeys(glasses, {"F12"}));
    const QString messages = desktop.waitForWindow({"--pid", QString::number(emulator.pid()), "--name", messagesTitle},
                                                   {}, reactionTimeoutMillis);
    QVERIFY2(!messages.isEmpty(), "F12 on the glasses shows no Messages window");
    QVERIFY(messages != glasses);
    const QRect place = desktop.geometry(messages);
    QVERIFY2(place.width() >= 600 && place.height() >= 400, qPrintable(QStringLiteral("%1 x %2").arg(place.width()).arg(place.height())));
    QVERIFY(!Desktop::keep(desktop.screenshot(QStringLiteral("root")), QStringLiteral("messageswindow/open.png")).isEmpty());

    // The shortcut belongs to the program: F12 in the Messages window closes it.
    QVERIFY(desktop.pressKeys(messages, {"F12"}));
    QVERIFY(waitFor([&] { return desktop.windows(emulator.pid(), messagesTitle).isEmpty(); }));
    QCOMPARE(desktop.geometry(glasses), glassesPlace);

    QVERIFY(desktop.pressKeys(glasses, {"F12"}));
    QVERIFY(waitFor([&] { return desktop.windows(emulator.pid(), messagesTitle).size() == 1; }));
    QVERIFY(emulator.isRunning());
}

QTEST_GUILESS_MAIN(TestMessagesWindow)
#include "tst_messageswindow.moc"
