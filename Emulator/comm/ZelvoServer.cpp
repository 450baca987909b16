#include "comm/ZelvoServer.h"

#include "clock/ZelvoClock.h"
#include "comm/ZelvoAgentSink.h"
#include "comm/ZelvoConnection.h"
#include "comm/ZelvoInboxBudget.h"
#include "comm/ZelvoSocket.h"
#include "ZelvoFrameBudget.h"
#include "ZelvoLog.h"
#include "ZelvoMessage.h"
#include "record/ZelvoRecorder.h"

#include <QDebug>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// What ZelvoServer::delivery() says for the length of one emission; the one
// before comes back after it, should a slot make another message take effect.
class Delivering
{
    Q_DISABLE_COPY_MOVE(Delivering)

public:
    Delivering(ZelvoServer::Delivery* at, ZelvoServer::Delivery now)
        : at(at)
        , before(std::exchange(*at, now))
    {
    }
    ~Delivering() { *at = before; }

private:
    ZelvoServer::Delivery* at;
    ZelvoServer::Delivery before;
};

// Long enough not to spin on accepts that fail, short enough that a waiting
// agent hardly notices.
constexpr int acceptRetryMillis = 200;

// Enough for storing an image, writing the log and the sanitizers' runtime.
constexpr int reserveSize = 4;

// Errors of one incoming connection, not of the listening socket: the next
// one in the backlog may be fine (see accept(2)).
bool isConnectionError(int error)
{
    switch (error) {
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
        return true;
    default:
        return false;
    }
}

// As ss(8) shows a listening socket: "*:2000" for every interface.
QString shownEndpoint(const QHostAddress& address, quint16 port)
{
    if (address == QHostAddress::Any)
        return QStringLiteral("*:%1").arg(port);
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
        ? QStringLiteral("[%1]").arg(address.toString())
        : address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

} // namespace

ZelvoServer::ZelvoServer(ZelvoClock* clock, ZelvoRecorder* recorder, ZelvoImageWriter* pictures, QObject* parent)
    : QTcpServer(parent)
    , deviceClock(clock)
    , messageRecorder(recorder)
    , unfinishedFrames(std::make_shared<ZelvoFrameBudget>())
    , inboxes(std::make_shared<ZelvoInboxBudget>())
    , acceptRetryTimer(new QTimer(this))
    , pictures(pictures)
{
    // Others may connect to the relayed signals by signature.
    qRegisterMetaType<QList<QString>>("QList<QString>");
    connect(this, SIGNAL(newConnection()), this, SLOT(onNewConnection()), Qt::DirectConnection);
    acceptRetryTimer->setSingleShot(true);
    acceptRetryTimer->setInterval(acceptRetryMillis);
    connect(acceptRetryTimer, &QTimer::timeout, this, &ZelvoServer::onAcceptRetry);
    qCDebug(zelvoLinkLog) << "\033[94mZelvoServer::ZelvoServer \033[0m";
}

ZelvoServer::ZelvoServer(ZelvoClock* clock, QObject* parent)
    : ZelvoServer(clock, nullptr, nullptr, parent)
{
    if (!deviceClock) {
        ownClock = std::make_unique<ZelvoClock>();
        deviceClock = ownClock.get();
    }
    ownRecorder = std::make_unique<ZelvoRecorder>(ZelvoRecorder::defaultCapacity, deviceClock);
    messageRecorder = ownRecorder.get();
    ownPictures = std::make_unique<ZelvoImageWriter>();
    pictures = ownPictures.get();
}

ZelvoServer::~ZelvoServer()
{
    qCDebug(zelvoLinkLog) << "Invoked Destructor of ZelvoServer";
    // Pictures of agents no longer served are not stored any more.
    pictures->cancelAll();
    qDeleteAll(std::exchange(connectionList, {}));
    // Those waiting for their deferred deletion too, while the clock, the
    // record and the writer they use are still there: the server's own
    // go before its children would.
    qDeleteAll(findChildren<ZelvoConnection*>(QString(), Qt::FindDirectChildrenOnly));
    releaseReserve();
}

bool ZelvoServer::start(const QHostAddress& address, quint16 port)
{
    this->address = address;
    this->port = port;
    return setup();
}

