#include "NearTokens.h"
#include "TestAgent.h"
#include "comm/ZelvoServer.h"
#include "services/ZelvoServices.h"
#include "control/ZelvoControlCommands.h"
#include "control/ZelvoControlServer.h"
#include "recording/ZelvoDisplayRecorder.h"
#include "ui/Button.h"
#include "ui/ZelvoGeometry.h"
#include "ui/ZelvoEmulator.h"
#include "web/ZelvoWebServer.h"
#include "web/ZelvoWebViewer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QWebSocket>
#include <QtEndian>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

// The emulator as the program builds it with its web page, all on free
// loopback ports.
struct WebRig
{
    WebRig()
    {
        started = server.start(QHostAddress::LocalHost, 0) && control.start(0)
                  && web.start(QHostAddress::LocalHost, 0);
    }

    QByteArray token() const { return control.accessToken().value(); }
    QUrl live(const QByteArray& withToken) const
    {
        return QUrl(QStringLiteral("ws://127.0.0.1:%1/live?token=%2").arg(web.port()).arg(QLatin1String(withToken)));
    }

    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    ZelvoEmulator window{&server, services, nullptr};
    ZelvoControlServer control{&window, &server, services};
    ZelvoWebServer web{&window, control.controlCommands(), services, &control.accessToken()};
    bool started = false;
};

// PORT in a request stands for the page's port.
QByteArray withPort(QByteArray request, quint16 port)
{
    return request.replace("PORT", QByteArray::number(port));
}

// Sends the bytes and takes all the server answers until it closes; the
// server runs on this thread, so the loop turns meanwhile.
QByteArray exchange(quint16 port, const QByteArray& bytes)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write(withPort(bytes, port));
    QByteArray answer;
    const bool closed = QTest::qWaitFor([&] {
        answer += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
    }, 15000);
    // A server that never closes shows in the answer the caller checks.
    return closed ? answer + socket.readAll() : QByteArray();
}

QByteArray upgradeRequest(const QByteArray& token, const QByteArray& origin = QByteArray(),
                          const QByteArray& lineEnd = "\r\n")
{
    QByteArray head = "GET /live?token=" + token + " HTTP/1.1\r\nHost: 127.0.0.1:PORT\r\nUpgrade: websocket\r\n"
                      "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
                      + (origin.isEmpty() ? QByteArray() : "Origin: " + origin + "\r\n") + "\r\n";
    return head.replace("\r\n", lineEnd);
}

// A browser's end of the stream.
struct Viewer
{
    explicit Viewer(const QUrl& url)
    {
        // Drawn over what came before and shown at once, as the page does.
        QObject::connect(&socket, &QWebSocket::binaryMessageReceived, &socket, [this](const QByteArray& change) {
            changes.append(change);
            const QImage patch = imageOf(change);
            if (display.isNull())
                display = QImage(patch.size(), QImage::Format_RGB32);
            QPainter painter(&display);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.drawImage(rectOf(change).topLeft(), patch);
            painter.end();
            ask({{"shown", "frame"}});
        });
        QObject::connect(&socket, &QWebSocket::textMessageReceived, &socket, [this](const QString& text) {
            texts.append(QJsonDocument::fromJson(text.toUtf8()).object());
            if (texts.constLast().value("type") == "records" && showsRecords)
                ask({{"shown", "records"}});
        });
        socket.open(url);
    }

