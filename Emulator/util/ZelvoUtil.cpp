#include "util/ZelvoUtil.h"
#include "ZelvoLog.h"

#include <QByteArray>
#include <QChar>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QSize>
#include <QString>

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
    const QImage image = reader.read();
    if (image.isNull())
        why->reason = ZelvoRecord::Reason::NotAPicture;
    return image;
}

} // namespace

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
