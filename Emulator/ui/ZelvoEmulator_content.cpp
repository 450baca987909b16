#include "ui/ZelvoEmulator.h"
#include "clock/ZelvoClockTimer.h"
#include "ui/ZelvoGeometry.h"
#include "ZIImageUtil.h"
#include "model/ZelvoLayout.h"
#include "ZelvoLog.h"
#include "util/ZelvoImageStore.h"
#include "util/ZelvoImageWriter.h"
#include "util/ZelvoPictureCache.h"
#include "util/ZelvoUtil.h"
#include "comm/ZelvoServer.h"
#include "record/ZelvoRecorder.h"

#include <QBrush>
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
#include <QSize>
#include <QTextLayout>
#include <QTextLine>
#include <QVector>

#include <algorithm>
#include <functional>
#include <utility>

namespace {

const char* const contentRule =
    "\033[96m~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~\033[0m";

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
    qCDebug(zelvoContentLog).nospace() << "\033[33mZelvoEmulator::onZelvoConfig \n\t\tRECEIVED CONFIG FOR ZELVO "
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
    qCDebug(zelvoContentLog).nospace().noquote() << "\033[33mZelvoEmulator::configAgent \n\t\tRECEIVED CONFIG FROM AGENT "
                                          << agentHash << "\033[0m";
    saveAgentImages(agentHash, imagesArray);
}

void ZelvoEmulator::saveAgentImages(const QString& agentHash, const QList<QString>& images)
{
    qCDebug(zelvoContentLog).nospace().noquote() << "\033[33mZelvoEmulator::saveAgentImages \n\t\tAGENT " << agentHash
                                          << " has " << images.size() << " to SAVE!!!\033[0m";
    QString writeError;
    const QString directory = agentImages->agentImageDirectory(agentHash, &writeError);
    if (!directory.isEmpty())
        qCDebug(zelvoContentLog).nospace().noquote() << "\033[33mZelvoEmulator::saveAgentImages \n\t\tDIR " << directory
                                              << "!!!\033[0m";
    // Stored off this thread; the agent's later frames wait until then, so
    // that its content finds these pictures.
    const std::function<void()> release = server->holdRelayingAgent();
    const bool sent = !images.isEmpty();
    imageWriter->store(agentHash, directory, images,
                       [this, release, sent, writeError](const ZelvoImageWriter::Configuration& configuration) {
                           onAgentImagesSaved(configuration, sent, writeError);
                           release();
                       });
}

void ZelvoEmulator::onAgentImagesSaved(const ZelvoImageWriter::Configuration& configuration, bool imagesSent,
                                       const QString& writeError)
{
    const QString& agentHash = configuration.agentHash;
    ZelvoRecord record(ZelvoRecord::Direction::In, ZelvoRecord::Kind::AgentConfig, ZelvoRecord::Outcome::Configured);
    record.agent = agentHash;
    if (configuration.directory.isEmpty()) {
        record.outcome = ZelvoRecord::Outcome::Refused;
        record.reason = writeError.isEmpty() ? ZelvoRecord::Reason::AgentPathOutside : ZelvoRecord::Reason::WriteFailed;
        record.writeError = writeError;
    } else {
        pictureCache->forgetAgent(agentHash);
    }
    for (const ZelvoImageWriter::Image& image : configuration.images) {
        qCDebug(zelvoContentLog).nospace().noquote() << "\033[33mZelvoEmulator::saveAgentImages \n\t\tAGENT " << agentHash
                                              << " is saving image " << image.fileName << "!!!\033[0m";
        if (!image.zi)
            qCDebug(zelvoContentLog).nospace().noquote() << "\033[33mZelvoEmulator::saveAgentImages \n\t\tSAVE IMAGE "
                                                  << image.path << " ret " << (image.stored ? "true" : "false")
                                                  << "!!!\033[0m";
        if (!image.stored) {
            qCDebug(zelvoContentLog).nospace().noquote() << "\033[31mZelvoEmulator::saveAgentImages \n\t\tERROR SAVING IMAGE "
                                                  << image.path << "!!! " << ZelvoRecord::refusalText(image.refusal)
                                                  << "\033[0m";
            record.refusals.append(image.refusal);
            if (record.writeError.isEmpty())
                record.writeError = image.writeError;
        } else {
            pictureCache->insert(agentHash, QString::number(image.index), image.path, image.visible);
            ++record.count;
        }
    }
    // Nothing stored of what was sent: the configuration as a whole is refused.
    if (record.count == 0 && !record.refusals.isEmpty()) {
        record.outcome = ZelvoRecord::Outcome::Refused;
        record.reason = record.refusals.constFirst().reason;
    }
    // An agent counts as configured only when every one of its images is
    // stored; a failing image never stops the following ones.
    const bool configured = imagesSent && !configuration.directory.isEmpty() && record.refusals.isEmpty();
    qCDebug(zelvoContentLog).nospace().noquote() << "\033[33mZelvoEmulator::configAgent Now agent " << agentHash
                                          << (configured ? " is CONFIGURED" : " is NOT CONFIGURED") << "!!!!\033[0m";
    server->recorder()->append(std::move(record));
}

void ZelvoEmulator::onAgentContent(const QString& agentHash, int contentId, const QString& layId,
                                   const QList<QString>& imagesId, const QList<QString>& texts)
{
    // Content waits for the agent's configurations being stored, by
    // whichever connection it came, so that it finds their pictures; the
    // connection it came by reads nothing further meanwhile.
    if (imageWriter->isStoring(agentHash)) {
        const std::function<void()> release = server->holdRelayingAgent();
        imageWriter->whenStored(agentHash, [=] {
            showAgentContent(agentHash, contentId, layId, imagesId, texts);
            release();
        });
        return;
    }
    showAgentContent(agentHash, contentId, layId, imagesId, texts);
}

