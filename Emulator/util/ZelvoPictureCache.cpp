#include "util/ZelvoPictureCache.h"
#include "ZIImageUtil.h"
#include "ZelvoLog.h"
#include "util/ZelvoImageStore.h"
#include "util/ZelvoUtil.h"

#include <QChar>
#include <QDebug>
#include <QFile>
#include <QLatin1Char>
#include <QPoint>
#include <QRect>
#include <QStringList>

ZelvoPictureCache::ZelvoPictureCache(const ZelvoImageStore* store, int budgetBytes)
    : store(store)
    , pictures(budgetBytes)
{
}

// NUL never occurs in a hash that names a directory, so no two pairs meet.
QString ZelvoPictureCache::key(const QString& agentHash, const QString& imageId)
{
    return agentHash + QChar(QChar::Null) + imageId;
}

QImage ZelvoPictureCache::visiblePart(const QImage& image)
{
    if (image.isNull())
        return image;
    const QImage::Format drawn = image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    const QSize shown = image.size().boundedTo(visibleSize);
    if (shown == image.size())
        return image.format() == drawn ? image : image.convertToFormat(drawn);
    return image.copy(QRect(QPoint(0, 0), shown)).convertToFormat(drawn);
}

void ZelvoPictureCache::forgetAgent(const QString& agentHash)
{
    const QString prefix = key(agentHash, QString());
    const QStringList cached = pictures.keys();
    for (const QString& k : cached) {
        if (k.startsWith(prefix))
            pictures.remove(k);
    }
    for (auto it = storedPaths.begin(); it != storedPaths.end();) {
        if (it.key().startsWith(prefix))
            it = storedPaths.erase(it);
        else
            ++it;
    }
}

void ZelvoPictureCache::clear()
{
    pictures.clear();
    storedPaths.clear();
}

void ZelvoPictureCache::insert(const QString& agentHash, const QString& imageId, const QString& path,
                               const QImage& image, const QSize& size)
{
    const QString k = key(agentHash, imageId);
    storedPaths.insert(k, path);
    // A stored file that does not decode is found unreadable when drawn.
    if (image.isNull())
        pictures.remove(k);
    else
        keep(k, path, image, size);
}

void ZelvoPictureCache::keep(const QString& key, const QString& path, const QImage& image, const QSize& size)
{
    // A picture larger than the whole budget is read from its file each
    // time instead; whatever the key held before goes all the same.
    if (image.sizeInBytes() > pictures.maxCost())
        pictures.remove(key);
    else
        pictures.insert(key, new Picture{image, path, size}, int(image.sizeInBytes()));
}

QImage ZelvoPictureCache::picture(const QString& agentHash, const QString& imageId, QString* path,
                                  ZelvoRecord::Reason* refusal, QSize* size)
{
    path->clear();
    if (!ZelvoUtil::isFileNamePart(imageId)) {
        qCDebug(zelvoContentLog).nospace() << "\033[31mZelvoEmulator::drawLayout REFUSED IMAGE ID " << imageId
                                    << ", IT NAMES A PATH OUTSIDE THE AGENT DIRECTORY!!!\033[0m";
        *refusal = ZelvoRecord::Reason::ImagePathOutside;
        return QImage();
    }
    const QString k = key(agentHash, imageId);
    if (const Picture* kept = pictures.object(k)) {
        *path = kept->path;
        *size = kept->size;
        return kept->image;
    }
    QImage image = load(agentHash, imageId, path, refusal, size);
    if (!image.isNull())
        keep(k, *path, image, *size);
    return image;
}

QImage ZelvoPictureCache::load(const QString& agentHash, const QString& imageId, QString* path,
                               ZelvoRecord::Reason* refusal, QSize* size) const
{
    QStringList candidates;
    const QString stored = storedPaths.value(key(agentHash, imageId));
    if (!stored.isEmpty()) {
        candidates.append(stored);
    } else {
        // Looked up without being made: drawing creates no directory.
        const QString directory = store->agentImagePath(agentHash);
        if (directory.isEmpty()) {
            *refusal = ZelvoRecord::Reason::AgentPathOutside;
            return QImage();
        }
        for (const char* suffix : {".zi", ".png"})
            candidates.append(directory + QLatin1Char('/')
                              + ZelvoUtil::agentImageFileName(agentHash, imageId, QLatin1String(suffix)));
    }

    for (const QString& candidate : qAsConst(candidates)) {
        qCDebug(zelvoContentLog).nospace() << "\033[32mZelvoEmulator::drawLayout SEARCHING " << candidate;
        const bool zi = candidate.endsWith(QLatin1String(".zi"));
        // Opening is the test of existence: one system call, not two.
        QFile file(candidate);
        if (!file.open(QIODevice::ReadOnly)) {
            if (zi)
                qCDebug(zelvoContentLog) << "\033[36mZelvoEmulator::drawLayout .zi not found, serching .png ...";
            continue;
        }
        qCDebug(zelvoContentLog) << (zi ? "\033[35mZelvoEmulator::drawLayout FOUNDED A ZELVO IMAGE"
                                 : "\033[35mZelvoEmulator::drawLayout FOUNDED A PNG IMAGE");
        *path = candidate;
        // A .zi that exists but cannot be decoded does not fall back to the .png.
        const QImage decoded = zi ? ZIImageUtil::ziUncompress(file.read(
                                        ZIImageUtil::ziByteCount(ZIImageUtil::maxDimension, ZIImageUtil::maxDimension)))
                                  : ZelvoUtil::readImageFile(candidate);
        *size = decoded.size();
        QImage image = visiblePart(decoded);
        if (image.isNull())
            *refusal = ZelvoRecord::Reason::ImageUnreadable;
        return image;
    }
    *refusal = ZelvoRecord::Reason::ImageNotStored;
    return QImage();
}
