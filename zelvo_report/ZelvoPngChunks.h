#pragma once

#include <QByteArray>
#include <QSize>
#include <QVector>

// The chunks of a PNG file: read, made with their checksum, and the frames
// of an animated PNG taken apart into PNG pictures of their own. Every
// frame of the display recording covers the whole picture and replaces the
// last, so that each stands alone as a PNG with the file's header.
class ZelvoPngChunks
{
public:
    struct Chunk
    {
        QByteArray type;
        QByteArray data;
    };

    struct Frame
    {
        QByteArray png;
        // The animation's width and height, which every frame covers.
        QSize size;
        // From the start of the animation.
        qint64 startMillis = 0;
        // The record after which the display recording saw it; -1 where it
        // does not say.
        qint64 shownAfter = -1;
    };

    static const QByteArray signature;
    // The display recording's notes: when its first frame was shown (ms
    // since 1970 on the device clock), and before each frame the record it
    // was shown after, so that a report lines them up with the records.
    static const QByteArray shownAtKeyword;
    static const QByteArray shownAfterKeyword;

    // The chunks of png, or false when it is not a whole PNG file.
    static bool read(const QByteArray& png, QVector<Chunk>* chunks);
    // A chunk as it stands in the file: length, type, data and checksum.
    static QByteArray chunk(const char* type, const QByteArray& data);
    // Type, data and checksum, without the length: what is rewritten in place.
    static QByteArray chunkBody(const char* type, const QByteArray& data);
    static quint32 crc(const QByteArray& bytes);

    // The frames of an animated PNG (a plain PNG is one frame), each a PNG
    // of its own; false with why when it is neither. An animation cut off
    // by a kill keeps its whole frames.
    static bool frames(const QByteArray& animation, QVector<Frame>* frames, QString* error);
    // The text of png's tEXt chunk with that keyword; empty when there is none.
    static QByteArray text(const QByteArray& png, const QByteArray& keyword);
    static QByteArray textChunk(const QByteArray& keyword, const QByteArray& value);
};
