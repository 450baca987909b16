#pragma once

#include <QList>
#include <QSize>
#include <QString>

#include <functional>

class QImage;
class QPainter;
class QRectF;

// One picture of the program's resources: its file name, its size and how
// to paint it onto a transparent canvas of that size.
struct ArtworkPiece
{
    QString fileName;
    QSize size;
    std::function<void(QPainter&, const QRectF&)> paint;
};

// Every picture compiled into the program, in the order they are written.
QList<ArtworkPiece> artworkCatalogue();

// Paints a piece onto a fresh transparent image of its size.
QImage renderPiece(const ArtworkPiece& piece);
