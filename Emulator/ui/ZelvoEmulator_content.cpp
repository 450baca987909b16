#include "ui/ZelvoEmulator.h"
#include "clock/ZelvoClock.h"
#include "ui/ZelvoGeometry.h"
#include "ZIImageUtil.h"
#include "model/ZelvoLayout.h"
#include "ZelvoLog.h"
#include "ZelvoMessage.h"
#include "util/ZelvoImageStore.h"
#include "util/ZelvoPictureCache.h"
#include "util/ZelvoUtil.h"
#include "comm/ZelvoServer.h"
#include "record/ZelvoRecorder.h"

#include <QBrush>
#include <QColor>
#include <QDebug>
#include <QFont>
#include <QFontDatabase>
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
#include <QStringList>
#include <QStringView>
#include <QTextLayout>
#include <QTextLine>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

const char* const contentRule =
    "\033[96m~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~\033[0m";

// The content font is compiled in, so that words, line breaks and pixels of
// text do not depend on the fonts a machine has. Registered after the
// machine's fonts, it takes the place of an installed font of its family
// and style; those only fill in characters it lacks.
QString contentFamily()
{
    static const QString family = [] {
        const int id = QFontDatabase::addApplicationFont(QStringLiteral(":/data/fonts/DejaVuSans-Bold.ttf"));
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (families.isEmpty()) {
            qCWarning(zelvoContentLog, "ZelvoEmulator: the compiled-in content font cannot be loaded");
            return QStringLiteral("DejaVu Sans");
        }
        return families.constFirst();
    }();
    return family;
}

QFont contentFont()
{
    QFont font(contentFamily(), 20, QFont::Bold);
    // Fixed, or the machine's font configuration would choose it.
    font.setHintingPreference(QFont::PreferVerticalHinting);
    font.setCapitalization(QFont::AllUppercase);
    return font;
}

// Characters that neither the content font nor any fallback the font
// system picks can show: they are drawn as empty boxes. Laid out only when
// the content font lacks one of them, which text in its scripts never does.
int missingGlyphs(const QString& text, const QFont& font, const QFontMetrics& metrics)
{
    const QVector<uint> characters = text.toUcs4();
    const bool covered = std::all_of(characters.cbegin(), characters.cend(), [&metrics](uint character) {
        return QChar::isSpace(character) || metrics.inFontUcs4(character);
    });
    if (covered)
        return 0;
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    int missing = 0;
    for (const QGlyphRun& run : layout.glyphRuns()) {
        const QVector<quint32> glyphs = run.glyphIndexes();
        missing += int(std::count(glyphs.cbegin(), glyphs.cend(), 0u));
    }
    return missing;
}

// Far more characters than any text rectangle shows, even of the narrowest
// glyphs: a longer text is laid out only this far and the rest is counted,
// for laying out megabytes would hold the window for seconds.
constexpr qsizetype laidOutCharacters = 8192;

// The part of a text that is laid out, never ending inside a surrogate pair.
QString laidOutPart(const QString& text)
{
    if (text.size() <= laidOutCharacters)
        return text;
    qsizetype end = laidOutCharacters;
    if (text.at(end - 1).isHighSurrogate() && text.at(end).isLowSurrogate())
        --end;
    return text.left(end);
}

// The characters of the rest of a text that its elided line leaves out.
qsizetype hiddenCharacters(const QString& rest, const QString& elided)
{
    const qsizetype shown = elided.endsWith(QChar(0x2026)) ? elided.size() - 1 : elided.size();
    return ZelvoContent::characterCount(QStringView(rest).mid(shown));
}

// The agent server's signals carry the message's values; what they leave
// out (its source, its pictures as stored, its texts as counted) the server
// says while it emits them. Called otherwise, a slot takes its arguments.
const ZelvoServer::Delivery* deliveredBy(const QObject* sender, const ZelvoServer* server)
{
    return sender == server ? &server->delivery() : nullptr;
}

} // namespace

void ZelvoEmulator::loadContentFont()
{
    contentFamily();
}

