#include "web/ZelvoWebServer.h"

#include "control/ZelvoControlCommands.h"
#include "recording/ZelvoDisplayRecorder.h"
#include "services/ZelvoServices.h"
#include "ui/ZelvoEmulator.h"
#include "util/ZelvoUtil.h"
#include "web/ZelvoHttpRequest.h"
#include "web/ZelvoWebViewer.h"
#include "ZelvoControlToken.h"
#include "ZelvoLog.h"
#include "ZelvoReport.h"
#include "ZelvoVocabulary.h"

#include <QByteArrayList>
#include <QCryptographicHash>
#include <QFile>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>
#include <QtEndian>

#include <algorithm>

namespace {

// How often the viewers' state is compared with the emulator's, for what
// changes without a record (a simulation started, a button held).
constexpr int stateIntervalMillis = 250;

const QByteArray livePath = "/live";
// The address file is one line; anything longer is not ours.
constexpr qint64 maxAddressFileBytes = 4096;

QByteArray response(const QByteArray& status, const QByteArray& headers = QByteArray(),
                    const QByteArray& body = QByteArray())
{
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(body.size())
           + "\r\nCache-Control: no-store\r\nConnection: close\r\n" + headers + "\r\n" + body;
}

// The CSP sources of the inline elements <tag>...</tag> of the page (the
// page's script and the one it shares with the run report): only the page's
// own scripts and style run, whatever an agent's text holds.
QByteArray inlineHashes(const QByteArray& page, const QByteArray& tag)
{
    const QByteArray open = '<' + tag + '>';
    QByteArrayList hashes;
    for (int start = page.indexOf(open); start >= 0; start = page.indexOf(open, start + open.size())) {
        const int end = page.indexOf("</" + tag + '>', start);
        if (end < 0)
            break;
        const QByteArray text = page.mid(start + open.size(), end - start - open.size());
        hashes.append("'sha256-" + QCryptographicHash::hash(text, QCryptographicHash::Sha256).toBase64() + '\'');
    }
    return hashes.join(' ');
}

} // namespace

ZelvoWebServer::ZelvoWebServer(ZelvoEmulator* window, ZelvoControlCommands* commands, const ZelvoServices& services,
                               const ZelvoControlToken* token, QObject* parent)
    : QObject(parent)
    , window(window)
    , commands(commands)
    , messageRecorder(services.recorder.get())
    , token(token)
    , listener(new QTcpServer(this))
    , upgrader(new QWebSocketServer(QStringLiteral("ZelvoEmulator"), QWebSocketServer::NonSecureMode, this))
    , stateTimer(new QTimer(this))
{
    QFile file(QStringLiteral(":/web/page.html"));
    if (file.open(QIODevice::ReadOnly))
        page = file.readAll();
    // The page names event kinds, buttons and gestures as the emulator does.
    const QByteArray vocabulary = R"(<script id="vocabulary" type="application/json">)";
    page.replace(vocabulary + "{}</script>",
                 vocabulary + QJsonDocument(ZelvoVocabulary::toJson()).toJson(QJsonDocument::Compact) + "</script>");
    page = ZelvoReport::withSharedScript(page);
    pagePolicy = "Content-Security-Policy: default-src 'none'; script-src " + inlineHashes(page, "script")
                 + "; style-src " + inlineHashes(page, "style") + "; connect-src 'self'";
    upgrader->setHandshakeTimeout(requestTimeout);
    upgrader->setMaxPendingConnections(maxViewers);
    stateTimer->setInterval(stateIntervalMillis);
    connect(listener, &QTcpServer::newConnection, this, &ZelvoWebServer::onNewConnection);
    connect(upgrader, &QWebSocketServer::newConnection, this, &ZelvoWebServer::onNewViewer);
    connect(stateTimer, &QTimer::timeout, this, &ZelvoWebServer::refreshState);
    connect(services.displayRecorder.get(), &ZelvoDisplayRecorder::imageShown, this, [this](const QImage& image) {
        onDisplayShown(image, this->window->contentIdOnDisplay());
    });
    frame = window->displayImage();
    frames = frame.isNull() ? 0 : 1;
}

ZelvoWebServer::~ZelvoWebServer()
{
    // The address holds the token of a run that is over; another run may
    // have written its own since.
    QFile file(addressPath);
    if (!addressPath.isEmpty() && file.open(QIODevice::ReadOnly)
        && file.read(maxAddressFileBytes).trimmed() == address().toEncoded()) {
        file.close();
        file.remove();
    }
}

void ZelvoWebServer::setRequestTimeout(int millis)
{
    requestTimeout = millis;
    upgrader->setHandshakeTimeout(millis);
}