bool ZelvoServer::setup()
{
    qCDebug(zelvoLinkLog).noquote() << "ZelvoServer::setup Trying to start Server <" + shownEndpoint(address, port) + ">";
    if (!listen(address, port)) {
        qCDebug(zelvoLinkLog) << "\033[94mZelvoServer::setup Server can't start. Check your port configuration\033[0m";
        return false;
    }
    // Accepting is ours from here on (see the class comment).
    QTcpServer::pauseAccepting();
    acceptNotifier = std::make_unique<QSocketNotifier>(socketDescriptor(), QSocketNotifier::Read);
    connect(acceptNotifier.get(), &QSocketNotifier::activated, this, &ZelvoServer::acceptAgents);
    if (!holdReserve())
        pauseAcceptingAfter(EMFILE);
    qCDebug(zelvoLinkLog).noquote() << "ZelvoServer::setup LISTENING on <" + shownEndpoint(serverAddress(), serverPort()) + ">";
    return true;
}

QList<ZelvoConnection*> ZelvoServer::connections() const
{
    return connectionList;
}

bool ZelvoServer::hasPendingConnections() const
{
    return !pendingSockets.isEmpty();
}

QTcpSocket* ZelvoServer::nextPendingConnection()
{
    return pendingSockets.isEmpty() ? nullptr : pendingSockets.takeFirst();
}

void ZelvoServer::clientDone(ZelvoConnection* connection)
{
    qCDebug(zelvoLinkLog) << "!!!!!!!!!!!!!!!!!!!!ZelvoServer::clientDone ....";
    connectionList.removeAll(connection);
}

void ZelvoServer::setLinkRefused(bool refused)
{
    if (refused == linkRefused)
        return;
    linkRefused = refused;
    ZelvoRecord record(ZelvoRecord::Direction::Link, ZelvoRecord::Kind::LinkRefusal, ZelvoRecord::Outcome::Info);
    record.refusing = refused;
    messageRecorder->append(std::move(record));
}

void ZelvoServer::setLinkDelay(int millis)
{
    millis = qMax(millis, 0);
    if (millis == linkDelayMillis)
        return;
    linkDelayMillis = millis;
    ZelvoRecord record(ZelvoRecord::Direction::Link, ZelvoRecord::Kind::LinkDelay, ZelvoRecord::Outcome::Info);
    record.delayMillis = millis;
    messageRecorder->append(std::move(record));
    // Messages now due go at once, and a failed write ends its connection
    // in the middle of the loop.
    const QList<ZelvoConnection*> targets = connectionList;
    for (ZelvoConnection* connection : targets)
        connection->onLinkDelayChanged(millis);
}

int ZelvoServer::dropLinks()
{
    // Each connection leaves the list while it is dropped.
    const QList<ZelvoConnection*> dropped = connectionList;
    ZelvoRecord record(ZelvoRecord::Direction::Link, ZelvoRecord::Kind::LinkDropped, ZelvoRecord::Outcome::Info);
    record.agents = dropped.size();
    messageRecorder->append(std::move(record));
    for (ZelvoConnection* connection : dropped)
        connection->drop();
    return dropped.size();
}

void ZelvoServer::clearLinkFaults()
{
    setLinkRefused(false);
    setLinkDelay(0);
    droppedMessages = 0;
}

void ZelvoServer::cancelAgentMessages()
{
    pictures->cancelAll();
    // Copied: a connection already closed may go once nothing waits in it.
    const QList<ZelvoConnection*> waiting = findChildren<ZelvoConnection*>(QString(), Qt::FindDirectChildrenOnly);
    for (ZelvoConnection* connection : waiting)
        connection->cancelPending();
}

void ZelvoServer::applyTiming(const ZelvoTiming& timing, const ZelvoRecord::Source& source)
{
    const Delivering message(&delivering, {&source, &timing, nullptr, nullptr});
    emit zelvoConfigReceived(timing.minMillis, timing.maxMillis);
}

void ZelvoServer::applyConfiguration(const ZelvoImageWriter::Configuration& configuration, const QList<QString>& images,
                                     const ZelvoRecord::Source& source)
{
    const Delivering message(&delivering, {&source, nullptr, &configuration, nullptr});
    emit agentConfigReceived(configuration.agentHash, images);
}