void ZelvoEmulator::onZelvoConfig(int minPersistingTMillis, int maxPersistingTMillis)
{
    const ZelvoServer::Delivery* message = deliveredBy(sender(), server);
    if (message && message->timing)
        applyTiming(*message->timing, *message->source);
    else
        applyTiming({minPersistingTMillis, maxPersistingTMillis, false}, {});
}

void ZelvoEmulator::onAgentConfig(const QString& agentHash, const QList<QString>& imagesArray)
{
    const ZelvoServer::Delivery* message = deliveredBy(sender(), server);
    if (message && message->configuration)
        applyConfiguration(*message->configuration, *message->source);
    else
        saveAgentImages(agentHash, imagesArray);
}

void ZelvoEmulator::saveAgentImages(const QString& agentHash, const QList<QString>& images)
{
    applyConfiguration(pictureJob(this, *pictureWriter, agentHash, images)(), {});
}

void ZelvoEmulator::onAgentContent(const QString& agentHash, int contentId, const QString& layId,
                                   const QList<QString>& imagesId, const QList<QString>& texts)
{
    const ZelvoServer::Delivery* message = deliveredBy(sender(), server);
    if (message && message->content)
        applyContent(*message->content, *message->source);
    else
        applyContent({agentHash, contentId, false, layId, imagesId, texts}, {});
}

QString ZelvoEmulator::pictureDirectory(const QString& agentHash, QString* writeError)
{
    qCDebug(zelvoContentLog).nospace().noquote() << "\033[33mZelvoEmulator::configAgent \n\t\tRECEIVED CONFIG FROM AGENT "
                                          << agentHash << "\033[0m";
    QString directory = agentImages->agentImageDirectory(agentHash, writeError);
    if (!directory.isEmpty())
        qCDebug(zelvoContentLog).nospace().noquote() << "\033[33mZelvoEmulator::saveAgentImages \n\t\tDIR " << directory
                                              << "!!!\033[0m";
    return directory;
}

void ZelvoEmulator::applyTiming(const ZelvoTiming& timing, const ZelvoRecord::Source& source)
{
    qCDebug(zelvoContentLog).nospace() << "\033[33mZelvoEmulator::onZelvoConfig \n\t\tRECEIVED CONFIG FOR ZELVO "
                                << timing.minMillis << "->" << timing.maxMillis << "\033[0m";
    minPersistingTMillis = timing.minMillis;
    maxPersistingTMillis = timing.maxMillis;
    ZelvoRecord record(ZelvoRecord::Direction::In, ZelvoRecord::Kind::ZelvoConfig, ZelvoRecord::Outcome::TimingSet);
    record.minMillis = timing.minMillis;
    record.maxMillis = timing.maxMillis;
    record.source = source;
    messageRecorder->append(std::move(record));
}

void ZelvoEmulator::applyConfiguration(const ZelvoImageWriter::Configuration& configuration,
                                       const ZelvoRecord::Source& source)
{
    qCDebug(zelvoContentLog).nospace().noquote() << "\033[33mZelvoEmulator::saveAgentImages \n\t\tAGENT "
                                          << configuration.agentHash << " has " << configuration.images.size()
                                          << " to SAVE!!!\033[0m";
    const QString& agentHash = configuration.agentHash;
    ZelvoRecord record(ZelvoRecord::Direction::In, ZelvoRecord::Kind::AgentConfig, ZelvoRecord::Outcome::Configured);
    record.source = source;
    record.agent = agentHash;
    if (configuration.directory.isEmpty()) {
        record.outcome = ZelvoRecord::Outcome::Refused;
        record.reason = configuration.writeError.isEmpty() ? ZelvoRecord::Reason::AgentPathOutside : ZelvoRecord::Reason::WriteFailed;
        if (!configuration.writeError.isEmpty())
            record.writeError = configuration.writeError;
    } else {
        pictureCache->forgetAgent(agentHash);
    }
    int stored = 0;
    QVector<ZelvoRecord::ImageRefusal> refusals;
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
            refusals.append(image.refusal);
            if (!record.writeError && !image.writeError.isEmpty())
                record.writeError = image.writeError;
        } else {
            pictureCache->insert(agentHash, QString::number(image.index), image.path, image.visible, image.size);
            ++stored;
        }
    }
    // Nothing stored of what was sent: the configuration as a whole is refused.
    if (stored == 0 && !refusals.isEmpty()) {
        record.outcome = ZelvoRecord::Outcome::Refused;
        record.reason = refusals.constFirst().reason;
    }
    // An agent counts as configured only when every one of its images is
    // stored; a failing image never stops the following ones.
    const bool configured = configuration.sent && !configuration.directory.isEmpty() && refusals.isEmpty();
    qCDebug(zelvoContentLog).nospace().noquote() << "\033[33mZelvoEmulator::configAgent Now agent " << agentHash
                                          << (configured ? " is CONFIGURED" : " is NOT CONFIGURED") << "!!!!\033[0m";
    record.stored = stored;
    record.refusals = std::move(refusals);
    messageRecorder->append(std::move(record));
}

