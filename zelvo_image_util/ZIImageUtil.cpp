#include "ZIImageUtil.h"

#include "ZIImage.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>
#include <QImage>
#include <QSize>
#include <QString>
#include <QtEndian>

#include <array>
#include <cstring>
#include <vector>

namespace {

constexpr char magic[] = { '.', 'z', 'i' };

// Eight decoded pixels for every value of a pixel byte, so that a whole byte
// is written into a scan line at once.
using PixelRun = std::array<quint32, 8>;

constexpr std::array<PixelRun, 256> makePixelRuns()
{
    std::array<PixelRun, 256> runs {};
    for (int value = 0; value < 256; ++value) {
        for (int bit = 0; bit < 8; ++bit)
            runs[value][bit] = (value >> bit) & 1 ? ZIImageUtil::litColor : ZIImageUtil::backgroundColor;
    }
    return runs;
}

constexpr std::array<PixelRun, 256> pixelRuns = makePixelRuns();

// Decoding is bound by the stores into the scan lines; where the processor
// has them, 32-byte stores halve their number.
// The clones' resolver runs while the program is loaded, before
// ThreadSanitizer's runtime is set up, and its instrumented code would fail
// there; that build takes the plain loop.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZI_THREAD_SANITIZER
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define ZI_THREAD_SANITIZER
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(ZI_THREAD_SANITIZER)
#define ZI_WIDE_STORES __attribute__((target_clones("avx2", "default")))
#else
#define ZI_WIDE_STORES
#endif

// Decodes `count` whole pixel bytes into 8 * count pixels.
ZI_WIDE_STORES void decodeBytes(const quint8* source, qint64 count, quint32* target)
{
    for (qint64 i = 0; i < count; ++i)
        std::memcpy(target + 8 * i, pixelRuns[source[i]].data(), sizeof(PixelRun));
}

constexpr std::array<quint32, 32> makeBitWeights()
{
    std::array<quint32, 32> weights {};
    for (int i = 0; i < 32; ++i)
        weights[i] = 1u << i;
    return weights;
}

constexpr std::array<quint32, 32> bitWeights = makeBitWeights();

// Bit i of the result is set when pixel i is lit; at most 32 pixels. Masks
// and a table of weights instead of shifts by a varying count, so that the
// compiler turns the loop for a constant 32 into vector code.
quint32 litBits(const quint32* pixels, int count)
{
    quint32 bits = 0;
    for (int i = 0; i < count; ++i)
        bits |= (0u - quint32(ZIImageUtil::isLit(pixels[i]))) & bitWeights[size_t(i)];
    return bits;
}

// Luminance in thousandths (0 to 255000) of a premultiplied pixel laid on
// white paper, so that transparent areas read as background.
int luminanceOnWhite(QRgb premultiplied)
{
    const int paper = 255 - qAlpha(premultiplied);
    return 299 * (qRed(premultiplied) + paper) + 587 * (qGreen(premultiplied) + paper)
        + 114 * (qBlue(premultiplied) + paper);
}

constexpr int fullLuminance = 255000;

} // namespace

QImage ZIImageUtil::ziUncompress(const QByteArray& bytes)
{
    if (bytes.size() < minDecodeSize) {
        qWarning("\033[31mZIImageUtil::ziUncompress NoT enought bytes!!!\033[0m");
        return QImage();
    }
    const QSize size = ziDimensions(bytes);
    if (!size.isValid()) {
        qWarning("\033[31mZIImageUtil::ziUncompress NoT a .zi image!!!\033[0m");
        return QImage();
    }
    const int width = size.width();
    const int height = size.height();
    qDebug("ZIImageUtil::ziUncompress open ZLV ziImage <%d x %d> ziBuffer=%d Vs %lld", width, height,
           bytes.size(), ziByteCount(width, height) - headerSize);

    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull())
        return image;

    // Pixels run on from one row into the next without padding, so a row may
    // start and end in the middle of a byte. Pixels beyond the end of the
    // data stay white.
    const auto* pixels = reinterpret_cast<const quint8*>(bytes.constData()) + headerSize;
    const qint64 available = bytes.size() - headerSize;
    const auto pixelAt = [pixels, available](qint64 bit) {
        const qint64 index = bit >> 3;
        return index < available && (pixels[index] >> (bit & 7)) & 1 ? litColor : backgroundColor;
    };
    uchar* bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<quint32*>(bits + y * stride);
        qint64 bit = qint64(y) * width;
        int x = 0;
        for (; x < width && (bit & 7) != 0; ++x, ++bit)
            line[x] = pixelAt(bit);
        const qint64 wholeBytes = qMin<qint64>(available - (bit >> 3), (width - x) / 8);
        if (wholeBytes > 0) {
            decodeBytes(pixels + (bit >> 3), wholeBytes, line + x);
            x += int(wholeBytes * 8);
            bit += wholeBytes * 8;
        }
        for (; x < width; ++x, ++bit)
            line[x] = pixelAt(bit);
    }
    return image;
}

QImage ZIImageUtil::ziUncompress(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("\033[31mZIImageUtil::ziUncompress to open %s!!!\033[0m", qUtf8Printable(path));
        return QImage();
    }
    // Nothing past the largest image the header can announce is ever used.
    return ziUncompress(file.read(ziByteCount(maxDimension, maxDimension)));
}