void ZelvoServer::applyContent(const ZelvoContent& content, const ZelvoRecord::Source& source)
{
    if (zelvoLinkLog().isDebugEnabled()) {
        QDebug line = QMessageLogger(QT_MESSAGELOG_FILE, QT_MESSAGELOG_LINE, QT_MESSAGELOG_FUNC)
                          .debug(zelvoLinkLog())
                          .nospace();
        line.noquote() << "ZelvoServer::processAgentContent Agent<" << content.agentHash << " LAYId "
                       << ZelvoLog::payload(content.layoutId.toUtf8()) << " IMAGES " << ZelvoLog::payload(content.imageIds)
                       << " TEXTS " << ZelvoLog::payload(content.texts) << ">";
    }
    const Delivering message(&delivering, {&source, nullptr, nullptr, &content});
    emit agentContentReceived(content.agentHash, content.contentId, content.layoutId, content.imageIds, content.texts);
}

void ZelvoServer::processAgentContent(const QString& agentHash, int contentId, const QString& layId,
                                      const QList<QString>& imagesId, const QList<QString>& texts)
{
    applyContent({agentHash, contentId, false, layId, imagesId, texts}, {});
}

void ZelvoServer::onNewConnection()
{
    qCDebug(zelvoLinkLog) << "ZelvoServer::onNewConnection";
    QTcpSocket* socket = nextPendingConnection();
    if (!socket)
        return;
    if (linkRefused) {
        ZelvoRecord record(ZelvoRecord::Direction::Link, ZelvoRecord::Kind::ConnectionRefused,
                           ZelvoRecord::Outcome::Refused);
        record.source.peer = QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
        messageRecorder->append(std::move(record));
        socket->abort();
        socket->deleteLater();
        return;
    }
    auto* connection = new ZelvoConnection(this, socket, ++acceptedConnections, deviceClock, messageRecorder, pictures);
    // Parented so that connections awaiting their deferred deletion, or
    // dropped by clientDone, go with the server.
    connection->setParent(this);
    connect(connection, SIGNAL(disconnected()), this, SLOT(onSocketDisconnected()), Qt::DirectConnection);
    connectionList.append(connection);
    recordLink(ZelvoRecord::Kind::ConnectionOpened, *connection);
    connection->falseRun();
}

void ZelvoServer::recordLink(ZelvoRecord::Kind kind, const ZelvoConnection& connection, ZelvoRecord::Reason reason)
{
    ZelvoRecord record(ZelvoRecord::Direction::Link, kind, ZelvoRecord::Outcome::Info, reason);
    record.source.connection = connection.number();
    record.source.peer = connection.peer();
    record.agents = connectionList.size();
    messageRecorder->append(std::move(record));
}

void ZelvoServer::onZelvoConfig(int minPersistingTimeMillis, int maxPersistingTimeMillis)
{
    applyTiming({minPersistingTimeMillis, maxPersistingTimeMillis, false}, {});
}

void ZelvoServer::onAgentConfig(const QString& agentHash, const QList<QString>& imagesByteArray)
{
    applyConfiguration(ZelvoAgentSink::pictureJob(agentMessages, *pictures, agentHash, imagesByteArray)(),
                       imagesByteArray, {});
}

void ZelvoServer::onAgentContent(const QString& agentHash, int contentId, const QString& layId,
                                 const QList<QString>& imagesId, const QList<QString>& texts)
{
    qCDebug(zelvoLinkLog) << "\033[33mZelvoServer::onAgentMessage RECEIVED BITMAP FROM !!GOOD!! AGENT\033[0m";
    processAgentContent(agentHash, contentId, layId, imagesId, texts);
}

QStringList ZelvoServer::sendMessageToClients(const QByteArray& data)
{
    qCDebug(zelvoLinkLog) << "ZelvoServer::sendMessageToClients AGENTS" << connectionList.size();
    // A write that fails ends its connection at once, which leaves the list
    // in the middle of the loop; a snapshot keeps the agents after it served.
    const QList<ZelvoConnection*> targets = connectionList;
    QStringList dropped;
    for (ZelvoConnection* connection : targets) {
        bool full = false;
        if (!connection->sendData(data, &full) && full)
            dropped.append(connection->peer());
    }
    droppedMessages += dropped.size();
    boundUnsentEvents();
    return dropped;
}

