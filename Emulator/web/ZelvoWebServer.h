#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

class QTcpServer;
class QTcpSocket;
class QTimer;
class QWebSocketServer;
class ZelvoControlCommands;
class ZelvoControlToken;
class ZelvoEmulator;
class ZelvoHttpRequest;
class ZelvoRecorder;
class ZelvoServices;
class ZelvoWebViewer;

// The emulator's web page: one page that shows the display live, the
// buttons, the sensors and the message record, and drives the glasses
// through the control channel's commands. Every request needs the control
// token in its address; a request without it gets 401 and nothing else.
// A request whose Host is not an address the page is served at, or an
// upgrade whose Origin is another page's, gets 403: a site a browser visits
// reaches the page neither through a name it rebinds to this machine nor
// through the browser's own WebSocket.
// The page is served over plain HTTP with a bounded request reader; its
// live stream is a WebSocket (QtWebSockets) on the same port.
class ZelvoWebServer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoWebServer)

public:
    // Watching is for a person or two; each viewer costs a stream.
    static constexpr int maxViewers = 4;
    // Connections still sending their request, slow or idle ones included;
    // a new one closes the oldest of them, which has shown no token yet.
    static constexpr int maxPendingRequests = 16;
    // Time for a connection to send its request and take the answer.
    static constexpr int requestTimeoutMillis = 10000;

    // token and commands outlive the server (the control channel owns both).
    // services outlive the server too; the page shows their record and
    // display.
    ZelvoWebServer(ZelvoEmulator* window, ZelvoControlCommands* commands, const ZelvoServices& services,
                   const ZelvoControlToken* token, QObject* parent = nullptr);
    ~ZelvoWebServer() override;

    // Listens on host at port (0 picks a free one); false with
    // errorString() when it cannot.
    bool start(const QHostAddress& host, quint16 port);
    const QString& errorString() const { return startError; }
    // Stops taking connections, for a page that cannot be announced.
    void close();
    // Another time than requestTimeoutMillis, for a test that waits for it
    // to pass.
    void setRequestTimeout(int millis);
    quint16 port() const;
    // The page's address with the token in it, as a person opens it.
    QUrl address() const;
    // Writes address() to path, readable by its owner only, and removes it
    // again when the server ends.
    bool writeAddressFile(const QString& path, QString* error);
    // Viewers watching, and those whose WebSocket handshake runs.
    int viewerCount() const { return viewers + upgrading.size(); }

    // The display's change since before, a picture it showed, as the
    // viewers get it: the content id it shows (-1 for none) in four bytes,
    // the left, top, width and height of the rectangle that differs in two
    // bytes each, all big-endian, then that rectangle on black, row by row,
    // four bytes a pixel (red, green, blue, 255). Raw, not PNG: the page
    // draws it at once, where a picture to decode waits for the browser's
    // decoder threads, which a busy machine leaves waiting longest; the
    // display is small and a change mostly a small part of it. The whole
    // display when before is null or of another size, nothing when no
    // pixel differs. Viewers that were sent the same picture share one
    // encoding.
    static constexpr int changeHeaderBytes = 12;
    QByteArray encodedChange(const QImage& before);
    const QImage& image() const { return frame; }
    quint64 frameNumber() const { return frames; }
    ZelvoControlCommands* controlCommands() const { return commands; }
    // The state as the control channel's "state" gives it now, compact JSON.
    QByteArray state() const;

signals:
    void frameChanged();
    void stateChanged();

private:
    void onNewConnection();
    void onDisplayShown(const QImage& image, int contentId);
    void onNewViewer();
    // guard is the child of socket that holds its request's connections.
    void readRequest(QTcpSocket* socket, QObject* guard);
    void answer(QTcpSocket* socket, const ZelvoHttpRequest& request, QObject* guard);
    void closeAfterAnswer(QTcpSocket* socket, QObject* guard);
    QByteArray policyFor(const ZelvoHttpRequest& request) const;
    // Whether the request names this page as its Host and, for an
    // upgrade, comes from this page (or from no page at all).
    bool isOwnRequest(const ZelvoHttpRequest& request) const;
    // Tells the viewers when the state differs from what they were told.
    void refreshState();

    ZelvoEmulator* window = nullptr;
    ZelvoControlCommands* commands = nullptr;
    ZelvoRecorder* messageRecorder = nullptr;
    const ZelvoControlToken* token = nullptr;
    QTcpServer* listener = nullptr;
    QWebSocketServer* upgrader = nullptr;
    QTimer* stateTimer = nullptr;
    QHostAddress listenAddress;
    QString startError;
    QString addressPath;
    QByteArray page;
    // The page's Content-Security-Policy up to its connect-src.
    QByteArray pagePolicy;
    QImage frame;
    int frameContentId = -1;
    int requestTimeout = requestTimeoutMillis;
    quint64 frames = 0;
    // The change last encoded: from the picture of that cache key to frame
    // number changeNumber.
    QByteArray change;
    qint64 changeFrom = 0;
    quint64 changeNumber = 0;
    QByteArray currentState;
    // Oldest first.
    QList<QTcpSocket*> pending;
    // Host values of this page, lower case.
    QList<QByteArray> ownHosts;
    QList<QTcpSocket*> upgrading;
    int viewers = 0;
};
