#include "ContentPictures.h"
#include "EmulatorWindow.h"
#include "TestAgent.h"
#include "clock/ZelvoClock.h"
#include "ui/ZelvoEmulator.h"
#include "comm/ZelvoServer.h"
#include "services/ZelvoServices.h"

#include <QHostAddress>
#include <QImage>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTest>

#include <limits>
#include <memory>

namespace {

const QString hash = QStringLiteral("timed");

QRegularExpression acceptedLine(const QString& layId)
{
    return QRegularExpression(QStringLiteral("onAgentContent USING LAY ID \"%1\"").arg(layId));
}

const QRegularExpression skippedLine(QStringLiteral(
    "^ZelvoEmulator::onAgentContent AGENT \"timed\" sended a new image but we are already waiting the min "
    "persisting time, SKIPPING \\.\\.\\.\\.$"));

} // namespace

class TstContentTiming final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void defaultsSkipTheNextRequest();
    void skippedAcceptedRemoved();
    void maximumShorterThanMinimum();
    void zeroTimes();
    void negativeTimes_data();
    void negativeTimes();
    void configurationWhileShown_data();
    void configurationWhileShown();

private:
    bool show(int contentId, const QString& layId = QStringLiteral("0"))
    {
        return agent->show(hash, contentId, layId, {}, {QStringLiteral("content %1").arg(contentId)});
    }

    // The times are the logic tested here, so the test moves the clock.
    ZelvoServices services{ZelvoClock::Mode::Manual};
    ZelvoClock& clock = *services.clock;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    std::unique_ptr<ZelvoEmulator> window;
    std::unique_ptr<TestAgent> agent;
};

void TstContentTiming::initTestCase()
{
    QVERIFY(server.start(QHostAddress::LocalHost, 0));
}

void TstContentTiming::init()
{
    window = std::make_unique<ZelvoEmulator>(&server, services, nullptr);
    agent = std::make_unique<TestAgent>(server);
    QVERIFY(TestAgent::waitUntilServed(server, {agent.get()}));
}

void TstContentTiming::cleanup()
{
    agent.reset();
    QTRY_VERIFY(server.connections().isEmpty());
    window.reset();
}

void TstContentTiming::defaultsSkipTheNextRequest()
{
    QVERIFY(show(1));
    const QImage shown = window->displayImage();
    QVERIFY(!isTransparent(shown));

    QTest::ignoreMessage(QtDebugMsg, skippedLine);
    QVERIFY(show(2));
    QCOMPARE(window->contentIdOnDisplay(), 1);
    QCOMPARE(window->displayImage(), shown);
    QVERIFY(window->isMinPersistingTimerRunning());
    QVERIFY(window->isMaxPersistingTimerRunning());
}

// Skipped while the minimum runs, accepted after it, and then shown for the
// whole maximum counted from its own acceptance.
void TstContentTiming::skippedAcceptedRemoved()
{
    QVERIFY(agent->setPersistingTimes(1000, 3000));
    QVERIFY(show(1));
    const QImage first = window->displayImage();

    QTest::ignoreMessage(QtDebugMsg, skippedLine);
    QVERIFY(show(2));
    QCOMPARE(window->contentIdOnDisplay(), 1);
    QCOMPARE(window->displayImage(), first);

    QVERIFY(clock.advance(999));
    QVERIFY(window->isMinPersistingTimerRunning());
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("Min persisting time \\(1000 millis\\) elapsed")));
    QVERIFY(clock.advance(1));
    QVERIFY(!window->isMinPersistingTimerRunning());
    QVERIFY(window->isContentOnDisplay());
    QCOMPARE(window->displayImage(), first);

    QTest::ignoreMessage(QtDebugMsg, acceptedLine(QStringLiteral("00")));
    QVERIFY(show(3, QStringLiteral("00")));
    QCOMPARE(window->contentIdOnDisplay(), 3);
    QVERIFY(window->displayImage() != first);

    // The first content's maximum was cut short by the third.
    QVERIFY(clock.advance(2999));
    QCOMPARE(window->contentIdOnDisplay(), 3);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral(
        "^Max persisting time \\(3000 millis\\) elapsed for content \\.\\.\\. removing content$")));
    QVERIFY(clock.advance(1));
    QVERIFY(!window->isContentOnDisplay());
    QCOMPARE(window->agentOnDisplay(), QString());
    QCOMPARE(window->contentIdOnDisplay(), -1);
    QVERIFY(!window->isMaxPersistingTimerRunning());
    // Neither content nor status icons.
    QVERIFY(isTransparent(window->displayImage()));
}

