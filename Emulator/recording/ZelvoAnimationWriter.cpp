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
    if (!file->seek(position) || file->write(bytes) != bytes.size())
        return fail(file->errorString());
    return true;
}

bool ZelvoAnimationWriter::fail(const QString& reason)
{
    if (error.isEmpty())
        error = reason;
    return false;
}
