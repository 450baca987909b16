#pragma once

#include <QImage>
#include <QLatin1Char>
#include <QString>
#include <QStringList>

// Pictures written as rows of '#' and '.', so that a test shows its image
// in its own text and reads a result back the same way.

constexpr QRgb White = 0xFFFFFFFF;
constexpr QRgb Green = 0xFF00FF00;

// With alpha, so that a transparent paper stays transparent.
inline QImage picture(const QStringList& rows, QRgb ink = Green, QRgb paper = White)
{
    QImage image(rows.value(0).size(), rows.size(), QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, rows.at(y).at(x) == QLatin1Char('#') ? ink : paper);
    }
    return image;
}

// Any colour but green and white shows as '?'.
inline QStringList pattern(const QImage& image)
{
    QStringList rows;
    for (int y = 0; y < image.height(); ++y) {
        QString row;
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            row += pixel == Green ? QLatin1Char('#') : pixel == White ? QLatin1Char('.') : QLatin1Char('?');
        }
        rows += row;
    }
    return rows;
}