    bool isOpen() const { return socket.state() == QAbstractSocket::ConnectedState; }
    void ask(const QJsonObject& request)
    {
        socket.sendTextMessage(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));
    }
    // The first message of a type that satisfies the test, waited for.
    QJsonObject waitFor(const QString& type, const std::function<bool(const QJsonObject&)>& test)
    {
        QJsonObject found;
        int seen = 0;
        const auto arrived = [&] {
            for (; seen < texts.size() && found.isEmpty(); ++seen) {
                if (texts.at(seen).value("type").toString() == type && test(texts.at(seen)))
                    found = texts.at(seen);
            }
            return !found.isEmpty();
        };
        return QTest::qWaitFor(arrived, 10000) ? found : QJsonObject();
    }
    static int contentIdOf(const QByteArray& change) { return qFromBigEndian<qint32>(change.constData()); }
    // Of the newest change; 0 before the first.
    int lastContentId() const { return changes.isEmpty() ? 0 : contentIdOf(changes.constLast()); }
    static QRect rectOf(const QByteArray& change)
    {
        const auto field = [&change](int at) { return int(qFromBigEndian<quint16>(change.constData() + at)); };
        return QRect(field(4), field(6), field(8), field(10));
    }
    // Null when the pixels are not as many as the rectangle holds.
    static QImage imageOf(const QByteArray& change)
    {
        const QRect rect = rectOf(change);
        if (change.size() != ZelvoWebServer::changeHeaderBytes + rect.width() * rect.height() * 4)
            return QImage();
        return QImage(reinterpret_cast<const uchar*>(change.constData()) + ZelvoWebServer::changeHeaderBytes,
                      rect.width(), rect.height(), QImage::Format_RGBX8888)
            .convertToFormat(QImage::Format_RGB32);
    }

    QWebSocket socket;
    QList<QByteArray> changes;
    // The display as the changes drew it.
    QImage display;
    QList<QJsonObject> texts;
    // Whether it tells the records it was sent were shown, as the page does
    // once it has listed them.
    bool showsRecords = true;
};

QList<int> gesturesOf(const QList<QByteArray>& events)
{
    QList<int> gestures;
    for (const QByteArray& event : events) {
        if (TestAgent::eventType(event) == 4)
            gestures << TestAgent::eventValues(event).at(1).toString().toDouble();
    }
    return gestures;
}

QImage noise(int seed)
{
    QImage image(320, 216, QImage::Format_ARGB32_Premultiplied);
    QRandomGenerator random(quint32(seed + 1));
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = random.generate() | 0xff000000u;
    }
    return image;
}

// Server frames (unmasked) in the bytes: the count of binary ones, and the
// bytes left of a frame not yet whole.
int binaryFramesIn(QByteArray* bytes)
{
    int count = 0;
    while (bytes->size() >= 2) {
        const uchar opcode = uchar(bytes->at(0)) & 0x0f;
        qint64 length = uchar(bytes->at(1)) & 0x7f;
        int head = 2;
        if (length == 126) {
            head = 4;
            length = bytes->size() >= 4 ? qFromBigEndian<quint16>(bytes->constData() + 2) : -1;
        } else if (length == 127) {
            head = 10;
            length = bytes->size() >= 10 ? qint64(qFromBigEndian<quint64>(bytes->constData() + 2)) : -1;
        }
        if (length < 0 || bytes->size() < head + length)
            break;
        count += opcode == 2 ? 1 : 0;
        bytes->remove(0, int(head + length));
    }
    return count;
}

} // namespace

class TestZelvoWebServer : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void defaultPortLeftOut_data();
    void defaultPortLeftOut();
    void nearTokenRefused_data();
    void nearTokenRefused();
    void strangersMakeRoom();
    void addressCarriesToken();
    void streamsDisplayRecordsAndState();
    void sendsWhatChanged_data();
    void sendsWhatChanged();
    void pageRequests_data();
    void pageRequests();
    void heldButtonIsReleasedWhenViewerGoes();
    void viewersAreBoundedAndCleanedUp();
    void slowViewerSkipsFramesWithinBound();
    void framesPassRecordsNotShown();
    void requestFloodWaitsForItsAnswers();
};

