#pragma once

namespace ZelvoBackground {

// Lowers the calling thread's scheduling priority, once per thread: work
// that can lag (encoding a recording's frames) then yields the cores to
// the window and the agents' messages, whose delays an agent sees. Linux
// only; elsewhere it does nothing.
void lowerCurrentThread();

} // namespace ZelvoBackground
