#include "ZelvoLog.h"

#include <QTest>

class TestZelvoLog final : public QObject
{
    Q_OBJECT

private slots:
    void payloadCut_data();
    void payloadCut();
};

void TestZelvoLog::payloadCut_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("quoted");

    const QByteArray whole(ZelvoLog::payloadQuoted, 'a');
    QTest::newRow("short") << QByteArray("{\"x\": 1}") << QStringLiteral("{\"x\": 1}");
    QTest::newRow("exactly the bound") << whole << QString::fromLatin1(whole);
    QTest::newRow("one byte over") << whole + 'b' << QString::fromLatin1(whole) + "... (1 bytes left out)";
    QTest::newRow("63 MB") << QByteArray(63 * 1000 * 1000, 'c')
                           << QString(ZelvoLog::payloadQuoted, 'c') + "... (62995904 bytes left out)";
    // A character of two bytes across the bound is left out whole.
    QTest::newRow("character across the bound")
        << QByteArray(ZelvoLog::payloadQuoted - 1, 'a') + "\xC3\xA9" + "z"
        << QString(ZelvoLog::payloadQuoted - 1, 'a') + "... (3 bytes left out)";
}

void TestZelvoLog::payloadCut()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, quoted);
    QCOMPARE(ZelvoLog::payload(payload), quoted);
}

QTEST_APPLESS_MAIN(TestZelvoLog)
#include "tst_zelvolog.moc"