void TestZelvoWebServer::answers_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<bool>("hasBody");

    // TOKEN stands for the run's token.
    const QByteArray host = " HTTP/1.1\r\nHost: 127.0.0.1:PORT\r\n\r\n";
    QTest::newRow("page without token") << "GET /" + host << QByteArray("401 Unauthorized") << false;
    QTest::newRow("token as another parameter") << "GET /?tok=TOKEN" + host << QByteArray("401 Unauthorized") << false;
    QTest::newRow("other path without token") << "GET /favicon.ico" + host << QByteArray("401 Unauthorized") << false;
    QTest::newRow("post without token") << "POST /" + host << QByteArray("401 Unauthorized") << false;
    QTest::newRow("stream without token") << upgradeRequest("") << QByteArray("401 Unauthorized") << false;
    QTest::newRow("stream with a wrong token") << upgradeRequest("WRONG") << QByteArray("401 Unauthorized") << false;
    QTest::newRow("page") << "GET /?token=TOKEN" + host << QByteArray("200 OK") << true;
    QTest::newRow("head of the page") << "HEAD /?token=TOKEN" + host << QByteArray("200 OK") << false;
    QTest::newRow("other path") << "GET /favicon.ico?token=TOKEN" + host << QByteArray("404 Not Found") << false;
    QTest::newRow("post") << "POST /?token=TOKEN" + host << QByteArray("405 Method Not Allowed") << false;
    QTest::newRow("live without upgrade") << "GET /live?token=TOKEN" + host << QByteArray("404 Not Found") << false;
    QTest::newRow("malformed") << QByteArray("GET /?token=TOKEN HTTP/9\r\n\r\n") << QByteArray("400 Bad Request")
                               << false;
    QTest::newRow("endless head") << "GET /?token=TOKEN HTTP/1.1\r\nX: " + QByteArray(64 * 1024, 'x')
                                  << QByteArray("431 Request Header Fields Too Large") << false;
    QTest::newRow("page at localhost") << QByteArray("GET /?token=TOKEN HTTP/1.1\r\nHost: localhost:PORT\r\n\r\n")
                                       << QByteArray("200 OK") << true;
    QTest::newRow("page with LF line ends") << QByteArray("GET /?token=TOKEN HTTP/1.1\nHost: 127.0.0.1:PORT\n\n")
                                            << QByteArray("200 OK") << true;
    // A name of another site that its DNS points at this machine.
    QTest::newRow("host of another site") << QByteArray("GET /?token=TOKEN HTTP/1.1\r\nHost: evil.example:PORT\r\n\r\n")
                                          << QByteArray("403 Forbidden") << false;
    QTest::newRow("host on another port") << QByteArray("GET /?token=TOKEN HTTP/1.1\r\nHost: 127.0.0.1:1\r\n\r\n")
                                          << QByteArray("403 Forbidden") << false;
    QTest::newRow("no host") << QByteArray("GET /?token=TOKEN HTTP/1.1\r\n\r\n") << QByteArray("403 Forbidden") << false;
    QTest::newRow("stream from another site's page") << upgradeRequest("TOKEN", "http://evil.example")
                                                     << QByteArray("403 Forbidden") << false;
    QTest::newRow("stream with LF line ends") << upgradeRequest("TOKEN", QByteArray(), "\n")
                                              << QByteArray("400 Bad Request") << false;
}

void TestZelvoWebServer::answers()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, status);
    QFETCH(bool, hasBody);
    WebRig rig;
    QVERIFY(rig.started);
    QByteArray wrong = rig.token();
    wrong[0] = wrong.at(0) == '0' ? '1' : '0';
    request.replace("WRONG", wrong).replace("TOKEN", rig.token());
    if (status == "403 Forbidden")
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("refused a request for host")));

    const QByteArray answer = exchange(rig.web.port(), request);
    QVERIFY2(answer.startsWith("HTTP/1.1 " + status + "\r\n"), answer.left(200).constData());
    const int headEnd = answer.indexOf("\r\n\r\n") + 4;
    QVERIFY(headEnd > 4);
    // Nothing but the status, least of all the page, without the token.
    QCOMPARE(answer.size() > headEnd, hasBody);
    if (hasBody) {
        QVERIFY(answer.contains("Content-Security-Policy: default-src 'none'"));
        const QByteArray host = withPort(request, rig.web.port()).split('\n').value(1).mid(6).trimmed();
        QVERIFY(answer.contains("; connect-src 'self' ws://" + host + "; base-uri 'none';"));
        QVERIFY(answer.mid(headEnd).contains("<canvas id=\"display\" width=\"320\" height=\"240\">"));
    } else if (status != "200 OK") {
        QVERIFY(answer.contains("\r\nContent-Length: 0\r\n"));
    }
    QCOMPARE(rig.web.viewerCount(), 0);
}