void TstContentTiming::maximumShorterThanMinimum()
{
    QVERIFY(agent->setPersistingTimes(2000, 200));
    QVERIFY(show(1));

    QVERIFY(clock.advance(199));
    QVERIFY(window->isContentOnDisplay());
    QVERIFY(clock.advance(1));
    QVERIFY(!window->isContentOnDisplay());
    QVERIFY(window->isMinPersistingTimerRunning());
    QVERIFY(isTransparent(window->displayImage()));

    QTest::ignoreMessage(QtDebugMsg, skippedLine);
    QVERIFY(show(2));
    QCOMPARE(window->contentIdOnDisplay(), -1);
    QVERIFY(isTransparent(window->displayImage()));

    QVERIFY(clock.advance(1799));
    QVERIFY(window->isMinPersistingTimerRunning());
    QVERIFY(clock.advance(1));
    QVERIFY(!window->isMinPersistingTimerRunning());
    QVERIFY(show(3));
    QCOMPARE(window->contentIdOnDisplay(), 3);
    QVERIFY(!isTransparent(window->displayImage()));
}

// Each picture goes as soon as the clock moves at all, and every request
// is accepted.
void TstContentTiming::zeroTimes()
{
    QVERIFY(agent->setPersistingTimes(0, 0));
    for (int contentId = 1; contentId <= 3; ++contentId) {
        const QString layId = QString(contentId, QLatin1Char('0'));
        QTest::ignoreMessage(QtDebugMsg, acceptedLine(layId));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("Max persisting time \\(0 millis\\)")));
        QVERIFY(show(contentId, layId));
        QVERIFY(window->isContentOnDisplay());
        QVERIFY(clock.advance(0));
        QVERIFY(!window->isContentOnDisplay());
        QVERIFY(!window->isMinPersistingTimerRunning());
        QVERIFY(!window->isMaxPersistingTimerRunning());
        QCOMPARE(window->contentIdOnDisplay(), -1);
        QVERIFY(isTransparent(window->displayImage()));
    }
}

void TstContentTiming::negativeTimes_data()
{
    QTest::addColumn<int>("minMillis");
    QTest::addColumn<int>("maxMillis");
    QTest::addColumn<bool>("stays");

    QTest::newRow("-1, -1") << -1 << -1 << false;
    QTest::newRow("-500, 60000") << -500 << 60000 << true;
    QTest::newRow("0, -500") << 0 << -500 << false;
    QTest::newRow("int min, int min") << std::numeric_limits<int>::min() << std::numeric_limits<int>::min() << false;
}

// Taken as 0: no timer id is left behind that would skip every later request.
void TstContentTiming::negativeTimes()
{
    QFETCH(int, minMillis);
    QFETCH(int, maxMillis);
    QFETCH(bool, stays);

    QVERIFY(agent->setPersistingTimes(minMillis, maxMillis));
    for (int contentId = 1; contentId <= 2; ++contentId) {
        const QString layId = QString(contentId, QLatin1Char('0'));
        QTest::ignoreMessage(QtDebugMsg, acceptedLine(layId));
        QVERIFY(show(contentId, layId));
        QVERIFY(clock.advance(0));
        QVERIFY(!window->isMinPersistingTimerRunning());
        if (stays) {
            QCOMPARE(window->contentIdOnDisplay(), contentId);
            QVERIFY(window->isMaxPersistingTimerRunning());
        } else {
            QVERIFY(!window->isContentOnDisplay());
            QVERIFY(!window->isMaxPersistingTimerRunning());
        }
    }
}

void TstContentTiming::configurationWhileShown_data()
{
    QTest::addColumn<int>("maxMillis");
    QTest::addColumn<int>("laterMaxMillis");

    QTest::newRow("shorter later") << 2000 << 50;
    QTest::newRow("longer later") << 1500 << 60000;
}

// New times apply from the next accepted content; what is shown keeps the
// life it started with.
void TstContentTiming::configurationWhileShown()
{
    QFETCH(int, maxMillis);
    QFETCH(int, laterMaxMillis);

    QVERIFY(agent->setPersistingTimes(0, maxMillis));
    QVERIFY(show(1));
    QVERIFY(agent->setPersistingTimes(0, laterMaxMillis));
    QVERIFY(window->isContentOnDisplay());

    QVERIFY(clock.advance(maxMillis - 1));
    QVERIFY(window->isContentOnDisplay());
    QVERIFY(clock.advance(1));
    QVERIFY(!window->isContentOnDisplay());
}

QTEST_MAIN(TstContentTiming)
#include "tst_contenttiming.moc"
