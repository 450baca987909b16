// Decodes arbitrary bytes as an agent's frame: a message is either a kind
// the emulator acts on or carries why it is none.

#include "FuzzCheck.h"
#include "ZelvoMessage.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray payload(reinterpret_cast<const char*>(data), int(size));
    const ZelvoMessage whole = ZelvoMessage::decode(payload);
    check(whole.payload == payload);
    check((whole.kind == ZelvoMessage::Kind::Invalid) == (whole.fault != ZelvoMessage::Fault::None));
    check(whole.kind == ZelvoMessage::Kind::Invalid || whole.action.commandType().size() > 0);
    if (whole.kind != ZelvoMessage::Kind::Invalid)
        check(ZelvoMessage::fromAction(whole.action).kind == whole.kind);
    return 0;
}
