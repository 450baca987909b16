#pragma once

#include "record/ZelvoRecord.h"
#include "util/ZelvoUtil.h"

#include <QHash>
#include <QImage>
#include <QSize>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QSemaphore>
#include <QString>
#include <QThreadPool>
#include <QVector>

#include <functional>
#include <memory>

// Writes the pictures of agent configurations into the agents' directories
// (which the emulator's ZelvoImageStore gives) off the window's thread: Base64, decoding, encoding again and writing run
// on a pool of its own, so that a configuration of photos holds neither the
// window nor the other agents. Each file is replaced whole (written beside
// it, then renamed). Configurations of one agent are stored one after the
// other, in the order given; what is done is handed back on the window's
// thread, in that order.
//
// Memory is bounded by a budget of decoded bytes shared by every picture
// being decoded at once, of all agents: a picture waits until its bytes are
// free. A picture that would decode to more than the whole budget is
// refused, since no display needs one that large.
class ZelvoImageWriter final : public QObject
{
    Q_OBJECT
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
        // Empty when the agent's hash names no directory of its own.
        QString directory;
        QVector<Image> images;
    };

    using Done = std::function<void(const Configuration&)>;

    explicit ZelvoImageWriter(qint64 budgetBytes = ZelvoUtil::maxPictureBytes, QObject* parent = nullptr);
    ~ZelvoImageWriter() override;

    // Stores the Base64 images of one configuration in directory (empty:
    // none is stored) and calls done on this object's thread once all are.
    void store(const QString& agentHash, const QString& directory, const QList<QString>& images, Done done);

    // Calls then once every configuration of the agent asked for so far is
    // stored and handed back; at once when none is pending.
    void whenStored(const QString& agentHash, std::function<void()> then);
    bool isStoring(const QString& agentHash) const;

    // Configurations being stored or waiting, of all agents.
    int pending() const { return running.size() + waiting.size(); }

    // Stores what was asked for, handing each configuration back, before
    // it returns: for a reset, which deletes the files afterwards.
    void finishAll();

private:
    struct Job
    {
        quint64 id = 0;
        Configuration configuration;
        QList<QString> payloads;
        Done done;
        // Instead of a configuration: called in its turn.
        std::function<void()> then;
    };

    // Starts the agent's next configuration, calling what waits before it.
    void startNext(const QString& agentHash);

    void start(Job job);
    Image storeImage(const QString& agentHash, const QString& directory, int index, const QString& payload);
    // Hands back the configurations the pool has finished, in order.
    void deliverFinished();

    qint64 budgetBytes;
    // Free KiB of the budget, taken by the pool's threads while they decode.
    QSemaphore budgetKiB;
    QHash<quint64, Job> running;
    QList<Job> waiting;
    quint64 nextId = 1;
    QMutex finishedLock;
    QList<std::pair<quint64, Configuration>> finished;
    // Declared last: its threads are waited for before the rest goes.
    std::unique_ptr<QThreadPool> pool;
};
