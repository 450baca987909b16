// Reads arbitrary bytes as a stream of frames three ways: in one piece, in
// pieces whose sizes the first byte chooses, and from a device. All three
// must deliver the same payloads and stop at the same point of a frame.

#include "FuzzCheck.h"
#include "ZelvoFrameReader.h"

#include <QBuffer>
#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>

namespace {

QList<QByteArray> takeAll(ZelvoFrameReader& reader)
{
    QList<QByteArray> payloads;
    while (reader.hasPayload())
        payloads << reader.takePayload();
    return payloads;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // A skipped frame warns once per input.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const int step = data[0] % 16 + 1;
    const QByteArray stream(reinterpret_cast<const char*>(data) + 1, int(size - 1));

    ZelvoFrameReader joined;
    check(joined.append(stream));
    const QList<QByteArray> expected = takeAll(joined);

    ZelvoFrameReader split;
    QList<QByteArray> pieces;
    for (int offset = 0; offset < stream.size(); offset += step) {
        check(split.append(stream.mid(offset, step)));
        pieces << takeAll(split);
    }
    check(pieces == expected);
    check(split.inFrame() == joined.inFrame() && split.bytesWanted() == joined.bytesWanted());

    QByteArray bytes = stream;
    QBuffer device(&bytes);
    check(device.open(QIODevice::ReadOnly));
    ZelvoFrameReader fromDevice;
    QList<QByteArray> read;
    while (device.bytesAvailable() > 0) {
        check(fromDevice.readFrom(&device));
        read << takeAll(fromDevice);
    }
    check(read == expected);
    check(fromDevice.inFrame() == joined.inFrame() && fromDevice.bytesWanted() == joined.bytesWanted());
    return 0;
}
