#pragma once

#include "ZelvoReport.h"

#include <QImage>
#include <QJsonObject>
#include <QObject>
#include <QVector>

#include <functional>
#include <memory>

class QThreadPool;
class ZelvoClock;
class ZelvoRecorder;
template <typename T>
class ZelvoOrderedWork;

// The display's changes since the emulator started or was last reset, kept
// for run reports: each change the rectangle that differs from the one
// before, as PNG (the display changes little from one content to the
// next), with the record it came after, its time and the display as data.
// Frames are compressed off the window's thread, in the order shown. The
// history keeps within byteBudget by letting its oldest frames go, and
// says so in the record. Displays waiting for their compression are
// bounded too: a display that changes faster than it is compressed keeps
// only its newest change beyond maxCompressing, and the log says that
// changes were left out.
class ZelvoDisplayHistory final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoDisplayHistory)

public:
    // About two hours of one content a second.
    static constexpr qint64 byteBudget = 24 * 1024 * 1024;
    // A whole display at least this often, so that the display at any
    // record is a few patches away from one.
    static constexpr int keyEvery = 32;
    // Displays given to the compressing thread and not taken back yet.
    static constexpr int maxCompressing = 8;

    using Frames = QVector<ZelvoReport::Frame>;
    // The frames, and how many the history let go before the first.
    using Deliver = std::function<void(const Frames& frames, qint64 dropped)>;

    ZelvoDisplayHistory(ZelvoRecorder* recorder, const ZelvoClock* clock, QObject* parent = nullptr);
    ~ZelvoDisplayHistory() override;

    // What a display shows as data, written when its frame is compressed:
    // the values it needs are taken when it is shown.
    using Describe = std::function<QJsonObject()>;

    // The display as it is shown now, after the newest record, and what it
    // shows as data.
    void showImage(const QImage& image, Describe describe);
    // The display as it stood after record sequence (a whole display),
    // then every change since, once every frame shown so far is compressed.
    void framesSince(quint64 sequence, const Deliver& deliver);

    qint64 bytes() const { return heldBytes; }
    int size() const { return frames.size(); }

private:
    // A frame as the history keeps it: what the display shows as data stays
    // JSON text until a report asks for it. Parsed, one text's description
    // holds about six times its text in memory, which the budget missed.
    struct Kept
    {
        ZelvoReport::Frame frame;
        QByteArray screen;
    };

    // A frame compressed, or a request for the frames waiting its turn.
    struct Entry
    {
        Kept kept;
        bool changed = false;
        // Frames of the records before a reset are let go when they come.
        int generation = 0;
        quint64 since = 0;
        Deliver deliver;
    };

    struct Display
    {
        // The record after which it was shown, and when.
        quint64 sequence = 0;
        qint64 timeMillis = 0;
        QImage image;
        Describe describe;
    };

    void compress(Display display);
    void compressWaiting();
    void take(const Entry& entry);
    void clear();
    void keepWithinBudget();
    Frames since(quint64 sequence) const;
    // The whole display at frames[index], from the key frame before it.
    ZelvoReport::Frame composedAt(int index) const;
    static qint64 costOf(const Kept& kept);

    ZelvoRecorder* recorder = nullptr;
    const ZelvoClock* clock = nullptr;
    std::unique_ptr<QThreadPool> encoders;
    std::unique_ptr<ZelvoOrderedWork<Entry>> encoded;
    QVector<Kept> frames;
    qint64 heldBytes = 0;
    qint64 droppedFrames = 0;
    // What was last compressed, which the next display is compared with.
    Display last;
    // The newest display that did not fit among those being compressed,
    // and whether the log said since the last reset that changes go.
    Display waiting;
    bool leftOutSaid = false;
    int sinceKey = 0;
    int generation = 0;
};
