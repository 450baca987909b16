#include "control/ZelvoTracePlayer.h"

#include <QTimer>

#include <algorithm>
#include <limits>

ZelvoTracePlayer::ZelvoTracePlayer(QObject* parent)
    : QObject(parent)
    , timer(new QTimer(this))
{
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, &ZelvoTracePlayer::onTimeout);
}

ZelvoTracePlayer::~ZelvoTracePlayer() = default;

void ZelvoTracePlayer::play(const QList<ZelvoTrace::TimedReading>& readings)
{
    trace = readings;
    played = 0;
    playing = true;
    clock.start();
    onTimeout();
}

void ZelvoTracePlayer::stop()
{
    if (playing)
        finish(false);
}

void ZelvoTracePlayer::onTimeout()
{
    // Every reading whose time has come goes now, so that a late wake-up
    // never lets the trace fall behind for good.
    while (playing && played < trace.size() && trace.at(played).millis <= clock.elapsed())
        emit readingDue(trace.at(played++).reading);
    if (!playing)
        return;
    if (played == trace.size()) {
        finish(true);
        return;
    }
    timer->start(int(std::min<qint64>(trace.at(played).millis - clock.elapsed(), std::numeric_limits<int>::max())));
}

void ZelvoTracePlayer::finish(bool completed)
{
    timer->stop();
    playing = false;
    emit finished(completed);
}