bool ZelvoWebServer::start(const QHostAddress& host, quint16 port)
{
    if (!listener->listen(host, port)) {
        startError = QStringLiteral("%1 port %2: %3").arg(host.toString()).arg(port).arg(listener->errorString());
        qCWarning(zelvoWebLog, "\033[33mZelvoWebServer::start no web page: %s\033[0m", qPrintable(startError));
        return false;
    }
    listenAddress = host;
    const QByteArray portSuffix = ':' + QByteArray::number(listener->serverPort());
    const auto hostName = [](const QHostAddress& address) {
        const QByteArray text = address.toString().toLower().toLatin1();
        return address.protocol() == QAbstractSocket::IPv6Protocol ? '[' + text + ']' : text;
    };
    QList<QHostAddress> addresses{QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6), host};
    ownHosts = {"localhost" + portSuffix};
    if (address().host() != host.toString()) {
        addresses += QNetworkInterface::allAddresses();
        ownHosts.append(address().host().toLower().toUtf8() + portSuffix);
    }
    for (const QHostAddress& each : qAsConst(addresses))
        ownHosts.append(hostName(each) + portSuffix);
    // A browser leaves the scheme's default port out of Host.
    if (listener->serverPort() == 80) {
        for (int i = 0, count = ownHosts.size(); i < count; ++i)
            ownHosts.append(ownHosts.at(i).chopped(portSuffix.size()));
    }
    qCDebug(zelvoWebLog, "\033[33mZelvoWebServer::start web page on %s:%u\033[0m", qPrintable(host.toString()),
            unsigned(listener->serverPort()));
    return true;
}

void ZelvoWebServer::close()
{
    listener->close();
}

quint16 ZelvoWebServer::port() const
{
    return listener->serverPort();
}

QUrl ZelvoWebServer::address() const
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    const bool everywhere = listenAddress == QHostAddress::Any || listenAddress == QHostAddress::AnyIPv4
                            || listenAddress == QHostAddress::AnyIPv6;
    url.setHost(everywhere ? QHostInfo::localHostName() : listenAddress.toString());
    url.setPort(port());
    url.setPath(QStringLiteral("/"));
    url.setQuery(QStringLiteral("token=") + QString::fromLatin1(token->value()));
    return url;
}

bool ZelvoWebServer::writeAddressFile(const QString& path, QString* error)
{
    if (!ZelvoControlToken::writeOwnerOnly(path, address().toEncoded() + '\n', error))
        return false;
    addressPath = path;
    return true;
}

void ZelvoWebServer::onNewConnection()
{
    while (QTcpSocket* socket = listener->nextPendingConnection()) {
        // Idle strangers make room: a browser with the token sends its
        // request at once, so they never keep it out.
        if (pending.size() >= maxPendingRequests)
            pending.takeFirst()->abort();
        // The guard holds the request's time-out and connections: deleting
        // it ends both when the socket is handed over or goes.
        auto* guard = new QObject(socket);
        pending.append(socket);
        connect(guard, &QObject::destroyed, this, [this, socket] { pending.removeOne(socket); });
        QTimer::singleShot(requestTimeout, guard, [socket] { socket->abort(); });
        connect(socket, &QTcpSocket::disconnected, guard, [socket] { socket->deleteLater(); });
        connect(socket, &QTcpSocket::readyRead, guard, [this, socket, guard] { readRequest(socket, guard); });
        // Bytes that came with the connection.
        readRequest(socket, guard);
    }
}

void ZelvoWebServer::readRequest(QTcpSocket* socket, QObject* guard)
{
    // Peeked, not read: an upgrade leaves the bytes to QWebSocketServer.
    ZelvoHttpRequest request;
    switch (request.read(socket->peek(ZelvoHttpRequest::maxHeadBytes))) {
    case ZelvoHttpRequest::Status::Incomplete:
        return;
    case ZelvoHttpRequest::Status::Malformed:
        socket->write(response("400 Bad Request"));
        break;
    case ZelvoHttpRequest::Status::TooLarge:
        socket->write(response("431 Request Header Fields Too Large"));
        break;
    case ZelvoHttpRequest::Status::Complete:
        answer(socket, request, guard);
        return;
    }
    closeAfterAnswer(socket, guard);
}

void ZelvoWebServer::answer(QTcpSocket* socket, const ZelvoHttpRequest& request, QObject* guard)
{
    if (!isOwnRequest(request)) {
        socket->write(response("403 Forbidden"));
    } else if (!token->matches(request.queryValue("token"))) {
        // Whatever was asked, only the token opens anything.
        socket->write(response("401 Unauthorized"));
    } else if (request.path() == livePath && request.isWebSocketUpgrade()) {
        if (request.hasBareLineFeeds()) {
            // A browser ends its lines with CR LF; the WebSocket handshake
            // would wait for them.
            socket->write(response("400 Bad Request"));
        } else if (viewerCount() >= maxViewers) {
            socket->write(response("503 Service Unavailable"));
        } else {
            delete guard;
            // A handshake that fails leaves the socket to close.
            upgrading.append(socket);
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                if (upgrading.removeOne(socket))
                    socket->deleteLater();
            });
            QTimer::singleShot(requestTimeout, socket, [this, socket] {
                if (upgrading.contains(socket))
                    socket->abort();
            });
            upgrader->handleConnection(socket);
            return;
        }
    } else if (request.path() != "/") {
        socket->write(response("404 Not Found"));
    } else if (request.method() != "GET" && request.method() != "HEAD") {
        socket->write(response("405 Method Not Allowed", "Allow: GET, HEAD\r\n"));
    } else {
        const QByteArray head = response("200 OK",
                                         "Content-Type: text/html; charset=utf-8\r\nReferrer-Policy: no-referrer\r\n"
                                         "X-Content-Type-Options: nosniff\r\n" + policyFor(request),
                                         page);
        socket->write(request.method() == "HEAD" ? head.left(head.size() - page.size()) : head);
    }
    closeAfterAnswer(socket, guard);
}

