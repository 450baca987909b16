#include "shell/ZelvoStopSignals.h"

#include <QSocketNotifier>
#include <QString>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::array<int, 3> stopSignals{SIGTERM, SIGINT, SIGHUP};

// What the handler may touch: plain values, set before it is installed.
int pipeEnds[2] = {-1, -1};
volatile std::sig_atomic_t received = 0;

extern "C" void onStopSignal(int signal)
{
    if (received) {
        // Async-signal-safe both: the signal is blocked while its handler
        // runs, so the raised one ends the process as soon as this returns.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    received = signal;
    const int savedErrno = errno;
    const char number = char(signal);
    // A full pipe means a stop is on its way already.
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &number, 1);
    errno = savedErrno;
}

void restoreDefaults()
{
    for (const int signal : stopSignals)
        std::signal(signal, SIG_DFL);
}

} // namespace

ZelvoStopSignals::ZelvoStopSignals(QObject* parent)
    : QObject(parent)
{
}

ZelvoStopSignals::~ZelvoStopSignals()
{
    if (!notifier)
        return;
    restoreDefaults();
    delete notifier;
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    pipeEnds[0] = pipeEnds[1] = -1;
    received = 0;
}

bool ZelvoStopSignals::install(QString* error)
{
    if (pipeEnds[0] >= 0) {
        *error = QStringLiteral("the stop signals are taken already");
        return false;
    }
    // Not inherited by the programs this one may start.
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = QStringLiteral("no pipe for the stop signals: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &ZelvoStopSignals::readSignal);
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : stopSignals) {
        if (::sigaction(signal, &action, nullptr) != 0) {
            *error = QStringLiteral("cannot handle %1: %2").arg(name(signal), QString::fromLocal8Bit(std::strerror(errno)));
            restoreDefaults();
            return false;
        }
    }
    return true;
}

QString ZelvoStopSignals::name(int signal)
{
    switch (signal) {
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        return QStringLiteral("signal %1").arg(signal);
    }
}

void ZelvoStopSignals::readSignal()
{
    char number = 0;
    if (::read(pipeEnds[0], &number, 1) != 1)
        return;
    // Only one stop: the handler ends the process on any later signal.
    notifier->setEnabled(false);
    emit stopRequested(int(number));
}
