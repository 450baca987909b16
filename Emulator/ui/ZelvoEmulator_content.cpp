#include "ui/ZelvoEmulator.h"
#include "clock/ZelvoClockTimer.h"
#include "ui/ZelvoGeometry.h"
#include "ZIImageUtil.h"
#include "model/ZelvoLayout.h"
#include "ZelvoLog.h"
#include "util/ZelvoImageStore.h"
#include "util/ZelvoPictureCache.h"
#include "util/ZelvoUtil.h"
#include "comm/ZelvoServer.h"
#include "record/ZelvoRecorder.h"

#include <QBrush>
#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QDebug>
#include <QFont>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRegion>
#include <QSaveFile>
#include <QSize>
#include <QTextLayout>
#include <QTextLine>
#include <QVector>

#include <algorithm>
#include <utility>

namespace {

const QString ziSuffix = QStringLiteral(".zi");
const QString pngSuffix = QStringLiteral(".png");

const char* const contentRule =
    "\033[96m~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~\033[0m";

// The whole file or nothing: a failed write never leaves a truncated
// image in place of the previous one, and is reported as a failure.
// flush() before commit(), because commit() overlooks a failure of the
// buffered bytes written while it closes the file.
bool writeFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    return ZelvoUtil::isLinkFree(path) && file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush()
        && file.commit();
}

QByteArray encodePng(const QImage& image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    return image.save(&buffer, "PNG") ? png : QByteArray();
}

QFont contentFont()
{
    QFont font(QStringLiteral("DejaVu Sans"), 20, QFont::Bold);
    font.setCapitalization(QFont::AllUppercase);
    return font;
}

// Characters that neither the content font nor any fallback the font
// system picks can show: they are drawn as empty boxes. Laid out only when
// the content font lacks one of them, which text in its scripts never does.
int missingGlyphs(const QList<QString>& texts)
{
    const QFont font = contentFont();
    const QFontMetrics metrics(font);
    int missing = 0;
    for (const QString& text : texts) {
        const QVector<uint> characters = text.toUcs4();
        const bool covered = std::all_of(characters.cbegin(), characters.cend(), [&metrics](uint character) {
            return QChar::isSpace(character) || metrics.inFontUcs4(character);
        });
        if (covered)
            continue;
        QTextLayout layout(text, font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        for (const QGlyphRun& run : layout.glyphRuns()) {
            const QVector<quint32> glyphs = run.glyphIndexes();
            missing += int(std::count(glyphs.cbegin(), glyphs.cend(), 0u));
        }
    }
    return missing;
}

} // namespace

void ZelvoEmulator::onZelvoConfig(int minPersistingTMillis, int maxPersistingTMillis)
{
    qCDebug(zelvoLog).nospace() << "\033[33mZelvoEmulator::onZelvoConfig \n\t\tRECEIVED CONFIG FOR ZELVO "
                                << minPersistingTMillis << "->" << maxPersistingTMillis << "\033[0m";
    this->minPersistingTMillis = minPersistingTMillis;
    this->maxPersistingTMillis = maxPersistingTMillis;
    ZelvoRecord record(ZelvoRecord::Direction::In, ZelvoRecord::Kind::ZelvoConfig, ZelvoRecord::Outcome::TimingSet);
    record.minMillis = minPersistingTMillis;
    record.maxMillis = maxPersistingTMillis;
    server->recorder()->append(std::move(record));
}

void ZelvoEmulator::onAgentConfig(const QString& agentHash, const QList<QString>& imagesArray)
{
    qCDebug(zelvoLog).nospace().noquote() << "\033[33mZelvoEmulator::configAgent \n\t\tRECEIVED CONFIG FROM AGENT "
                                          << agentHash << "\033[0m";
    ZelvoRecord record(ZelvoRecord::Direction::In, ZelvoRecord::Kind::AgentConfig, ZelvoRecord::Outcome::Configured);
    record.agent = agentHash;
    const bool ok = saveAgentImages(agentHash, imagesArray, &record);
    qCDebug(zelvoLog).nospace().noquote() << "\033[33mZelvoEmulator::configAgent Now agent " << agentHash
                                          << (ok ? " is CONFIGURED" : " is NOT CONFIGURED") << "!!!!\033[0m";
    server->recorder()->append(std::move(record));
}

