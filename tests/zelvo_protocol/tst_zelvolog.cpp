#include "ZelvoLog.h"

#include <QTest>

class TestZelvoLog final : public QObject
{
    Q_OBJECT

private slots:
    void payloadCut_data();
    void payloadCut();
    void listForm_data();
    void listForm();
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

void TestZelvoLog::listForm_data()
{
    QTest::addColumn<QStringList>("list");
    QTest::addColumn<QString>("quoted");

    QTest::newRow("empty") << QStringList() << QStringLiteral("()");
    QTest::newRow("two texts") << QStringList{"0", "b c"} << QStringLiteral("(\"0\", \"b c\")");
    QTest::newRow("quote inside") << QStringList{"say \"hi\""} << QStringLiteral("(\"say \\\"hi\\\"\")");
    QTest::newRow("past the bound") << QStringList{QString(ZelvoLog::payloadQuoted, 'a')}
                                    << "(\"" + QString(ZelvoLog::payloadQuoted - 2, 'a') + "... (4 bytes left out)";
}

// The same on every Qt version: Qt 6 alone would write QList("0").
void TestZelvoLog::listForm()
{
    QFETCH(QStringList, list);
    QFETCH(QString, quoted);
    QCOMPARE(ZelvoLog::payload(list), quoted);
}

QTEST_APPLESS_MAIN(TestZelvoLog)
#include "tst_zelvolog.moc"