void TestZelvoWebServer::nearTokenRefused_data()
{
    NearTokens::addRows();
}

void TestZelvoWebServer::nearTokenRefused()
{
    QFETCH(int, change);
    WebRig rig;
    QVERIFY(rig.started);
    const QByteArray page =
        "GET /?token=" + NearTokens::changed(rig.token(), change) + " HTTP/1.1\r\nHost: 127.0.0.1:PORT\r\n\r\n";
    QVERIFY(exchange(rig.web.port(), page).startsWith("HTTP/1.1 401 Unauthorized\r\n"));
}

// Connections that never send their request: a request with the token
// still gets through, the oldest of them making room, and the others go
// after the time-out.
void TestZelvoWebServer::strangersMakeRoom()
{
    WebRig rig;
    QVERIFY(rig.started);
    constexpr int timeoutMillis = 1000;
    rig.web.setRequestTimeout(timeoutMillis);
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < ZelvoWebServer::maxPendingRequests; ++i) {
        sockets.push_back(std::make_unique<QTcpSocket>());
        sockets.back()->connectToHost(QHostAddress::LocalHost, rig.web.port());
        QTRY_COMPARE(sockets.back()->state(), QAbstractSocket::ConnectedState);
    }
    const QByteArray page = "GET /?token=" + rig.token() + " HTTP/1.1\r\nHost: 127.0.0.1:PORT\r\n\r\n";
    QVERIFY(exchange(rig.web.port(), page).startsWith("HTTP/1.1 200"));
    QTRY_COMPARE(sockets.front()->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(sockets.at(1)->state(), QAbstractSocket::ConnectedState);
    QTRY_COMPARE_WITH_TIMEOUT(sockets.back()->state(), QAbstractSocket::UnconnectedState, timeoutMillis + 10000);
}

void TestZelvoWebServer::defaultPortLeftOut_data()
{
    QTest::addColumn<quint16>("port");
    QTest::addColumn<QByteArray>("status");
    QTest::newRow("80") << quint16(80) << QByteArray("200 OK");
    QTest::newRow("any free port") << quint16(0) << QByteArray("403 Forbidden");
}

void TestZelvoWebServer::defaultPortLeftOut()
{
    QFETCH(quint16, port);
    QFETCH(QByteArray, status);
    WebRig rig;
    QVERIFY(rig.started);
    ZelvoWebServer web(&rig.window, rig.control.controlCommands(), rig.services, &rig.control.accessToken());
    if (!web.start(QHostAddress::LocalHost, port))
        QSKIP(qPrintable(web.errorString()));
    if (status == "403 Forbidden")
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("refused a request for host")));
    const QByteArray answer =
        exchange(web.port(), "GET /?token=" + rig.token() + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QVERIFY2(answer.startsWith("HTTP/1.1 " + status + "\r\n"), answer.left(200).constData());
}

void TestZelvoWebServer::addressCarriesToken()
{
    WebRig rig;
    QVERIFY(rig.started);
    const QUrl address = rig.web.address();
    QCOMPARE(address.host(), QStringLiteral("127.0.0.1"));
    QCOMPARE(address.port(), int(rig.web.port()));
    QCOMPARE(address.query(), QStringLiteral("token=") + QString::fromLatin1(rig.token()));

    const QString path = QDir::home().filePath(QStringLiteral("web-address"));
    QString error;
    {
        ZelvoWebServer web(&rig.window, rig.control.controlCommands(), rig.services, &rig.control.accessToken());
        QVERIFY(web.start(QHostAddress::LocalHost, 0));
        QVERIFY2(web.writeAddressFile(path, &error), qPrintable(error));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), web.address().toEncoded() + '\n');
        QCOMPARE(file.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
                 QFile::Permissions());
        // The port taken, a second server says why.
        ZelvoWebServer taken(&rig.window, rig.control.controlCommands(), rig.services, &rig.control.accessToken());
        QVERIFY(!taken.start(QHostAddress::LocalHost, web.port()));
        QVERIFY(!taken.errorString().isEmpty());
    }
    // A finished run leaves no token behind.
    QVERIFY(!QFile::exists(path));
}

