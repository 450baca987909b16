#pragma once

#include <QtGlobal>

class QByteArray;
class QString;

// Reading files named from outside (a script, a command line), which may be
// anything the file system holds.
namespace ZelvoFile {

// Reads the whole of a regular file of at most maxBytes into bytes. A FIFO,
// a device or a directory is refused without waiting on it, and no more
// than maxBytes + 1 bytes are ever read. False with a one-line error
// naming the path otherwise.
bool readRegular(const QString& path, qint64 maxBytes, QByteArray* bytes, QString* error);

} // namespace ZelvoFile