void ZelvoEmulator::showAgentContent(const QString& agentHash, int contentId, const QString& layId,
                                     const QList<QString>& imagesId, const QList<QString>& texts)
{
    contentOnDisplay = true;
    ZelvoRecord record(ZelvoRecord::Direction::In, ZelvoRecord::Kind::AgentContent, ZelvoRecord::Outcome::NotDrawn);
    record.agent = agentHash;
    record.contentId = contentId;
    record.layoutId = layId;
    if (minPersistingTimer->isActive()) {
        qCDebug(zelvoContentLog).nospace() << "ZelvoEmulator::onAgentContent AGENT " << agentHash
                                    << " sended a new image but we are already waiting the min persisting time, SKIPPING ....";
        record.outcome = ZelvoRecord::Outcome::Skipped;
        record.reason = ZelvoRecord::Reason::MinTimeRunning;
        record.blockingContentId = minPersistingContentId;
        record.remainingMillis = minPersistingTimer->remainingTime();
        recordContent(std::move(record));
        return;
    }
    if (layId.isEmpty()) {
        qCDebug(zelvoContentLog) << "onAgentContent NULL LAY ID CAN'T process the request .... SKIPPING ... ";
        record.reason = ZelvoRecord::Reason::NoLayoutId;
        recordContent(std::move(record));
        return;
    }

    currentAgentHash = agentHash;
    currentContentId = contentId;
    qCDebug(zelvoContentLog) << contentRule;
    qCDebug(zelvoContentLog).nospace() << "\033[96mZelvoEmulator::onAgentContent USING LAY ID " << ZelvoLog::payload(layId.toUtf8())
                                       << "\033[0m";
    qCDebug(zelvoContentLog).nospace().noquote() << "\033[96mZelvoEmulator::onAgentContent IMAGE ARRAY  "
                                                 << ZelvoLog::payload(imagesId) << "\033[0m";
    qCDebug(zelvoContentLog).nospace().noquote() << "\033[96mZelvoEmulator::onAgentContent TEXT ARRAY   "
                                                 << ZelvoLog::payload(texts) << "\033[0m";
    qCDebug(zelvoContentLog) << contentRule;

    const int layoutNumber = layId.toInt();
    if (agentHash.isEmpty()) {
        qCDebug(zelvoContentLog) << "ZelvoEmulator::onAgentContent NULL AGENT HASH CAN'T process the request .... SKIPPING ... ";
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

static_assert(ZelvoPictureCache::visibleSize == ZelvoGeometry::contentArea.size(),
              "the picture cache keeps what the content area can show");

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
            qCDebug(zelvoContentLog) << "\033[31mZelvoEmulator::drawLayout images in layout don't match with image indexes\033[0m";
        else
            qCDebug(zelvoContentLog) << "\033[31mZelvoEmulator::drawLayout text in layout don't match with agent texts\033[0m";
        record.reason = ZelvoRecord::Reason::CountsDoNotFit;
        record.layoutImages = layout.images().size();
        record.layoutTexts = layout.texts().size();
        record.givenImages = imagesId.size();
        record.givenTexts = texts.size();
        recordContent(std::move(record));
        return;
    }

    qCDebug(zelvoContentLog).nospace().noquote() << "\033[34mZelvoEmulator::drawLayout IMAGEs "
                                                 << ZelvoLog::payload(imagesId) << " TEXTs " << ZelvoLog::payload(texts)
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
            qCDebug(zelvoContentLog).nospace() << "\033[32mZelvoEmulator::drawLayout DRAWING text "
                                               << ZelvoLog::payload(texts.at(i).toUtf8())
                                               << " on RECT " << rect << "\033[0m";
            drawElidedText(&painter, rect, texts.at(i));
        }
        // Images after texts, so that they cover the texts where they overlap.
        for (int i = 0; i < pictures.size(); ++i) {
            const Picture& picture = pictures.at(i);
            if (picture.image.isNull()) {
                // The rest is drawn all the same. A path outside the agent's
                // folder refuses the content; a missing or unreadable picture
                // only leaves its rectangle empty, as on the glasses.
                if (picture.refusal == ZelvoRecord::Reason::ImagePathOutside
                    || picture.refusal == ZelvoRecord::Reason::AgentPathOutside) {
                    if (record.reason == ZelvoRecord::Reason::None) {
                        record.reason = picture.refusal;
                        record.imageId = imagesId.at(i);
                    }
                } else {
                    record.imagesLeftOut.append({imagesId.at(i), picture.refusal});
                }
                qCDebug(zelvoContentLog).nospace() << "\033[32mZelvoEmulator::drawLayout DRAWING image " << picture.path
                                            << " IS NULL!!!" << "\033[0m";
                continue;
            }
            const QRect& rect = layout.images().at(i);
            qCDebug(zelvoContentLog).nospace() << "\033[32mZelvoEmulator::drawLayout DRAWING image " << picture.path
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
    } else {
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
    qCDebug(zelvoContentLog).nospace() << "Min persisting time (" << minPersistingTMillis << " millis)"
                                << " elapsed for content ";
}

void ZelvoEmulator::onMaxPersistingElapsed()
{
    qCDebug(zelvoContentLog).nospace() << "Max persisting time (" << maxPersistingTMillis << " millis)"
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
