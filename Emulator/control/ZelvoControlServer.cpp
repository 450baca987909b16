#include "control/ZelvoControlServer.h"

#include "control/ZelvoControlCommands.h"
#include "control/ZelvoControlSession.h"
#include "ZelvoLog.h"

#include <QDebug>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

ZelvoControlServer::ZelvoControlServer(ZelvoEmulator* window, ZelvoServer* server, QObject* parent)
    : QObject(parent)
    , listener(new QTcpServer(this))
    , commands(new ZelvoControlCommands(window, server, this))
{
    connect(listener, &QTcpServer::newConnection, this, &ZelvoControlServer::onNewConnection);
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

bool ZelvoControlServer::start(quint16 port, const QString& tokenFile)
{
    if (!listener->listen(QHostAddress::LocalHost, port)) {
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
    qCDebug(zelvoControlLog, "\033[33mZelvoControlServer::start control channel on 127.0.0.1:%u, token in %s\033[0m",
                     unsigned(listener->serverPort()), qPrintable(tokenPath));
    return true;
}

quint16 ZelvoControlServer::port() const
{
    return listener->serverPort();
}

void ZelvoControlServer::onNewConnection()
{
    while (QTcpSocket* socket = listener->nextPendingConnection()) {
        if (sessions >= maxSessions) {
            qCWarning(zelvoControlLog, "\033[31mZelvoControlServer::onNewConnection %d control connections already open, "
                     "closing the new one\033[0m", sessions);
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto* session = new ZelvoControlSession(socket, commands, &token, this);
        ++sessions;
        connect(session, &QObject::destroyed, this, [this] { --sessions; });
    }
}
