#pragma once

#include "AgentRequest.h"
#include "ExitCode.h"
#include "ZelvoFrameReader.h"

#include <QAbstractSocket>
#include <QFile>
#include <QObject>
#include <QTimer>

#include <memory>

class QTcpSocket;

// One connection to the emulator: connect, send the request's messages as
// frames, optionally print the events that come back, then disconnect in
// order so that every frame has left before the process ends. What answers
// other than with frames (a control channel's line) ends the run with why.
class AgentSession final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AgentSession)

public:
    explicit AgentSession(const AgentRequest& request, QObject* parent = nullptr);
    ~AgentSession() override;

    void start();

signals:
    // Emitted once, after the socket is closed; error is one line for the
    // user, empty when all went as asked.
    void finished(int exitCode, const QString& error);

private:
    void onConnected();
    void onConnectError();
    void onWritten();
    void onReadyRead();
    void onEvent(const QByteArray& payload);
    void onListeningTimeout();
    void onClosedByEmulator();
    // Whether the first bytes that came are frames; false while too few
    // came to tell, and after finishing the run when they are not.
    bool checkFirstAnswer();
    void startListening();
    void finish(ExitCode exitCode, const QString& error = QString());
    void report();

    AgentRequest request;
    std::unique_ptr<QTcpSocket> socket;
    ZelvoFrameReader reader;
    QTimer connectTimer;
    QTimer listenTimer;
    QTimer closeTimer;
    QFile output;
    int received = 0;
    bool sent = false;
    bool framesSeen = false;
    bool finishing = false;
    bool reported = false;
    ExitCode exitCode = ExitCode::Success;
    QString error;
};