void TestZelvoWebServer::streamsDisplayRecordsAndState()
{
    WebRig rig;
    TestAgent agent(rig.server);
    QVERIFY(rig.started && TestAgent::waitUntilServed(rig.server, {&agent}));
    Viewer viewer(rig.live(rig.token()));
    QTRY_VERIFY(viewer.isOpen());
    QTRY_VERIFY(!viewer.changes.isEmpty());
    QCOMPARE(Viewer::contentIdOf(viewer.changes.constFirst()), -1);
    QCOMPARE(Viewer::rectOf(viewer.changes.constFirst()), QRect(QPoint(0, 0), ZelvoGeometry::displayImageSize));
    QVERIFY(!viewer.waitFor("state", [](const QJsonObject&) { return true; }).isEmpty());

    QVERIFY(agent.setPersistingTimes(0, 60000));
    QVERIFY(agent.show(QStringLiteral("watched"), 5, QStringLiteral("0"), {}, {QStringLiteral("seen from afar")}));
    QTRY_COMPARE(viewer.lastContentId(), 5);
    // As the glasses show it: the display on black, pixel for pixel.
    QCOMPARE(viewer.display,
             ZelvoDisplayRecorder::opaque(rig.window.displayImage()).convertToFormat(QImage::Format_RGB32));

    const QJsonObject records = viewer.waitFor("records", [](const QJsonObject& message) {
        for (const QJsonValue record : message.value("records").toArray()) {
            if (record["kind"] == "agent_content" && record["contentId"] == 5 && record["outcome"] == "drawn")
                return true;
        }
        return false;
    });
    QVERIFY(!records.isEmpty());
    const QJsonObject state = viewer.waitFor("state", [](const QJsonObject& message) {
        return message["state"]["drawnContentId"] == 5 && message["state"]["drawnAgent"] == "watched";
    });
    QVERIFY(!state.isEmpty());

    // A reset empties the record the page shows.
    rig.control.controlCommands()->resetEmulator();
    QVERIFY(!viewer.waitFor("records", [](const QJsonObject& message) { return message["cleared"] == true; }).isEmpty());
}

void TestZelvoWebServer::sendsWhatChanged_data()
{
    QTest::addColumn<QImage>("before");
    QTest::addColumn<QImage>("after");
    // In the content's coordinates; empty where nothing is sent.
    QTest::addColumn<QRect>("changed");

    QImage marked = noise(1);
    QPainter(&marked).fillRect(QRect(100, 50, 10, 20), Qt::red);
    QImage corner = noise(1);
    corner.setPixel(319, 215, 0xff00ff00u);
    QTest::newRow("another picture") << noise(1) << noise(2) << QRect(0, 0, 320, 216);
    QTest::newRow("a part") << noise(1) << marked << QRect(100, 50, 10, 20);
    QTest::newRow("the last pixel") << noise(1) << corner << QRect(319, 215, 1, 1);
    QTest::newRow("the same pixels") << noise(1) << noise(1) << QRect();
}

