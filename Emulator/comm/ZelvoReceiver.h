#pragma once

#include "ZelvoMessage.h"
#include "util/ZelvoImageWriter.h"
#include "util/ZelvoOrderedWork.h"

#include <QByteArray>
#include <QList>
#include <QObject>

#include <memory>

class ZelvoInboxBudget;
class ZelvoServer;

// The inbox of one agent connection: its messages, in the order its frames
// came, each decoded into a ZelvoMessage. A large
// frame is decoded on a pool thread, a configuration's pictures are stored
// on the picture writer's; each message takes effect on this object's
// thread once it and every message before it is ready, so that content
// finds the pictures configured before it. Nothing here ever waits.
//
// Full (a large frame or many small ones not yet taken effect), the
// connection reads no further frame: the agent's bytes wait in the kernel.
// It is full too while its next frame waits for room in the budget of
// all agents' inboxes (ZelvoInboxBudget); its connection then reads no byte
// of that frame's payload.
class ZelvoReceiver final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoReceiver)

public:
    // A message ready to take effect, with what became of its pictures.
    struct Step
    {
        ZelvoMessage message;
        ZelvoImageWriter::Configuration stored;
        // The frame's bytes, which the inbox held until now.
        qint64 size = 0;
    };

    // pictures stores the configurations' pictures, on its own pool.
    ZelvoReceiver(ZelvoServer* server, ZelvoImageWriter* pictures, QObject* parent = nullptr);
    ~ZelvoReceiver() override;

    void onDataReceived(const QByteArray& payload);
    // The connection has begun a frame of this many bytes (0: none any
    // more); the budget may hold its reading back until there is room.
    void onFrameAnnounced(qint64 bytes);
    // Drops every message not yet taken effect; what their jobs return
    // later is ignored.
    void cancel();

    bool isEmpty() const { return decoding.pending() + storing.pending() == 0; }
    bool isFull() const;

signals:
    // A frame is decoded, in the order of frames: before its message
    // takes effect, and whether it is one or not.
    void decoded(const ZelvoMessage& message);
    void ready(const ZelvoReceiver::Step& step);
    void fullChanged(bool full);
    void emptied();

private:
    void onDecoded(ZelvoMessage message, qint64 size);
    void onActionReceived(Step step);
    void updateFull();
    void updateHeld();

    ZelvoServer* server = nullptr;
    ZelvoImageWriter* pictures = nullptr;
    std::shared_ptr<ZelvoInboxBudget> budget;
    int budgetNumber = 0;
    qint64 readingBytes = 0;
    qint64 pendingBytes = 0;
    bool full = false;
    ZelvoOrderedWork<Step> storing;
    ZelvoOrderedWork<Step> decoding;
};
