#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class ZelvoClock;

// An answer given later, after something happens: it ends exactly once, by
// its result, its time-out or a cancel, whichever comes first, and what
// comes after that is dropped. The connections and timers it is the
// context of end with it, and it deletes itself. The model is KDE's KJob.
class ZelvoPendingReply final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoPendingReply)

public:
    using Answer = std::function<void()>;

    explicit ZelvoPendingReply(QObject* parent = nullptr);
    ~ZelvoPendingReply() override;

    bool isFinished() const { return done; }
    // Ends with answer; false, answering nothing, once it has ended.
    bool finish(const Answer& answer);
    // Ends now and answers from the event loop, so that the answer never
    // runs inside the delivery of what ended it.
    bool finishLater(const Answer& answer);
    // Ends with answer after millis on clock's time, or real time without
    // a clock.
    void expireAfter(qint64 millis, const Answer& answer, ZelvoClock* clock = nullptr);
    // Moves a manual clock on by millis while the wait lasts; its end stops
    // the clock where it stands.
    void passManualTime(ZelvoClock* clock, qint64 millis);
    // What cancel() ends it with; without one a cancel answers nothing.
    void setCancelAnswer(const Answer& answer) { cancelAnswer = answer; }
    // Ends it early: a reset, or its client gone.
    void cancel();

signals:
    // Once, after its answer.
    void finished();

private:
    // True once, when it ends.
    bool end();

    bool done = false;
    Answer cancelAnswer;
    QPointer<ZelvoClock> passing;
};
