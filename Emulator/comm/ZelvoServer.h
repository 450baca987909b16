#pragma once

#include "record/ZelvoRecord.h"
#include "util/ZelvoImageWriter.h"

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTcpServer>

#include <memory>

class QSocketNotifier;
class QTimer;
class ZelvoAgentSink;
class ZelvoClock;
class ZelvoConnection;
class ZelvoFrameBudget;
class ZelvoInboxBudget;
class ZelvoRecorder;
struct ZelvoContent;
struct ZelvoTiming;

// The TCP endpoint of the agents: one ZelvoConnection per accepted socket,
// the relay of their messages to the window by its signals, and the
// broadcast of events.
// It accepts by itself rather than by QTcpServer's loop, which retries a
// failing accept at once and forever when the process is out of file
// descriptors; pauseAccepting() and resumeAccepting() of the base do not apply.
class ZelvoServer : public QTcpServer
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoServer)

public:
    // What all agents together may leave unread of the events sent to
    // them; each alone may leave less (ZelvoFrame::maxUnsentSize).
    static constexpr qint64 maxUnsentEventBytes = 64 * 1024 * 1024;

    // Every timed behaviour of the link follows clock; what became of each
    // agent message goes to recorder; pictures stores the configurations'
    // pictures. All three outlive the server.
    ZelvoServer(ZelvoClock* clock, ZelvoRecorder* recorder, ZelvoImageWriter* pictures, QObject* parent = nullptr);
    // For a link on its own: a real-time clock (unless one is given), a
    // record and a picture writer of its own.
    explicit ZelvoServer(ZelvoClock* clock = nullptr, QObject* parent = nullptr);
    ~ZelvoServer() override;

    // Takes agents on address alone: QHostAddress::Any for every interface.
    bool start(const QHostAddress& address, quint16 port);
    bool setup();

    QList<ZelvoConnection*> connections() const;
    // What the unfinished frames of this server's agents may hold together.
    std::shared_ptr<ZelvoFrameBudget> frameBudget() const { return unfinishedFrames; }
    // What the inboxes of this server's agents may hold together; shared,
    // since connections waiting for their deferred deletion outlive it.
    std::shared_ptr<ZelvoInboxBudget> inboxBudget() const { return inboxes; }

    // Where the agents' pictures go; none: they are refused. The sink
    // outlives its setting.
    void setAgentSink(ZelvoAgentSink* sink) { agentMessages = sink; }
    ZelvoAgentSink* agentSink() const { return agentMessages; }
    // Every agent message not yet taken effect is dropped, and no picture
    // is stored any more by the jobs already running: returns at once.
    void cancelAgentMessages();

    // What the signals below leave out of the message they are emitted for,
    // readable by their slots while they run: where it came from, and the
    // message as read off the window's thread (its pictures stored, its
    // texts counted). Null where it has no such part, and outside the
    // signals' emission.
    struct Delivery
    {
        const ZelvoRecord::Source* source = nullptr;
        const ZelvoTiming* timing = nullptr;
        const ZelvoImageWriter::Configuration* configuration = nullptr;
        const ZelvoContent* content = nullptr;
    };
    const Delivery& delivery() const { return delivering; }

    // A message takes effect: its signal is emitted, with delivery() set.
    void applyTiming(const ZelvoTiming& timing, const ZelvoRecord::Source& source);
    void applyConfiguration(const ZelvoImageWriter::Configuration& configuration, const QList<QString>& images,
                            const ZelvoRecord::Source& source);
    void applyContent(const ZelvoContent& content, const ZelvoRecord::Source& source);

    bool hasPendingConnections() const override;
    QTcpSocket* nextPendingConnection() override;

    virtual void clientDone(ZelvoConnection* connection);

    // Link faults on demand, for the control channel and the device panel
    // alike; each change is written to the record, which is how others
    // learn of it.
    // While refused, new agents are accepted and closed at once: the port
    // stays ours, so no other program can take it meanwhile.
    void setLinkRefused(bool refused);
    bool isLinkRefused() const { return linkRefused; }
    // Every message to agents leaves this much later, in order; 0 ends it.
    void setLinkDelay(int millis);
    int linkDelay() const { return linkDelayMillis; }
    // Closes every agent connection at once; answers how many there were.
    int dropLinks();
    // Messages not sent to an agent because too many already waited for
    // the slowed link, since the start or the last clearLinkFaults().
    qint64 droppedMessageCount() const { return droppedMessages; }
    // Back to a healthy link: accepting, no delay, so that messages already
    // waiting leave at once; no messages dropped.
    void clearLinkFaults();

    void processAgentContent(const QString& agentHash, int contentId, const QString& layId,
                             const QList<QString>& imagesId, const QList<QString>& texts);

signals:
    void zelvoConfigReceived(int minPersistingTimeMillis, int maxPersistingTimeMillis);
    void agentConfigReceived(QString agentHash, QList<QString> imagesByteArray);
    void agentContentReceived(QString agentHash, int contentId, QString layId,
                              QList<QString> imagesId, QList<QString> texts);

public slots:
    void onNewConnection();
    // For callers without a connection; a configuration's pictures are
    // then stored before this returns.
    void onZelvoConfig(int minPersistingTimeMillis, int maxPersistingTimeMillis);
    void onAgentConfig(const QString& agentHash, const QList<QString>& imagesByteArray);
    void onAgentContent(const QString& agentHash, int contentId, const QString& layId,
                        const QList<QString>& imagesId, const QList<QString>& texts);
    // The peers of the agents the message did not reach because too many
    // messages already waited for the slowed link.
    QStringList sendMessageToClients(const QByteArray& data);

private slots:
    void onSocketDisconnected();

private:
    void acceptAgents();
    // Past maxUnsentEventBytes, closes the agents that leave the most
    // unread beyond their share (ZelvoConnection::unsentShare()).
    void boundUnsentEvents();
    void recordLink(ZelvoRecord::Kind kind, const ZelvoConnection& connection,
                    ZelvoRecord::Reason reason = ZelvoRecord::Reason::None);
    void pauseAcceptingAfter(int error);
    void onAcceptRetry();
    bool holdReserve();
    void releaseReserve();

    // Those of a link on its own; the ones handed in are used otherwise.
    std::unique_ptr<ZelvoClock> ownClock;
    std::unique_ptr<ZelvoRecorder> ownRecorder;
    std::unique_ptr<ZelvoImageWriter> ownPictures;
    ZelvoClock* deviceClock = nullptr;
    QList<ZelvoConnection*> connectionList;
    ZelvoRecorder* messageRecorder = nullptr;
    std::shared_ptr<ZelvoFrameBudget> unfinishedFrames;
    std::shared_ptr<ZelvoInboxBudget> inboxes;
    QHostAddress address;
    quint16 port = 0;
    QList<QTcpSocket*> pendingSockets;
    std::unique_ptr<QSocketNotifier> acceptNotifier;
    QTimer* acceptRetryTimer = nullptr;
    bool acceptPaused = false;
    // Descriptors held back while accepting, see holdReserve().
    QList<int> reserve;
    bool linkRefused = false;
    int linkDelayMillis = 0;
    qint64 droppedMessages = 0;
    ZelvoAgentSink* agentMessages = nullptr;
    Delivery delivering;
    ZelvoImageWriter* pictures = nullptr;
    // Connections accepted so far: the number of the next is one more.
    int acceptedConnections = 0;
};
