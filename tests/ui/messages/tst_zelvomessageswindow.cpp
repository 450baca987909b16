#include "Desktop.h"
#include "record/ZelvoRecorder.h"
#include "ui/messages/ZelvoMessageDetail.h"
#include "ui/messages/ZelvoMessagesWindow.h"
#include "ui/messages/ZelvoRecordFilter.h"
#include "ui/messages/ZelvoRecordModel.h"

#include "ZIImageUtil.h"

#include <QAbstractItemModelTester>
#include <QBuffer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QScrollBar>
#include <QTableView>
#include <QTest>

namespace {

// Odd content ids come from agent "a" and are drawn; even ones from "b",
// for a layout that does not exist.
ZelvoRecord content(int contentId)
{
    const bool drawn = contentId % 2 == 1;
    ZelvoRecord record(ZelvoRecord::Direction::In, ZelvoRecord::Kind::AgentContent,
                       drawn ? ZelvoRecord::Outcome::Drawn : ZelvoRecord::Outcome::NotDrawn,
                       drawn ? ZelvoRecord::Reason::None : ZelvoRecord::Reason::NoSuchLayout);
    record.agent = drawn ? QStringLiteral("a") : QStringLiteral("b");
    record.contentId = contentId;
    record.layoutId = drawn ? QStringLiteral("1") : QStringLiteral("9");
    return record;
}

QByteArray png(const QImage& picture)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return bytes;
}

QByteArray message(const QStringList& images)
{
    return QJsonDocument(QJsonObject{{"command.type", "agent_config"}, {"appId", "a"},
                                     {"images", QJsonArray::fromStringList(images)}})
        .toJson();
}

} // namespace

class tst_ZelvoMessagesWindow : public QObject
{
    Q_OBJECT

private slots:
    void rows_data();
    void rows();
    void followsTheStreamOnlyAtTheBottom();
    void detail_data();
    void detail();
};

void tst_ZelvoMessagesWindow::rows_data()
{
    QTest::addColumn<int>("appended");
    QTest::addColumn<QString>("agent");
    QTest::addColumn<QString>("search");
    QTest::addColumn<QList<int>>("shown");

    QTest::newRow("4 of 4") << 4 << "" << "" << QList<int>{1, 2, 3, 4};
    QTest::newRow("9 into a ring of 5") << 9 << "" << "" << QList<int>{5, 6, 7, 8, 9};
    QTest::newRow("agent b") << 9 << "b" << "" << QList<int>{6, 8};
    QTest::newRow("search NOT DRAWN") << 4 << "" << "NOT DRAWN" << QList<int>{2, 4};
    QTest::newRow("agent a, search content 7") << 9 << "a" << "content 7" << QList<int>{7};
    QTest::newRow("agent b, search drawn with") << 9 << "b" << "drawn with" << QList<int>{};
}

// The model and the filter follow the ring as it fills and drops its oldest
// records; the model tester checks every signal on the way.
void tst_ZelvoMessagesWindow::rows()
{
    QFETCH(int, appended);
    QFETCH(QString, agent);
    QFETCH(QString, search);
    QFETCH(QList<int>, shown);

    ZelvoRecorder recorder(5);
    ZelvoMessagesWindow window(&recorder);
    QAbstractItemModelTester modelTester(window.recordModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester filterTester(window.recordFilter(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    window.recordFilter()->setAgent(agent);
    window.recordFilter()->setSearchText(search);
    for (int id = 1; id <= appended; ++id)
        recorder.append(content(id));

    QCOMPARE(window.recordModel()->rowCount(), qMin(appended, 5));
    QList<int> visible;
    for (int row = 0; row < window.recordFilter()->rowCount(); ++row)
        visible.append(window.recordModel()->record(window.recordFilter()->mapToSource(window.recordFilter()->index(row, 0)).row()).contentId);
    QCOMPARE(visible, shown);
}

void tst_ZelvoMessagesWindow::followsTheStreamOnlyAtTheBottom()
{
    ZelvoRecorder recorder(400);
    ZelvoMessagesWindow window(&recorder);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QScrollBar* bar = window.recordView()->verticalScrollBar();
    for (int id = 1; id <= 300; ++id)
        recorder.append(content(id));
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());

    bar->setValue(0);
    for (int id = 301; id <= 320; ++id)
        recorder.append(content(id));
    QCOMPARE(bar->value(), 0);

    // A person's look at a refused message, kept for the developers.
    window.recordView()->selectRow(window.recordFilter()->rowCount() - 1);
    window.recordView()->scrollToBottom();
    QVERIFY(window.detailPane()->text().contains(QStringLiteral("\"not_drawn\"")));
    QVERIFY(!Desktop::keep(window.grab().toImage(), QStringLiteral("messages/window.png")).isEmpty());
}

void tst_ZelvoMessagesWindow::detail_data()
{
    QImage picture(200, 100, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter(&picture).fillRect(20, 20, 80, 40, Qt::black);
    QImage huge(5000, 5000, QImage::Format_Mono);
    huge.fill(0);
    const QByteArray zi = ZIImageUtil::ziEncode(ZIImageUtil::toMono(picture));
    const QByteArray notAPicture(300, 'x');

    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QStringList>("seen");
    QTest::addColumn<int>("pictures");

    QTest::newRow("PNG and ZI") << message({png(picture).toBase64(), zi.toBase64()})
                                << QStringList{QStringLiteral("…(%1 bytes)").arg(zi.size()), "\"appId\": \"a\""} << 2;
    QTest::newRow("Base64 of no picture") << message({notAPicture.toBase64()})
                                          << QStringList{QStringLiteral("…(300 bytes)")} << 0;
    QTest::newRow("PNG of 25 megapixels") << message({png(huge).toBase64()}) << QStringList{"bytes)"} << 0;
    QTest::newRow("not JSON") << QByteArray("{\"command.type\": ") << QStringList{"{\"command.type\": "} << 0;
}

// Long Base64 strings never reach the pane whole; the pictures they carry
// show as thumbnails, within a pixel budget.
void tst_ZelvoMessagesWindow::detail()
{
    QFETCH(QByteArray, payload);
    QFETCH(QStringList, seen);
    QFETCH(int, pictures);

    ZelvoRecorder recorder;
    ZelvoMessagesWindow window(&recorder);
    ZelvoRecord record(ZelvoRecord::Direction::In, ZelvoRecord::Kind::FrameReceived, ZelvoRecord::Outcome::Info);
    record.commandType = QStringLiteral("agent_config");
    record.size = payload.size();
    record.payload = payload;
    recorder.append(record);
    window.recordView()->selectRow(0);

    const QString text = window.detailPane()->text();
    for (const QString& part : seen)
        QVERIFY2(text.contains(part), qPrintable(text));
    QVERIFY(text.size() < 2000);
    QCOMPARE(window.detailPane()->pictureCount(), pictures);
}

QTEST_MAIN(tst_ZelvoMessagesWindow)
#include "tst_zelvomessageswindow.moc"
