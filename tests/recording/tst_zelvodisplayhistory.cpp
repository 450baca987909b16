#include "clock/ZelvoClock.h"
#include "record/ZelvoRecorder.h"
#include "recording/ZelvoDisplayHistory.h"

#include <QImage>
#include <QJsonObject>
#include <QPainter>
#include <QTest>

#include <optional>

namespace {

// A display that differs from the one before in a band of its own.
QImage display(int number)
{
    QImage image(320, 240, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.fillRect(0, number % 240, 320, 1, QColor::fromRgb(QRgb(0xff000000u | quint32(number * 2654435761u))));
    return image;
}

// The display that the frames end on, painted from the whole one they begin with.
QImage lastDisplay(const ZelvoDisplayHistory::Frames& frames)
{
    QImage shown = QImage::fromData(frames.constFirst().png, "PNG").convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&shown);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (int i = 1; i < frames.size(); ++i)
        painter.drawImage(frames.at(i).rect.topLeft(), QImage::fromData(frames.at(i).png, "PNG"));
    return shown;
}

} // namespace

class TestZelvoDisplayHistory : public QObject
{
    Q_OBJECT

private slots:
    void burstKeepsItsNewestDisplayWithinBound_data();
    void burstKeepsItsNewestDisplayWithinBound();
};

// Content that comes faster than it is compressed (no turn of the event
// loop between changes) waits within the bound, and the answer still ends
// on the display as it was last shown; at a human pace every change stays.
// What the history holds is counted with each display's description.
void TestZelvoDisplayHistory::burstKeepsItsNewestDisplayWithinBound_data()
{
    QTest::addColumn<int>("changes");
    QTest::addColumn<bool>("turnLoop");
    QTest::addColumn<int>("mostFrames");
    QTest::newRow("a burst of 400") << 400 << false << ZelvoDisplayHistory::maxCompressing + 1;
    QTest::newRow("20 at a pace") << 20 << true << 20;
}

void TestZelvoDisplayHistory::burstKeepsItsNewestDisplayWithinBound()
{
    QFETCH(int, changes);
    QFETCH(bool, turnLoop);
    QFETCH(int, mostFrames);
    ZelvoClock clock(ZelvoClock::Mode::Manual);
    ZelvoRecorder recorder(100, &clock);
    ZelvoDisplayHistory history(&recorder, &clock);
    // A description larger than its picture, which the budget must count.
    const QString padding(2000, QLatin1Char('x'));
    for (int i = 0; i < changes; ++i) {
        history.showImage(display(i), [i, &padding] {
            return QJsonObject{{QStringLiteral("number"), i}, {QStringLiteral("padding"), padding}};
        });
        while (turnLoop && history.size() <= i)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    std::optional<ZelvoDisplayHistory::Frames> answer;
    history.framesSince(0, [&](const ZelvoDisplayHistory::Frames& frames, qint64) { answer = frames; });
    QTRY_VERIFY_WITH_TIMEOUT(answer.has_value(), 60000);
    QVERIFY(!answer->isEmpty());
    QVERIFY2(history.size() <= mostFrames, qPrintable(QString::number(history.size())));
    if (turnLoop)
        QCOMPARE(history.size(), changes);
    QVERIFY(history.bytes() > qint64(history.size()) * padding.size());
    QCOMPARE(answer->constLast().screen.value(QStringLiteral("number")).toInt(), changes - 1);
    QCOMPARE(lastDisplay(*answer), display(changes - 1));
}

QTEST_MAIN(TestZelvoDisplayHistory)
#include "tst_zelvodisplayhistory.moc"
