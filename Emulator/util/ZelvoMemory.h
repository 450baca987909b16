#pragma once

namespace ZelvoMemory {

// Blocks of a megabyte and more (a frame's buffer, its decoded text, a
// picture) come from the system and go back to it when freed. The C
// library otherwise raises that threshold to the largest block freed and
// keeps later ones in heaps of its own threads, which a burst of large
// frames leaves the emulator holding for good. For the program's start,
// before any thread runs.
void returnLargeBlocks();

// Hands the memory that large, finished work freed back to the system.
// The C library keeps freed memory below the top of its heap for reuse,
// so a burst (a trace of millions of readings, the answers a client left
// unread) would otherwise keep the emulator large after it ended.
void giveBack();

// The same, once the event loop next runs: many endings in one pass (all
// the agents of a test leaving at once) hand back once, after each freed
// its part. For the thread that runs the event loop.
void giveBackSoon();

} // namespace ZelvoMemory
