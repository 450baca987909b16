#include "recording/ZelvoAnimationWriter.h"

#include <QIODevice>

ZelvoAnimationWriter::ZelvoAnimationWriter(QIODevice* file)
    : file(file)
{
}

ZelvoAnimationWriter::~ZelvoAnimationWriter() = default;

bool ZelvoAnimationWriter::write(const QByteArray& bytes)
{
    if (!writeAt(end, bytes))
        return false;
    end += bytes.size();
    return true;
}

bool ZelvoAnimationWriter::writeAt(qint64 position, const QByteArray& bytes)
{
    if (!error.isEmpty())
        return false;
    if (!file->seek(position) || !writeWhole(file, bytes))
        return fail(file->errorString());
    return true;
}

bool ZelvoAnimationWriter::writeWhole(QIODevice* device, const QByteArray& bytes)
{
    const qint64 written = device->write(bytes);
    if (written < 0 || written == bytes.size())
        return written == bytes.size();
    return device->write(bytes.constData() + written, bytes.size() - written) == bytes.size() - written;
}

bool ZelvoAnimationWriter::fail(const QString& reason)
{
    if (error.isEmpty())
        error = reason;
    return false;
}
