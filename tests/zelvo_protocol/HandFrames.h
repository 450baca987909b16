#pragma once

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>
#include <QList>

// Frames built by hand, independent of the framing code under test.
namespace HandFrames {

inline QByteArray header(qint64 length)
{
    QByteArray bytes;
    QDataStream(&bytes, QIODevice::WriteOnly) << quint32(length);
    return bytes;
}

inline QByteArray frame(const QByteArray& payload)
{
    return header(payload.size()) + payload;
}

inline QList<QByteArray> split(const QByteArray& bytes, int size)
{
    QList<QByteArray> chunks;
    for (int i = 0; i < bytes.size(); i += size)
        chunks << bytes.mid(i, size);
    return chunks;
}

} // namespace HandFrames
