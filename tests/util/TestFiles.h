#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QtEndian>

// Files as the tests see them: whole contents, listings of trees, pictures
// as PNG bytes.
namespace TestFiles {

inline QByteArray read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Makes the missing directories; false when the bytes could not be written.
inline bool write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Every entry below root, relative and sorted: directories end in "/",
// symbolic links read "name->target" and are not followed.
inline QStringList listTree(const QString& root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        QString entry = QDir(root).relativeFilePath(info.filePath());
        if (info.isSymLink())
            entry += QStringLiteral("->") + QDir(root).relativeFilePath(info.symLinkTarget());
        else if (info.isDir())
            entry += QLatin1Char('/');
        entries.append(entry);
    }
    entries.sort();
    return entries;
}

// What a stray write for the agent hash "/tmp/x" could leave in /tmp. Only
// these names are compared: other programs use /tmp at the same time.
inline QStringList tmpEntriesOfX()
{
    return QDir(QStringLiteral("/tmp")).entryList({QStringLiteral("x*")},
                                                  QDir::AllEntries | QDir::Hidden | QDir::System);
}

inline QByteArray png(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

inline quint32 crc32(const QByteArray& bytes)
{
    quint32 crc = 0xFFFFFFFF;
    for (const char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320 & (0u - (crc & 1)));
    }
    return ~crc;
}

// A real small PNG whose header announces another size: the pixel data no
// longer fits, but nothing short of decoding can tell.
inline QByteArray pngAnnouncing(int width, int height)
{
    QImage image(2, 2, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes = png(image);
    // Signature (8), IHDR length (4), "IHDR" (4), width (4), height (4) ...
    qToBigEndian<quint32>(quint32(width), bytes.data() + 16);
    qToBigEndian<quint32>(quint32(height), bytes.data() + 20);
    qToBigEndian<quint32>(crc32(bytes.mid(12, 17)), bytes.data() + 29);
    return bytes;
}

} // namespace TestFiles
