#pragma once

#include "record/ZelvoRecord.h"

#include <QtGlobal>

class QByteArray;
class QImage;
class QImageReader;
class QRect;
class QString;
class QStringView;

// File helpers of the emulator: the files of the agents' image store and the
// guarded decoding of the pictures it holds.
class ZelvoUtil final
{
public:
    // What one picture may decode to. No display needs more (a 8000 x 8000
    // photo decodes to 244 MiB), and a few hundred bytes of PNG header can
    // otherwise ask for gigabytes: a picture announcing more is refused
    // before its pixels are allocated. It is also the budget of the pictures
    // being decoded at once, of all agents (ZelvoImageWriter).
    static constexpr qint64 maxPictureBytes = 256 * 1024 * 1024;

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

    // Base64 text decoded as QByteArray::fromBase64 decodes it (characters
    // outside the alphabet, padding too, are skipped), but straight from
    // the parsed UTF-16 and a few times faster: a photo's 28 MB of text
    // would otherwise be copied to Latin-1 first and then decoded a
    // character at a time.
    static QByteArray fromBase64(QStringView text);

    // The bytes the reader's picture decodes to, from its header alone:
    // 4 a pixel, 8 for 16-bit colour. Over maxPictureBytes it is -1, and
    // refusal says why with the numbers.
    static qint64 pictureBytes(QImageReader& reader, int index, ZelvoRecord::ImageRefusal* refusal);

    // A picture file decoded (format from its contents), or a null image
    // when it is none or is over the bound; refusal says why.
    static QImage readImageFile(const QString& path, ZelvoRecord::ImageRefusal* refusal = nullptr);

    // The picture as a PNG file's bytes; empty when it cannot be encoded.
    // Safe on any thread.
    static QByteArray encodePng(const QImage& image);

    // The smallest rectangle holding every pixel that differs between two
    // pictures of one size and one format of 32 bits a pixel; empty when
    // they are the same.
    static QRect changedRect(const QImage& before, const QImage& after);
};
