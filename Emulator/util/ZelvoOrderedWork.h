#pragma once

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>
#include <QQueue>
#include <QThreadPool>
#include <QtConcurrent>

#include <functional>
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
        queue.enqueue({QtConcurrent::run(pool, std::move(job)), std::nullopt});
        if (queue.size() == 1)
            watcher.setFuture(queue.head().future);
    }

    // Hands value over in its turn: at once when nothing is pending.
    void add(T value)
    {
        queue.enqueue({QFuture<T>(), std::move(value)});
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
    struct Entry
    {
        QFuture<T> future;
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
                head.value = head.future.result();
            }
            T value = std::move(*queue.dequeue().value);
            deliver(std::move(value));
        }
        delivering = false;
    }

    Deliver deliver;
    QThreadPool* pool;
    QQueue<Entry> queue;
    QFutureWatcher<T> watcher;
    bool delivering = false;
};