bool ZelvoEmulator::saveAgentImages(const QString& agentHash, const QList<QString>& images, ZelvoRecord* record)
{
    qCDebug(zelvoLog).nospace().noquote() << "\033[33mZelvoEmulator::saveAgentImages \n\t\tAGENT " << agentHash
                                          << " has " << images.size() << " to SAVE!!!\033[0m";
    const QString directory = agentImages->agentImageDirectory(agentHash);
    if (directory.isEmpty()) {
        if (record) {
            record->outcome = ZelvoRecord::Outcome::Refused;
            record->reason = ZelvoRecord::Reason::AgentPathOutside;
        }
        return false;
    }
    qCDebug(zelvoLog).nospace().noquote() << "\033[33mZelvoEmulator::saveAgentImages \n\t\tDIR " << directory
                                          << "!!!\033[0m";

    // An agent counts as configured only when every one of its images is
    // stored; a failing image never stops the following ones.
    bool saved = !images.isEmpty();
    pictureCache->forgetAgent(agentHash);
    qint64 budget = ZelvoUtil::maxConfigDecodedBytes;
    for (int n = 0; n < images.size(); ++n) {
        const QByteArray bytes = QByteArray::fromBase64(images.at(n).toLocal8Bit());
        const bool zi = bytes.startsWith(".zi");
        const QString fileName =
            ZelvoUtil::agentImageFileName(agentHash, QString::number(n), zi ? ziSuffix : pngSuffix);
        const QString path = directory + QLatin1Char('/') + fileName;
        qCDebug(zelvoLog).nospace().noquote() << "\033[33mZelvoEmulator::saveAgentImages \n\t\tAGENT " << agentHash
                                              << " is saving image " << fileName << "!!!\033[0m";
        bool written = false;
        ZelvoRecord::Reason refusal = ZelvoRecord::Reason::WriteFailed;
        // Decoded here once; content drawn later takes it from the cache.
        QImage image;
        if (zi) {
            written = writeFile(path, bytes);
            // Kept to the same budget as PNG: a ZI header may announce
            // 4095 x 4095 pixels. One past it is decoded when first drawn.
            const QSize size = ZIImageUtil::ziDimensions(bytes);
            const qint64 decoded = qint64(size.width()) * size.height() * 4;
            if (written && size.isValid() && decoded <= budget) {
                budget -= decoded;
                image = ZIImageUtil::ziUncompress(bytes);
            }
        } else {
            image = ZelvoUtil::readPngData(bytes, &budget, &refusal);
            const QByteArray png = image.isNull() ? QByteArray() : encodePng(image);
            written = !png.isEmpty() && writeFile(path, png);
            qCDebug(zelvoLog).nospace().noquote() << "\033[33mZelvoEmulator::saveAgentImages \n\t\tSAVE IMAGE " << path
                                                  << " ret " << (written ? "true" : "false") << "!!!\033[0m";
        }
        if (!written) {
            qCDebug(zelvoLog).nospace().noquote() << "\033[31mZelvoEmulator::saveAgentImages \n\t\tERROR SAVING IMAGE "
                                                  << path << "!!!\033[0m";
            if (record)
                record->refusals.append({n, refusal});
        } else {
            pictureCache->insert(agentHash, QString::number(n), path, image);
            if (record)
                ++record->count;
        }
        saved = saved && written;
    }
    // Nothing stored of what was sent: the configuration as a whole is refused.
    if (record && record->count == 0 && !record->refusals.isEmpty()) {
        record->outcome = ZelvoRecord::Outcome::Refused;
        record->reason = record->refusals.constFirst().reason;
    }
    return saved;
}

