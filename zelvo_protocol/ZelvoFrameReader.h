#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <memory>

class QIODevice;
class ZelvoFrameBudget;

// Cuts a byte stream into the payloads of its frames (see ZelvoFrame): bytes
// go in as they arrive, in pieces of any size, and complete payloads come
// out in order. A frame over ZelvoFrame::maxPayloadSize is skipped with a
// warning instead of held. The frames in progress of the readers that share
// a budget stay within it; a reader whose frame would pass it fails, and its
// owner ends the stream.
class ZelvoFrameReader final
{
    Q_DISABLE_COPY_MOVE(ZelvoFrameReader)

public:
    // Without a budget to share, the reader has one of its own.
    explicit ZelvoFrameReader(std::shared_ptr<ZelvoFrameBudget> budget = nullptr);
    ~ZelvoFrameReader();

    // Takes all bytes. False when a frame cannot be held: error() says why,
    // the frame in progress is dropped, and the bytes after it are not read.
    bool append(const QByteArray& bytes);
    // Takes what the device has of the frame in progress, its header or its
    // payload and never more, so that the next frame waits in the device;
    // payloads are read without an extra copy.
    bool readFrom(QIODevice* device);

    // What the frame in progress lacks: the rest of its header, or of its
    // payload (to be skipped or kept).
    qint64 bytesWanted() const;
    // A frame has begun and is not complete yet.
    bool inFrame() const { return !header.isEmpty() || remaining > 0; }
    // The length the last header announced.
    qint64 announcedSize() const { return packetSize; }

    bool hasPayload() const { return !payloads.isEmpty(); }
    QByteArray takePayload() { return payloads.takeFirst(); }

    // Bytes copied so far: into the buffer as they arrived, and the buffer
    // itself each time it grew (an upper bound: the C library moves a large
    // block's pages rather than its bytes). However the bytes were cut, at
    // most twice what was read: for tests that reading stays linear in a
    // frame's size.
    qint64 bytesCopied() const { return copied; }

    QString error() const { return failure; }
    // Drops the frame in progress and gives its memory back to the budget.
    void clear();

private:
    using Source = qint64 (*)(void* source, char* into, qint64 count);
    bool consume(void* source, Source take, qint64 count);
    void startFrame();
    bool reserveFor(qint64 count);
    void finishFrame();

    QByteArray header;
    // The payload of the frame in progress, as far as it has arrived.
    QByteArray buffer;
    QList<QByteArray> payloads;
    QString failure;
    qint64 packetSize = 0;
    qint64 remaining = 0;
    qint64 copied = 0;
    bool skipping = false;

    // Holds the capacity of the frame's buffer; shared, so that it outlives
    // whichever of its readers goes last.
    std::shared_ptr<ZelvoFrameBudget> budget;
};
