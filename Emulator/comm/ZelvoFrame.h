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

// The header followed by the payload.
QByteArray encode(const QByteArray& payload);

// The length announced by the headerSize bytes at header, sign-extended.
qint64 payloadSize(const char* header);

} // namespace ZelvoFrame
