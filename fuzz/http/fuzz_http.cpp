// Reads arbitrary bytes as the head of a request, whole and as it grows a
// piece at a time: a prefix of a head is never complete, and once the
// bytes hold a whole head every longer prefix reads to the same request.

#include "web/ZelvoHttpRequest.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    ZelvoHttpRequest whole;
    const ZelvoHttpRequest::Status status = whole.read(bytes);
    check(whole.headSize() <= ZelvoHttpRequest::maxHeadBytes);
    if (status == ZelvoHttpRequest::Status::Complete) {
        check(whole.headSize() > 0 && whole.headSize() <= bytes.size());
        check(whole.path().startsWith('/'));
        whole.queryValue("token");
        whole.isWebSocketUpgrade();
        // The head alone reads the same, and any prefix of it is not whole.
        ZelvoHttpRequest head;
        check(head.read(bytes.left(whole.headSize())) == ZelvoHttpRequest::Status::Complete);
        check(head.method() == whole.method() && head.path() == whole.path()
              && head.field("host") == whole.field("host") && head.queryValue("token") == whole.queryValue("token"));
        ZelvoHttpRequest part;
        check(part.read(bytes.left(whole.headSize() - 1)) != ZelvoHttpRequest::Status::Complete);
    }
    if (status == ZelvoHttpRequest::Status::Incomplete)
        check(bytes.size() < ZelvoHttpRequest::maxHeadBytes);
    return 0;
}
