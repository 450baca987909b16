#pragma once

#include <QtGlobal>

class QByteArray;
class QImage;
class QSize;
class QString;
class ZIImage;

// The ZI format: a 6-byte header (".zi", then width and height in 12 bits
// each: w11..w4 | w3..w0 h11..h8 | h7..h0) and the pixels packed eight to a
// byte, row-major, rows not padded, the first pixel of a byte in bit 0.
// A set bit is a lit pixel.
class ZIImageUtil final
{
public:
    // Width and height are 12-bit fields.
    static constexpr int maxDimension = 0xFFF;
    static constexpr int headerSize = 6;
    // The decoder refuses anything shorter, whatever its header says.
    static constexpr int minDecodeSize = 10;
    // Lit pixels of decoded images; the background is white.
    static constexpr quint32 litColor = 0xFF00FF00;
    static constexpr quint32 backgroundColor = 0xFFFFFFFF;

    ZIImageUtil() = delete;

    static QImage ziUncompress(const QByteArray& bytes);
    static QImage ziUncompress(const QString& path);
    static ZIImage ziCompress(const QImage& image);

    // The complete ZI byte sequence of a picture, without the container's
    // bound; empty when a side exceeds maxDimension.
    static QByteArray ziEncode(const QImage& image);

    // Length of the ZI form of a width x height picture, header included.
    static qint64 ziByteCount(int width, int height);
    // The 6 header bytes for a width x height picture (low 12 bits of each).
    static QByteArray ziHeader(int width, int height);
    // Width and height announced by a ZI header; invalid when the bytes do
    // not start with one.
    static QSize ziDimensions(const QByteArray& bytes);

    // The colour rule of the encoder: full green, neither full red nor
    // full blue. Alpha is ignored. Bitwise rather than logical ands keep it
    // free of branches, which random pictures would mispredict.
    static constexpr bool isLit(quint32 argb)
    {
        return ((argb & 0x00FF00u) == 0x00FF00u) & ((argb & 0xFF0000u) != 0xFF0000u)
            & ((argb & 0x0000FFu) != 0x0000FFu);
    }

    // Pictures reduced to lit and background pixels (litColor on white),
    // ready for ziCompress. Dark is lit: the glasses draw lit pixels as
    // light on a see-through lens, so dark ink on paper becomes the drawing.
    // Transparent areas count as white paper. A pixel is lit when its
    // luminance is below thresholdPercent of full brightness.
    static QImage toMono(const QImage& picture, int thresholdPercent = 50);
    // The same reduction with Floyd-Steinberg error diffusion, so that grey
    // tones become a density of lit pixels.
    static QImage toDithered(const QImage& picture);
};