void ZelvoEmulator::applyContent(const ZelvoContent& content, const ZelvoRecord::Source& source)
{
    const QString& agentHash = content.agentHash;
    const int contentId = content.contentId;
    const QString& layId = content.layoutId;
    const QList<QString>& imagesId = content.imageIds;
    const QList<QString>& texts = content.texts;
    // Timers due by now have had their time, whether the clock has come
    // round to them or not: a minimum of 0 never skips, and content whose
    // maximum has run out goes before this one comes.
    deviceClock->catchUp();
    contentSource = source;
    contentOnDisplay = true;
    ZelvoRecord record(ZelvoRecord::Direction::In, ZelvoRecord::Kind::AgentContent, ZelvoRecord::Outcome::NotDrawn);
    record.agent = agentHash;
    record.contentId = contentId;
    record.layoutId = layId;
    if (minPersistingTimer->remainingTime() > 0) {
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
    drawContent(builtIns.at(layoutNumber), layId, agentHash, imagesId, texts, content.textCharacters);
}

static_assert(ZelvoPictureCache::visibleSize == ZelvoGeometry::contentArea.size(),
              "the picture cache keeps what the content area can show");

void ZelvoEmulator::drawLayout(const ZelvoLayout& layout, const QString& agentHash,
                               const QList<QString>& imagesId, const QList<QString>& texts)
{
    drawContent(layout, QString::number(layout.index()), agentHash, imagesId, texts, {});
}

void ZelvoEmulator::drawContent(const ZelvoLayout& layout, const QString& layoutId, const QString& agentHash,
                                const QList<QString>& imagesId, const QList<QString>& texts,
                                const QList<qsizetype>& textCharacters)
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
        // The whole picture's, of which image may be the visible part.
        QSize size;
    };
    QVector<Picture> pictures(imagesId.size());
    // Where opaque pictures will cover the content area, clearing it first
    // is wasted work: an animation of full-area pictures clears nothing.
    QRegion uncovered(QRect(QPoint(0, 0), ZelvoGeometry::contentArea.size()));
    for (int i = 0; i < imagesId.size(); ++i) {
        Picture& picture = pictures[i];
        picture.image = pictureCache->picture(agentHash, imagesId.at(i), &picture.path, &picture.refusal, &picture.size);
        if (!picture.image.isNull() && !picture.image.hasAlphaChannel())
            uncovered -= QRect(layout.images().at(i).topLeft(), picture.image.size());
    }

    ZelvoScreen screen;
    screen.agent = agentHash;
    screen.contentId = currentContentId;
    screen.layoutId = layoutId;
    screen.layout = layout.index();
    screen.texts.reserve(texts.size());
    screen.images.reserve(pictures.size());
    // Drawn straight into the display image, clipped to the content area,
    // instead of into an image of its own copied there after.
    QImage composed = newDisplayImage();
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
            screen.texts.append(drawElidedText(&painter, rect, texts.at(i), textCharacters.value(i, -1)));
        }
        // Images after texts, so that they cover the texts where they overlap.
        for (int i = 0; i < pictures.size(); ++i) {
            const Picture& picture = pictures.at(i);
            ZelvoScreen::Image shownImage;
            shownImage.id = imagesId.at(i);
            shownImage.rect = layout.images().at(i);
            if (picture.image.isNull()) {
                shownImage.reason = picture.refusal;
                screen.images.append(std::move(shownImage));
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
            screen.place(&shownImage, picture.size, ZelvoGeometry::contentArea.size());
            screen.images.append(std::move(shownImage));
        }
    }
    // The display shows this content now, complete or not.
    drawnAgentHash = agentHash;
    drawnContent = currentContentId;
    int missingGlyphs = 0;
    for (const ZelvoScreen::Text& text : std::as_const(screen.texts))
        missingGlyphs += text.missingGlyphs;
    if (missingGlyphs > 0)
        record.missingGlyphs = missingGlyphs;
    screen.describeFit(&record);
    shownScreen = std::move(screen);
    if (record.reason == ZelvoRecord::Reason::None) {
        record.outcome = ZelvoRecord::Outcome::Drawn;
    } else {
        record.outcome = ZelvoRecord::Outcome::Refused;
    }
    recordContent(std::move(record));
    // After its record, so that the display's history shows it as what
    // the content's outcome led to.
    showDisplayImage(composed);
}

