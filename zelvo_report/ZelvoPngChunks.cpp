#include "ZelvoPngChunks.h"

#include <QString>
#include <QtEndian>

#include <array>
#include <utility>

namespace {

QByteArray bigEndian32(quint32 value)
{
    QByteArray bytes(4, Qt::Uninitialized);
    qToBigEndian(value, bytes.data());
    return bytes;
}

// The whole chunks from the start of png, however it ends; at is where
// the first incomplete one begins.
QVector<ZelvoPngChunks::Chunk> wholeChunks(const QByteArray& png, int* at)
{
    QVector<ZelvoPngChunks::Chunk> chunks;
    *at = ZelvoPngChunks::signature.size();
    while (*at + 12 <= png.size()) {
        const quint32 length = qFromBigEndian<quint32>(png.constData() + *at);
        if (length > quint32(png.size() - *at - 12))
            break;
        chunks.append({png.mid(*at + 4, 4), png.mid(*at + 8, int(length))});
        *at += 12 + int(length);
    }
    return chunks;
}

} // namespace

const QByteArray ZelvoPngChunks::signature("\x89PNG\r\n\x1a\n", 8);
const QByteArray ZelvoPngChunks::shownAtKeyword = "zelvo-shown-at";
const QByteArray ZelvoPngChunks::shownAfterKeyword = "zelvo-shown-after";

bool ZelvoPngChunks::read(const QByteArray& png, QVector<Chunk>* chunks)
{
    if (!png.startsWith(signature))
        return false;
    int at = 0;
    *chunks = wholeChunks(png, &at);
    return at == png.size() && !chunks->isEmpty() && chunks->first().type == "IHDR";
}

QByteArray ZelvoPngChunks::chunkBody(const char* type, const QByteArray& data)
{
    const QByteArray typed = QByteArray(type, 4) + data;
    return typed + bigEndian32(crc(typed));
}

QByteArray ZelvoPngChunks::chunk(const char* type, const QByteArray& data)
{
    return bigEndian32(quint32(data.size())) + chunkBody(type, data);
}

quint32 ZelvoPngChunks::crc(const QByteArray& bytes)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> entries{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            entries[n] = c;
        }
        return entries;
    }();
    quint32 c = 0xffffffffu;
    for (const char byte : bytes)
        c = table[(c ^ quint8(byte)) & 0xff] ^ (c >> 8);
    return c ^ 0xffffffffu;
}

QByteArray ZelvoPngChunks::textChunk(const QByteArray& keyword, const QByteArray& value)
{
    return chunk("tEXt", keyword + '\0' + value);
}

QByteArray ZelvoPngChunks::text(const QByteArray& png, const QByteArray& keyword)
{
    const QByteArray prefix = keyword + '\0';
    int at = 0;
    const QVector<Chunk> chunks = png.startsWith(signature) ? wholeChunks(png, &at) : QVector<Chunk>();
    for (const Chunk& each : chunks) {
        if (each.type == "tEXt" && each.data.startsWith(prefix))
            return each.data.mid(prefix.size());
    }
    return QByteArray();
}

bool ZelvoPngChunks::frames(const QByteArray& animation, QVector<Frame>* frames, QString* error)
{
    if (!animation.startsWith(signature)) {
        *error = QStringLiteral("it is no PNG picture");
        return false;
    }
    int at = 0;
    const QVector<Chunk> chunks = wholeChunks(animation, &at);
    if (chunks.isEmpty() || chunks.first().type != "IHDR" || chunks.first().data.size() != 13) {
        *error = QStringLiteral("it is no PNG picture");
        return false;
    }
    const QByteArray header = chunks.first().data;
    const QSize size(int(qFromBigEndian<quint32>(header.constData())), int(qFromBigEndian<quint32>(header.constData() + 4)));
    const auto picture = [&header](const QByteArray& data) {
        return signature + chunk("IHDR", header) + chunk("IDAT", data) + chunk("IEND", QByteArray());
    };
    // A frame's picture data, and the delay its control chunk gives.
    QByteArray data;
    qint64 start = 0;
    qint64 delay = 0;
    bool inFrame = false;
    bool animated = false;
    qint64 shownAfter = -1;
    qint64 nextShownAfter = -1;
    const QByteArray note = shownAfterKeyword + '\0';
    const auto finishFrame = [&] {
        if (inFrame && !data.isEmpty()) {
            frames->append({picture(data), size, start, shownAfter});
            start += delay;
        }
        data.clear();
    };
    for (const Chunk& each : chunks) {
        if (each.type == "acTL") {
            animated = true;
        } else if (each.type == "tEXt" && each.data.startsWith(note)) {
            bool known = false;
            nextShownAfter = each.data.mid(note.size()).toLongLong(&known);
            if (!known)
                nextShownAfter = -1;
        } else if (each.type == "fcTL" && each.data.size() >= 26) {
            finishFrame();
            shownAfter = std::exchange(nextShownAfter, -1);
            animated = true;
            inFrame = true;
            const quint16 numerator = qFromBigEndian<quint16>(each.data.constData() + 20);
            const quint16 denominator = qFromBigEndian<quint16>(each.data.constData() + 22);
            delay = qint64(numerator) * 1000 / (denominator == 0 ? 100 : denominator);
        } else if (each.type == "IDAT") {
            // Without an animation control, the one picture is the frame.
            inFrame = inFrame || !animated;
            data += each.data;
        } else if (each.type == "fdAT" && each.data.size() > 4) {
            data += each.data.mid(4);
        }
    }
    finishFrame();
    if (frames->isEmpty()) {
        *error = QStringLiteral("it holds no whole frame");
        return false;
    }
    return true;
}
