#pragma once

#include "record/ZelvoRecord.h"
#include "util/ZelvoUtil.h"

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>

class QSemaphore;
class QThreadPool;

// Writes the pictures of agent configurations into the agents' directories
// (which the emulator's ZelvoImageStore gives): Base64, decoding, encoding
// again and writing. Each file is replaced whole (written beside it, then
// renamed). The writer makes jobs, which run on its pool and share nothing
// with the window but values; whoever runs them hands their results on in
// order (see ZelvoOrderedWork).
//
// Memory is bounded by a budget of decoded bytes shared by every picture
// being decoded at once, of all agents: a picture waits on its pool thread
// until its bytes are free. A picture that would decode to more than the
// whole budget is refused, since no display needs one that large.
class ZelvoImageWriter final
{
    Q_DISABLE_COPY_MOVE(ZelvoImageWriter)

public:
    // What became of one picture of a configuration.
    struct Image
    {
        int index = 0;
        QString fileName;
        QString path;
        bool zi = false;
        bool stored = false;
        ZelvoRecord::ImageRefusal refusal;
        // The system's reason when its file could not be written.
        QString writeError;
        // The part that can show on the content area, for the picture cache;
        // null when the picture is not stored or does not decode.
        QImage visible;
        // The whole picture's size.
        QSize size;
    };

    struct Configuration
    {
        QString agentHash;
        // Empty when the agent's hash names no directory of its own, or
        // when it could not be made: writeError then says why.
        QString directory;
        QString writeError;
        // Whether the agent sent any picture.
        bool sent = false;
        QVector<Image> images;
    };

    using Job = std::function<Configuration()>;

    explicit ZelvoImageWriter(qint64 budgetBytes = ZelvoUtil::maxPictureBytes);
    // Cancels what is pending and waits for the pictures being decoded.
    ~ZelvoImageWriter();

    // Stores the pictures of configuration (directory and agent already
    // set) when run, on any thread.
    Job job(Configuration configuration, const QList<QString>& images) const;
    // The jobs made so far store nothing more, and take back a file they
    // were renaming into place meanwhile: whoever deletes the agents'
    // directories afterwards finds none re-created. Returns at once.
    void cancelAll();

    // Where the jobs run: waiting for the budget never takes a thread of
    // the global pool.
    QThreadPool* pool() const { return threads.get(); }

private:
    struct Budget;

    static Image storeImage(Budget& budget, const std::atomic_bool& cancelled, const QString& agentHash,
                            const QString& directory, int index, const QString& payload);

    std::shared_ptr<Budget> budget;
    std::shared_ptr<std::atomic_bool> cancelled;
    std::unique_ptr<QThreadPool> threads;
};