void ZelvoEmulator::recordContent(ZelvoRecord record)
{
    if (record.kind == ZelvoRecord::Kind::AgentContent)
        record.source = contentSource;
    lastOutcome = record;
    lastOutcome.sequence = messageRecorder->append(std::move(record));
}

ZelvoScreen::Text ZelvoEmulator::drawElidedText(QPainter* painter, const QRect& rect, const QString& text,
                                                qsizetype characters)
{
    painter->setPen(QPen(QBrush(fullScreen ? Qt::white : Qt::green), 5));
    painter->setFont(contentFont());
    const QFontMetrics metrics = painter->fontMetrics();
    const int lineSpacing = metrics.lineSpacing();

    ZelvoScreen::Text shown;
    shown.rect = rect;
    shown.text = laidOutPart(text);
    const QString& laidOut = shown.text;
    const qsizetype leftOut = laidOut.size() == text.size() ? 0
        : (characters < 0 ? ZelvoContent::characterCount(text) : characters) - ZelvoContent::characterCount(laidOut);
    shown.missingGlyphs = missingGlyphs(laidOut, painter->font(), metrics);
    QTextLayout textLayout(laidOut, painter->font());
    textLayout.beginLayout();
    int y = 0;
    qreal widest = 0;
    for (;;) {
        QTextLine line = textLayout.createLine();
        // An empty text lays out one empty line, which shows nothing.
        if (!line.isValid() || laidOut.isEmpty())
            break;
        line.setLineWidth(rect.width());
        // The last line that fits carries the rest of the text, elided.
        if (rect.height() < y + 2 * lineSpacing) {
            const QString rest = laidOut.mid(line.textStart());
            shown.lastLine = metrics.elidedText(rest, Qt::ElideRight, rect.width());
            shown.lines.append({line.textStart(), int(rest.size())});
            shown.cut = shown.lastLine != rest;
            if (shown.cut)
                shown.hiddenChars = int(hiddenCharacters(rest, shown.lastLine));
            painter->drawText(QPoint(rect.left(), rect.top() + y + metrics.ascent()), shown.lastLine);
            break;
        }
        shown.lines.append({line.textStart(), line.textLength()});
        widest = std::max(widest, line.naturalTextWidth());
        line.draw(painter, QPointF(rect.left(), rect.top() + y));
        y += lineSpacing;
    }
    textLayout.endLayout();
    // What was not laid out is not shown either.
    if (leftOut > 0) {
        shown.cut = true;
        shown.hiddenChars += int(leftOut);
    }
    // An unbreakable word wider than the rectangle is drawn unclipped.
    shown.overflow = std::max(0, int(std::ceil(widest)) - rect.width());
    return shown;
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
    shownScreen = ZelvoScreen();
    updateDisplay(QImage(), false);
    contentOnDisplay = false;
}
