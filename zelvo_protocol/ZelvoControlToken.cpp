#include "ZelvoControlToken.h"

#include "ZelvoFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int tokenBytes = 32;
// A token file is one short line; anything longer is not ours.
constexpr qint64 maxFileSize = 4096;
// 128 bits in hexadecimal; a shorter one given by the environment is refused.
constexpr int minGivenLength = 32;

} // namespace

ZelvoControlToken::ZelvoControlToken()
{
    std::array<quint32, tokenBytes / sizeof(quint32)> words;
    QRandomGenerator::system()->fillRange(words.data(), int(words.size()));
    token = QByteArray(reinterpret_cast<const char*>(words.data()), tokenBytes).toHex();
}

bool ZelvoControlToken::takeEnvironment(QString* error)
{
    if (!qEnvironmentVariableIsSet(environmentVariable))
        return true;
    const QByteArray given = qgetenv(environmentVariable);
    const bool printable = std::all_of(given.cbegin(), given.cend(), [](char c) { return c > ' ' && c < 127; });
    if (given.size() < minGivenLength || given.size() > maxFileSize || !printable) {
        *error = QStringLiteral("%1 must be %2 to %3 printable characters without spaces, such as the output of "
                                "\"openssl rand -hex 32\"")
                     .arg(QLatin1String(environmentVariable)).arg(minGivenLength).arg(maxFileSize);
        return false;
    }
    token = given;
    return true;
}

QByteArray ZelvoControlToken::forClient(const QString& path, QString* error)
{
    if (!qEnvironmentVariableIsSet(environmentVariable))
        return readFile(path, error);
    QByteArray given = qgetenv(environmentVariable).trimmed();
    if (given.isEmpty())
        *error = QStringLiteral("%1 is set but empty").arg(QLatin1String(environmentVariable));
    return given;
}

QString ZelvoControlToken::filePath(const QString& dataDirectory)
{
    if (!dataDirectory.isEmpty())
        return QDir(dataDirectory).absoluteFilePath(QStringLiteral("control-token"));
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/Zelvo/control-token");
}

QByteArray ZelvoControlToken::readFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the control token %1: %2").arg(path, file.errorString());
        return QByteArray();
    }
    QByteArray value = file.read(maxFileSize).trimmed();
    if (value.isEmpty())
        *error = QStringLiteral("the control token file %1 is empty").arg(path);
    return value;
}

bool ZelvoControlToken::save(const QString& path, QString* error) const
{
    const QString directory = QFileInfo(path).absolutePath();
    const QByteArray directoryName = QFile::encodeName(directory);
    if (!makePrivateDirectory(directory, error))
        return false;
    // Whoever else can write the folder, or owns it (through a link planted
    // there), could read the token or have it replace a file of theirs.
    struct stat status = {};
    if (::stat(directoryName.constData(), &status) != 0 || !S_ISDIR(status.st_mode)
        || status.st_uid != ::geteuid() || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        *error = QStringLiteral("refusing to write the control token into %1: the folder must be the user's own "
                                "and writable by no one else")
                     .arg(directory);
        return false;
    }
    return writeOwnerOnly(path, token + '\n', error);
}

bool ZelvoControlToken::writeOwnerOnly(const QString& path, const QByteArray& bytes, QString* error)
{
    QString reason;
    if (!ZelvoFile::writeWhole(path, bytes, &reason, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, reason);
        return false;
    }
    return true;
}

bool ZelvoControlToken::makePrivateDirectory(const QString& path, QString* error)
{
    const QString parent = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(parent)) {
        *error = QStringLiteral("cannot create %1").arg(parent);
        return false;
    }
    // Private from the start: no moment in which others may look in.
    if (::mkdir(QFile::encodeName(path).constData(), S_IRWXU) == 0)
        return true;
    const int reason = errno;
    if (reason == EEXIST && QFileInfo(path).isDir())
        return true;
    *error = QStringLiteral("cannot create %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(reason)));
    return false;
}

bool ZelvoControlToken::matches(const QByteArray& candidate) const
{
    // Every byte of the longer one is looked at, whatever differs first.
    const int length = std::max(token.size(), candidate.size());
    unsigned difference = unsigned(token.size() ^ candidate.size());
    for (int i = 0; i < length; ++i) {
        const unsigned char a = i < token.size() ? uchar(token.at(i)) : 0;
        const unsigned char b = i < candidate.size() ? uchar(candidate.at(i)) : 0;
        difference |= unsigned(a ^ b);
    }
    return difference == 0;
}
