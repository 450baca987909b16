#include "util/ZelvoImageWriter.h"

#include "ZIImageUtil.h"
#include "ZelvoFile.h"
#include "util/ZelvoPictureCache.h"
#include "util/ZelvoUtil.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImageReader>
#include <QLatin1Char>
#include <QMutexLocker>
#include <QThread>

#include <algorithm>
#include <utility>

namespace {

// The whole file or nothing: written beside it and renamed over it, so that
// a reader, a failed write or a kill sees the previous picture or the new
// one, never part of either. The file being written has a name that no
// image id can reach (a random suffix after the picture's own).
bool writeFile(const QString& path, const QByteArray& bytes, QString* error)
{
    return ZelvoUtil::isLinkFree(path) && ZelvoFile::writeWhole(path, bytes, error);
}

QByteArray encodePng(const QImage& image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    return image.save(&buffer, "PNG") ? png : QByteArray();
}

// In KiB, so that the budget fits a semaphore's count.
int kib(qint64 bytes)
{
    return int((bytes + 1023) / 1024);
}

} // namespace

ZelvoImageWriter::ZelvoImageWriter(qint64 budgetBytes, QObject* parent)
    : QObject(parent)
    , budgetBytes(budgetBytes)
    , budgetKiB(kib(budgetBytes))
    , pool(std::make_unique<QThreadPool>())
{
    pool->setMaxThreadCount(qMax(2, QThread::idealThreadCount()));
}

ZelvoImageWriter::~ZelvoImageWriter()
{
    // Before anything the pool's threads use goes; what they finish is
    // handed back to no one.
    pool->waitForDone();
}

void ZelvoImageWriter::store(const QString& agentHash, const QString& directory, const QList<QString>& images,
                            Done done)
{
    Job job{nextId++, {agentHash, directory, {}}, images, std::move(done), {}};
    // One configuration of an agent at a time, so that its files and its
    // pictures end as the last one sent them.
    if (isStoring(agentHash))
        waiting.append(std::move(job));
    else
        start(std::move(job));
}

void ZelvoImageWriter::whenStored(const QString& agentHash, std::function<void()> then)
{
    if (isStoring(agentHash))
        waiting.append(Job{nextId++, {agentHash, {}, {}}, {}, {}, std::move(then)});
    else
        then();
}

bool ZelvoImageWriter::isStoring(const QString& agentHash) const
{
    const auto sameAgent = [&agentHash](const Job& other) { return other.configuration.agentHash == agentHash; };
    return std::any_of(running.cbegin(), running.cend(), sameAgent) || std::any_of(waiting.cbegin(), waiting.cend(), sameAgent);
}

void ZelvoImageWriter::startNext(const QString& agentHash)
{
    for (;;) {
        const auto next = std::find_if(waiting.begin(), waiting.end(),
                                       [&agentHash](const Job& other) { return other.configuration.agentHash == agentHash; });
        if (next == waiting.end())
            return;
        Job job = std::move(*next);
        waiting.erase(next);
        if (!job.then) {
            start(std::move(job));
            return;
        }
        job.then();
    }
}

void ZelvoImageWriter::start(Job job)
{
    const quint64 id = job.id;
    Configuration configuration = job.configuration;
    const QList<QString> payloads = job.payloads;
    running.insert(id, std::move(job));
    pool->start([this, id, configuration, payloads]() mutable {
        if (!configuration.directory.isEmpty()) {
            for (int n = 0; n < payloads.size(); ++n)
                configuration.images.append(storeImage(configuration.agentHash, configuration.directory, n, payloads.at(n)));
        }
        {
            const QMutexLocker locker(&finishedLock);
            finished.append({id, std::move(configuration)});
        }
        QMetaObject::invokeMethod(this, &ZelvoImageWriter::deliverFinished, Qt::QueuedConnection);
    });
}

ZelvoImageWriter::Image ZelvoImageWriter::storeImage(const QString& agentHash, const QString& directory, int index,
                                                   const QString& payload)
{
    const QByteArray bytes = ZelvoUtil::fromBase64(payload);
    Image image;
    image.index = index;
    image.zi = bytes.startsWith(".zi");
    const QString id = QString::number(index);
    const QString ziPath = directory + QLatin1Char('/') + ZelvoUtil::agentImageFileName(agentHash, id, QStringLiteral(".zi"));
    const QString pngPath = directory + QLatin1Char('/') + ZelvoUtil::agentImageFileName(agentHash, id, QStringLiteral(".png"));
    image.path = image.zi ? ziPath : pngPath;
    image.fileName = image.path.mid(directory.size() + 1);
    image.refusal = {index, ZelvoRecord::Reason::WriteFailed};

    if (image.zi) {
        image.stored = writeFile(image.path, bytes, &image.writeError);
        // A ZI header may announce 4095 x 4095 pixels: decoded within the
        // budget like any picture. One that does not decode is found
        // unreadable when drawn.
        const QSize size = ZIImageUtil::ziDimensions(bytes);
        const int taken = kib(qint64(size.width()) * size.height() * 4);
        if (image.stored && size.isValid() && taken > 0) {
            budgetKiB.acquire(taken);
            const QImage decoded = ZIImageUtil::ziUncompress(bytes);
            image.size = decoded.size();
            image.visible = ZelvoPictureCache::visiblePart(decoded);
            budgetKiB.release(taken);
        }
    } else {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "PNG");
        const qint64 announced = ZelvoUtil::pictureBytes(reader, index, &image.refusal);
        if (announced >= 0) {
            // Waits while other pictures hold the budget.
            const int taken = qMin(kib(announced), kib(budgetBytes));
            budgetKiB.acquire(taken);
            {
                const QImage decoded = reader.read();
                if (decoded.isNull())
                    image.refusal.reason = ZelvoRecord::Reason::NotAPicture;
                const QByteArray png = decoded.isNull() ? QByteArray() : encodePng(decoded);
                image.stored = !png.isEmpty() && writeFile(image.path, png, &image.writeError);
                image.size = decoded.size();
                image.visible = ZelvoPictureCache::visiblePart(decoded);
            }
            budgetKiB.release(taken);
        }
    }
    // Image n has one file: one left in the other format from an earlier
    // configuration would come back after a restart, since ZI is looked
    // up first.
    if (image.stored) {
        const QString other = image.zi ? pngPath : ziPath;
        if (QFile::exists(other) && ZelvoUtil::isLinkFree(other))
            QFile::remove(other);
        image.refusal = {};
    } else {
        image.visible = QImage();
    }
    return image;
}

void ZelvoImageWriter::deliverFinished()
{
    QList<std::pair<quint64, Configuration>> done;
    {
        const QMutexLocker locker(&finishedLock);
        done.swap(finished);
    }
    for (const auto& [id, configuration] : done) {
        running.take(id).done(configuration);
        startNext(configuration.agentHash);
    }
}

void ZelvoImageWriter::finishAll()
{
    while (pending() > 0) {
        pool->waitForDone();
        deliverFinished();
    }
}
