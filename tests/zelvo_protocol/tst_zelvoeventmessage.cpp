#include "ZelvoEventMessage.h"
#include "ZelvoFrame.h"
#include "ZelvoFrameReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

// An event travels as one frame whose payload is QJsonDocument's indented
// form of the message, which agents compare byte for byte.
class tst_ZelvoEventMessage : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
};

void tst_ZelvoEventMessage::roundTrip_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QList<float>>("values");
    QTest::addColumn<QString>("appId");
    QTest::addColumn<int>("contentId");
    QTest::addColumn<QStringList>("texts");

    QTest::newRow("minus clicked on content 7") << 4 << QList<float>{1, 2, 0, 0} << QStringLiteral("abc") << 7
                                                << QStringList{"1.000", "2.000", "0.000", "0.000"};
    QTest::newRow("battery at 40") << 2 << QList<float>{40, 0, 0, 0} << QString() << -1
                                   << QStringList{"40.000", "0.000", "0.000", "0.000"};
    QTest::newRow("rounding and no exponent") << 16 << QList<float>{0.0005f, 1e10f, -3.5f, 123.4567f} << QString() << 0
                                              << QStringList{"0.001", "10000000000.000", "-3.500", "123.457"};
    QTest::newRow("appId needing escapes") << 4 << QList<float>{0, 3, 0, 0}
                                           << QStringLiteral("q\"b\\s\n\x01 é ✓") << -12
                                           << QStringList{"0.000", "3.000", "0.000", "0.000"};
}

void tst_ZelvoEventMessage::roundTrip()
{
    QFETCH(int, type);
    QFETCH(QList<float>, values);
    QFETCH(QString, appId);
    QFETCH(int, contentId);
    QFETCH(QStringList, texts);

    const float array[4] = {values.at(0), values.at(1), values.at(2), values.at(3)};
    const QByteArray payload = ZelvoEventMessage::encode(type, array, appId, contentId);
    const QJsonObject message{{"appId", appId},
                              {"contentId", QString::number(contentId)},
                              {"data", QJsonObject{{"type", type}, {"values", QJsonArray::fromStringList(texts)}}},
                              {"what_changed", "event"}};
    QCOMPARE(payload, QJsonDocument(message).toJson(QJsonDocument::Indented));

    // Cut in two anywhere, the frame gives the payload back whole.
    const QByteArray frame = ZelvoFrame::encode(payload);
    ZelvoFrameReader reader;
    QVERIFY(reader.append(frame.left(frame.size() / 3)));
    QVERIFY(!reader.hasPayload());
    QVERIFY(reader.append(frame.mid(frame.size() / 3)));
    QVERIFY(reader.hasPayload());
    QCOMPARE(reader.takePayload(), payload);
    QVERIFY(!reader.hasPayload());
}

QTEST_GUILESS_MAIN(tst_ZelvoEventMessage)
#include "tst_zelvoeventmessage.moc"
