#pragma once

#include <QtGlobal>

#include <functional>
#include <map>

// What the inboxes of one server's agent connections hold together: the
// frame each is reading, its frames read and waiting to take effect, and
// the values those decode to. A frame counts whole from its header on: an
// inbox reads a frame larger than a small one only once the whole fits
// within the limit beside what the others hold (or nothing but small
// frames is held), its agent's bytes waiting in the kernel meanwhile, in
// the order the frames began. Small frames are always read, so that an
// agent sending them is served meanwhile. No inbox is closed for it.
class ZelvoInboxBudget final
{
    Q_DISABLE_COPY_MOVE(ZelvoInboxBudget)

public:
    static constexpr qint64 defaultLimit = 256 * 1024 * 1024;
    // A frame holds its bytes and, once decoded, its text again as UTF-16
    // (two bytes a character): it counts three times its size from its
    // header on, so that its decoding never passes the limit.
    static constexpr int decodedFactor = 3;

    explicit ZelvoInboxBudget(qint64 limit = defaultLimit);

    // An inbox takes part; pausedChanged runs whenever the budget pauses
    // or resumes its reading. Returns its number for the calls below.
    int join(std::function<void()> pausedChanged);
    void leave(int inbox);
    // The inbox is reading a frame announced reading bytes long (0: none),
    // and holds read bytes of frames complete and not yet taken effect.
    void hold(int inbox, qint64 reading, qint64 read);
    // Its frame waits to be counted, unread.
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
        // When its frame began to wait; 0 while it does not.
        quint64 waitingSince = 0;
        bool paused = false;
        std::function<void()> pausedChanged;
    };

    // A frame waiting for room is not counted until it has it.
    qint64 counted(const Inbox& inbox) const { return inbox.read + (inbox.waitingSince ? 0 : inbox.reading); }
    void admit();
    void setPaused(Inbox& inbox, bool paused);

    std::map<int, Inbox> inboxes;
    qint64 limitBytes = 0;
    qint64 heldBytes = 0;
    qint64 peakBytes = 0;
    quint64 frames = 0;
    int waitingCount = 0;
    int joined = 0;
};
