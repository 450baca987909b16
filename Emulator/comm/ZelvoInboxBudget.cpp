#include "comm/ZelvoInboxBudget.h"

#include <utility>

namespace {

// What an inbox may hold and still read past the limit: a small frame is
// decoded and takes effect in the turn it arrives, and its agent should not
// wait for another agent's pictures. It is also the most an inbox holds
// before it stops reading by itself (see ZelvoReceiver).
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
    const Inbox left = std::move(found->second);
    inboxes.erase(found);
    heldBytes -= left.reading + left.read;
    readingBytes -= left.reading;
    if (left.paused)
        --pausedCount;
    rebalance();
}

void ZelvoInboxBudget::hold(int inbox, qint64 reading, qint64 read)
{
    const auto found = inboxes.find(inbox);
    if (found == inboxes.end())
        return;
    Inbox& held = found->second;
    reading *= decodedFactor;
    read *= decodedFactor;
    heldBytes += reading + read - held.reading - held.read;
    readingBytes += reading - held.reading;
    held.reading = reading;
    held.read = read;
    peakBytes = qMax(peakBytes, heldBytes);
    rebalance();
}

bool ZelvoInboxBudget::isPaused(int inbox) const
{
    const auto found = inboxes.find(inbox);
    return found != inboxes.end() && found->second.paused;
}

void ZelvoInboxBudget::rebalance()
{
    // Within the limit and nobody paused: every frame of every agent comes
    // by here, so the common case is decided at once.
    const bool over = heldBytes >= limitBytes;
    if (!over && pausedCount == 0)
        return;
    // Frames still being read that reach the limit by themselves would
    // never complete with all their readers paused, and nothing else would
    // free a byte: the inbox furthest into its frame reads on alone.
    int furthest = 0;
    if (over && readingBytes >= limitBytes) {
        qint64 most = 0;
        for (const auto& [number, inbox] : inboxes) {
            if (inbox.reading > most) {
                most = inbox.reading;
                furthest = number;
            }
        }
    }
    for (auto& [number, inbox] : inboxes) {
        const bool paused = over && number != furthest && inbox.reading + inbox.read > smallFrameBytes;
        if (paused == inbox.paused)
            continue;
        inbox.paused = paused;
        pausedCount += paused ? 1 : -1;
        inbox.pausedChanged();
    }
}
