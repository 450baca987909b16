#pragma once

#include <QImage>
#include <QObject>
#include <QQueue>
#include <QString>

class QJsonObject;
class QTimer;
class QWebSocket;
class ZelvoRecorder;
class ZelvoWebServer;

// One browser watching: its WebSocket gets the display's changes since what
// it was sent last (binary messages, ZelvoWebServer::encodedChange), the
// state and the message record as they change (JSON text), and takes the
// page's requests, which it applies as the control channel's commands.
//
// What it sends is bounded: the page tells when it has shown a frame
// ({"shown": "frame"}) or a batch of records ({"shown": "records"}); no
// more than maxUnshown frames and one batch are on their way at once, each
// kind counted apart so that a frame never waits behind a backlog in the
// socket nor behind the records; past maxUnsentBytes waiting in the socket
// it sends no frames and no records. Then the newest of each follows once
// the viewer has caught up, so a slow viewer skips frames, sees no old
// ones, and its memory stays flat. One that reads nothing while
// cutOffBytes wait is closed.
//
// Its requests wait, in order, while maxUnsentBytes of what it was sent
// wait in the socket, so that a flood of requests in one write queues no
// flood of answers; one that sends more than maxWaitingRequestBytes of
// requests meanwhile is closed.
class ZelvoWebViewer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoWebViewer)

public:
    static constexpr qint64 maxUnsentBytes = 512 * 1024;
    // Frames on their way to the page.
    static constexpr int maxUnshown = 3;
    static constexpr qint64 cutOffBytes = 8 * 1024 * 1024;
    // The records a viewer gets when it opens the page, and at most at once.
    static constexpr int recordsAtOnce = 200;
    // A request of the page is a line of JSON.
    static constexpr int maxRequestBytes = 64 * 1024;
    static constexpr qint64 maxWaitingRequestBytes = 1024 * 1024;
    // Requests answered in one turn of the event loop, so that a flood of
    // them holds it no longer than a few.
    static constexpr int requestsAtOnce = 16;

    // Takes the socket over; deletes itself once the socket closes.
    // recorder is the record the page lists.
    ZelvoWebViewer(QWebSocket* socket, ZelvoWebServer* server, const ZelvoRecorder* recorder);
    ~ZelvoWebViewer() override;

signals:
    void closed();

private:
    void scheduleFlush();
    void flush();
    void onRequest(const QString& message);
    void handleRequest(const QString& message);
    void sendAnswer(double id, const QJsonObject& results, const QString& error);
    void sendText(const QJsonObject& message);
    // Releases what the page holds down, as a finger leaving the glasses.
    void releaseHeld();
    void onDisconnected();

    QWebSocket* socket = nullptr;
    ZelvoWebServer* server = nullptr;
    const ZelvoRecorder* messageRecorder = nullptr;
    QTimer* flushTimer = nullptr;
    QQueue<QString> requests;
    qint64 requestBytes = 0;
    quint64 frameSent = 0;
    // The display as the page shows it, which the next change is taken from.
    QImage imageSent;
    int framesUnshown = 0;
    // Records that arrive meanwhile go with the next batch.
    bool recordsUnshown = false;
    quint64 recordSent = 0;
    bool recordsCleared = false;
    bool stateDirty = true;
    bool plusHeld = false;
    bool minusHeld = false;
    bool closing = false;
    bool flooded = false;
};
