#pragma once

#include "record/ZelvoRecord.h"

#include <QtGlobal>

class QByteArray;
class QImage;
class QString;

// File helpers of the emulator: the agents' image store on disk and the
// guarded decoding of the pictures it holds.
class ZelvoUtil final
{
public:
    // Pictures announcing a larger side are refused before decoding: the
    // display is 320 x 216, and a few hundred bytes of PNG header can
    // otherwise ask for gigabytes.
    static constexpr int maxImageSide = 4096;

    ZelvoUtil() = delete;

    // Removes a file or a whole directory tree; a symbolic link is removed
    // itself, never followed. False when nothing existed at path.
    static bool rm(const QString& path);

    // The file of one stored image in the agent image directory: the hash,
    // "_", the image id and the suffix (".zi" or ".png").
    static QString agentImageFileName(const QString& agentHash, const QString& imageId, const QString& suffix);

    // True unless path is a symbolic link, which the store never writes
    // through (logged).
    static bool isLinkFree(const QString& path);

    // Whether text can be part of a file name without reaching another
    // directory: no separator, no NUL, and not "." or "..".
    static bool isFileNamePart(const QString& text);

    // Decoding and storing the pictures of one configuration happens on the
    // window's thread; this many decoded bytes (a megapixel at 32 bits, half
    // that at 64) keep it under a tenth of a second, where a few kilobytes
    // of PNG could otherwise ask for seconds.
    static constexpr qint64 maxConfigDecodedBytes = 4 * 1024 * 1024;

    // A PNG payload decoded, or a null image when it is not one or is too
    // large. With a budget, a picture that would decode to more bytes than
    // are left is refused (logged), and the others take theirs from it.
    // A refused picture sets refusal to why.
    static QImage readPngData(const QByteArray& bytes, qint64* budget = nullptr,
                              ZelvoRecord::Reason* refusal = nullptr);
    // A picture file decoded (format from its contents), or a null image
    // when it is unreadable or too large.
    static QImage readImageFile(const QString& path, ZelvoRecord::Reason* refusal = nullptr);
};
