#include "record/ZelvoRecorder.h"

#include "clock/ZelvoClock.h"

#include <utility>

ZelvoRecorder::ZelvoRecorder(int capacity, const ZelvoClock* clock, QObject* parent)
    : QObject(parent)
    , ownClock(clock ? nullptr : std::make_unique<ZelvoClock>())
    , clock(clock ? clock : ownClock.get())
    , ring(qMax(1, capacity))
{
}

ZelvoRecorder::~ZelvoRecorder() = default;

quint64 ZelvoRecorder::append(ZelvoRecord record)
{
    // A fact its kind does not carry would be lost to every reader.
    Q_ASSERT_X(record.strayMembers().isEmpty(), "ZelvoRecorder::append",
               qPrintable(ZelvoRecord::kindName(record.kind) + QStringLiteral(" holds ")
                          + record.strayMembers().join(QStringLiteral(", "))));
    if (count == ring.size()) {
        emit aboutToDropOldest(1);
        heldPayloadBytes -= ring[first].payload.size();
        ring[first] = ZelvoRecord();
        first = slot(1);
        --count;
        payloadsReleased = qMax(0, payloadsReleased - 1);
        emit oldestDropped(1);
    }
    record.sequence = nextSequence++;
    record.timeMillis = clock->epochMillis();
    const quint64 sequence = record.sequence;
    heldPayloadBytes += record.payload.size();
    emit aboutToAppend(count);
    ring[slot(count)] = std::move(record);
    ++count;
    emit appended(ring[slot(count - 1)]);
    // Found by its number: a reader of appended may have appended more.
    const qint64 index = count > 0 ? qint64(sequence - at(0).sequence) : -1;
    if (index >= 0 && index < count) {
        QByteArray& payload = ring[slot(int(index))].payload;
        if (payload.size() > wholePayloadBytes) {
            heldPayloadBytes -= payload.size() - payloadStartBytes;
            payload = payload.left(payloadStartBytes);
        }
    }
    if (heldPayloadBytes > payloadBudget)
        releasePayloads();
    return sequence;
}

const ZelvoRecord& ZelvoRecorder::at(int index) const
{
    Q_ASSERT(index >= 0 && index < count);
    return ring[slot(index)];
}

QVector<ZelvoRecord> ZelvoRecorder::since(quint64 sequence) const
{
    QVector<ZelvoRecord> records;
    if (count == 0 || sequence >= lastSequence())
        return records;
    // Sequence numbers are consecutive within the ring.
    const quint64 oldest = at(0).sequence;
    const int start = sequence < oldest ? 0 : int(sequence - oldest + 1);
    records.reserve(count - start);
    for (int index = start; index < count; ++index)
        records.append(at(index));
    return records;
}

QSet<int> ZelvoRecorder::connectionsOf(const QString& agent) const
{
    QSet<int> connections;
    for (int index = 0; index < count; ++index) {
        const ZelvoRecord& record = at(index);
        if (record.source.connection > 0 && record.agent == agent)
            connections.insert(*record.source.connection);
    }
    return connections;
}

void ZelvoRecorder::clear()
{
    emit aboutToClear();
    ring.fill(ZelvoRecord());
    first = 0;
    count = 0;
    payloadsReleased = 0;
    heldPayloadBytes = 0;
    clearedAt = lastSequence();
    emit cleared();
}

// Oldest first, never the newest: its reader may still want to see it.
void ZelvoRecorder::releasePayloads()
{
    while (heldPayloadBytes > payloadBudget && payloadsReleased < count - 1) {
        ZelvoRecord& record = ring[slot(payloadsReleased++)];
        heldPayloadBytes -= record.payload.size();
        record.payload = QByteArray();
    }
}
