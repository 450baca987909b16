#include "recording/ZelvoDisplayHistory.h"

#include "clock/ZelvoClock.h"
#include "record/ZelvoRecorder.h"
#include "util/ZelvoOrderedWork.h"
#include "util/ZelvoUtil.h"
#include "ZelvoLog.h"

#include <QJsonDocument>
#include <QPainter>
#include <QThreadPool>

#include <algorithm>
#include <utility>

ZelvoDisplayHistory::ZelvoDisplayHistory(ZelvoRecorder* recorder, const ZelvoClock* clock, QObject* parent)
    : QObject(parent)
    , recorder(recorder)
    , clock(clock)
    , encoders(std::make_unique<QThreadPool>())
    , encoded(std::make_unique<ZelvoOrderedWork<Entry>>(this, [this](const Entry& entry) { take(entry); },
                                                         encoders.get()))
{
    // One thread: the frames depend on the one before, and the window's
    // thread keeps the other cores.
    encoders->setMaxThreadCount(1);
    connect(recorder, &ZelvoRecorder::cleared, this, &ZelvoDisplayHistory::clear);
}

ZelvoDisplayHistory::~ZelvoDisplayHistory()
{
    // The frame being compressed ends before the work that would take it
    // goes: its watcher must not meet the thread's last signal.
    encoded->cancel();
    encoders->clear();
    encoders->waitForDone();
}

void ZelvoDisplayHistory::showImage(const QImage& image, Describe describe)
{
    Display shown{recorder->lastSequence(), clock->epochMillis(),
                  image.format() == QImage::Format_ARGB32_Premultiplied
                      ? image
                      : image.convertToFormat(QImage::Format_ARGB32_Premultiplied),
                  std::move(describe)};
    // Each display waiting holds a whole picture: content sent as fast as
    // a socket carries it would otherwise pile them up without end.
    if (encoded->pending() >= maxCompressing) {
        if (!waiting.image.isNull() && !std::exchange(leftOutSaid, true))
            qCWarning(zelvoRecordingsLog, "\033[33mZelvoDisplayHistory::showImage the display changes faster than "
                                          "it is compressed: changes are left out of run reports\033[0m");
        waiting = std::move(shown);
        return;
    }
    compressWaiting();
    compress(std::move(shown));
}

void ZelvoDisplayHistory::compress(Display display)
{
    const bool key = last.image.isNull() || last.image.size() != display.image.size() || sinceKey + 1 >= keyEvery;
    sinceKey = key ? 0 : sinceKey + 1;
    encoded->run([display, key, before = last.image, generation = generation] {
        Entry entry;
        entry.generation = generation;
        const QRect rect = key ? display.image.rect() : ZelvoUtil::changedRect(before, display.image);
        entry.changed = !rect.isEmpty();
        if (entry.changed) {
            ZelvoReport::Frame& frame = entry.kept.frame;
            frame.sequence = display.sequence;
            frame.timeMillis = display.timeMillis;
            frame.key = key;
            frame.rect = rect;
            frame.png = ZelvoUtil::encodePng(key ? display.image : display.image.copy(rect));
            entry.kept.screen = QJsonDocument(display.describe()).toJson(QJsonDocument::Compact);
        }
        return entry;
    });
    last = std::move(display);
}

void ZelvoDisplayHistory::compressWaiting()
{
    if (!waiting.image.isNull())
        compress(std::exchange(waiting, Display()));
}

void ZelvoDisplayHistory::framesSince(quint64 sequence, const Deliver& deliver)
{
    // Every display shown so far is in the answer.
    compressWaiting();
    Entry request;
    request.since = sequence;
    request.deliver = deliver;
    encoded->add(std::move(request));
}

void ZelvoDisplayHistory::take(const Entry& entry)
{
    if (entry.deliver) {
        entry.deliver(since(entry.since), droppedFrames);
        return;
    }
    // Room for the newest display while the others are delivered.
    if (encoded->pending() < maxCompressing)
        compressWaiting();
    if (!entry.changed || entry.generation != generation)
        return;
    frames.append(entry.kept);
    heldBytes += costOf(frames.constLast());
    keepWithinBudget();
}

void ZelvoDisplayHistory::clear()
{
    // Requests for frames still waiting are answered in their turn, with
    // what the history holds then.
    ++generation;
    frames.clear();
    heldBytes = 0;
    droppedFrames = 0;
    leftOutSaid = false;
    // The records begin again with the display as it stands.
    const Display shown = waiting.image.isNull() ? last : waiting;
    waiting = Display();
    last = Display();
    if (!shown.image.isNull())
        showImage(shown.image, shown.describe);
}

void ZelvoDisplayHistory::keepWithinBudget()
{
    if (heldBytes <= byteBudget)
        return;
    // A quarter below the budget, so that this is not done again at the
    // next frame, and up to a whole display that the rest can start from.
    int drop = 0;
    qint64 freed = 0;
    while (drop < frames.size() - 1 && (heldBytes - freed > byteBudget * 3 / 4 || !frames.at(drop).frame.key)) {
        freed += costOf(frames.at(drop));
        ++drop;
    }
    while (drop < frames.size() - 1 && !frames.at(drop).frame.key) {
        freed += costOf(frames.at(drop));
        ++drop;
    }
    if (drop == 0)
        return;
    frames.remove(0, drop);
    heldBytes -= freed;
    droppedFrames += drop;
    ZelvoRecord record(ZelvoRecord::Direction::Link, ZelvoRecord::Kind::FramesDropped, ZelvoRecord::Outcome::Info);
    record.dropped = drop;
    record.limit = byteBudget;
    recorder->append(std::move(record));
}

ZelvoDisplayHistory::Frames ZelvoDisplayHistory::since(quint64 sequence) const
{
    if (frames.isEmpty())
        return {};
    // The display as it stood after that record: the last frame shown by
    // then, or the first kept when the history let those go.
    int first = 0;
    for (int i = 0; i < frames.size() && frames.at(i).frame.sequence <= sequence; ++i)
        first = i;
    Frames result;
    result.reserve(frames.size() - first);
    for (int i = first; i < frames.size(); ++i) {
        result.append(i == first ? composedAt(i) : frames.at(i).frame);
        result.last().screen = QJsonDocument::fromJson(frames.at(i).screen).object();
    }
    return result;
}

ZelvoReport::Frame ZelvoDisplayHistory::composedAt(int index) const
{
    ZelvoReport::Frame frame = frames.at(index).frame;
    if (frame.key)
        return frame;
    int key = index;
    while (key > 0 && !frames.at(key).frame.key)
        --key;
    QImage display =
        QImage::fromData(frames.at(key).frame.png, "PNG").convertToFormat(QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&display);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        for (int i = key + 1; i <= index; ++i)
            painter.drawImage(frames.at(i).frame.rect.topLeft(), QImage::fromData(frames.at(i).frame.png, "PNG"));
    }
    frame.key = true;
    frame.rect = display.rect();
    frame.png = ZelvoUtil::encodePng(display);
    return frame;
}

qint64 ZelvoDisplayHistory::costOf(const Kept& kept)
{
    return kept.frame.png.size() + kept.screen.size() + qint64(sizeof(Kept));
}
