#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QTcpSocket>

// A script's end of a control connection on a real loopback socket:
// requests out as JSON lines, answers in as they come.
class ControlClient final
{
    Q_DISABLE_COPY_MOVE(ControlClient)

public:
    explicit ControlClient(quint16 port);

    // The token the emulator wrote to its file under the current HOME.
    static QByteArray token();

    void send(const QByteArray& bytes);
    // Sends the request with a fresh id and returns its answer; an empty
    // object when none came in time.
    QJsonObject call(QJsonObject request, int timeoutMillis = 5000);
    // The next answer not yet taken; an empty object when none came in time.
    QJsonObject next(int timeoutMillis = 5000);
    // Authenticates with the token from the file; true when let in.
    bool authenticate();
    bool waitClosed();

    QTcpSocket socket;
    QList<QJsonObject> answers;
    int lastId = 0;
};
