#include "shell/ZelvoDataLock.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QList>
#include <QSysInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A lock file holds a few dozen bytes; more is none of ours.
constexpr int maxLockBytes = 256;
// Each turn loses only to a holder that removed the file between our open
// and our lock, as a stopping emulator does.
constexpr int maxAttempts = 8;

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a directory");
    if (S_ISLNK(mode))
        return QStringLiteral("a symbolic link");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("a device");
}

QByteArray readLock(int descriptor)
{
    QByteArray bytes(maxLockBytes, '\0');
    const ssize_t got = ::pread(descriptor, bytes.data(), size_t(bytes.size()), 0);
    bytes.truncate(got < 0 ? 0 : int(got));
    return bytes;
}

// QLockFile's lines: process number, application, host.
QString holderOf(const QByteArray& bytes)
{
    const QList<QByteArray> lines = bytes.split('\n');
    bool isNumber = false;
    const qint64 pid = lines.value(0).trimmed().toLongLong(&isNumber);
    if (!isNumber || pid <= 0)
        return QString();
    const QString host = QString::fromUtf8(lines.value(2).trimmed());
    return host.isEmpty() ? QStringLiteral("process %1").arg(pid) : QStringLiteral("process %1 on %2").arg(pid).arg(host);
}

bool sameFile(const struct stat& one, const struct stat& other)
{
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

} // namespace

ZelvoDataLock::ZelvoDataLock(const QString& directory)
    : path(QDir(directory).filePath(QStringLiteral("lock")))
{
}

ZelvoDataLock::~ZelvoDataLock()
{
    if (descriptor < 0)
        return;
    // Removed while still held, so that no one takes a file about to go.
    if (holdsPath())
        ::unlink(QFile::encodeName(path).constData());
    ::close(descriptor);
}

ZelvoDataLock::Outcome ZelvoDataLock::lock(QString* message)
{
    const QByteArray name = QFile::encodeName(path);
    // Never blocks on a FIFO put there meanwhile, nor follows a link.
    constexpr int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    for (int attempt = 0; attempt < maxAttempts; ++attempt) {
        struct stat found = {};
        if (::lstat(name.constData(), &found) == 0 && !S_ISREG(found.st_mode)) {
            *message = QStringLiteral("the data folder's lock %1 is %2, not a file; remove it to start on this folder")
                           .arg(path, kindOf(found.st_mode));
            return Outcome::Refused;
        }
        int opened = ::open(name.constData(), flags | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR);
        const bool created = opened >= 0;
        if (!created && errno == EEXIST)
            opened = ::open(name.constData(), flags);
        if (opened < 0) {
            if (!created && errno == ENOENT)
                continue;
            *message = QStringLiteral("cannot open the data folder's lock %1: %2").arg(path, systemReason(errno));
            return Outcome::Refused;
        }
        struct stat status = {};
        if (::fstat(opened, &status) != 0 || !S_ISREG(status.st_mode)) {
            ::close(opened);
            continue;
        }
        if (::flock(opened, LOCK_EX | LOCK_NB) != 0) {
            const int reason = errno;
            const QString holder = holderOf(readLock(opened));
            ::close(opened);
            if (reason != EWOULDBLOCK) {
                *message = QStringLiteral("cannot lock the data folder's lock %1: %2").arg(path, systemReason(reason));
                return Outcome::Refused;
            }
            *message = QStringLiteral("data folder in use by %1").arg(holder.isEmpty() ? QStringLiteral("another emulator")
                                                                                      : holder);
            return Outcome::Refused;
        }
        if (::lstat(name.constData(), &found) != 0 || !sameFile(found, status)) {
            ::close(opened);
            continue;
        }
        const QByteArray left = readLock(opened);
        descriptor = opened;
        const QByteArray own = QByteArray::number(QCoreApplication::applicationPid()) + '\n'
                               + QCoreApplication::applicationName().toUtf8() + '\n'
                               + QSysInfo::machineHostName().toUtf8() + '\n';
        if (::ftruncate(opened, 0) != 0 || ::pwrite(opened, own.constData(), size_t(own.size()), 0) != own.size())
            *message = QStringLiteral("holding the data folder's lock, yet cannot name this process in %1: %2")
                           .arg(path, systemReason(errno));
        if (created)
            return Outcome::Taken;
        const QString holder = holderOf(left);
        const QString was = left.isEmpty() ? QStringLiteral("it was empty")
                            : holder.isEmpty() ? QStringLiteral("it named no process")
                                               : QStringLiteral("%1 no longer holds it").arg(holder);
        *message = QStringLiteral("took over the data folder's lock %1: %2").arg(path, was);
        return Outcome::TakenOver;
    }
    *message = QStringLiteral("cannot lock the data folder: its lock %1 keeps being replaced").arg(path);
    return Outcome::Refused;
}

void ZelvoDataLock::keep(QString* message)
{
    if (descriptor < 0 || holdsPath())
        return;
    const int previous = descriptor;
    descriptor = -1;
    if (lock(message) == Outcome::Refused)
        *message = QStringLiteral("the data folder was made again without its lock: %1").arg(*message);
    ::close(previous);
}

bool ZelvoDataLock::holdsPath() const
{
    struct stat held = {};
    struct stat found = {};
    return ::fstat(descriptor, &held) == 0 && ::lstat(QFile::encodeName(path).constData(), &found) == 0
           && sameFile(held, found);
}
