#pragma once

#include "ZelvoControlToken.h"
#include "ZelvoPorts.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

class QFileSystemWatcher;
class QTcpServer;
class QTcpSocket;
class QTimer;
class ZelvoControlCommands;
class ZelvoControlSession;
class ZelvoEmulator;
class ZelvoRecorder;
class ZelvoServer;
class ZelvoServices;

// The control channel: scripts and CI jobs press the buttons, drive the
// sensors and look at the display through it, as a person at the mouse
// would. It listens on the loopback address unless told otherwise and admits
// a connection that presents the token of this run (ZelvoControlToken).
class ZelvoControlServer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoControlServer)

public:
    static constexpr quint16 defaultPort = ZelvoPorts::control;
    // Each session may hold a request line of up to a MiB; together they
    // stay within this many. Scripts open one or two at a time.
    static constexpr int maxSessions = 32;
    // Connections that have not authenticated yet have slots of their own,
    // so that strangers never take those of the clients with the token.
    static constexpr int maxAuthenticating = 8;
    // How soon a token that could not be written again is tried again.
    static constexpr int tokenRetryMillis = 200;

    // window, server and services must outlive the channel.
    ZelvoControlServer(ZelvoEmulator* window, ZelvoServer* server, const ZelvoServices& services,
                       QObject* parent = nullptr);
    // Removes the token file: a token of a finished run admits nothing.
    ~ZelvoControlServer() override;

    // Listens at the port (0 picks a free one) of the address and writes the
    // token file, with the token the environment gives if any; false when
    // any of that fails, and the emulator runs without. A token file removed
    // meanwhile (its folder deleted) is written again, its folder made
    // again, tried until it is written; the channel stays open meanwhile.
    bool start(quint16 port, const QString& tokenFile = ZelvoControlToken::filePath(),
               const QHostAddress& address = QHostAddress(QHostAddress::LocalHost));
    // Why the last start failed.
    const QString& errorString() const { return startError; }
    // The token file of this run; empty while the channel is closed.
    const QString& tokenFile() const { return tokenPath; }
    quint16 port() const;
    ZelvoControlCommands* controlCommands() const { return commands; }
    // The secret of this run, which the web page asks for too.
    const ZelvoControlToken& accessToken() const { return token; }

signals:
    // The token file was removed and has been written again.
    void tokenRewritten();

private:
    void onNewConnection();
    void onTokenFileChanged();
    void watchToken();
    // Empty when the session that presented the token may stay, else why not.
    QString admit(ZelvoControlSession* session);
    // Tells a connection without a session why in one line, then closes it.
    void refuse(QTcpSocket* socket, const QString& reason);

    ZelvoControlToken token;
    QString tokenPath;
    QString startError;
    QTcpServer* listener = nullptr;
    QFileSystemWatcher* tokenWatcher = nullptr;
    QTimer* tokenRetry = nullptr;
    // Said once while the token cannot be written again.
    bool tokenLost = false;
    ZelvoControlCommands* commands = nullptr;
    ZelvoRecorder* messageRecorder = nullptr;
    // Sessions still authenticating, oldest first, and the admitted ones.
    QList<QObject*> authenticating;
    QSet<QObject*> admitted;
};