// The viewer gets what differs from what it was sent last, which drawn
// over it gives the display pixel for pixel; nothing when nothing differs.
void TestZelvoWebServer::sendsWhatChanged()
{
    QFETCH(QImage, before);
    QFETCH(QImage, after);
    QFETCH(QRect, changed);
    WebRig rig;
    QVERIFY(rig.started);
    Viewer viewer(rig.live(rig.token()));
    const auto showing = [&](const QImage& content) {
        rig.window.updateDisplay(content, false);
        const QImage expected =
            ZelvoDisplayRecorder::opaque(rig.window.displayImage()).convertToFormat(QImage::Format_RGB32);
        return QTest::qWaitFor([&] { return viewer.display == expected; }, 10000);
    };
    QVERIFY(showing(before));
    const int sent = viewer.changes.size();
    QVERIFY(showing(after));
    if (changed.isEmpty()) {
        QCOMPARE(viewer.changes.size(), sent);
        // Whatever comes next is the next change, not one for nothing.
        QVERIFY(showing(noise(3)));
        QCOMPARE(viewer.changes.size(), sent + 1);
        return;
    }
    QCOMPARE(viewer.changes.size(), sent + 1);
    QCOMPARE(Viewer::rectOf(viewer.changes.constLast()), changed.translated(ZelvoGeometry::contentArea.topLeft()));
}

void TestZelvoWebServer::pageRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QList<int>>("gestures");

    QTest::newRow("click plus") << QByteArray(R"({"id": 1, "cmd": "button", "button": "plus", "gesture": "click"})")
                                << QString() << QList<int>{0, 1, 2};
    QTest::newRow("long press minus") << QByteArray(R"({"id": 2, "cmd": "button", "button": "minus", "gesture": "long"})")
                                      << QString() << QList<int>{0, 3, 1, 2};
    QTest::newRow("held press") << QByteArray(R"({"id": 3, "cmd": "button", "button": "plus", "gesture": "press", "hold": 50})")
                                << QString() << QList<int>{0, 1, 2};
    QTest::newRow("battery") << QByteArray(R"({"id": 4, "cmd": "battery", "level": 60})") << QString() << QList<int>{};
    QTest::newRow("release of a button not held")
        << QByteArray(R"({"id": 5, "cmd": "button", "button": "plus", "gesture": "release"})")
        << QStringLiteral("plus is not held") << QList<int>{};
    QTest::newRow("trace") << QByteArray(R"({"id": 6, "cmd": "trace", "file": "/etc/passwd"})")
                           << QStringLiteral("the page cannot ask for \"trace\"") << QList<int>{};
    QTest::newRow("screenshot into a file")
        << QByteArray(R"({"id": 7, "cmd": "screenshot", "path": "/tmp/x.png"})")
        << QStringLiteral("the page cannot ask for \"screenshot\"") << QList<int>{};
    QTest::newRow("reset") << QByteArray(R"({"id": 8, "cmd": "reset"})")
                           << QStringLiteral("the page cannot ask for \"reset\"") << QList<int>{};
    QTest::newRow("not JSON") << QByteArray("{\"id\": 9, click") << QStringLiteral("a request is one JSON object")
                              << QList<int>{};
}

void TestZelvoWebServer::pageRequests()
{
    QFETCH(QByteArray, request);
    QFETCH(QString, error);
    QFETCH(QList<int>, gestures);
    WebRig rig;
    TestAgent agent(rig.server);
    QVERIFY(rig.started && TestAgent::waitUntilServed(rig.server, {&agent}));
    Viewer viewer(rig.live(rig.token()));
    QTRY_VERIFY(viewer.isOpen());

    viewer.socket.sendTextMessage(QString::fromUtf8(request));
    const QJsonObject answer = viewer.waitFor("answer", [](const QJsonObject&) { return true; });
    QVERIFY(!answer.isEmpty());
    QCOMPARE(answer.value("ok").toBool(), error.isEmpty());
    QCOMPARE(answer.value("error").toString(), error);
    QVERIFY(TestAgent::waitForAllSent(rig.server, {&agent}));
    QCOMPARE(gesturesOf(agent.takeEvents()), gestures);
    QVERIFY(!rig.window.plusControl()->isPressed() && !rig.window.minusControl()->isPressed());
}

