#include "record/ZelvoRecord.h"

#include "ZelvoAction.h"
#include "ZelvoVocabulary.h"
#include "record/ZelvoRecordMember.h"

#include <QStringList>

#include <cstddef>

namespace {

using Record = ZelvoRecord;

template <typename Enum>
struct Named
{
    Enum value;
    const char* name;
};

// The names of each enum, once: the record's JSON and every reader use them.
const Named<Record::Direction> directions[] = {
    {Record::Direction::In, "in"},
    {Record::Direction::Out, "out"},
    {Record::Direction::Link, "link"},
    {Record::Direction::Control, "control"},
};

const Named<Record::Outcome> outcomes[] = {
    {Record::Outcome::Info, "info"},
    {Record::Outcome::NoAction, "no_action"},
    {Record::Outcome::Configured, "configured"},
    {Record::Outcome::TimingSet, "timing_set"},
    {Record::Outcome::Drawn, "drawn"},
    {Record::Outcome::Skipped, "skipped"},
    {Record::Outcome::NotDrawn, "not_drawn"},
    {Record::Outcome::Removed, "removed"},
    {Record::Outcome::Refused, "refused"},
    {Record::Outcome::Sent, "sent"},
    {Record::Outcome::Dropped, "dropped"},
};

const Named<Record::Reason> reasons[] = {
    {Record::Reason::None, "none"},
    {Record::Reason::NotJson, "not_json"},
    {Record::Reason::NotObject, "not_object"},
    {Record::Reason::NoCommandType, "no_command_type"},
    {Record::Reason::UnknownCommandType, "unknown_command_type"},
    {Record::Reason::FrameTooLarge, "frame_too_large"},
    {Record::Reason::MinTimeRunning, "min_time_running"},
    {Record::Reason::NoLayoutId, "no_layout_id"},
    {Record::Reason::NoAgentHash, "no_agent_hash"},
    {Record::Reason::NoSuchLayout, "no_such_layout"},
    {Record::Reason::CountsDoNotFit, "counts_do_not_fit"},
    {Record::Reason::ImageNotStored, "image_not_stored"},
    {Record::Reason::ImageUnreadable, "image_unreadable"},
    {Record::Reason::AgentPathOutside, "agent_path_outside"},
    {Record::Reason::ImagePathOutside, "image_path_outside"},
    {Record::Reason::NotAPicture, "not_a_picture"},
    {Record::Reason::PictureTooLarge, "picture_too_large"},
    {Record::Reason::WriteFailed, "write_failed"},
    {Record::Reason::FrameNotHeld, "frame_not_held"},
    {Record::Reason::FrameStalled, "frame_stalled"},
    {Record::Reason::EventsUnread, "events_unread"},
    {Record::Reason::DelayedEventsFull, "delayed_events_full"},
};

struct Explained
{
    Record::Reason reason;
    const char* text;
};

const Explained explanations[] = {
    {Record::Reason::NotJson, "the frame is not JSON"},
    {Record::Reason::NotObject, "the frame is not a JSON object"},
    {Record::Reason::NoCommandType, "the message has no \"command.type\""},
    {Record::Reason::UnknownCommandType, "the \"command.type\" is none of zelvo_config, agent_config, agent_content"},
    {Record::Reason::FrameTooLarge, "the frame is over the size limit"},
    {Record::Reason::MinTimeRunning, "the minimum persisting time of the previous content runs"},
    {Record::Reason::NoLayoutId, "the message has no \"layoutId\""},
    {Record::Reason::NoAgentHash, "the message has no \"appId\""},
    {Record::Reason::NoSuchLayout, "the layout does not exist"},
    {Record::Reason::CountsDoNotFit, "the image and text counts do not fit the layout"},
    {Record::Reason::ImageNotStored, "an image of this agent is not stored"},
    {Record::Reason::ImageUnreadable, "a stored image cannot be read"},
    {Record::Reason::AgentPathOutside, "the agent's name would name a path outside its folder"},
    {Record::Reason::ImagePathOutside, "an image id would name a path outside the agent's folder"},
    {Record::Reason::NotAPicture, "it is neither a ZI nor a PNG picture"},
    {Record::Reason::PictureTooLarge, "the picture decodes to more than a picture may"},
    {Record::Reason::WriteFailed, "its file could not be written"},
    {Record::Reason::FrameNotHeld, "its unfinished frame did not fit the budget of all agents' unfinished frames"},
    {Record::Reason::FrameStalled, "no bytes came in the middle of its frame for 60 s"},
    {Record::Reason::EventsUnread, "it left more than 4 MiB of events unread, or the most beyond its share (4 MiB, 1 MiB before a message of its took effect) when all agents left more than 64 MiB"},
    {Record::Reason::DelayedEventsFull, "more than 4 MiB of events already waited for the slowed link"},
};

template <typename Enum, size_t count>
QString nameIn(const Named<Enum> (&table)[count], Enum value)
{
    for (const Named<Enum>& each : table) {
        if (each.value == value)
            return QLatin1String(each.name);
    }
    return QString();
}

// Drawn text in a script no installed font covers shows as empty boxes.
QString glyphNote(int missing)
{
    if (missing == 0)
        return QString();
    return missing == 1 ? QStringLiteral("; 1 character of its text has no glyph in any installed font")
                        : QStringLiteral("; %1 characters of its text have no glyph in any installed font").arg(missing);
}

// "1 image", "0 texts".
QString counted(int number, const QString& noun)
{
    return QStringLiteral("%1 %2%3").arg(number).arg(noun, number == 1 ? QString() : QStringLiteral("s"));
}

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// "; text 1 cut after 3 lines, 42 characters not shown; image "3" covers
// text 2": what of drawn content did not fit, texts counted from 1.
QString fitNote(const ZelvoRecord& record)
{
    QString note;
    for (const ZelvoRecord::TextFit& text : record.textsNotFitting) {
        QStringList facts;
        if (text.cut)
            facts.append(QStringLiteral("cut after %1, %2 not shown")
                             .arg(counted(text.lines, QStringLiteral("line")),
                                  counted(text.hiddenChars, QStringLiteral("character"))));
        if (text.overflow > 0)
            facts.append(QStringLiteral("runs %1 past its right edge").arg(counted(text.overflow, QStringLiteral("pixel"))));
        note += QStringLiteral("; text %1 ").arg(text.index + 1) + facts.join(QStringLiteral(" and "));
    }
    for (const ZelvoRecord::ImageOverText& image : record.imagesOverText) {
        QStringList texts;
        for (int index : image.texts)
            texts.append(QString::number(index + 1));
        note += QStringLiteral("; image %1 covers %2 %3")
                    .arg(quoted(image.imageId), texts.size() == 1 ? QStringLiteral("text") : QStringLiteral("texts"),
                         texts.join(QStringLiteral(", ")));
    }
    return note;
}

// Why content was drawn without an image, in a word or two.
QString leftOutText(ZelvoRecord::Reason reason)
{
    switch (reason) {
    case ZelvoRecord::Reason::ImageNotStored:
        return QStringLiteral("not stored");
    case ZelvoRecord::Reason::ImageUnreadable:
        return QStringLiteral("cannot be read");
    default:
        return ZelvoRecord::reasonText(reason);
    }
}

// The members a message had that its command type does not read, and the
// values taken other than as written.
QString lintNote(const ZelvoAction::Lint& lint)
{
    QString note;
    if (!lint.ignored.isEmpty()) {
        QStringList members;
        for (const QString& member : lint.ignored)
            members.append(quoted(member));
        note += QStringLiteral("; %1 %2 ignored")
                    .arg(members.size() == 1 ? QStringLiteral("member") : QStringLiteral("members"),
                         members.join(QStringLiteral(", ")));
    }
    for (const ZelvoAction::Coercion& coercion : lint.coerced)
        note += QStringLiteral("; %1 %2 taken as %3").arg(quoted(coercion.member), coercion.given, coercion.taken);
    return note;
}

QString eventKindName(int type)
{
    const QString name = ZelvoVocabulary::eventKindName(type);
    return name.isEmpty() ? QStringLiteral("type %1").arg(type) : name;
}

// The word of a button or gesture number, or the number where it has none.
QString wordOr(const QString& word, float number)
{
    return word.isEmpty() ? QString::number(int(number)) : word;
}

QString eventValuesText(int type, const std::array<float, 4>& values)
{
    if (type == ZelvoVocabulary::ButtonEvent)
        return QStringLiteral("%1 %2").arg(wordOr(ZelvoVocabulary::buttonName(int(values[0])), values[0]),
                                          wordOr(ZelvoVocabulary::buttonGestureName(int(values[1])), values[1]));
    // Three for a kind the emulator does not know: the most any reading has.
    const int known = ZelvoVocabulary::valueCount(type);
    const int shown = known > 0 ? known : 3;
    QStringList parts;
    for (int i = 0; i < shown; ++i)
        parts.append(QString::number(double(values[size_t(i)]), 'f', 3));
    return parts.join(QStringLiteral(", "));
}

QString contentText(const Record& record)
{
    return QStringLiteral("content %1").arg(record.contentId);
}

QString openedSentence(const Record& r)
{
    return QStringLiteral("agent connected from %1, %2 connected").arg(r.source.peer.value_or(QString()), counted(r.agents.value_or(0), QStringLiteral("agent")));
}

QString closedSentence(const Record& r)
{
    if (r.reason != Record::Reason::None)
        return QStringLiteral("agent at %1 closed because %2, %3 remain")
            .arg(r.source.peer.value_or(QString()), Record::reasonText(r.reason), counted(r.agents.value_or(0), QStringLiteral("agent")));
    return QStringLiteral("agent at %1 disconnected, %2 remain")
        .arg(r.source.peer.value_or(QString()), counted(r.agents.value_or(0), QStringLiteral("agent")));
}

QString frameSentence(const Record& r)
{
    if (r.outcome == Record::Outcome::NoAction) {
        if (r.reason == Record::Reason::FrameTooLarge)
            return QStringLiteral("no action: a frame of %1 bytes is over the limit of %2 bytes and was skipped")
                .arg(r.size.value_or(0))
                .arg(r.limit.value_or(0));
        // The type the agent wrote, so that a misspelling shows.
        if (r.reason == Record::Reason::UnknownCommandType)
            return QStringLiteral("no action: the \"command.type\" %1 is none of %2, %3, %4")
                .arg(ZelvoAction::shownValue(r.commandType), commandZelvoConfig, commandAgentConfig, commandAgentContent);
        return QStringLiteral("no action: ") + Record::reasonText(r.reason);
    }
    if (r.commandType.isEmpty())
        return QStringLiteral("received a message of %1 bytes").arg(r.size.value_or(0));
    return (r.contentId >= 0 && r.commandType == QLatin1String("agent_content")
                ? QStringLiteral("received %1 of %2 bytes for %3").arg(r.commandType).arg(r.size.value_or(0)).arg(contentText(r))
                : QStringLiteral("received %1 of %2 bytes").arg(r.commandType).arg(r.size.value_or(0)))
        + (r.clamped ? QStringLiteral("; a number beyond the 32-bit range was taken as its nearest bound") : QString());
}

QString timingSentence(const Record& r)
{
    return QStringLiteral("timing set: content stays at least %1 ms and at most %2 ms").arg(r.minMillis.value_or(0)).arg(r.maxMillis.value_or(0));
}

QString configurationSentence(const Record& r)
{
    if (r.reason == Record::Reason::AgentPathOutside)
        return QStringLiteral("refused because the agent's name %1 would name a path outside its folder").arg(quoted(r.agent));
    QString text = r.outcome == Record::Outcome::Configured
        ? QStringLiteral("configured: %1 stored").arg(counted(r.stored.value_or(0), QStringLiteral("image")))
        : QStringLiteral("refused: no image stored");
    const QVector<Record::ImageRefusal> refusals = r.refusals.value_or(QVector<Record::ImageRefusal>());
    if (!refusals.isEmpty())
        text += QStringLiteral(", %1 refused").arg(refusals.size());
    for (const Record::ImageRefusal& refusal : refusals)
        text += QStringLiteral("; ") + Record::refusalText(refusal);
    if (r.writeError)
        text += QStringLiteral(" (%1)").arg(*r.writeError);
    return text;
}

QString contentSentence(const Record& r)
{
    const QString content = contentText(r);
    switch (r.outcome) {
    case Record::Outcome::Drawn: {
        if (r.imagesLeftOut.isEmpty())
            return QStringLiteral("%1 drawn with layout %2").arg(content, r.layoutId.value_or(QString())) + fitNote(r)
                + glyphNote(r.missingGlyphs.value_or(0));
        QStringList without;
        for (const Record::ImageLeftOut& image : r.imagesLeftOut)
            without.append(QStringLiteral("without image %1: %2").arg(quoted(image.imageId), leftOutText(image.reason)));
        return content + QStringLiteral(" drawn ") + without.join(QStringLiteral("; ")) + fitNote(r)
            + glyphNote(r.missingGlyphs.value_or(0));
    }
    case Record::Outcome::Skipped:
        return QStringLiteral("%1 skipped because the minimum persisting time of content %2 runs for %3 ms more")
            .arg(content)
            .arg(r.blockingContentId.value_or(-1))
            .arg(r.remainingMillis.value_or(0));
    case Record::Outcome::Refused:
        if (r.reason == Record::Reason::ImagePathOutside)
            return QStringLiteral("%1 refused because image id %2 would name a path outside the agent's folder")
                .arg(content, quoted(r.imageId));
        if (r.reason == Record::Reason::AgentPathOutside)
            return QStringLiteral("%1 refused because the agent's name %2 would name a path outside its folder")
                .arg(content, quoted(r.agent));
        return QStringLiteral("%1 refused because %2").arg(content, Record::reasonText(r.reason));
    default:
        break;
    }
    switch (r.reason) {
    case Record::Reason::NoSuchLayout:
        return QStringLiteral("%1 not drawn because layout %2 does not exist").arg(content, quoted(r.layoutId.value_or(QString())));
    case Record::Reason::CountsDoNotFit:
        return QStringLiteral("%1 not drawn because the layout takes %2 and %3 and the message has %4 and %5")
            .arg(content, counted(r.layoutImages.value_or(0), QStringLiteral("image")),
                 counted(r.layoutTexts.value_or(0), QStringLiteral("text")),
                 counted(r.givenImages.value_or(0), QStringLiteral("image")),
                 counted(r.givenTexts.value_or(0), QStringLiteral("text")));
    default:
        return QStringLiteral("%1 not drawn because %2").arg(content, Record::reasonText(r.reason));
    }
}

QString removedSentence(const Record& r)
{
    return QStringLiteral("%1 removed at its maximum time of %2 ms").arg(contentText(r)).arg(r.maxMillis.value_or(0));
}

QString eventSentence(const Record& r)
{
    const QString what = QStringLiteral("%1 event (%2)%3")
                             .arg(eventKindName(r.eventType.value_or(0)),
                                  eventValuesText(r.eventType.value_or(0), r.eventValues.value_or(std::array<float, 4>{})),
                                  r.fromPose ? QStringLiteral(" from the head pose") : QString());
    const QString target = r.agent.isEmpty() ? QString() : QStringLiteral(" for %1 of %2").arg(contentText(r), r.agent);
    if (r.outcome == Record::Outcome::Dropped)
        return QStringLiteral("%1%2 dropped for the agent at %3 because %4")
            .arg(what, target, r.source.peer.value_or(QString()), Record::reasonText(r.reason));
    return QStringLiteral("%1%2 sent to %3").arg(what, target, counted(r.agents.value_or(0), QStringLiteral("agent")));
}

QString refusedSentence(const Record& r)
{
    return QStringLiteral("agent at %1 refused because the link refuses new agents").arg(r.source.peer.value_or(QString()));
}

QString droppedSentence(const Record& r)
{
    return QStringLiteral("link dropped: %1 disconnected").arg(counted(r.agents.value_or(0), QStringLiteral("agent")));
}

QString refusalSentence(const Record& r)
{
    return r.refusing.value_or(false) ? QStringLiteral("link refuses new agents") : QStringLiteral("link accepts new agents again");
}

QString delaySentence(const Record& r)
{
    return r.delayMillis.value_or(0) > 0 ? QStringLiteral("messages to agents leave %1 ms late").arg(*r.delayMillis)
                             : QStringLiteral("messages to agents leave at once again");
}

QString recordingStoppedSentence(const Record& r)
{
    return QStringLiteral("recording stopped: %1").arg(r.writeError.value_or(QString()));
}

QString commandSentence(const Record& r)
{
    const QString given = r.text.value_or(QString()).isEmpty() ? QStringLiteral("a control command") : *r.text;
    return r.error.isEmpty() ? given : QStringLiteral("%1 refused: %2").arg(given, r.error);
}

QString markSentence(const Record& r)
{
    return r.text.value_or(QString()).isEmpty() ? QStringLiteral("a mark") : *r.text;
}

QString framesDroppedSentence(const Record& r)
{
    return QStringLiteral("%1 let go from the report's history to keep within %2")
        .arg(counted(r.dropped.value_or(0), QStringLiteral("display change")), Record::byteSizeText(r.limit.value_or(0)));
}

// Each kind with its JSON name and its sentence, without what the message
// did not have taken as written.
struct KindWords
{
    Record::Kind kind;
    const char* name;
    QString (*sentence)(const Record& record);
};

const KindWords kinds[] = {
    {Record::Kind::ConnectionOpened, "opened", openedSentence},
    {Record::Kind::ConnectionClosed, "closed", closedSentence},
    {Record::Kind::FrameReceived, "frame", frameSentence},
    {Record::Kind::ZelvoConfig, "zelvo_config", timingSentence},
    {Record::Kind::AgentConfig, "agent_config", configurationSentence},
    {Record::Kind::AgentContent, "agent_content", contentSentence},
    {Record::Kind::ContentRemoved, "removed", removedSentence},
    {Record::Kind::EventSent, "event", eventSentence},
    {Record::Kind::ConnectionRefused, "refused", refusedSentence},
    {Record::Kind::LinkDropped, "link_dropped", droppedSentence},
    {Record::Kind::LinkRefusal, "link_refusal", refusalSentence},
    {Record::Kind::LinkDelay, "link_delay", delaySentence},
    {Record::Kind::RecordingStopped, "recording_stopped", recordingStoppedSentence},
    {Record::Kind::Command, "command", commandSentence},
    {Record::Kind::Mark, "mark", markSentence},
    {Record::Kind::FramesDropped, "frames_dropped", framesDroppedSentence},
};

const KindWords* kindWords(Record::Kind kind)
{
    for (const KindWords& each : kinds) {
        if (each.kind == kind)
            return &each;
    }
    return nullptr;
}

} // namespace

