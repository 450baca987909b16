#include "ZelvoFile.h"

#include <QByteArray>
#include <QFile>
#include <QSaveFile>
#include <QString>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool ZelvoFile::openRegular(const QString& path, QFile* file, QString* error)
{
    // Without O_NONBLOCK, opening a FIFO waits for a writer that may never come.
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    struct stat status = {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        *error = QStringLiteral("%1 is not a regular file").arg(path);
        return false;
    }
    if (!file->open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        *error = QStringLiteral("cannot read %1: %2").arg(path, file->errorString());
        return false;
    }
    return true;
}

bool ZelvoFile::readRegular(const QString& path, qint64 maxBytes, QByteArray* bytes, QString* error)
{
    bytes->clear();
    QFile file;
    if (!openRegular(path, &file, error))
        return false;
    // Read in pieces up to one byte past the limit: the size the file
    // announces can change while it is read, and a one-shot read would
    // allocate the whole limit for the smallest file.
    constexpr qint64 piece = 64 * 1024;
    while (bytes->size() <= maxBytes) {
        const QByteArray next = file.read(qMin(piece, maxBytes + 1 - bytes->size()));
        if (next.isEmpty())
            break;
        bytes->append(next);
    }
    if (bytes->size() > maxBytes) {
        bytes->clear();
        *error = QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(maxBytes);
        return false;
    }
    if (file.error() != QFileDevice::NoError) {
        bytes->clear();
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool ZelvoFile::writeWhole(const QString& path, const Writer& write, QString* reason,
                           QFileDevice::Permissions permissions)
{
    QSaveFile file(path);
    QString written;
    // The system's reason is taken where a step fails: a write that a full
    // disk cuts short after some bytes leaves the file's own error unnamed.
    int failure = 0;
    const auto step = [&failure](const auto& run) {
        errno = 0;
        const bool done = run();
        failure = done ? 0 : errno;
        return done;
    };
    // flush() before commit(): commit() overlooks a failure of the buffered
    // bytes it writes while closing, and a full disk would leave a short
    // file reported as written.
    if (step([&] { return file.open(QIODevice::WriteOnly); })
        && step([&] { return !permissions || file.setPermissions(permissions); })
        && step([&] { return write(&file, &written); }) && step([&] { return file.flush(); })
        && step([&] { return file.commit(); }))
        return true;
    if (!written.isEmpty())
        *reason = written;
    else if (failure != 0 && file.errorString() == QFile().errorString())
        *reason = QString::fromLocal8Bit(std::strerror(failure));
    else
        *reason = file.errorString();
    return false;
}

bool ZelvoFile::writeWhole(const QString& path, const QByteArray& bytes, QString* reason,
                           QFileDevice::Permissions permissions)
{
    return writeWhole(path, [&bytes](QIODevice* file, QString*) { return file->write(bytes) == bytes.size(); },
                      reason, permissions);
}
