#pragma once

#include "record/ZelvoRecord.h"

#include <QObject>
#include <QSet>
#include <QVector>

#include <memory>

class ZelvoClock;

// The last records of what happened on the agent link, in a bounded ring.
// Appending stores the record as it is and formats nothing. Index 0 is the
// oldest record kept; a list model reads by index and follows the signals:
// aboutToAppend/appended around each new record, aboutToDropOldest and
// oldestDropped around the ring letting old ones go, aboutToClear/cleared.
class ZelvoRecorder final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoRecorder)

public:
    static constexpr int defaultCapacity = 4000;
    // Received frames may carry megabytes of images; beyond this many bytes
    // of payloads the oldest records keep their facts but let their payload go.
    static constexpr qint64 payloadBudget = 64 * 1024 * 1024;
    // A larger payload is whole only while appended is emitted (for the
    // session recording); the ring then keeps its start, as the Messages
    // window shows a frame it cannot parse. Kept whole, a frame of tens of
    // megabytes would stay beside the agents' inboxes, past their bound.
    static constexpr qint64 wholePayloadBytes = 1024 * 1024;
    static constexpr int payloadStartBytes = 4096;

    // Records are stamped on clock; without one, on a real-time clock of its own.
    explicit ZelvoRecorder(int capacity = defaultCapacity, const ZelvoClock* clock = nullptr,
                           QObject* parent = nullptr);
    ~ZelvoRecorder() override;

    // Stamps the record with the next sequence number and the time; returns
    // the sequence number.
    quint64 append(ZelvoRecord record);

    int capacity() const { return ring.size(); }
    int size() const { return count; }
    const ZelvoRecord& at(int index) const;
    // The sequence number of the newest record ever appended; 0 before any.
    quint64 lastSequence() const { return nextSequence - 1; }
    // The newest sequence number when the records were last cleared; 0
    // before. What lies between it and the oldest kept was let go.
    quint64 clearedAfter() const { return clearedAt; }
    // Kept records with a sequence number above sequence, oldest first.
    QVector<ZelvoRecord> since(quint64 sequence) const;
    qint64 payloadBytes() const { return heldPayloadBytes; }
    // The agent connections that kept records show agent used.
    QSet<int> connectionsOf(const QString& agent) const;

    void clear();

signals:
    void aboutToAppend(int index);
    void appended(const ZelvoRecord& record);
    void aboutToDropOldest(int count);
    void oldestDropped(int count);
    void aboutToClear();
    void cleared();

private:
    int slot(int index) const { return (first + index) % ring.size(); }
    void releasePayloads();

    std::unique_ptr<ZelvoClock> ownClock;
    const ZelvoClock* clock = nullptr;
    QVector<ZelvoRecord> ring;
    int first = 0;
    int count = 0;
    // Records below this index have let their payload go.
    int payloadsReleased = 0;
    qint64 heldPayloadBytes = 0;
    quint64 nextSequence = 1;
    quint64 clearedAt = 0;
};
