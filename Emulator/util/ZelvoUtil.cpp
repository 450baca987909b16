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
#include <QSet>
#include <QSize>
#include <QStandardPaths>
#include <QString>

namespace {

void removeFile(const QString& path)
{
    if (!QFile::remove(path))
        qWarning("problems removing file %s", path.toLocal8Bit().constData());
}

QImage readBounded(QImageReader& reader, const char* caller, ZelvoRecord::ImageRefusal* refusal)
{
    ZelvoRecord::ImageRefusal ignored;
    ZelvoRecord::ImageRefusal* why = refusal ? refusal : &ignored;
    if (ZelvoUtil::pictureBytes(reader, why->index, why) < 0) {
        qCDebug(zelvoLog).nospace().noquote() << "\033[31m" << caller << " REFUSED IMAGE " << reader.fileName()
                                              << ": " << ZelvoRecord::refusalText(*why) << "\033[0m";
        return QImage();
    }
    const QImage image = reader.read();
    if (image.isNull())
        why->reason = ZelvoRecord::Reason::NotAPicture;
    return image;
}

// Where this run keeps the agents' images, and whose directories it made
// or used there.
struct ImageStore
{
    QString dataDirectory;
    QSet<QString> agentsSeen;

    QString base() const
    {
        return dataDirectory.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::PicturesLocation)
                                       : dataDirectory;
    }
    QString folder() const
    {
        return dataDirectory.isEmpty() ? QStringLiteral("Zelvo") : QStringLiteral("images");
    }
};

ImageStore& imageStore()
{
    static ImageStore store;
    return store;
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

QString ZelvoUtil::agentImageDirectory(const QString& agentHash)
{
    const QString path = agentImagePath(agentHash);
    if (path.isEmpty())
        return path;
    if (!QDir().mkpath(path)) {
        qCDebug(zelvoLog).nospace() << "\033[31mZelvoUtil::agentImageDirectory REFUSED AGENT HASH " << agentHash
                                    << ", NO IMAGE DIRECTORY!!!\033[0m";
        return QString();
    }
    imageStore().agentsSeen.insert(agentHash);
    return path;
}

QString ZelvoUtil::agentImagePath(const QString& agentHash)
{
    const ImageStore& images = imageStore();
    const QString pictures = images.base();
    // The hash names the directory: it must be one entry of the store,
    // never a path that leads elsewhere.
    const QString relative = images.folder() + QLatin1Char('/') + agentHash;
    if (pictures.isEmpty() || agentHash.isEmpty() || !isFileNamePart(agentHash)) {
        qCDebug(zelvoLog).nospace() << "\033[31mZelvoUtil::agentImageDirectory REFUSED AGENT HASH "
                                    << agentHash << ", NO IMAGE DIRECTORY!!!\033[0m";
        return QString();
    }
    // A link planted in the store, checked before anything is made or read
    // through it, would send the agent's images elsewhere.
    const QDir store(pictures);
    if (!isLinkFree(store.filePath(images.folder())) || !isLinkFree(store.filePath(relative)))
        return QString();
    return store.absoluteFilePath(relative);
}

void ZelvoUtil::setDataDirectory(const QString& path)
{
    imageStore().dataDirectory = path;
}

void ZelvoUtil::removeAgentImages()
{
    ImageStore& images = imageStore();
    const QDir folder(QDir(images.base()).filePath(images.folder()));
    if (isLinkFree(folder.path()) && folder.exists()) {
        const QStringList agents = images.dataDirectory.isEmpty()
            ? images.agentsSeen.values()
            : folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        // rm() removes a link in the folder itself and never follows it.
        for (const QString& agent : agents)
            rm(folder.filePath(agent));
    }
    images.agentsSeen.clear();
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
