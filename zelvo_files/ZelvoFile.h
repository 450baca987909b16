#pragma once

#include <QFileDevice>
#include <QtGlobal>

#include <functional>

class QByteArray;
class QFile;
class QIODevice;
class QString;

// Reading files named from outside (a script, a command line), which may be
// anything the file system holds, and writing files whole.
namespace ZelvoFile {

// Opens a regular file for reading into file; a FIFO, a device or a
// directory is refused without waiting on it. False with a one-line error
// naming the path otherwise.
bool openRegular(const QString& path, QFile* file, QString* error);

// Reads the whole of a regular file of at most maxBytes into bytes. A FIFO,
// a device or a directory is refused without waiting on it, and no more
// than maxBytes + 1 bytes are ever read. False with a one-line error
// naming the path otherwise.
bool readRegular(const QString& path, qint64 maxBytes, QByteArray* bytes, QString* error);

// Writes what it is given into the open file; false with the reason
// (empty: the file's own error) when it could not.
using Writer = std::function<bool(QIODevice* file, QString* reason)>;

// Replaces the file at path whole, or leaves it as it was: written beside
// it and renamed over it, so that a reader, a failed write or a kill sees
// the old file or the new one, never part of either. False with the
// system's reason otherwise. The permissions, when given, are the new
// file's before a byte is in it, so that a secret is never readable by
// others on its way.
bool writeWhole(const QString& path, const Writer& write, QString* reason,
                QFileDevice::Permissions permissions = {});
bool writeWhole(const QString& path, const QByteArray& bytes, QString* reason,
                QFileDevice::Permissions permissions = {});

} // namespace ZelvoFile
