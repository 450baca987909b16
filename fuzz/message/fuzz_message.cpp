// Decodes arbitrary bytes as an agent's frame, whole and in the slices a
// socket may read it in: both give the same message, and a message is
// either a kind the emulator acts on or carries why it is none.

#include "FuzzCheck.h"
#include "ZelvoMessage.h"

#include <QByteArray>
#include <QList>

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

    // The first byte says where to cut.
    const int cut = size > 0 ? int(data[0]) % (int(size) + 1) : 0;
    const ZelvoMessage sliced = ZelvoMessage::decode(QList<QByteArray>{payload.left(cut), payload.mid(cut)});
    check(sliced.kind == whole.kind && sliced.fault == whole.fault && sliced.action == whole.action);
    check(sliced.content.texts == whole.content.texts && sliced.timing.maxMillis == whole.timing.maxMillis);
    return 0;
}
