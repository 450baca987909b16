#include "pending/ZelvoPendingReply.h"

#include "clock/ZelvoClock.h"

#include <QTimer>

ZelvoPendingReply::ZelvoPendingReply(QObject* parent)
    : QObject(parent)
{
}

ZelvoPendingReply::~ZelvoPendingReply() = default;

bool ZelvoPendingReply::end()
{
    if (done)
        return false;
    // What it listens to may go on firing until it is gone: it finds it ended.
    done = true;
    cancelAnswer = nullptr;
    if (passing)
        passing->endPass(this);
    return true;
}

bool ZelvoPendingReply::finish(const Answer& answer)
{
    if (!end())
        return false;
    if (answer)
        answer();
    emit finished();
    // It may end inside the delivery of a signal it listens to.
    deleteLater();
    return true;
}

bool ZelvoPendingReply::finishLater(const Answer& answer)
{
    if (!end())
        return false;
    QTimer::singleShot(0, this, [this, answer] {
        if (answer)
            answer();
        emit finished();
        deleteLater();
    });
    return true;
}

void ZelvoPendingReply::expireAfter(qint64 millis, const Answer& answer, ZelvoClock* clock)
{
    const auto expire = [this, answer] { finish(answer); };
    if (clock)
        clock->singleShot(int(millis), this, expire);
    else
        QTimer::singleShot(int(millis), this, expire);
}

void ZelvoPendingReply::passManualTime(ZelvoClock* clock, qint64 millis)
{
    if (clock->passWhile(millis, this))
        passing = clock;
}

void ZelvoPendingReply::cancel()
{
    // A copy: ending lets go of the one held.
    finish(Answer(cancelAnswer));
}
