#pragma once

#include <QObject>

#include <functional>

class QByteArray;
class QJsonObject;
class QJsonValue;
class QString;
class QTcpSocket;
class QTimer;
class ZelvoControlCommands;
class ZelvoControlToken;
class ZelvoRecorder;

// One control connection. The wire format is one JSON object per line each
// way: a request {"id": ..., "cmd": ..., ...} and its answer {"id": ...,
// "ok": true, ...results} or {"id": ..., "ok": false, "error": ...}. The
// first request must be {"cmd": "auth", "token": ...}. Requests of one
// connection are applied one after the other, each answered before the
// next is read, so that answers come in the order of the requests. While
// more answers wait for a client that does not read them than a log
// follower may leave unread, its further requests wait unread too.
class ZelvoControlSession final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoControlSession)

public:
    // A longer line is refused and ends the connection, so that a client
    // cannot make the emulator buffer without bound.
    static constexpr qint64 maxLineLength = 1024 * 1024;

    // A connection that has not proved itself by then is dropped, so that
    // strangers cannot hold connections open.
    static constexpr int authTimeoutMillis = 2000;

    // Asked once the token matched: empty to let the session in, else why
    // it may not, which it is told before it is closed.
    using Admission = std::function<QString(ZelvoControlSession*)>;

    // Takes the socket as its child; deletes itself when the socket closes.
    // recorder is what the log command reads and follows.
    ZelvoControlSession(QTcpSocket* socket, ZelvoControlCommands* commands, ZelvoRecorder* recorder,
                        const ZelvoControlToken* token, Admission admit, QObject* parent);
    ~ZelvoControlSession() override;

    bool isAuthenticated() const { return authenticated; }
    // Tells the client why in one line, then closes the connection.
    void close(const QString& reason);

    // One answer line of the wire format.
    static QByteArray answerLine(const QJsonValue& id, QJsonObject results, const QString& error);

private:
    void processLines();
    void handle(const QByteArray& line);
    // The "log" command; with "follow" the connection streams records from then on.
    void log(const QJsonValue& id, const QJsonObject& request);
    void answer(const QJsonValue& id, QJsonObject results, const QString& error);
    // A request without an id: answered, or refused before "auth".
    void reject(const QString& error);
    // Answers with the error, then closes the connection.
    void refuse(const QJsonValue& id, const QString& error);

    QTcpSocket* socket = nullptr;
    ZelvoControlCommands* commands = nullptr;
    ZelvoRecorder* messageRecorder = nullptr;
    const ZelvoControlToken* token = nullptr;
    Admission admit;
    QTimer* authTimer = nullptr;
    bool authenticated = false;
    bool busy = false;
    bool processing = false;
    bool turnScheduled = false;
    // Answers of a MiB or more waited at some time: memory to give back.
    bool heldMany = false;
    bool closing = false;
    bool following = false;
};
