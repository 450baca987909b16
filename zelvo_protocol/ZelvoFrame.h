#pragma once

#include <QByteArray>
#include <QtGlobal>

// The agent protocol's frame, in both directions: a 4-byte big-endian length
// (signed, not counting itself), then that many payload bytes. No magic,
// version or terminator; frames follow one another directly.
namespace ZelvoFrame {

constexpr int headerSize = 4;

// Nothing an agent legitimately sends comes near this; a larger announced
// length is skipped instead of buffered, so one hostile prefix cannot make
// the emulator hold gigabytes.
constexpr qint64 maxPayloadSize = 64 * 1024 * 1024;

// What the frames in progress of all agents together may hold. Room for a
// few frames of the largest size at once; beyond it the agent whose frame
// would grow is closed, so that agents announcing large frames and sending
// them slowly, or never, cannot exhaust the emulator's memory.
constexpr qint64 unfinishedFramesBudget = 4 * maxPayloadSize;

// An agent that sends nothing for this long in the middle of a frame is
// closed: its frame would otherwise hold its part of the budget for ever.
constexpr int frameStallMillis = 60 * 1000;

// What the TCP socket reads ahead of the frames handed on. Each turn of the
// event loop takes at most this much from the kernel, so that a frame of
// megabytes arrives in slices between which the window, the control channel
// and the other agents are served. Beyond it the agent's bytes wait in the
// kernel: while complete frames wait for their turn (see framesPerTurn), or
// while the agent's frames are held, TCP slows down an agent that sends
// faster than the emulator handles them.
constexpr qint64 readAheadSize = 1024 * 1024;

// Complete frames handed on in one turn of the event loop; the rest follow
// in the next turns, so that a burst of one agent does not keep the other
// agents, the control channel and the window waiting.
constexpr int framesPerTurn = 64;

// Output that an agent has not read yet. Events are small: an agent this
// far behind does not read at all, and keeping its queue would grow the
// emulator without bound. The agent is closed instead.
constexpr qint64 maxUnsentSize = 4 * 1024 * 1024;

// The header followed by the payload.
QByteArray encode(const QByteArray& payload);

// The length announced by the headerSize bytes at header, sign-extended.
qint64 payloadSize(const char* header);

} // namespace ZelvoFrame
