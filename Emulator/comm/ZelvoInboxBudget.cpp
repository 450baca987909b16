#include "comm/ZelvoInboxBudget.h"

#include <utility>

namespace {

// A frame read without waiting for room: it is decoded and takes effect in
// the turn it arrives, and its agent should not wait for another agent's
// pictures. It is also the most an inbox holds before it stops reading by
// itself (see ZelvoReceiver).
constexpr qint64 smallFrameBytes = 512 * 1024 * ZelvoInboxBudget::decodedFactor;

} // namespace

ZelvoInboxBudget::ZelvoInboxBudget(qint64 limit)
    : limitBytes(limit)
{
}

int ZelvoInboxBudget::join(std::function<void()> pausedChanged)
{
    inboxes[++joined].pausedChanged = std::move(pausedChanged);
    return joined;
}

void ZelvoInboxBudget::leave(int inbox)
{
    const auto found = inboxes.find(inbox);
    if (found == inboxes.end())
        return;
    // Gone before the others resume: its owner is being destroyed.
    heldBytes -= counted(found->second);
    if (found->second.waitingSince)
        --waitingCount;
    inboxes.erase(found);
    admit();
}

void ZelvoInboxBudget::hold(int inbox, qint64 reading, qint64 read)
{
    const auto found = inboxes.find(inbox);
    if (found == inboxes.end())
        return;
    Inbox& held = found->second;
    reading *= decodedFactor;
    heldBytes -= counted(held);
    if (reading != held.reading) {
        // A frame began, or the one being read is complete or dropped.
        if (held.waitingSince)
            --waitingCount;
        held.waitingSince = 0;
        held.reading = reading;
        if (reading > smallFrameBytes) {
            held.waitingSince = ++frames;
            ++waitingCount;
        }
    }
    held.read = read * decodedFactor;
    heldBytes += counted(held);
    admit();
    setPaused(held, held.waitingSince != 0);
    peakBytes = qMax(peakBytes, heldBytes);
}

bool ZelvoInboxBudget::isPaused(int inbox) const
{
    const auto found = inboxes.find(inbox);
    return found != inboxes.end() && found->second.paused;
}

// The frame that began first goes first, so that a large one is not passed
// for ever by smaller ones that fit. One frame larger than the limit is
// read once nothing but small frames is held beside it.
void ZelvoInboxBudget::admit()
{
    while (waitingCount > 0) {
        Inbox* first = nullptr;
        for (auto& [number, inbox] : inboxes) {
            if (inbox.waitingSince && (!first || inbox.waitingSince < first->waitingSince))
                first = &inbox;
        }
        if (!first || (heldBytes + first->reading > limitBytes && heldBytes > smallFrameBytes))
            break;
        first->waitingSince = 0;
        --waitingCount;
        heldBytes += first->reading;
        setPaused(*first, false);
    }
}

void ZelvoInboxBudget::setPaused(Inbox& inbox, bool paused)
{
    if (inbox.paused == paused)
        return;
    inbox.paused = paused;
    inbox.pausedChanged();
}
