#pragma once

#include <QObject>

class QByteArray;
class QJsonObject;
class QJsonValue;
class QString;
class QTcpSocket;
class QTimer;
class ZelvoControlCommands;
class ZelvoControlToken;

// One control connection. The wire format is one JSON object per line each
// way: a request {"id": ..., "cmd": ..., ...} and its answer {"id": ...,
// "ok": true, ...results} or {"id": ..., "ok": false, "error": ...}. The
// first request must be {"cmd": "auth", "token": ...}. Requests of one
// connection are applied one after the other, each answered before the
// next is read, so that answers come in the order of the requests.
class ZelvoControlSession final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoControlSession)

public:
    // A longer line is refused and ends the connection, so that a client
    // cannot make the emulator buffer without bound.
    static constexpr qint64 maxLineLength = 1024 * 1024;

    // Takes the socket as its child; deletes itself when the socket closes.
    ZelvoControlSession(QTcpSocket* socket, ZelvoControlCommands* commands, const ZelvoControlToken* token,
                        QObject* parent);
    ~ZelvoControlSession() override;

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
    const ZelvoControlToken* token = nullptr;
    QTimer* authTimer = nullptr;
    bool authenticated = false;
    bool busy = false;
    bool processing = false;
    bool closing = false;
    bool following = false;
};
