#include "comm/ZelvoReceiver.h"

#include "ZelvoFrame.h"
#include "comm/ZelvoAgentSink.h"
#include "comm/ZelvoInboxBudget.h"
#include "comm/ZelvoServer.h"
#include "ZelvoLog.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThreadPool>

#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace {

// Below this a frame is decoded at once: the round trip to a pool thread
// would cost more than it saves. It is also what an inbox holds before it
// stops reading, so that a frame of pictures waits alone, as the memory
// of unfinished frames is bounded.
constexpr qint64 offThreadBytes = 512 * 1024;

} // namespace

ZelvoReceiver::ZelvoReceiver(ZelvoServer* server, ZelvoImageWriter* pictures, QObject* parent)
    : QObject(parent)
    , server(server)
    , pictures(pictures)
    , budget(server->inboxBudget())
    , budgetNumber(budget->join([this] { updateFull(); }))
    , storing(
          this, [this](Step step) { onActionReceived(std::move(step)); }, pictures->pool())
    , decoding(this, [this](Step step) { onDecoded(std::move(step.message), step.size); })
{
}

ZelvoReceiver::~ZelvoReceiver()
{
    qCDebug(zelvoLinkLog) << "Invoked Destructor of ZelvoReceiver";
    budget->leave(budgetNumber);
}

void ZelvoReceiver::onDataReceived(const QByteArray& payload)
{
    const qint64 size = payload.size();
    qCDebug(zelvoLinkLog).nospace() << "ZelvoReceiver::onDataReceived cmd [dataSize:" << size << "]";
    readingBytes = 0;
    pendingBytes += size;
    // The common case, a small frame with nothing before it, takes effect
    // at once, without a turn through the queues.
    if (size < offThreadBytes && decoding.isIdle())
        onDecoded(ZelvoMessage::decode(payload), size);
    else if (size < offThreadBytes)
        decoding.add({ZelvoMessage::decode(payload), {}, size});
    else
        decoding.run([payload, size] { return Step{ZelvoMessage::decode(payload), {}, size}; });
    updateHeld();
}

void ZelvoReceiver::onFrameAnnounced(qint64 bytes)
{
    readingBytes = bytes;
    updateHeld();
}

void ZelvoReceiver::cancel()
{
    decoding.cancel();
    storing.cancel();
    pendingBytes = 0;
    updateHeld();
}

bool ZelvoReceiver::isFull() const
{
    return pendingBytes >= offThreadBytes || decoding.pending() + storing.pending() >= ZelvoFrame::framesPerTurn
        || budget->isPaused(budgetNumber);
}

void ZelvoReceiver::onDecoded(ZelvoMessage message, qint64 size)
{
    qCDebug(zelvoLinkLog) << "\033[95mZelvoReceiver::dataReceived ~~~DESERIALIZATION~~~ RET:" << false << "\033[0m";
    // Re-serialising megabytes of images costs more than parsing them, on
    // the window's thread: a large frame shows its beginning as it came.
    // qCDebug skips both when nobody would see the line.
    qCDebug(zelvoLinkLog) << "\033[95mZelvoReceiver::dataReceived ~~~DESERIALIZATION~~~ JSON:"
                          << ZelvoLog::payload(size < offThreadBytes
                                                   ? QJsonDocument(QJsonObject::fromVariantMap(message.action.args))
                                                         .toJson(QJsonDocument::Indented)
                                                   : message.payload)
                          << "\033[0m";
    if (message.action.args.isEmpty())
        qCDebug(zelvoLinkLog) << "\033[94mZelvoReceiver::onDataReceived ---:> INVALID ACTION!!!\033[0m";
    else
        qCDebug(zelvoLinkLog) << "mZelvoReceiver::onDataReceived ---:> Valid ACTION!!!";
    emit decoded(message);
    if (message.kind != ZelvoMessage::Kind::AgentConfig && storing.isIdle()) {
        onActionReceived({std::move(message), {}, size});
        return;
    }
    if (message.kind != ZelvoMessage::Kind::AgentConfig) {
        storing.add({std::move(message), {}, size});
        return;
    }
    ZelvoImageWriter::Job store = ZelvoAgentSink::pictureJob(server->agentSink(), *pictures,
                                                             message.agentConfig.agentHash, message.agentConfig.images);
    // The frame's bytes go on the pool as its job begins: letting tens of
    // megabytes go back to the system held the window's thread for 10 ms
    // and more.
    storing.run([store = std::move(store), message = std::move(message), size]() mutable {
        message.payload.clear();
        return Step{std::move(message), store(), size};
    });
}

void ZelvoReceiver::onActionReceived(Step step)
{
    if (!step.message.action.args.isEmpty())
        qCDebug(zelvoLinkLog) << "ZelvoReceiver::onActionReceived COMMAND" << step.message.action.commandType();
    pendingBytes -= step.size;
    updateHeld();
    emit ready(step);
    // A large frame's last copy (a configuration's pictures as text, twice
    // the frame's size) goes on a pool thread: handing tens of megabytes
    // back to the system holds a thread for milliseconds.
    if (step.size >= offThreadBytes) {
        // Handed over under the pool's hand-off lock, which the thread
        // sanitizer sees where it cannot see Qt's own; let go outside it,
        // so that the window's thread never waits for the freeing.
        auto dropped = std::make_shared<std::optional<Step>>(std::move(step));
        const std::lock_guard<std::mutex> handing(ZelvoOrderedWorkPrivate::handOff());
        pictures->pool()->start([dropped] {
            std::optional<Step> last;
            {
                const std::lock_guard<std::mutex> taking(ZelvoOrderedWorkPrivate::handOff());
                last.swap(*dropped);
            }
        });
    }
    if (isEmpty())
        emit emptied();
}

void ZelvoReceiver::updateHeld()
{
    budget->hold(budgetNumber, readingBytes, pendingBytes);
    updateFull();
}

void ZelvoReceiver::updateFull()
{
    if (isFull() == full)
        return;
    full = !full;
    emit fullChanged(full);
}
