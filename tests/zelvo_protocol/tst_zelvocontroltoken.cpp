#include "ZelvoControlToken.h"
#include "../support/NearTokens.h"

#include <QTest>

class TestZelvoControlToken final : public QObject
{
    Q_OBJECT

private slots:
    void nearTokenRefused_data();
    void nearTokenRefused();
    void environmentToken_data();
    void environmentToken();
    void cleanup();
};

void TestZelvoControlToken::nearTokenRefused_data()
{
    NearTokens::addRows();
}

void TestZelvoControlToken::nearTokenRefused()
{
    QFETCH(int, change);
    const ZelvoControlToken token;
    QVERIFY(token.matches(token.value()));
    QVERIFY(!token.matches(NearTokens::changed(token.value(), change)));
}

void TestZelvoControlToken::environmentToken_data()
{
    QTest::addColumn<QByteArray>("given");
    QTest::addColumn<bool>("taken");

    QTest::newRow("31 characters") << QByteArray(31, 'a') << false;
    QTest::newRow("32 characters") << QByteArray(32, 'a') << true;
    QTest::newRow("4096 characters") << QByteArray(4096, 'a') << true;
    QTest::newRow("4097 characters") << QByteArray(4097, 'a') << false;
    QTest::newRow("32 with a space") << QByteArray(16, 'a') + ' ' + QByteArray(15, 'a') << false;
}

// Too short a secret given by a job would be guessed; the file's length is
// the most a client presents.
void TestZelvoControlToken::environmentToken()
{
    QFETCH(QByteArray, given);
    QFETCH(bool, taken);

    qputenv(ZelvoControlToken::environmentVariable, given);
    ZelvoControlToken token;
    const QByteArray fresh = token.value();
    QString error;
    QCOMPARE(token.takeEnvironment(&error), taken);
    QCOMPARE(token.value(), taken ? given : fresh);
    QCOMPARE(error.isEmpty(), taken);
}

void TestZelvoControlToken::cleanup()
{
    qunsetenv(ZelvoControlToken::environmentVariable);
}

QTEST_GUILESS_MAIN(TestZelvoControlToken)
#include "tst_zelvocontroltoken.moc"
