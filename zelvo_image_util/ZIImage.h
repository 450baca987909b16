#pragma once

#include <QtGlobal>

#include <memory>

class QByteArray;
class QString;

// One complete ZI file in memory: the 6-byte header and the packed pixels.
// The bytes are not interpreted; any sequence within the bounds is held.
// Diagnostics go to standard output, like the rest of the container code.
class ZIImage
{
public:
    // The whole file, header included: 320 x 216 pixels at one bit each;
    // a full display image with its header (8646 bytes) does not fit.
    static constexpr int maxSize = 8640;
    // The smallest buffer alloc() hands out: a header and one pixel byte.
    static constexpr int minAllocSize = 7;
    // The byte count is 16 bits wide; alloc() refuses anything larger.
    static constexpr int maxAllocSize = 0xFFFF;

    ZIImage();
    ZIImage(const char* bytes, int length);
    explicit ZIImage(const QByteArray& bytes);
    ZIImage(const ZIImage& other);
    ZIImage(ZIImage&& other) noexcept;
    explicit ZIImage(int length);
    virtual ~ZIImage();

    ZIImage& operator=(const ZIImage& other);
    ZIImage& operator=(ZIImage&& other) noexcept;

    int size() const;
    quint8* data();
    const quint8* data() const;
    bool isNull() const;

    QByteArray toByteArray() const;
    void fromByteArray(const QByteArray& bytes);
    void alloc(int length);

    bool load(const QString& path);
    // False with the system's reason in *reason, when given.
    bool save(const QString& path, QString* reason = nullptr) const;

    quint32 hash() const;
    static quint32 hash(const quint8* bytes, qsizetype length);
    void printInfo() const;

    bool operator==(const ZIImage& other) const;
    bool operator!=(const ZIImage& other) const;

private:
    void clear();
    void assign(const char* where, const quint8* bytes, int length);

    std::unique_ptr<quint8[]> buffer;
    quint16 bufferSize = 0;
};
