#pragma once

#include <QFuture>
#include <QFutureInterface>
#include <QFutureWatcher>
#include <QObject>
#include <QQueue>
#include <QRunnable>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

// The one way this program uses threads. A job takes values and returns a
// value; it runs on a pool, and its result is handed to deliver on the
// owner's thread strictly in the order the jobs were given, whichever
// finishes first. Nothing ever waits on the owner's thread: a result is
// delivered once it and every result before it are there. Values that need
// no thread take their turn behind the jobs still running.
//
// cancel() forgets every job not yet delivered: it returns at once, and
// what they return later is dropped. A job therefore shares nothing with
// its owner (it may outlive it); deliver must not destroy this object, so
// an owner torn down in its own delivery uses deleteLater().
namespace ZelvoOrderedWorkPrivate {

// Values cross between threads under this lock, so that the thread
// sanitizer sees the hand-off that Qt's uninstrumented pool makes.
inline std::mutex& handOff()
{
    static std::mutex lock;
    return lock;
}

} // namespace ZelvoOrderedWorkPrivate

template <typename T>
class ZelvoOrderedWork
{
    Q_DISABLE_COPY_MOVE(ZelvoOrderedWork)

public:
    using Deliver = std::function<void(T)>;

    ZelvoOrderedWork(QObject* owner, Deliver deliver, QThreadPool* pool = QThreadPool::globalInstance())
        : deliver(std::move(deliver))
        , pool(pool)
    {
        // The watcher follows the oldest job only; a stale signal of a job
        // cancelled meanwhile finds the queue moved on and waits again.
        QObject::connect(&watcher, &QFutureWatcherBase::finished, owner, [this] { deliverReady(); });
    }

    template <typename Job>
    void run(Job job)
    {
        // The job and its result go through a slot of their own, under the
        // hand-off lock, never through the future's result store.
        auto slot = std::make_shared<Slot>();
        QFutureInterface<void> done;
        done.reportStarted();
        const std::lock_guard<std::mutex> handing(ZelvoOrderedWorkPrivate::handOff());
        queue.enqueue({done.future(), slot, std::nullopt});
        pool->start(new Task<Job>(std::move(job), slot, done));
        if (queue.size() == 1)
            watcher.setFuture(queue.head().future);
    }

    // Hands value over in its turn: at once when nothing is pending.
    void add(T value)
    {
        queue.enqueue({QFuture<void>(), nullptr, std::move(value)});
        if (!delivering)
            deliverReady();
    }

    void cancel() { queue.clear(); }

    // Jobs and values given and not yet delivered.
    int pending() const { return queue.size(); }
    // Nothing pending and no delivery running: a value given now would be
    // delivered at once, so the owner may as well take it itself.
    bool isIdle() const { return queue.isEmpty() && !delivering; }

private:
    struct Slot
    {
        std::optional<T> value;
    };

    // What a pool thread runs: it takes the job under the hand-off lock
    // before it touches it, and gives the value back under it.
    template <typename Job>
    class Task final : public QRunnable
    {
    public:
        Task(Job job, std::shared_ptr<Slot> slot, QFutureInterface<void> done)
            : job(std::move(job))
            , slot(std::move(slot))
            , done(std::move(done))
        {
        }

        void run() override
        {
            std::unique_lock<std::mutex> handing(ZelvoOrderedWorkPrivate::handOff());
            handing.unlock();
            T value = job();
            handing.lock();
            slot->value = std::move(value);
            handing.unlock();
            done.reportFinished();
        }

    private:
        Job job;
        std::shared_ptr<Slot> slot;
        QFutureInterface<void> done;
    };

    struct Entry
    {
        QFuture<void> future;
        std::shared_ptr<Slot> slot;
        std::optional<T> value;
    };

    void deliverReady()
    {
        // A delivery that gives more work must not overtake the results
        // still queued, nor deliver them from inside itself.
        if (delivering)
            return;
        delivering = true;
        while (!queue.isEmpty()) {
            Entry& head = queue.head();
            if (!head.value) {
                if (!head.future.isFinished()) {
                    watcher.setFuture(head.future);
                    break;
                }
                const std::lock_guard<std::mutex> taking(ZelvoOrderedWorkPrivate::handOff());
                head.value = std::move(head.slot->value);
            }
            T value = std::move(*queue.dequeue().value);
            deliver(std::move(value));
        }
        delivering = false;
    }

    Deliver deliver;
    QThreadPool* pool;
    QQueue<Entry> queue;
    QFutureWatcher<void> watcher;
    bool delivering = false;
};
