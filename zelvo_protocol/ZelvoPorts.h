#pragma once

#include <QtGlobal>

// Where the emulator listens, unless told otherwise.
namespace ZelvoPorts {

// Agents connect here, from this machine or another one.
constexpr quint16 agent = 2000;
// The control channel for scripts, on the loopback address only.
constexpr quint16 control = 2001;

} // namespace ZelvoPorts