void TestZelvoWebServer::heldButtonIsReleasedWhenViewerGoes()
{
    WebRig rig;
    TestAgent agent(rig.server);
    QVERIFY(rig.started && TestAgent::waitUntilServed(rig.server, {&agent}));
    auto viewer = std::make_unique<Viewer>(rig.live(rig.token()));
    QTRY_VERIFY(viewer->isOpen());
    viewer->ask({{"id", 1}, {"cmd", "button"}, {"button", "minus"}, {"gesture", "press"}});
    QVERIFY(!viewer->waitFor("answer", [](const QJsonObject& answer) { return answer["ok"] == true; }).isEmpty());
    QVERIFY(rig.window.minusControl()->isPressed());
    viewer->socket.abort();
    QTRY_VERIFY(!rig.window.minusControl()->isPressed());
    QVERIFY(TestAgent::waitForAllSent(rig.server, {&agent}));
    QCOMPARE(gesturesOf(agent.takeEvents()).mid(0, 2), (QList<int>{0, 1}));
}

void TestZelvoWebServer::viewersAreBoundedAndCleanedUp()
{
    WebRig rig;
    QVERIFY(rig.started);
    std::vector<std::unique_ptr<Viewer>> viewers;
    for (int i = 0; i < ZelvoWebServer::maxViewers; ++i) {
        viewers.push_back(std::make_unique<Viewer>(rig.live(rig.token())));
        QTRY_VERIFY(viewers.back()->isOpen());
    }
    QCOMPARE(rig.web.viewerCount(), ZelvoWebServer::maxViewers);
    QVERIFY(exchange(rig.web.port(), upgradeRequest(rig.token())).startsWith("HTTP/1.1 503"));

    viewers.front()->socket.close();
    QTRY_COMPARE(rig.web.viewerCount(), ZelvoWebServer::maxViewers - 1);
    QTRY_COMPARE(rig.web.findChildren<ZelvoWebViewer*>().size(), ZelvoWebServer::maxViewers - 1);
    viewers.front() = std::make_unique<Viewer>(rig.live(rig.token()));
    QTRY_VERIFY(viewers.front()->isOpen());
    viewers.clear();
    QTRY_COMPARE(rig.web.viewerCount(), 0);
    QTRY_VERIFY(rig.web.findChildren<ZelvoWebViewer*>().isEmpty());
}

// A viewer that stops reading and painting: what waits for it stays within
// the bound while the display changes on, and once it reads and tells what
// it has shown it gets the newest frame, not the ones it missed.
void TestZelvoWebServer::slowViewerSkipsFramesWithinBound()
{
    WebRig rig;
    QVERIFY(rig.started);
    QTcpSocket slow;
    // Qt takes no more than this from the kernel, which then stops taking.
    slow.setReadBufferSize(4096);
    slow.connectToHost(QHostAddress::LocalHost, rig.web.port());
    slow.write(withPort(upgradeRequest(rig.token()), rig.web.port()));
    QTRY_COMPARE(rig.web.findChildren<ZelvoWebViewer*>().size(), 1);
    QWebSocket* serverSide = rig.web.findChildren<QWebSocket*>().value(0);
    QVERIFY(serverSide);

    // Fewer noise pictures than fill the display history kept for reports,
    // whose letting go of frames is a record the viewer would be sent too.
    constexpr int changes = 60;
    qint64 mostWaiting = 0;
    qint64 largestFrame = 0;
    for (int i = 0; i < changes; ++i) {
        rig.window.updateDisplay(noise(i), true);
        QTest::qWait(5);
        largestFrame = std::max<qint64>(largestFrame, rig.web.encodedChange(QImage()).size());
        mostWaiting = std::max(mostWaiting, serverSide->bytesToWrite());
    }
    QVERIFY2(mostWaiting <= ZelvoWebViewer::maxUnsentBytes + largestFrame + 64 * 1024,
             qPrintable(QString::number(mostWaiting)));
    QCOMPARE(serverSide->state(), QAbstractSocket::ConnectedState);

    // Reading again, it catches up with the display as it is now.
    slow.setReadBufferSize(0);
    QByteArray bytes;
    QTRY_VERIFY((bytes += slow.readAll()).contains("\r\n\r\n"));
    QVERIFY(bytes.startsWith("HTTP/1.1 101"));
    bytes.remove(0, bytes.indexOf("\r\n\r\n") + 4);
    int frames = 0;
    QTRY_VERIFY_WITH_TIMEOUT((bytes += slow.readAll(), frames += binaryFramesIn(&bytes),
                              serverSide->bytesToWrite() == 0 && bytes.isEmpty()),
                             20000);
    const int held = frames;
    QVERIFY2(held >= 1 && held <= ZelvoWebViewer::maxUnshown, qPrintable(QString::number(held)));
    // A client's frames are masked; a zero mask leaves the text as it is.
    const QByteArray shown = R"({"shown": "frame"})";
    slow.write(QByteArray("\x81") + char(0x80 | shown.size()) + QByteArray(4, '\0') + shown);
    QTRY_VERIFY((bytes += slow.readAll(), frames += binaryFramesIn(&bytes), frames == held + 1));
    // Real time on purpose: no further frame comes during a span of it.
    QTest::qWait(100);
    bytes += slow.readAll();
    QCOMPARE(frames + binaryFramesIn(&bytes), held + 1);
}

