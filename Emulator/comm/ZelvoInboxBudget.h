#pragma once

#include <QtGlobal>

#include <functional>
#include <map>

// What the inboxes of one server's agent connections hold together: the
// frame each is reading, its frames read and waiting to take effect, and
// the values those decode to. Within the limit every inbox reads. Past it,
// the inboxes that hold more than a small frame stop reading, their agents'
// bytes waiting in the kernel, until taking effect brings the whole back
// under it; inboxes with little keep reading, so that an agent sending
// small frames is served meanwhile. No inbox is closed for it.
class ZelvoInboxBudget final
{
    Q_DISABLE_COPY_MOVE(ZelvoInboxBudget)

public:
    static constexpr qint64 defaultLimit = 256 * 1024 * 1024;
    // A frame holds its bytes and, once decoded, its text again as UTF-16
    // (two bytes a character): it counts three times its size from its
    // first byte on, so that its decoding never passes the limit.
    static constexpr int decodedFactor = 3;

    explicit ZelvoInboxBudget(qint64 limit = defaultLimit);

    // An inbox takes part; pausedChanged runs whenever the budget pauses
    // or resumes its reading. Returns its number for the calls below.
    int join(std::function<void()> pausedChanged);
    void leave(int inbox);
    // The inbox now holds reading bytes of a frame not yet complete and
    // read bytes of frames complete and not yet taken effect.
    void hold(int inbox, qint64 reading, qint64 read);
    bool isPaused(int inbox) const;

    // For tests: a change applies at the next hold().
    void setLimit(qint64 bytes) { limitBytes = bytes; }
    qint64 limit() const { return limitBytes; }
    // What all inboxes hold now, and the most they held at once, counted
    // as decoded.
    qint64 held() const { return heldBytes; }
    qint64 peak() const { return peakBytes; }

private:
    struct Inbox
    {
        qint64 reading = 0;
        qint64 read = 0;
        bool paused = false;
        std::function<void()> pausedChanged;
    };

    void rebalance();

    std::map<int, Inbox> inboxes;
    qint64 limitBytes = 0;
    qint64 heldBytes = 0;
    qint64 readingBytes = 0;
    qint64 peakBytes = 0;
    int pausedCount = 0;
    int joined = 0;
};