QByteArray ZelvoWebServer::policyFor(const ZelvoHttpRequest& request) const
{
    // The stream's address in full, for browsers whose 'self' does not
    // cover WebSocket addresses; a host the browser would not send adds none.
    const QByteArray host = request.field("host");
    const bool plain = !host.isEmpty() && std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || QByteArray(".:-[]").contains(c);
    });
    return pagePolicy + (plain ? " ws://" + host : QByteArray())
           + "; base-uri 'none'; form-action 'none'; frame-ancestors 'none'\r\n";
}

bool ZelvoWebServer::isOwnRequest(const ZelvoHttpRequest& request) const
{
    const QByteArray host = request.field("host").toLower();
    const QByteArray origin = request.field("origin").toLower();
    const bool own = ownHosts.contains(host)
                     && (!request.isWebSocketUpgrade() || origin.isEmpty() || origin == "http://" + host);
    if (!own)
        qCWarning(zelvoWebLog, "\033[31mZelvoWebServer::answer refused a request for host \"%s\" from origin \"%s\": "
                               "not this page\033[0m",
                  qUtf8Printable(ZelvoLog::payload(host)), qUtf8Printable(ZelvoLog::payload(origin)));
    return own;
}

void ZelvoWebServer::closeAfterAnswer(QTcpSocket* socket, QObject* guard)
{
    delete guard;
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    // The answer goes out before the close, within a time of its own for a
    // peer that does not take it.
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(requestTimeout, socket, [socket] { socket->abort(); });
    socket->disconnectFromHost();
}

void ZelvoWebServer::onNewViewer()
{
    while (QWebSocket* socket = upgrader->nextPendingConnection()) {
        auto* viewer = new ZelvoWebViewer(socket, this, messageRecorder);
        ++viewers;
        connect(viewer, &QObject::destroyed, this, [this] {
            if (--viewers == 0)
                stateTimer->stop();
        });
        // The WebSocket runs on the connection's socket but leaves it to
        // its owner: the viewer, from now on.
        for (QTcpSocket* connection : qAsConst(upgrading)) {
            if (connection->peerPort() == socket->peerPort() && connection->peerAddress() == socket->peerAddress()) {
                upgrading.removeOne(connection);
                connection->setParent(viewer);
                break;
            }
        }
        stateTimer->start();
    }
}

void ZelvoWebServer::onDisplayShown(const QImage& image, int contentId)
{
    frame = image;
    frameContentId = contentId;
    ++frames;
    emit frameChanged();
}

QByteArray ZelvoWebServer::encodedChange(const QImage& before)
{
    if (changeNumber == frames && changeFrom == before.cacheKey())
        return change;
    const bool comparable = !before.isNull() && before.size() == frame.size() && before.format() == frame.format()
                            && frame.depth() == 32;
    const QRect rect = comparable ? ZelvoUtil::changedRect(before, frame) : frame.rect();
    change.clear();
    if (!rect.isEmpty()) {
        const QImage pixels =
            ZelvoDisplayRecorder::opaque(frame.copy(rect)).convertToFormat(QImage::Format_RGBX8888);
        change.resize(changeHeaderBytes);
        qToBigEndian<qint32>(frameContentId, change.data());
        qToBigEndian<quint16>(quint16(rect.left()), change.data() + 4);
        qToBigEndian<quint16>(quint16(rect.top()), change.data() + 6);
        qToBigEndian<quint16>(quint16(rect.width()), change.data() + 8);
        qToBigEndian<quint16>(quint16(rect.height()), change.data() + 10);
        // Rows of four bytes a pixel have no padding.
        change.append(reinterpret_cast<const char*>(pixels.constBits()), int(pixels.sizeInBytes()));
    }
    changeFrom = before.cacheKey();
    changeNumber = frames;
    return change;
}

QByteArray ZelvoWebServer::state() const
{
    QByteArray json;
    commands->execute({{QStringLiteral("cmd"), QStringLiteral("state")}},
                      [&json](const QJsonObject& results, const QString&) {
                          json = QJsonDocument(results).toJson(QJsonDocument::Compact);
                      });
    return json;
}

void ZelvoWebServer::refreshState()
{
    QByteArray now = state();
    if (now == currentState)
        return;
    currentState = std::move(now);
    emit stateChanged();
}
