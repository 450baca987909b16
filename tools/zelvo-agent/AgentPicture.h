#pragma once

#include <QByteArray>
#include <QString>

class QImage;

// One picture file in the form an agent sends it: ZI files as they are,
// PNG files as they are, any other picture Qt reads converted to PNG; or,
// in ZI mode, every picture reduced to one bit and encoded as ZI.
class AgentPicture final
{
public:
    enum class Encoding { Original, Zi };

    explicit AgentPicture(const QString& path);

    // False with errorString() set when the file is missing, unreadable or
    // no picture.
    bool load(Encoding encoding);

    QByteArray bytes() const { return encoded; }
    QString errorString() const { return error; }

private:
    bool fail(const QString& reason);
    bool loadZi(const QByteArray& contents);
    bool encodeZi(const QImage& picture);

    QString path;
    QByteArray encoded;
    QString error;
};