// A page still listing the records it was sent gets the display's changes
// all the same, and no more records until it has listed those.
void TestZelvoWebServer::framesPassRecordsNotShown()
{
    WebRig rig;
    TestAgent agent(rig.server);
    QVERIFY(rig.started && TestAgent::waitUntilServed(rig.server, {&agent}));
    Viewer viewer(rig.live(rig.token()));
    viewer.showsRecords = false;
    QTRY_VERIFY(viewer.isOpen());
    QVERIFY(agent.setPersistingTimes(0, 60000));
    for (int id = 1; id <= 3 * ZelvoWebViewer::maxUnshown; ++id) {
        QVERIFY(agent.show(QStringLiteral("busy"), id, QStringLiteral("0"), {}, {QStringLiteral("line %1").arg(id)}));
        QTRY_COMPARE(viewer.lastContentId(), id);
    }
    QCOMPARE(std::count_if(viewer.texts.cbegin(), viewer.texts.cend(),
                           [](const QJsonObject& text) { return text.value("type") == "records"; }),
             1);
}

// Many requests in one go from a viewer that reads nothing: the answers
// that wait for it stay within the bound, and once it reads it gets every
// one, in order.
void TestZelvoWebServer::requestFloodWaitsForItsAnswers()
{
    WebRig rig;
    QVERIFY(rig.started);
    Viewer viewer(rig.live(rig.token()));
    QTRY_VERIFY(viewer.isOpen());
    QWebSocket* serverSide = rig.web.findChildren<QWebSocket*>().value(0);
    QVERIFY(serverSide);
    viewer.socket.setReadBufferSize(4096);
    // Each answer holds the whole state: several times the answers a
    // viewer may leave unsent, and few enough for a sanitizer build.
    constexpr int requests = 3000;
    for (int id = 0; id < requests; ++id)
        viewer.ask({{"cmd", "state"}, {"id", id}});
    qint64 mostWaiting = 0;
    for (int i = 0; i < 200; ++i) {
        QTest::qWait(5);
        mostWaiting = std::max(mostWaiting, serverSide->bytesToWrite());
    }
    QVERIFY2(mostWaiting <= ZelvoWebViewer::maxUnsentBytes + 64 * 1024, qPrintable(QString::number(mostWaiting)));

    viewer.socket.setReadBufferSize(0);
    QList<int> answered;
    int seen = 0;
    QTRY_VERIFY_WITH_TIMEOUT(([&] {
        for (; seen < viewer.texts.size(); ++seen) {
            if (viewer.texts.at(seen).value("type") == "answer")
                answered.append(viewer.texts.at(seen).value("id").toInt());
        }
        return answered.size() == requests || !viewer.isOpen();
    }()), 60000);
    QCOMPARE(answered.size(), requests);
    QCOMPARE(answered.constLast(), requests - 1);
    QVERIFY(std::is_sorted(answered.begin(), answered.end()));
}

QTEST_MAIN(TestZelvoWebServer)
#include "tst_zelvowebserver.moc"