ZelvoRecord::ZelvoRecord(Direction direction, Kind kind, Outcome outcome, Reason reason)
    : direction(direction)
    , kind(kind)
    , outcome(outcome)
    , reason(reason)
{
}

bool ZelvoRecord::isOf(const QString& agentHash, const QSet<int>& agentConnections) const
{
    return agent == agentHash || (agent.isEmpty() && source.connection && agentConnections.contains(*source.connection));
}

QString ZelvoRecord::sentence() const
{
    const KindWords* words = kindWords(kind);
    return (words ? words->sentence(*this) : QString()) + lintNote(source.lint);
}

QJsonObject ZelvoRecord::toJson() const
{
    QJsonObject json;
    for (const ZelvoRecordMember& member : ZelvoRecordMember::all()) {
        if (!member.isCarriedBy(kind))
            continue;
        const QJsonValue value = member.value(*this);
        if (!value.isUndefined())
            json.insert(member.key, value);
    }
    return json;
}

QStringList ZelvoRecord::strayMembers() const
{
    QStringList stray;
    for (const ZelvoRecordMember& member : ZelvoRecordMember::all()) {
        if (!member.isCarriedBy(kind) && !member.value(*this).isUndefined())
            stray.append(member.key);
    }
    return stray;
}

QString ZelvoRecord::directionName(Direction direction)
{
    return nameIn(directions, direction);
}

