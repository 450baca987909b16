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
#include <QSize>
#include <QString>

namespace {

void removeFile(const QString& path)
{
    if (!QFile::remove(path))
        qWarning("problems removing file %s", path.toLocal8Bit().constData());
}

// QImageReader::size() reads the header only, so the bound holds before
// any pixel memory is allocated.
QImage readBounded(QImageReader& reader, const char* caller, ZelvoRecord::Reason* refusal)
{
    const auto refuse = [refusal](ZelvoRecord::Reason reason) {
        if (refusal)
            *refusal = reason;
        return QImage();
    };
    const QSize size = reader.size();
    if (size.width() > ZelvoUtil::maxImageSide || size.height() > ZelvoUtil::maxImageSide) {
        qCDebug(zelvoLog).nospace() << "\033[31m" << caller << " REFUSED IMAGE " << reader.fileName()
                                    << " OF " << size.width() << " x " << size.height()
                                    << " PIXELS, MORE THAN " << ZelvoUtil::maxImageSide << " x "
                                    << ZelvoUtil::maxImageSide << "!!!\033[0m";
        return refuse(ZelvoRecord::Reason::PictureTooLarge);
    }
    const QImage image = reader.read();
    return image.isNull() ? refuse(ZelvoRecord::Reason::NotAPicture) : image;
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
    qCDebug(zelvoLog).nospace() << "\033[31mZelvoUtil::isLinkFree REFUSED " << path
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

QImage ZelvoUtil::readPngData(const QByteArray& bytes, qint64* budget, ZelvoRecord::Reason* refusal)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "PNG");
    if (budget) {
        // Header only: the size and the pixel format the decoder will use.
        // Fewer bits a pixel do not make a pixel proportionally cheaper to
        // decode and encode again, so none counts as less than 32.
        const QSize size = reader.size();
        const int bits = qMax(32, int(QImage::toPixelFormat(reader.imageFormat()).bitsPerPixel()));
        const qint64 decoded = qint64(qMax(size.width(), 0)) * qMax(size.height(), 0) * bits / 8;
        if (decoded > *budget) {
            qCDebug(zelvoLog).nospace() << "\033[31mZelvoUtil::readPngData REFUSED IMAGE OF " << size.width()
                                        << " x " << size.height() << " PIXELS, " << decoded
                                        << " BYTES DECODED, MORE THAN THE " << *budget
                                        << " LEFT OF ITS CONFIGURATION!!!\033[0m";
            if (refusal)
                *refusal = ZelvoRecord::Reason::OverBudget;
            return QImage();
        }
        *budget -= decoded;
    }
    return readBounded(reader, "ZelvoUtil::readPngData", refusal);
}

QImage ZelvoUtil::readImageFile(const QString& path, ZelvoRecord::Reason* refusal)
{
    QImageReader reader(path);
    return readBounded(reader, "ZelvoUtil::readImageFile", refusal);
}