void ZelvoEmulator::onAgentContent(const QString& agentHash, int contentId, const QString& layId,
                                   const QList<QString>& imagesId, const QList<QString>& texts)
{
    contentOnDisplay = true;
    ZelvoRecord record(ZelvoRecord::Direction::In, ZelvoRecord::Kind::AgentContent, ZelvoRecord::Outcome::NotDrawn);
    record.agent = agentHash;
    record.contentId = contentId;
    record.layoutId = layId;
    if (minPersistingTimer->isActive()) {
        qCDebug(zelvoLog).nospace() << "ZelvoEmulator::onAgentContent AGENT " << agentHash
                                    << " sended a new image but we are already waiting the min persisting time, SKIPPING ....";
        record.outcome = ZelvoRecord::Outcome::Skipped;
        record.reason = ZelvoRecord::Reason::MinTimeRunning;
        record.blockingContentId = minPersistingContentId;
        record.remainingMillis = minPersistingTimer->remainingTime();
        recordContent(std::move(record));
        return;
    }
    if (layId.isEmpty()) {
        qCDebug(zelvoLog) << "onAgentContent NULL LAY ID CAN'T process the request .... SKIPPING ... ";
        record.reason = ZelvoRecord::Reason::NoLayoutId;
        recordContent(std::move(record));
        return;
    }

    currentAgentHash = agentHash;
    currentContentId = contentId;
    qCDebug(zelvoLog) << contentRule;
    qCDebug(zelvoLog).nospace() << "\033[96mZelvoEmulator::onAgentContent USING LAY ID " << layId << "\033[0m";
    qCDebug(zelvoLog).nospace() << "\033[96mZelvoEmulator::onAgentContent IMAGE ARRAY  " << ZelvoLogList{imagesId} << "\033[0m";
    qCDebug(zelvoLog).nospace() << "\033[96mZelvoEmulator::onAgentContent TEXT ARRAY   " << ZelvoLogList{texts} << "\033[0m";
    qCDebug(zelvoLog) << contentRule;

    const int layoutNumber = layId.toInt();
    if (agentHash.isEmpty()) {
        qCDebug(zelvoLog) << "ZelvoEmulator::onAgentContent NULL AGENT HASH CAN'T process the request .... SKIPPING ... ";
        record.reason = ZelvoRecord::Reason::NoAgentHash;
        recordContent(std::move(record));
        return;
    }

    startPersistingTimers();
    const QList<ZelvoLayout>& builtIns = ZelvoLayout::builtInLayouts();
    if (layoutNumber < 0 || layoutNumber >= builtIns.size()) {
        record.reason = ZelvoRecord::Reason::NoSuchLayout;
        recordContent(std::move(record));
        return;
    }
    drawLayout(builtIns.at(layoutNumber), agentHash, imagesId, texts);
}

void ZelvoEmulator::drawLayout(const ZelvoLayout& layout, const QString& agentHash,
                               const QList<QString>& imagesId, const QList<QString>& texts)
{
    ZelvoRecord record(ZelvoRecord::Direction::In, ZelvoRecord::Kind::AgentContent, ZelvoRecord::Outcome::NotDrawn);
    record.agent = agentHash;
    record.contentId = currentContentId;
    record.layoutId = QString::number(layout.index());
    const bool imagesFit = imagesId.size() == layout.images().size();
    const bool textsFit = texts.size() == layout.texts().size();
    if (!imagesFit || !textsFit) {
        if (!imagesFit)
            qCDebug(zelvoLog) << "\033[31mZelvoEmulator::drawLayout images in layout don't match with image indexes\033[0m";
        else
            qCDebug(zelvoLog) << "\033[31mZelvoEmulator::drawLayout text in layout don't match with agent texts\033[0m";
        record.reason = ZelvoRecord::Reason::CountsDoNotFit;
        record.layoutImages = layout.images().size();
        record.layoutTexts = layout.texts().size();
        record.givenImages = imagesId.size();
        record.givenTexts = texts.size();
        recordContent(std::move(record));
        return;
    }

    qCDebug(zelvoLog).nospace() << "\033[34mZelvoEmulator::drawLayout IMAGEs " << ZelvoLogList{imagesId} << " TEXTs " << ZelvoLogList{texts}
                                << "\033[0m";

    struct Picture
    {
        QImage image;
        QString path;
        ZelvoRecord::Reason refusal = ZelvoRecord::Reason::None;
    };
    QVector<Picture> pictures(imagesId.size());
    // Where opaque pictures will cover the content area, clearing it first
    // is wasted work: an animation of full-area pictures clears nothing.
    QRegion uncovered(QRect(QPoint(0, 0), ZelvoGeometry::contentArea.size()));
    for (int i = 0; i < imagesId.size(); ++i) {
        Picture& picture = pictures[i];
        picture.image = pictureCache->picture(agentHash, imagesId.at(i), &picture.path, &picture.refusal);
        if (!picture.image.isNull() && !picture.image.hasAlphaChannel())
            uncovered -= QRect(layout.images().at(i).topLeft(), picture.image.size());
    }

    // Drawn straight into the display image, clipped to the content area,
    // instead of into an image of its own copied there after.
    QImage composed(ZelvoGeometry::displayImageSize, QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&composed);
        drawStatusStrip(&painter, true);
        painter.setClipRect(ZelvoGeometry::contentArea);
        painter.translate(ZelvoGeometry::contentArea.topLeft());
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        for (const QRect& rect : uncovered)
            painter.fillRect(rect, Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        for (int i = 0; i < texts.size(); ++i) {
            const QRect& rect = layout.texts().at(i);
            qCDebug(zelvoLog).nospace() << "\033[32mZelvoEmulator::drawLayout DRAWING text " << texts.at(i)
                                        << " on RECT " << rect << "\033[0m";
            drawElidedText(&painter, rect, texts.at(i));
        }
        // Images after texts, so that they cover the texts where they overlap.
        for (int i = 0; i < pictures.size(); ++i) {
            const Picture& picture = pictures.at(i);
            if (picture.image.isNull()) {
                // The first image missing tells the agent why; the rest is drawn all the same.
                if (record.reason == ZelvoRecord::Reason::None) {
                    record.reason = picture.refusal;
                    record.imageId = imagesId.at(i);
                }
                qCDebug(zelvoLog).nospace() << "\033[32mZelvoEmulator::drawLayout DRAWING image " << picture.path
                                            << " IS NULL!!!" << "\033[0m";
                continue;
            }
            const QRect& rect = layout.images().at(i);
            qCDebug(zelvoLog).nospace() << "\033[32mZelvoEmulator::drawLayout DRAWING image " << picture.path
                                        << " on RECT " << rect << "\033[0m";
            // Unscaled and unclipped: the glasses let a larger image spill over.
            painter.drawImage(QPointF(rect.topLeft()), picture.image);
        }
    }
    showDisplayImage(composed);
    // The display shows this content now, complete or not.
    drawnAgentHash = agentHash;
    drawnContent = currentContentId;
    record.missingGlyphs = missingGlyphs(texts);
    if (record.reason == ZelvoRecord::Reason::None) {
        record.outcome = ZelvoRecord::Outcome::Drawn;
    } else if (record.reason == ZelvoRecord::Reason::ImagePathOutside
               || record.reason == ZelvoRecord::Reason::AgentPathOutside) {
        record.outcome = ZelvoRecord::Outcome::Refused;
    }
    recordContent(std::move(record));
}

