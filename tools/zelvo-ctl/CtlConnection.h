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
    enum class Result { Done, Refused, Unreachable };

    // The whole call, connecting included, ends after answerMillis.
    CtlConnection(const QString& host, quint16 port, const QString& tokenFile, qint64 answerMillis);

    // Unreachable: no emulator, no token or no answer in time; Refused: the
    // emulator answered with an error. errorString() says which.
    Result call(const QJsonObject& request);

    // After a Done call that asked to follow: the next line the emulator
    // streams, waiting as long as it takes; false once the connection ends.
    bool next(QJsonObject* object);

    // The answer of a Done call without "id" and "ok".
    const QJsonObject& results() const { return answer; }
    const QString& errorString() const { return error; }

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
};
