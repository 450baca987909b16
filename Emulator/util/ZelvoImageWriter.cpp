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
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>

#include <utility>

namespace {

// The whole file or nothing: written beside it and renamed over it, so that
// a reader, a failed write or a kill sees the previous picture or the new
// one, never part of either. The file being written has a name that no
// image id can reach (a random suffix after the picture's own). A cancel
// before the rename leaves nothing; one during it takes the new file back,
// since a reset may have deleted the directory around it.
bool writeFile(const QString& path, const QByteArray& bytes, const std::atomic_bool& cancelled, QString* error)
{
    if (!ZelvoUtil::isLinkFree(path))
        return false;
    const auto write = [&](QIODevice* file, QString*) { return file->write(bytes) == bytes.size() && !cancelled; };
    if (!ZelvoFile::writeWhole(path, write, error))
        return false;
    if (cancelled) {
        QFile::remove(path);
        return false;
    }
    return true;
}

// In KiB, so that the budget fits a semaphore's count.
int kib(qint64 bytes)
{
    return int((bytes + 1023) / 1024);
}

} // namespace

struct ZelvoImageWriter::Budget
{
    explicit Budget(qint64 bytes)
        : totalKiB(kib(bytes))
        , freeKiB(totalKiB)
    {
    }

    // Waits while other pictures hold the budget. One larger than the whole
    // budget takes all of it, and would otherwise wait for ever.
    int take(qint64 bytes)
    {
        const int taken = qMin(kib(bytes), totalKiB);
        freeKiB.acquire(taken);
        return taken;
    }

    const int totalKiB;
    QSemaphore freeKiB;
};

ZelvoImageWriter::ZelvoImageWriter(qint64 budgetBytes)
    : budget(std::make_shared<Budget>(budgetBytes))
    , cancelled(std::make_shared<std::atomic_bool>(false))
    , threads(std::make_unique<QThreadPool>())
{
    threads->setMaxThreadCount(qMax(2, QThread::idealThreadCount()));
}

ZelvoImageWriter::~ZelvoImageWriter()
{
    cancelAll();
    threads->waitForDone();
}

void ZelvoImageWriter::cancelAll()
{
    *cancelled = true;
    cancelled = std::make_shared<std::atomic_bool>(false);
}

ZelvoImageWriter::Job ZelvoImageWriter::job(Configuration configuration, const QList<QString>& images) const
{
    configuration.sent = !images.isEmpty();
    return [budget = budget, cancelled = cancelled, configuration = std::move(configuration), images]() mutable {
        if (!configuration.directory.isEmpty()) {
            for (int n = 0; n < images.size() && !*cancelled; ++n)
                configuration.images.append(
                    storeImage(*budget, *cancelled, configuration.agentHash, configuration.directory, n, images.at(n)));
        }
        return configuration;
    };
}

ZelvoImageWriter::Image ZelvoImageWriter::storeImage(Budget& budget, const std::atomic_bool& cancelled,
                                                   const QString& agentHash, const QString& directory, int index,
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
        image.stored = writeFile(image.path, bytes, cancelled, &image.writeError);
        // A ZI header may announce 4095 x 4095 pixels: decoded within the
        // budget like any picture. One that does not decode is found
        // unreadable when drawn.
        const QSize size = ZIImageUtil::ziDimensions(bytes);
        const qint64 decodedBytes = qint64(size.width()) * size.height() * 4;
        if (image.stored && size.isValid() && decodedBytes > 0) {
            const int taken = budget.take(decodedBytes);
            const QImage decoded = ZIImageUtil::ziUncompress(bytes);
            image.size = decoded.size();
            image.visible = ZelvoPictureCache::visiblePart(decoded);
            budget.freeKiB.release(taken);
        }
    } else {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "PNG");
        const qint64 announced = ZelvoUtil::pictureBytes(reader, index, &image.refusal);
        if (announced >= 0) {
            const int taken = budget.take(announced);
            {
                const QImage decoded = reader.read();
                if (decoded.isNull())
                    image.refusal.reason = ZelvoRecord::Reason::NotAPicture;
                const QByteArray png = decoded.isNull() || cancelled ? QByteArray() : ZelvoUtil::encodePng(decoded);
                image.stored = !png.isEmpty() && writeFile(image.path, png, cancelled, &image.writeError);
                image.size = decoded.size();
                image.visible = ZelvoPictureCache::visiblePart(decoded);
            }
            budget.freeKiB.release(taken);
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