void ZelvoServer::boundUnsentEvents()
{
    // Many agents that never read stay each within their own bound, and
    // together would hold memory without end.
    // Summed first: this runs with every broadcast, and is over the bound
    // almost never.
    qint64 total = 0;
    for (ZelvoConnection* connection : qAsConst(connectionList))
        total += connection->unsentBytes();
    if (total <= maxUnsentEventBytes)
        return;
    // Those furthest beyond their own share go first: an agent within its
    // share goes only once none is beyond theirs.
    struct Unsent
    {
        qint64 bytes;
        qint64 share;
        ZelvoConnection* connection;
    };
    QList<Unsent> unsent;
    for (ZelvoConnection* connection : qAsConst(connectionList))
        unsent.append({connection->unsentBytes(), connection->unsentShare(), connection});
    std::stable_sort(unsent.begin(), unsent.end(), [](const Unsent& a, const Unsent& b) {
        return a.bytes - a.share > b.bytes - b.share;
    });
    for (const Unsent& each : qAsConst(unsent)) {
        if (total <= maxUnsentEventBytes)
            break;
        total -= each.bytes;
        each.connection->socket()->abortConnection(
            ZelvoRecord::Reason::EventsUnread,
            QStringLiteral("ZelvoServer::boundUnsentEvents AGENTS READ NOTHING OF %1 BYTES, THIS ONE OF %2, ITS SHARE %3")
                .arg(total + each.bytes).arg(each.bytes).arg(each.share));
    }
}

void ZelvoServer::onSocketDisconnected()
{
    QObject* source = sender();
    if (!source)
        return;
    auto* connection = qobject_cast<ZelvoConnection*>(source);
    if (!connection) {
        qCDebug(zelvoLinkLog) << "ZelvoServer::onSocketDisconnected() Internal Error invalid socket";
        return;
    }
    connectionList.removeOne(connection);
    recordLink(ZelvoRecord::Kind::ConnectionClosed, *connection,
               connection->socket() ? connection->socket()->closeReason() : ZelvoRecord::Reason::None);
    // Deferred: this runs inside the connection's own signal, and its framing
    // socket's state handler still uses both when the signal returns.
    connection->deleteWhenDone();
}

void ZelvoServer::acceptAgents()
{
    for (;;) {
        const int descriptor = ::accept4(int(socketDescriptor()), nullptr, nullptr, SOCK_CLOEXEC);
        if (descriptor < 0) {
            const int error = errno;
            if (error == EAGAIN || error == EWOULDBLOCK)
                return;
            if (isConnectionError(error))
                continue;
            pauseAcceptingAfter(error);
            return;
        }
        if (acceptPaused) {
            acceptPaused = false;
            qCDebug(zelvoLinkLog) << "\033[32mZelvoServer::acceptAgents ACCEPTING AGENTS AGAIN\033[0m";
        }
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            ::close(descriptor);
            delete socket;
            continue;
        }
        pendingSockets.append(socket);
        emit newConnection();
    }
}

void ZelvoServer::pauseAcceptingAfter(int error)
{
    // First of all: what follows may need a descriptor.
    releaseReserve();
    acceptNotifier->setEnabled(false);
    acceptRetryTimer->start();
    // Once until an agent is accepted again, not at every retry.
    if (!acceptPaused) {
        acceptPaused = true;
        qCWarning(zelvoLinkLog).nospace() << "\033[31mZelvoServer::acceptAgents CANNOT ACCEPT AGENTS: " << std::strerror(error)
                             << " - RETRYING EVERY " << acceptRetryMillis << " ms\033[0m";
    }
}

void ZelvoServer::onAcceptRetry()
{
    if (!isListening())
        return;
    if (holdReserve())
        acceptNotifier->setEnabled(true);
    else
        acceptRetryTimer->start();
}

// Agents may take every descriptor of the process. Holding a few back while
// accepting, and letting them go when accepting fails, leaves the emulator
// enough to store the images of the agents it already serves.
bool ZelvoServer::holdReserve()
{
    while (reserve.size() < reserveSize) {
        // Any descriptor serves; an eventfd needs no file system.
        const int descriptor = ::eventfd(0, EFD_CLOEXEC);
        if (descriptor < 0) {
            releaseReserve();
            return false;
        }
        reserve.append(descriptor);
    }
    return true;
}

void ZelvoServer::releaseReserve()
{
    for (const int descriptor : std::exchange(reserve, {}))
        ::close(descriptor);
}