ZIImage ZIImageUtil::ziCompress(const QImage& image)
{
    const int width = image.width();
    const int height = image.height();
    const qint64 byteCount = ziByteCount(width, height);
    qDebug("ZIImageUtil::ziCompress ziImage <%x(%d) x %x(%d)> => ziBuffer=%lld", width, width, height, height,
           byteCount);
    ZIImage result;
    const QByteArray bytes = ziEncode(image);
    if (bytes.isEmpty()) {
        qWarning("\033[31mZIImageUtil::ziCompress ziImage <%d x %d> exceeds the format's %d x %d\033[0m", width,
                 height, maxDimension, maxDimension);
        return result;
    }
    qDebug("\033[33mZIImageUtil::ziCompress currentByteIndex %lld!!!\033[0m",
           headerSize + qint64(width) * height / 8);
    qDebug("ZIImageUtil::ziCompress DONE BUFF_SIZE %d!!!!", bytes.size());
    result.fromByteArray(bytes);
    return result;
}

QByteArray ZIImageUtil::ziEncode(const QImage& image)
{
    const int width = image.width();
    const int height = image.height();
    // Larger sides cannot be written into the 12-bit fields; cutting them
    // would announce a different picture than the one encoded.
    if (width > maxDimension || height > maxDimension)
        return QByteArray();

    QByteArray bytes(int(ziByteCount(width, height)), '\0');
    std::memcpy(bytes.data(), ziHeader(width, height).constData(), headerSize);

    // Scan lines read as 0xAARRGGBB words, the values pixel() would return.
    const bool direct = image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32;
    const QImage source = direct ? image : image.convertToFormat(QImage::Format_ARGB32);

    // Rows are not padded: a row's first pixels complete the byte that the
    // previous row left open.
    auto* out = reinterpret_cast<quint8*>(bytes.data()) + headerSize;
    quint32 pending = 0;
    int pendingBits = 0;
    for (int y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const quint32*>(source.constScanLine(y));
        int x = 0;
        if (pendingBits != 0) {
            x = qMin(8 - pendingBits, width);
            pending |= litBits(line, x) << pendingBits;
            pendingBits += x;
            if (pendingBits == 8) {
                *out++ = quint8(pending);
                pending = 0;
                pendingBits = 0;
            }
        }
        for (; x + 32 <= width; x += 32, out += 4)
            qToLittleEndian(litBits(line + x, 32), out);
        for (; x + 8 <= width; x += 8)
            *out++ = quint8(litBits(line + x, 8));
        if (x < width) {
            pending = litBits(line + x, width - x);
            pendingBits = width - x;
        }
    }
    if (pendingBits != 0)
        *out = quint8(pending);
    return bytes;
}

qint64 ZIImageUtil::ziByteCount(int width, int height)
{
    if (width <= 0 || height <= 0)
        return headerSize;
    return headerSize + (qint64(width) * height + 7) / 8;
}

QByteArray ZIImageUtil::ziHeader(int width, int height)
{
    const char header[headerSize] = {
        magic[0],
        magic[1],
        magic[2],
        char((width >> 4) & 0xFF),
        char(((width & 0x0F) << 4) | ((height >> 8) & 0x0F)),
        char(height & 0xFF),
    };
    return QByteArray(header, headerSize);
}

QSize ZIImageUtil::ziDimensions(const QByteArray& bytes)
{
    if (bytes.size() < headerSize || std::memcmp(bytes.constData(), magic, sizeof(magic)) != 0)
        return QSize();
    const auto* header = reinterpret_cast<const quint8*>(bytes.constData());
    return QSize((header[3] << 4) | (header[4] >> 4), ((header[4] & 0x0F) << 8) | header[5]);
}

QImage ZIImageUtil::toMono(const QImage& picture, int thresholdPercent)
{
    if (picture.isNull())
        return QImage();
    const int cut = qBound(0, thresholdPercent, 100) * (fullLuminance / 100);
    const QImage source = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage mono(source.size(), QImage::Format_RGB32);
    for (int y = 0; y < source.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        auto* out = reinterpret_cast<quint32*>(mono.scanLine(y));
        for (int x = 0; x < source.width(); ++x)
            out[x] = luminanceOnWhite(in[x]) < cut ? litColor : backgroundColor;
    }
    return mono;
}

QImage ZIImageUtil::toDithered(const QImage& picture)
{
    if (picture.isNull())
        return QImage();
    const QImage source = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int width = source.width();
    QImage mono(source.size(), QImage::Format_RGB32);
    // Errors carried to the current and the next row, one spare cell at
    // each end so the neighbours of the edge pixels need no test.
    std::vector<float> current(size_t(width) + 2, 0.0f);
    std::vector<float> next(size_t(width) + 2, 0.0f);
    for (int y = 0; y < source.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        auto* out = reinterpret_cast<quint32*>(mono.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const float value = float(luminanceOnWhite(in[x])) + current[size_t(x) + 1];
            const bool lit = value < fullLuminance / 2.0f;
            out[x] = lit ? litColor : backgroundColor;
            const float error = value - (lit ? 0.0f : float(fullLuminance));
            current[size_t(x) + 2] += error * 7 / 16;
            next[size_t(x)] += error * 3 / 16;
            next[size_t(x) + 1] += error * 5 / 16;
            next[size_t(x) + 2] += error * 1 / 16;
        }
        current.swap(next);
        std::fill(next.begin(), next.end(), 0.0f);
    }
    return mono;
}
