#include "web/ZelvoHttpRequest.h"

#include <QtTest>

using Status = ZelvoHttpRequest::Status;
Q_DECLARE_METATYPE(ZelvoHttpRequest::Status)

class TestZelvoHttpRequest : public QObject
{
    Q_OBJECT

private slots:
    void read_data();
    void read();
    void splitAnywhereReadsTheSame();
    void upgrade_data();
    void upgrade();
};

void TestZelvoHttpRequest::read_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Status>("status");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<QByteArray>("host");

    const QByteArray big(ZelvoHttpRequest::maxHeadBytes, 'a');
    QByteArray manyFields = "GET / HTTP/1.1\r\n";
    for (int i = 0; i <= ZelvoHttpRequest::maxFields; ++i)
        manyFields += "X-" + QByteArray::number(i) + ": 1\r\n";
    manyFields += "\r\n";

    QTest::newRow("page with token") << QByteArray("GET /?token=ab12 HTTP/1.1\r\nHost: h:1\r\n\r\n")
                                     << Status::Complete << QByteArray("/") << QByteArray("ab12") << QByteArray("h:1");
    QTest::newRow("bare line ends") << QByteArray("GET /?token=ab HTTP/1.1\nHost: h\n\n") << Status::Complete
                                    << QByteArray("/") << QByteArray("ab") << QByteArray("h");
    QTest::newRow("body after head") << QByteArray("GET / HTTP/1.0\r\n\r\nrest") << Status::Complete
                                     << QByteArray("/") << QByteArray() << QByteArray();
    QTest::newRow("percent-encoded") << QByteArray("GET /li%76e?x=1&token=a%2Bb+c&token=no HTTP/1.1\r\n\r\n")
                                     << Status::Complete << QByteArray("/live") << QByteArray("a+b c") << QByteArray();
    QTest::newRow("token in fragment only") << QByteArray("GET /#token=ab HTTP/1.1\r\n\r\n") << Status::Complete
                                            << QByteArray("/") << QByteArray() << QByteArray();
    QTest::newRow("field value padded") << QByteArray("GET / HTTP/1.1\r\nHost: \t h \t\r\n\r\n") << Status::Complete
                                        << QByteArray("/") << QByteArray() << QByteArray("h");
    QTest::newRow("two host fields") << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nhost: b\r\n\r\n") << Status::Complete
                                     << QByteArray("/") << QByteArray() << QByteArray("a, b");
    QTest::newRow("no blank line yet") << QByteArray("GET / HTTP/1.1\r\nHost: h\r\n") << Status::Incomplete
                                       << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("nothing") << QByteArray() << Status::Incomplete << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("endless line") << big << Status::TooLarge << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("endless fields") << "GET / HTTP/1.1\r\n" + big << Status::TooLarge << QByteArray() << QByteArray()
                                    << QByteArray();
    QTest::newRow("too many fields") << manyFields << Status::TooLarge << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("absolute target") << QByteArray("GET http://h/ HTTP/1.1\r\n\r\n") << Status::Malformed
                                     << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("HTTP/2 preface") << QByteArray("PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n") << Status::Malformed
                                    << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("two spaces") << QByteArray("GET  / HTTP/1.1\r\n\r\n") << Status::Malformed << QByteArray()
                                << QByteArray() << QByteArray();
    QTest::newRow("control byte in target") << QByteArray("GET /\x01 HTTP/1.1\r\n\r\n") << Status::Malformed
                                            << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("folded field") << QByteArray("GET / HTTP/1.1\r\nHost: a\r\n b\r\n\r\n") << Status::Malformed
                                  << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("space before colon") << QByteArray("GET / HTTP/1.1\r\nHost : a\r\n\r\n") << Status::Malformed
                                        << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("no colon") << QByteArray("GET / HTTP/1.1\r\nHost\r\n\r\n") << Status::Malformed << QByteArray()
                              << QByteArray() << QByteArray();
    QTest::newRow("NUL in value") << QByteArray("GET / HTTP/1.1\r\nHost: a\0b\r\n\r\n", 29) << Status::Malformed
                                  << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("binary") << QByteArray("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\n\n", 13) << Status::Malformed
                            << QByteArray() << QByteArray() << QByteArray();
}

void TestZelvoHttpRequest::read()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Status, status);
    ZelvoHttpRequest request;
    QCOMPARE(request.read(bytes), status);
    if (status != Status::Complete)
        return;
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, token);
    QFETCH(QByteArray, host);
    QCOMPARE(request.path(), path);
    QCOMPARE(request.queryValue("token"), token);
    QCOMPARE(request.field("HOST"), host);
    QCOMPARE(request.headSize(), bytes.endsWith("rest") ? bytes.size() - 4 : bytes.size());
}

// A request arriving in pieces is incomplete until its blank line, then
// read as if it came at once.
void TestZelvoHttpRequest::splitAnywhereReadsTheSame()
{
    const QByteArray bytes = "GET /live?token=t HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                             "Sec-WebSocket-Key: k\r\nSec-WebSocket-Version: 13\r\n\r\n";
    for (int cut = 0; cut < bytes.size(); ++cut) {
        ZelvoHttpRequest request;
        QCOMPARE(request.read(bytes.left(cut)), Status::Incomplete);
    }
    ZelvoHttpRequest request;
    QCOMPARE(request.read(bytes), Status::Complete);
    QVERIFY(request.isWebSocketUpgrade());
}

void TestZelvoHttpRequest::upgrade_data()
{
    QTest::addColumn<QByteArray>("fields");
    QTest::addColumn<bool>("upgrade");

    const QByteArray key = "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n";
    QTest::newRow("browser's") << "Upgrade: websocket\r\nConnection: keep-alive, Upgrade\r\n" + key
                                      + "Sec-WebSocket-Version: 13\r\n" << true;
    QTest::newRow("any case") << "upgrade: WebSocket\r\nconnection: upgrade\r\n" + key + "sec-websocket-version: 13\r\n"
                              << true;
    QTest::newRow("no key") << QByteArray("Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n")
                            << false;
    QTest::newRow("old version") << "Upgrade: websocket\r\nConnection: Upgrade\r\n" + key + "Sec-WebSocket-Version: 8\r\n"
                                 << false;
    QTest::newRow("upgrade in another word") << "Upgrade: websocket\r\nConnection: upgraded\r\n" + key
                                                    + "Sec-WebSocket-Version: 13\r\n" << false;
    QTest::newRow("other protocol") << "Upgrade: h2c\r\nConnection: Upgrade\r\n" + key + "Sec-WebSocket-Version: 13\r\n"
                                    << false;
}

void TestZelvoHttpRequest::upgrade()
{
    QFETCH(QByteArray, fields);
    QFETCH(bool, upgrade);
    ZelvoHttpRequest request;
    QCOMPARE(request.read("GET /live HTTP/1.1\r\n" + fields + "\r\n"), Status::Complete);
    QCOMPARE(request.isWebSocketUpgrade(), upgrade);
}

QTEST_APPLESS_MAIN(TestZelvoHttpRequest)
#include "tst_zelvohttprequest.moc"
