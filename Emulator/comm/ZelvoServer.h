#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QTcpServer>

class QTimer;
class ZelvoConnection;

// The TCP endpoint of the agents: one ZelvoConnection per accepted socket,
// the relay of their actions to the window, and the broadcast of events.
class ZelvoServer : public QTcpServer
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoServer)

public:
    explicit ZelvoServer(QObject* parent = nullptr);
    ~ZelvoServer() override;

    bool start(const QHostAddress& address, quint16 port);
    bool setup();

    QList<ZelvoConnection*> connections() const;

    virtual void clientDone(ZelvoConnection* connection);

    void processAgentContent(const QString& agentHash, int contentId, const QString& layId,
                             const QList<QString>& imagesId, const QList<QString>& texts);

signals:
    void zelvoConfigReceived(int minPersistingTimeMillis, int maxPersistingTimeMillis);
    void agentConfigReceived(QString agentHash, QList<QString> imagesByteArray);
    void agentContentReceived(QString agentHash, int contentId, QString layId,
                              QList<QString> imagesId, QList<QString> texts);

public slots:
    void onNewConnection();
    void onZelvoConfig(int minPersistingTimeMillis, int maxPersistingTimeMillis);
    void onAgentConfig(const QString& agentHash, const QList<QString>& imagesByteArray);
    void onAgentContent(const QString& agentHash, int contentId, const QString& layId,
                        const QList<QString>& imagesId, const QList<QString>& texts);
    void sendMessageToClients(const QByteArray& data);

private slots:
    void onSocketDisconnected();

private:
    void onAcceptError();

    QList<ZelvoConnection*> connectionList;
    QHostAddress address;
    quint16 port = 0;
    // Out of file descriptors QTcpServer pauses accepting for good; this
    // resumes it once descriptors may be free again.
    QTimer* acceptRetryTimer = nullptr;
    bool acceptPaused = false;
};
