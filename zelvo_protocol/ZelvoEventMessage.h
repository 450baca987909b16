#pragma once

#include <QByteArray>
#include <QString>

// The payload of an event frame, the one message the emulator sends to
// agents: its indented JSON, byte for byte the form the glasses send.
namespace ZelvoEventMessage {

// For an event of the given kind; appId and contentId name the content on
// the display, "" and -1 for none.
QByteArray encode(int type, const float (&values)[4], const QString& appId, int contentId);

} // namespace ZelvoEventMessage
