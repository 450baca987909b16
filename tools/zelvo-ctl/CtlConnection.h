#pragma once

#include <QDeadlineTimer>
#include <QJsonObject>
#include <QString>
#include <QTcpSocket>

// One control connection of a command-line run: authenticates with the
// token of the running emulator, sends one request and waits for its answer.
class CtlConnection final
{
public:
    enum class Result { Done, Refused, UsageError, Unreachable };

    // The whole call, connecting included, ends after answerMillis.
    CtlConnection(const QString& host, quint16 port, const QString& tokenFile, qint64 answerMillis);

    // Unreachable: no emulator, no token, no answer in time or no control
    // channel that answered; Refused: the emulator refused the token or the
    // request; UsageError: it found the request itself wrong.
    // errorString() says which.
    Result call(const QJsonObject& request);

    // After a Done call that asked to follow: the next line the emulator
    // streams, waiting as long as it takes; false once the connection ends.
    bool next(QJsonObject* object);

    // The answer of a Done call without "id" and "ok".
    const QJsonObject& results() const { return answer; }
    const QString& errorString() const { return error; }
    // After an Unreachable call: whether anything listened on the port.
    bool reachedPort() const { return listening; }

private:
    bool readAnswer(QJsonObject* object);
    int remainingMillis() const;

    QString host;
    quint16 port = 0;
    QString tokenPath;
    qint64 answerMillis = 0;
    QDeadlineTimer deadline;
    QTcpSocket socket;
    QJsonObject answer;
    QString error;
    bool listening = true;
};
