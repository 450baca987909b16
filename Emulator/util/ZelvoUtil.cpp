#include "util/ZelvoUtil.h"
#include "ZelvoLog.h"

#include <QBuffer>
#include <QByteArray>
#include <QChar>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringView>

#include <array>
#include <cstring>

namespace {

void removeFile(const QString& path)
{
    if (!QFile::remove(path))
        qCWarning(zelvoContentLog, "problems removing file %s", path.toLocal8Bit().constData());
}

QImage readBounded(QImageReader& reader, const char* caller, ZelvoRecord::ImageRefusal* refusal)
{
    ZelvoRecord::ImageRefusal ignored;
    ZelvoRecord::ImageRefusal* why = refusal ? refusal : &ignored;
    if (ZelvoUtil::pictureBytes(reader, why->index, why) < 0) {
        qCDebug(zelvoContentLog).nospace().noquote() << "\033[31m" << caller << " REFUSED IMAGE " << reader.fileName()
                                              << ": " << ZelvoRecord::refusalText(*why) << "\033[0m";
        return QImage();
    }
    QImage image = reader.read();
    if (image.isNull())
        why->reason = ZelvoRecord::Reason::NotAPicture;
    return image;
}

// Each Latin-1 character's 6 bits, or -1 outside the alphabet.
const std::array<qint8, 256>& base64Values()
{
    static const std::array<qint8, 256> values = [] {
        std::array<qint8, 256> table{};
        table.fill(-1);
        const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i)
            table[uchar(alphabet[i])] = qint8(i);
        return table;
    }();
    return values;
}

int base64Value(char16_t unit)
{
    return unit < 256 ? base64Values()[unit] : -1;
}

} // namespace

QByteArray ZelvoUtil::fromBase64(QStringView text)
{
    QByteArray bytes(int(text.size() / 4 * 3 + 3), Qt::Uninitialized);
    char* out = bytes.data();
    const char16_t* in = reinterpret_cast<const char16_t*>(text.utf16());
    const char16_t* const end = in + text.size();
    quint32 bits = 0;
    int bitCount = 0;
    while (in < end) {
        // Whole groups of four go at once while nothing is left over.
        if (bitCount == 0 && end - in >= 4) {
            const int a = base64Value(in[0]), b = base64Value(in[1]), c = base64Value(in[2]), d = base64Value(in[3]);
            if ((a | b | c | d) >= 0) {
                const quint32 group = quint32(a) << 18 | quint32(b) << 12 | quint32(c) << 6 | quint32(d);
                out[0] = char(group >> 16);
                out[1] = char(group >> 8);
                out[2] = char(group);
                out += 3;
                in += 4;
                continue;
            }
        }
        const int value = base64Value(*in++);
        if (value < 0)
            continue;
        bits = bits << 6 | quint32(value);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            *out++ = char(bits >> bitCount);
            bits &= (1u << bitCount) - 1;
        }
    }
    bytes.truncate(int(out - bytes.constData()));
    return bytes;
}

bool ZelvoUtil::rm(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return false;

    // A link to a directory is not part of the tree: following it would
    // empty a directory elsewhere.
    if (!info.isDir() || info.isSymLink()) {
        removeFile(path);
        return true;
    }

    const QFileInfoList entries = QDir(path).entryInfoList(
        QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QFileInfo& entry : entries)
        rm(entry.absoluteFilePath());
    QDir().rmdir(info.absoluteFilePath());
    return true;
}

bool ZelvoUtil::isLinkFree(const QString& path)
{
    if (!QFileInfo(path).isSymLink())
        return true;
    qCDebug(zelvoContentLog).nospace() << "\033[31mZelvoUtil::isLinkFree REFUSED " << path
                                << ", IT IS A SYMBOLIC LINK!!!\033[0m";
    return false;
}

QString ZelvoUtil::agentImageFileName(const QString& agentHash, const QString& imageId, const QString& suffix)
{
    return agentHash + QLatin1Char('_') + imageId + suffix;
}

bool ZelvoUtil::isFileNamePart(const QString& text)
{
    return !text.contains(QLatin1Char('/')) && !text.contains(QLatin1Char('\\'))
        && !text.contains(QChar(QChar::Null)) && text != QLatin1String(".")
        && text != QLatin1String("..");
}

qint64 ZelvoUtil::pictureBytes(QImageReader& reader, int index, ZelvoRecord::ImageRefusal* refusal)
{
    // QImageReader::size() and imageFormat() read the header only. Fewer
    // bits a pixel do not make a pixel proportionally cheaper to decode and
    // encode again, so none counts as less than 32.
    const QSize size = reader.size();
    const int bits = qMax(32, int(QImage::toPixelFormat(reader.imageFormat()).bitsPerPixel()));
    const qint64 bytes = qint64(qMax(size.width(), 0)) * qMax(size.height(), 0) * bits / 8;
    if (bytes <= maxPictureBytes)
        return bytes;
    *refusal = {index, ZelvoRecord::Reason::PictureTooLarge, size.width(), size.height(), bytes, maxPictureBytes};
    return -1;
}

QImage ZelvoUtil::readImageFile(const QString& path, ZelvoRecord::ImageRefusal* refusal)
{
    QImageReader reader(path);
    return readBounded(reader, "ZelvoUtil::readImageFile", refusal);
}

QByteArray ZelvoUtil::encodePng(const QImage& image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    return image.save(&buffer, "PNG") ? png : QByteArray();
}

QRect ZelvoUtil::changedRect(const QImage& before, const QImage& after)
{
    const int width = after.width();
    const size_t rowBytes = size_t(width) * 4;
    int top = -1;
    int bottom = -1;
    for (int y = 0; y < after.height(); ++y) {
        if (std::memcmp(before.constScanLine(y), after.constScanLine(y), rowBytes) != 0) {
            if (top < 0)
                top = y;
            bottom = y;
        }
    }
    if (top < 0)
        return QRect();
    int left = width;
    int right = -1;
    for (int y = top; y <= bottom; ++y) {
        const auto* a = reinterpret_cast<const quint32*>(before.constScanLine(y));
        const auto* b = reinterpret_cast<const quint32*>(after.constScanLine(y));
        for (int x = 0; x < left; ++x) {
            if (a[x] != b[x]) {
                left = x;
                break;
            }
        }
        for (int x = width - 1; x > right; --x) {
            if (a[x] != b[x]) {
                right = x;
                break;
            }
        }
    }
    return QRect(QPoint(left, top), QPoint(right, bottom));
}