QString ZelvoRecord::kindName(Kind kind)
{
    const KindWords* words = kindWords(kind);
    return words ? QLatin1String(words->name) : QString();
}

QString ZelvoRecord::outcomeName(Outcome outcome)
{
    return nameIn(outcomes, outcome);
}

QString ZelvoRecord::reasonName(Reason reason)
{
    return nameIn(reasons, reason);
}

QString ZelvoRecord::reasonText(Reason reason)
{
    for (const Explained& each : explanations) {
        if (each.reason == reason)
            return QLatin1String(each.text);
    }
    return QString();
}

QString ZelvoRecord::refusalText(const ImageRefusal& refusal)
{
    if (refusal.reason == Reason::PictureTooLarge)
        return QStringLiteral("image %1 (%2 x %3, %4 decoded) refused: over the %5 a picture may decode to")
            .arg(refusal.index)
            .arg(refusal.width)
            .arg(refusal.height)
            .arg(byteSizeText(refusal.decodedBytes), byteSizeText(refusal.limit));
    return QStringLiteral("image %1 refused: %2").arg(refusal.index).arg(reasonText(refusal.reason));
}

QString ZelvoRecord::byteSizeText(qint64 bytes)
{
    constexpr qint64 kib = 1024;
    const auto scaled = [bytes](qint64 unit, const char* name) {
        // Whole units without a decimal: "256 MiB", not "256.0 MiB".
        const int decimals = bytes % unit == 0 ? 0 : 1;
        return QStringLiteral("%1 %2").arg(double(bytes) / double(unit), 0, 'f', decimals).arg(QLatin1String(name));
    };
    if (bytes >= kib * kib * kib)
        return scaled(kib * kib * kib, "GiB");
    if (bytes >= kib * kib)
        return scaled(kib * kib, "MiB");
    if (bytes >= kib)
        return scaled(kib, "KiB");
    return QStringLiteral("%1 bytes").arg(bytes);
}
