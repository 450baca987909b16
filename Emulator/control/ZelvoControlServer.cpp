#include "control/ZelvoControlServer.h"

#include "control/ZelvoControlCommands.h"
#include "control/ZelvoControlSession.h"
#include "services/ZelvoServices.h"
#include "ZelvoLog.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHostAddress>
#include <QJsonObject>
#include <QJsonValue>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

ZelvoControlServer::ZelvoControlServer(ZelvoEmulator* window, ZelvoServer* server, const ZelvoServices& services,
                                       QObject* parent)
    : QObject(parent)
    , listener(new QTcpServer(this))
    , commands(new ZelvoControlCommands(window, server, services, this))
    , messageRecorder(services.recorder.get())
    , tokenWatcher(new QFileSystemWatcher(this))
    , tokenRetry(new QTimer(this))
{
    connect(listener, &QTcpServer::newConnection, this, &ZelvoControlServer::onNewConnection);
    connect(tokenWatcher, &QFileSystemWatcher::fileChanged, this, &ZelvoControlServer::onTokenFileChanged);
    tokenRetry->setSingleShot(true);
    tokenRetry->setInterval(tokenRetryMillis);
    connect(tokenRetry, &QTimer::timeout, this, &ZelvoControlServer::onTokenFileChanged);
}

ZelvoControlServer::~ZelvoControlServer()
{
    if (tokenPath.isEmpty())
        return;
    // Another run may have written its own token since.
    QString error;
    if (token.matches(ZelvoControlToken::readFile(tokenPath, &error)))
        QFile::remove(tokenPath);
}

bool ZelvoControlServer::start(quint16 port, const QString& tokenFile, const QHostAddress& address)
{
    if (!token.takeEnvironment(&startError)) {
        qCWarning(zelvoControlLog, "\033[31mZelvoControlServer::start no control channel: %s\033[0m", qPrintable(startError));
        return false;
    }
    if (!listener->listen(address, port)) {
        startError = QStringLiteral("port %1: %2").arg(port).arg(listener->errorString());
        qCWarning(zelvoControlLog, "\033[33mZelvoControlServer::start no control channel: %s\033[0m", qPrintable(startError));
        return false;
    }
    if (!token.save(tokenFile, &startError)) {
        qCWarning(zelvoControlLog, "\033[31mZelvoControlServer::start no control channel: %s\033[0m", qPrintable(startError));
        listener->close();
        return false;
    }
    tokenPath = tokenFile;
    watchToken();
    qCDebug(zelvoControlLog, "\033[33mZelvoControlServer::start control channel on %s:%u, token in %s\033[0m",
                     qPrintable(address.toString()), unsigned(listener->serverPort()), qPrintable(tokenPath));
    return true;
}

void ZelvoControlServer::onTokenFileChanged()
{
    if (tokenPath.isEmpty())
        return;
    // Only a token that is gone is written again: one that another run put
    // there stays its own.
    if (QFileInfo::exists(tokenPath)) {
        watchToken();
        return;
    }
    QString error;
    if (!token.save(tokenPath, &error)) {
        // rm may still be deleting the folder just made again for it: the
        // channel stays, and the token is tried until it is written.
        if (!tokenLost)
            qCWarning(zelvoControlLog, "\033[31mZelvoControlServer::onTokenFileChanged the control token was removed "
                                       "and %s; trying again\033[0m",
                      qUtf8Printable(error));
        tokenLost = true;
        tokenRetry->start();
        return;
    }
    qCWarning(zelvoControlLog, "\033[33mZelvoControlServer::onTokenFileChanged the control token %s was removed, "
                               "written again\033[0m",
              qUtf8Printable(tokenPath));
    tokenLost = false;
    watchToken();
    emit tokenRewritten();
}

void ZelvoControlServer::watchToken()
{
    // Gone again before it could be watched: rm is still at work.
    if (!tokenWatcher->files().contains(tokenPath) && !tokenWatcher->addPath(tokenPath))
        tokenRetry->start();
}

quint16 ZelvoControlServer::port() const
{
    return listener->serverPort();
}

void ZelvoControlServer::onNewConnection()
{
    while (QTcpSocket* socket = listener->nextPendingConnection()) {
        if (admitted.size() >= maxSessions) {
            refuse(socket, QStringLiteral("%1 control connections are open already").arg(maxSessions));
            continue;
        }
        // The oldest stranger makes room: a client with the token
        // authenticates at once, so a few idle connections never keep it out.
        if (authenticating.size() >= maxAuthenticating)
            static_cast<ZelvoControlSession*>(authenticating.takeFirst())
                ->close(QStringLiteral("closed for a newer connection: only %1 may wait to authenticate")
                            .arg(maxAuthenticating));
        auto* session = new ZelvoControlSession(
            socket, commands, messageRecorder, &token, [this](ZelvoControlSession* asking) { return admit(asking); }, this);
        if (!session->isAuthenticated())
            authenticating.append(session);
        connect(session, &QObject::destroyed, this, [this](QObject* gone) {
            authenticating.removeOne(gone);
            admitted.remove(gone);
        });
    }
}

QString ZelvoControlServer::admit(ZelvoControlSession* session)
{
    authenticating.removeOne(session);
    if (admitted.size() >= maxSessions) {
        qCWarning(zelvoControlLog, "\033[31mZelvoControlServer::admit %d control connections already open, closing the new one\033[0m",
                 maxSessions);
        return QStringLiteral("%1 control connections are open already").arg(maxSessions);
    }
    admitted.insert(session);
    return QString();
}

void ZelvoControlServer::refuse(QTcpSocket* socket, const QString& reason)
{
    qCWarning(zelvoControlLog, "\033[31mZelvoControlServer::onNewConnection %s\033[0m", qPrintable(reason));
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->write(ZelvoControlSession::answerLine(QJsonValue::Null, {}, reason));
    // Writes the line, then closes.
    socket->disconnectFromHost();
}
