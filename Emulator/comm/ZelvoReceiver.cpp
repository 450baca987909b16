#include "comm/ZelvoReceiver.h"

#include "ZelvoAction.h"
#include "ZelvoFrameReader.h"
#include "clock/ZelvoClock.h"
#include "comm/ZelvoConnection.h"
#include "comm/ZelvoServer.h"
#include "ZelvoJson.h"
#include "ZelvoLog.h"

#include <QDebug>
#include <QFutureWatcher>
#include <QtConcurrent>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {

// Below this a frame is parsed at once: the round trip to a pool thread
// would cost more than it saves.
constexpr int offThreadParseBytes = 512 * 1024;

} // namespace

ZelvoReceiver::ZelvoReceiver(ZelvoConnection* connection)
    : connection(connection)
{
}

ZelvoReceiver::~ZelvoReceiver()
{
    qCDebug(zelvoLinkLog) << "Invoked Destructor of ZelvoReceiver";
}

struct ZelvoReceiver::Parsed
{
    QByteArray data;
    QJsonDocument document;
    QJsonParseError error{};
    QVariantMap args;
};

ZelvoReceiver::Parsed ZelvoReceiver::parse(const QList<QByteArray>& slices)
{
    Parsed parsed;
    parsed.data = ZelvoFrameReader::join(slices);
    parsed.document = ZelvoJson::parse(parsed.data, &parsed.error);
    parsed.args = parsed.document.object().toVariantMap();
    return parsed;
}

void ZelvoReceiver::onDataReceived(const QList<QByteArray>& slices)
{
    const qint64 size = ZelvoFrameReader::size(slices);
    qCDebug(zelvoLinkLog).nospace() << "ZelvoReceiver::onDataReceived cmd [dataSize:" << size << "]";
    if (size < offThreadParseBytes) {
        handle(parse(slices));
        return;
    }
    // Joining and parsing megabytes of pictures would hold the window and
    // every other agent; the connection's later frames wait for it instead,
    // in order. The watcher goes with this receiver, and what it would
    // deliver with it.
    connection->holdFrames();
    auto* watcher = new QFutureWatcher<Parsed>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        handle(watcher->result());
        watcher->deleteLater();
        connection->releaseFrames();
    });
    watcher->setFuture(QtConcurrent::run(&ZelvoReceiver::parse, slices));
}

void ZelvoReceiver::handle(const Parsed& parsed)
{
    // A frame comes after every timer due by now, however the bytes were
    // cut: one write of two contents is two contents a moment apart.
    connection->server->clock()->catchUp();
    const QByteArray& data = parsed.data;
    const QJsonDocument& document = parsed.document;
    const QJsonParseError& parseError = parsed.error;
    qCDebug(zelvoLinkLog) << "\033[95mZelvoReceiver::dataReceived ~~~DESERIALIZATION~~~ RET:" << false << "\033[0m";
    // Re-serialising megabytes of images costs more than parsing them, on
    // the window's thread: a large frame shows its beginning as it came.
    // qCDebug skips both when nobody would see the line.
    qCDebug(zelvoLinkLog) << "\033[95mZelvoReceiver::dataReceived ~~~DESERIALIZATION~~~ JSON:"
                          << ZelvoLog::payload(data.size() < offThreadParseBytes
                                                   ? document.toJson(QJsonDocument::Indented) : data)
                          << "\033[0m";
    const ZelvoAction action(parsed.args);
    if (action.args.isEmpty()) {
        qCDebug(zelvoLinkLog) << "\033[94mZelvoReceiver::onDataReceived ---:> INVALID ACTION!!!\033[0m";
        const ZelvoRecord::Reason reason = parseError.error != QJsonParseError::NoError ? ZelvoRecord::Reason::NotJson
            : !document.isObject()                                                  ? ZelvoRecord::Reason::NotObject
                                                                                     : ZelvoRecord::Reason::NoCommandType;
        connection->recordFrame(data, action, ZelvoRecord::Outcome::NoAction, reason);
        return;
    }
    connection->recordFrame(data, action);
    qCDebug(zelvoLinkLog) << "mZelvoReceiver::onDataReceived ---:> Valid ACTION!!!";
    onActionReceived(action);
}

void ZelvoReceiver::onActionReceived(const ZelvoAction& action)
{
    qCDebug(zelvoLinkLog) << "ZelvoReceiver::onActionReceived COMMAND" << action.commandType();
    connection->onActionReceived(action);
}