void ZelvoEmulator::recordContent(ZelvoRecord record)
{
    lastOutcome = record;
    lastOutcome.sequence = server->recorder()->append(std::move(record));
}

void ZelvoEmulator::drawElidedText(QPainter* painter, const QRect& rect, const QString& text)
{
    painter->setPen(QPen(QBrush(fullScreen ? Qt::white : Qt::green), 5));
    painter->setFont(contentFont());
    const QFontMetrics metrics = painter->fontMetrics();
    const int lineSpacing = metrics.lineSpacing();

    QTextLayout textLayout(text, painter->font());
    textLayout.beginLayout();
    int y = 0;
    for (;;) {
        QTextLine line = textLayout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(rect.width());
        // The last line that fits carries the rest of the text, elided.
        if (rect.height() < y + 2 * lineSpacing) {
            const QString rest = text.mid(line.textStart());
            painter->drawText(QPoint(rect.left(), rect.top() + y + metrics.ascent()),
                              metrics.elidedText(rest, Qt::ElideRight, rect.width()));
            break;
        }
        line.draw(painter, QPointF(rect.left(), rect.top() + y));
        y += lineSpacing;
    }
    textLayout.endLayout();
}

void ZelvoEmulator::startPersistingTimers()
{
    // Negative times count as 0, as the timers take them.
    minPersistingTimer->start(minPersistingTMillis);
    minPersistingContentId = currentContentId;
    maxPersistingTimer->start(maxPersistingTMillis);
}

void ZelvoEmulator::onMinPersistingElapsed()
{
    qCDebug(zelvoLog).nospace() << "Min persisting time (" << minPersistingTMillis << " millis)"
                                << " elapsed for content ";
}

void ZelvoEmulator::onMaxPersistingElapsed()
{
    qCDebug(zelvoLog).nospace() << "Max persisting time (" << maxPersistingTMillis << " millis)"
                                << " elapsed for content ... removing content";
    onAgentContentTimeout();
}

void ZelvoEmulator::onAgentContentTimeout()
{
    if (!currentAgentHash.isEmpty()) {
        ZelvoRecord record(ZelvoRecord::Direction::Link, ZelvoRecord::Kind::ContentRemoved, ZelvoRecord::Outcome::Removed);
        record.agent = currentAgentHash;
        record.contentId = currentContentId;
        record.maxMillis = maxPersistingTMillis;
        recordContent(std::move(record));
    }
    drawnAgentHash.clear();
    drawnContent = -1;
    currentAgentHash.clear();
    currentContentId = -1;
    updateDisplay(QImage(), false);
    contentOnDisplay = false;
}
