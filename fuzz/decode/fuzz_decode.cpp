// Decodes arbitrary bytes as a ZI file. Besides the sanitizers' findings, a
// decoded image that does not encode back to the input's pixel bytes (cut or
// zero-padded to the length its header announces) counts as a crash.
// Headers announcing more than a million pixels are skipped: most mutations
// of the header would otherwise spend the run filling 64 MiB pictures
// white. The decoder's test covers a 4095 x 4095 header.

#include "FuzzCheck.h"
#include "ZIImageUtil.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>

namespace {

constexpr qint64 maxPixels = 1 << 20;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // One log line per input would slow the fuzzer to a crawl.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // No copy: the sanitizer flags any read past the fuzzer's own buffer.
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size));
    const QSize dimensions = ZIImageUtil::ziDimensions(bytes);
    if (qint64(dimensions.width()) * dimensions.height() > maxPixels)
        return 0;
    const QImage image = ZIImageUtil::ziUncompress(bytes);

    if (bytes.size() < ZIImageUtil::minDecodeSize || dimensions.isEmpty()) {
        check(image.isNull());
        return 0;
    }
    check(image.size() == dimensions);

    const int byteCount = int(ZIImageUtil::ziByteCount(dimensions.width(), dimensions.height()));
    QByteArray expected = bytes.left(byteCount);
    expected.append(QByteArray(byteCount - expected.size(), '\0'));
    const int usedBits = int(qint64(dimensions.width()) * dimensions.height() % 8);
    if (usedBits != 0)
        expected[byteCount - 1] = char(quint8(expected.at(byteCount - 1)) & ((1 << usedBits) - 1));
    check(ZIImageUtil::ziEncode(image) == expected);
    return 0;
}
