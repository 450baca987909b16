#include "ZelvoFrameReader.h"

#include "ZelvoFrame.h"
#include "ZelvoFrameBudget.h"
#include "ZelvoLog.h"

#include <QDebug>
#include <QIODevice>

#include <cstring>
#include <new>
#include <utility>

namespace {

struct Bytes
{
    const char* data;
    qint64 left;
};

qint64 takeBytes(void* source, char* into, qint64 count)
{
    auto* bytes = static_cast<Bytes*>(source);
    count = qMin(count, bytes->left);
    if (into)
        std::memcpy(into, bytes->data, size_t(count));
    bytes->data += count;
    bytes->left -= count;
    return count;
}

qint64 takeFromDevice(void* source, char* into, qint64 count)
{
    auto* device = static_cast<QIODevice*>(source);
    return into ? device->read(into, count) : device->skip(count);
}

} // namespace

ZelvoFrameReader::ZelvoFrameReader(std::shared_ptr<ZelvoFrameBudget> budget)
    : budget(budget ? std::move(budget) : std::make_shared<ZelvoFrameBudget>())
{
}

ZelvoFrameReader::~ZelvoFrameReader()
{
    clear();
}

bool ZelvoFrameReader::append(const QByteArray& bytes)
{
    Bytes source{bytes.constData(), bytes.size()};
    while (source.left > 0) {
        if (!consume(&source, &takeBytes, source.left))
            return false;
    }
    return true;
}

bool ZelvoFrameReader::readFrom(QIODevice* device)
{
    return consume(device, &takeFromDevice, device->bytesAvailable());
}

qint64 ZelvoFrameReader::bytesWanted() const
{
    return remaining > 0 ? remaining : ZelvoFrame::headerSize - header.size();
}

bool ZelvoFrameReader::consume(void* source, Source take, qint64 available)
{
    const qint64 count = qMin(available, bytesWanted());
    if (count <= 0)
        return true;
    if (remaining == 0) {
        const int collected = header.size();
        header.resize(collected + int(count));
        header.resize(collected + int(qMax<qint64>(take(source, header.data() + collected, count), 0)));
        if (header.size() == ZelvoFrame::headerSize)
            startFrame();
        return true;
    }
    qint64 taken = 0;
    if (skipping) {
        taken = take(source, nullptr, count);
    } else {
        if (!reserveFor(count))
            return false;
        // Straight into the frame's buffer, without a temporary array.
        const int collected = buffer.size();
        buffer.resize(collected + int(count));
        taken = take(source, buffer.data() + collected, count);
        buffer.resize(collected + int(qMax<qint64>(taken, 0)));
        copied += qMax<qint64>(taken, 0);
    }
    if (taken > 0) {
        remaining -= taken;
        if (remaining == 0)
            finishFrame();
    }
    return true;
}

void ZelvoFrameReader::startFrame()
{
    qCDebug(zelvoLinkLog).nospace() << "readPkg READED SIZE    <<<<<< " << header.toHex();
    for (int i = 0; i < ZelvoFrame::headerSize; ++i) {
        qCDebug(zelvoLinkLog).nospace() << "readPkg READED SIZE[" << i << "] <<<<<< "
                                    << int(quint8(header.at(ZelvoFrame::headerSize - 1 - i)));
    }
    packetSize = ZelvoFrame::payloadSize(header.constData());
    header.clear();
    qCDebug(zelvoLinkLog).nospace() << "readPkg READED SIZE <<<<<< " << packetSize;
    // A negative length (top bit set) announces no payload: the frame is
    // complete at once and the next 4 bytes are the next header.
    remaining = qMax<qint64>(packetSize, 0);
    skipping = packetSize > ZelvoFrame::maxPayloadSize;
    if (skipping) {
        qCWarning(zelvoLinkLog).nospace() << "\033[31mZelvoSocket::readPkg FRAME OF " << packetSize
                             << " BYTES IS OVER THE LIMIT OF " << ZelvoFrame::maxPayloadSize
                             << " BYTES, SKIPPING IT\033[0m";
    }
    if (remaining == 0)
        finishFrame();
}

// The buffer grows with the bytes that arrived, not with the length that
// the header announced: a header alone costs nothing. Doubling keeps the
// copies linear, and the frame's own length caps it, so that the payload
// handed on holds no slack. Past half the cap it takes the cap at once: one
// more doubling, cut short by the cap, would grow it again for the last few
// bytes. A large buffer is a block of its own from the system (see
// ZelvoMemory), which the C library grows by moving its pages, not by
// copying them, so that growing never holds the reading thread for long.
bool ZelvoFrameReader::reserveFor(qint64 count)
{
    const qint64 held = buffer.capacity();
    const qint64 needed = buffer.size() + count;
    if (needed <= held)
        return true;
    const qint64 cap = buffer.size() + remaining;
    qint64 wanted = qMin(qMax(needed, 2 * held), cap);
    if (2 * wanted > cap)
        wanted = cap;
    if (!budget->allows(held, wanted)) {
        failure = QStringLiteral("ZelvoSocket::readPkg UNFINISHED FRAMES OF ALL AGENTS OVER %1 BYTES").arg(budget->limit());
        clear();
        return false;
    }
    try {
        buffer.reserve(int(wanted));
    } catch (const std::bad_alloc&) {
        failure = QStringLiteral("ZelvoSocket::readPkg NO MEMORY FOR A FRAME OF %1 BYTES").arg(packetSize);
        clear();
        return false;
    }
    budget->change(held, buffer.capacity());
    copied += buffer.size();
    return true;
}

void ZelvoFrameReader::finishFrame()
{
    remaining = 0;
    if (skipping) {
        skipping = false;
        return;
    }
    budget->change(buffer.capacity(), 0);
    payloads.append(std::exchange(buffer, QByteArray()));
}

void ZelvoFrameReader::clear()
{
    budget->change(buffer.capacity(), 0);
    buffer = QByteArray();
    header.clear();
    remaining = 0;
    skipping = false;
}
