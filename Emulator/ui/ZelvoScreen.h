#pragma once

#include "record/ZelvoRecord.h"

#include <QJsonObject>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVector>

// What the display shows of an agent's content, as the drawing made it:
// each text's lines, whether it was cut and by how much, whether a line
// runs past its rectangle; each image's place on the canvas, or why it was
// left out. The drawing fills it in as it goes, with positions only; the
// words of each line are cut from the text when someone reads them.
// Rectangles are in content-area pixels.
class ZelvoScreen
{
public:
    // One line of a text: where it begins in the text and how many of its
    // characters it holds.
    struct Line
    {
        int start = 0;
        int length = 0;
    };

    struct Text
    {
        QRect rect;
        QString text;
        QVector<Line> lines;
        // The last line as drawn when the text reached the rectangle's foot
        // (elided or whole); null when every line was laid out in full.
        QString lastLine;
        bool cut = false;
        int hiddenChars = 0;
        // Pixels the widest line runs past the rectangle's right edge.
        int overflow = 0;
        // Characters that no font the program has can show.
        int missingGlyphs = 0;

        // The lines in capitals, as drawn, without their trailing blanks.
        QStringList shownLines() const;
        bool fits() const { return !cut && overflow == 0; }
    };

    struct Image
    {
        QString id;
        QRect rect;
        // The part of the canvas the picture covers; empty when left out.
        QRect drawn;
        // The canvas border cut the picture.
        bool cut = false;
        // Indexes of the texts whose rectangles the picture covers.
        QVector<int> covers;
        // Why it was left out; None when drawn.
        ZelvoRecord::Reason reason = ZelvoRecord::Reason::None;
    };

    QString agent;
    int contentId = -1;
    // The layout id as the message gave it, and the layout drawn.
    QString layoutId;
    int layout = -1;
    QVector<Text> texts;
    QVector<Image> images;

    // Places a drawn picture of the given size at its rectangle: the part
    // of the canvas it covers and the texts under it.
    void place(Image* image, const QSize& pictureSize, const QSize& canvasSize) const;
    // The texts cut or overflowing and the pictures covering text, as the
    // record of the content tells them.
    void describeFit(ZelvoRecord* record) const;

    // agent, contentId, layoutId, layout, texts and images; empty lists and
    // no agent when nothing is shown.
    QJsonObject toJson() const;
};
