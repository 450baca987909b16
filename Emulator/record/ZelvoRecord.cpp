#include "record/ZelvoRecord.h"

#include <QJsonArray>
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
};

const Named<Record::Kind> kinds[] = {
    {Record::Kind::ConnectionOpened, "opened"},
    {Record::Kind::ConnectionClosed, "closed"},
    {Record::Kind::FrameReceived, "frame"},
    {Record::Kind::ZelvoConfig, "zelvo_config"},
    {Record::Kind::AgentConfig, "agent_config"},
    {Record::Kind::AgentContent, "agent_content"},
    {Record::Kind::ContentRemoved, "removed"},
    {Record::Kind::EventSent, "event"},
    {Record::Kind::ConnectionRefused, "refused"},
    {Record::Kind::LinkDropped, "link_dropped"},
    {Record::Kind::LinkRefusal, "link_refusal"},
    {Record::Kind::LinkDelay, "link_delay"},
    {Record::Kind::RecordingStopped, "recording_stopped"},
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
    {Record::Reason::EventsUnread, "it left more than 4 MiB of events unread, or the most when all agents left more than 64 MiB"},
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

QJsonObject fitJson(const ZelvoRecord& record)
{
    QJsonArray texts;
    for (const ZelvoRecord::TextFit& text : record.textsNotFitting)
        texts.append(QJsonObject{{QStringLiteral("index"), text.index},
                                 {QStringLiteral("lines"), text.lines},
                                 {QStringLiteral("cut"), text.cut},
                                 {QStringLiteral("hiddenChars"), text.hiddenChars},
                                 {QStringLiteral("overflow"), text.overflow}});
    QJsonArray images;
    for (const ZelvoRecord::ImageOverText& image : record.imagesOverText) {
        QJsonArray covers;
        for (int index : image.texts)
            covers.append(index);
        images.append(QJsonObject{{QStringLiteral("id"), image.imageId}, {QStringLiteral("covers"), covers}});
    }
    return {{QStringLiteral("texts"), texts}, {QStringLiteral("images"), images}};
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
    switch (type) {
    case 2:
        return QStringLiteral("battery");
    case 4:
        return QStringLiteral("button");
    case 16:
        return QStringLiteral("accelerometer");
    case 32:
        return QStringLiteral("compass");
    case 64:
        return QStringLiteral("light");
    default:
        return QStringLiteral("type %1").arg(type);
    }
}

QString eventValuesText(int type, const std::array<float, 4>& values)
{
    if (type == 4) {
        static const QStringList gestures{QStringLiteral("pressed"), QStringLiteral("released"),
                                          QStringLiteral("clicked"), QStringLiteral("long pressed")};
        const int gesture = int(values[1]);
        return QStringLiteral("%1 %2").arg(values[0] == 0 ? QStringLiteral("plus") : QStringLiteral("minus"),
                                          gesture >= 0 && gesture < gestures.size() ? gestures.at(gesture)
                                                                                    : QString::number(gesture));
    }
    const int shown = type == 2 || type == 64 ? 1 : 3;
    QStringList parts;
    for (int i = 0; i < shown; ++i)
        parts.append(QString::number(double(values[size_t(i)]), 'f', 3));
    return parts.join(QStringLiteral(", "));
}

} // namespace

ZelvoRecord::ZelvoRecord(Direction direction, Kind kind, Outcome outcome, Reason reason)
    : direction(direction)
    , kind(kind)
    , outcome(outcome)
    , reason(reason)
{
}

void ZelvoRecord::setSource(const Source& source)
{
    connection = source.connection;
    peer = source.peer;
    lint = source.lint;
}

bool ZelvoRecord::isOf(const QString& agentHash, const QSet<int>& agentConnections) const
{
    return agent == agentHash || (agent.isEmpty() && agentConnections.contains(connection));
}

QString ZelvoRecord::sentence() const
{
    return outcomeSentence() + lintNote(lint);
}

QString ZelvoRecord::outcomeSentence() const
{
    const QString content = QStringLiteral("content %1").arg(contentId);
    switch (kind) {
    case Kind::ConnectionOpened:
        return QStringLiteral("agent connected from %1, %2 connected").arg(peer, counted(count, QStringLiteral("agent")));
    case Kind::ConnectionClosed:
        if (reason != Reason::None)
            return QStringLiteral("agent at %1 closed because %2, %3 remain")
                .arg(peer, reasonText(reason), counted(count, QStringLiteral("agent")));
        return QStringLiteral("agent at %1 disconnected, %2 remain").arg(peer, counted(count, QStringLiteral("agent")));
    case Kind::FrameReceived:
        if (outcome == Outcome::NoAction) {
            if (reason == Reason::FrameTooLarge)
                return QStringLiteral("no action: a frame of %1 bytes is over the limit of %2 bytes and was skipped")
                    .arg(size)
                    .arg(limit);
            return QStringLiteral("no action: ") + reasonText(reason);
        }
        if (commandType.isEmpty())
            return QStringLiteral("received a message of %1 bytes").arg(size);
        return (contentId >= 0 && commandType == QLatin1String("agent_content")
                    ? QStringLiteral("received %1 of %2 bytes for %3").arg(commandType).arg(size).arg(content)
                    : QStringLiteral("received %1 of %2 bytes").arg(commandType).arg(size))
            + (clamped ? QStringLiteral("; a number beyond the 32-bit range was taken as its nearest bound") : QString());
    case Kind::ZelvoConfig:
        return QStringLiteral("timing set: content stays at least %1 ms and at most %2 ms").arg(minMillis).arg(maxMillis);
    case Kind::AgentConfig: {
        if (reason == Reason::AgentPathOutside)
            return QStringLiteral("refused because the agent's name %1 would name a path outside its folder").arg(quoted(agent));
        QString text = outcome == Outcome::Configured
            ? QStringLiteral("configured: %1 stored").arg(counted(count, QStringLiteral("image")))
            : QStringLiteral("refused: no image stored");
        if (!refusals.isEmpty())
            text += QStringLiteral(", %1 refused").arg(refusals.size());
        for (const ImageRefusal& refusal : refusals)
            text += QStringLiteral("; ") + refusalText(refusal);
        if (!writeError.isEmpty())
            text += QStringLiteral(" (%1)").arg(writeError);
        return text;
    }
    case Kind::AgentContent:
        switch (outcome) {
        case Outcome::Drawn: {
            if (imagesLeftOut.isEmpty())
                return QStringLiteral("%1 drawn with layout %2").arg(content, layoutId) + fitNote(*this)
                    + glyphNote(missingGlyphs);
            QStringList without;
            for (const ImageLeftOut& image : imagesLeftOut)
                without.append(QStringLiteral("without image %1: %2").arg(quoted(image.imageId), leftOutText(image.reason)));
            return content + QStringLiteral(" drawn ") + without.join(QStringLiteral("; ")) + fitNote(*this)
                + glyphNote(missingGlyphs);
        }
        case Outcome::Skipped:
            return QStringLiteral("%1 skipped because the minimum persisting time of content %2 runs for %3 ms more")
                .arg(content)
                .arg(blockingContentId)
                .arg(remainingMillis);
        case Outcome::Refused:
            if (reason == Reason::ImagePathOutside)
                return QStringLiteral("%1 refused because image id %2 would name a path outside the agent's folder")
                    .arg(content, quoted(imageId));
            if (reason == Reason::AgentPathOutside)
                return QStringLiteral("%1 refused because the agent's name %2 would name a path outside its folder")
                    .arg(content, quoted(agent));
            return QStringLiteral("%1 refused because %2").arg(content, reasonText(reason));
        default:
            break;
        }
        switch (reason) {
        case Reason::NoSuchLayout:
            return QStringLiteral("%1 not drawn because layout %2 does not exist").arg(content, quoted(layoutId));
        case Reason::CountsDoNotFit:
            return QStringLiteral("%1 not drawn because the layout takes %2 and %3 and the message has %4 and %5")
                .arg(content, counted(layoutImages, QStringLiteral("image")), counted(layoutTexts, QStringLiteral("text")),
                     counted(givenImages, QStringLiteral("image")), counted(givenTexts, QStringLiteral("text")));
        default:
            return QStringLiteral("%1 not drawn because %2").arg(content, reasonText(reason));
        }
    case Kind::ContentRemoved:
        return QStringLiteral("%1 removed at its maximum time of %2 ms").arg(content).arg(maxMillis);
    case Kind::EventSent: {
        const QString what = QStringLiteral("%1 event (%2)%3")
                                 .arg(eventKindName(eventType), eventValuesText(eventType, eventValues),
                                      fromPose ? QStringLiteral(" from the head pose") : QString());
        const QString target = agent.isEmpty() ? QString() : QStringLiteral(" for %1 of %2").arg(content, agent);
        if (outcome == Outcome::Dropped)
            return QStringLiteral("%1%2 dropped for the agent at %3 because %4").arg(what, target, peer, reasonText(reason));
        return QStringLiteral("%1%2 sent to %3").arg(what, target, counted(count, QStringLiteral("agent")));
    }
    case Kind::ConnectionRefused:
        return QStringLiteral("agent at %1 refused because the link refuses new agents").arg(peer);
    case Kind::LinkDropped:
        return QStringLiteral("link dropped: %1 disconnected").arg(counted(count, QStringLiteral("agent")));
    case Kind::LinkRefusal:
        return refusing ? QStringLiteral("link refuses new agents") : QStringLiteral("link accepts new agents again");
    case Kind::LinkDelay:
        return delayMillis > 0 ? QStringLiteral("messages to agents leave %1 ms late").arg(delayMillis)
                               : QStringLiteral("messages to agents leave at once again");
    case Kind::RecordingStopped:
        return QStringLiteral("recording stopped: %1").arg(writeError);
    }
    return QString();
}

QJsonObject ZelvoRecord::toJson() const
{
    QJsonObject json{
        {QStringLiteral("seq"), double(sequence)},
        {QStringLiteral("time"), double(timeMillis)},
        {QStringLiteral("direction"), directionName(direction)},
        {QStringLiteral("kind"), kindName(kind)},
        {QStringLiteral("outcome"), outcomeName(outcome)},
        {QStringLiteral("agent"), agent},
        {QStringLiteral("contentId"), contentId},
        {QStringLiteral("sentence"), sentence()},
    };
    if (reason != Reason::None)
        json.insert(QStringLiteral("reason"), reasonName(reason));
    switch (kind) {
    case Kind::ConnectionOpened:
    case Kind::ConnectionClosed:
        json.insert(QStringLiteral("peer"), peer);
        json.insert(QStringLiteral("agents"), count);
        break;
    case Kind::FrameReceived:
        json.insert(QStringLiteral("size"), double(size));
        if (!commandType.isEmpty())
            json.insert(QStringLiteral("commandType"), commandType);
        if (!peer.isEmpty())
            json.insert(QStringLiteral("peer"), peer);
        if (reason == Reason::FrameTooLarge)
            json.insert(QStringLiteral("limit"), double(limit));
        if (clamped)
            json.insert(QStringLiteral("clamped"), true);
        break;
    case Kind::ZelvoConfig:
        json.insert(QStringLiteral("minPersistingTimeMillis"), minMillis);
        json.insert(QStringLiteral("maxPersistingTimeMillis"), maxMillis);
        break;
    case Kind::AgentConfig: {
        json.insert(QStringLiteral("stored"), count);
        QJsonArray refused;
        for (const ImageRefusal& refusal : refusals) {
            QJsonObject image{{QStringLiteral("index"), refusal.index},
                              {QStringLiteral("reason"), reasonName(refusal.reason)}};
            if (refusal.reason == Reason::PictureTooLarge) {
                image.insert(QStringLiteral("width"), refusal.width);
                image.insert(QStringLiteral("height"), refusal.height);
                image.insert(QStringLiteral("decodedBytes"), double(refusal.decodedBytes));
                image.insert(QStringLiteral("limit"), double(refusal.limit));
            }
            refused.append(image);
        }
        json.insert(QStringLiteral("refused"), refused);
        if (!writeError.isEmpty())
            json.insert(QStringLiteral("writeError"), writeError);
        break;
    }
    case Kind::AgentContent:
        json.insert(QStringLiteral("layoutId"), layoutId);
        if (!imageId.isEmpty())
            json.insert(QStringLiteral("imageId"), imageId);
        if (missingGlyphs > 0)
            json.insert(QStringLiteral("missingGlyphs"), missingGlyphs);
        if (reason == Reason::CountsDoNotFit) {
            json.insert(QStringLiteral("layoutImages"), layoutImages);
            json.insert(QStringLiteral("layoutTexts"), layoutTexts);
            json.insert(QStringLiteral("givenImages"), givenImages);
            json.insert(QStringLiteral("givenTexts"), givenTexts);
        }
        if (!imagesLeftOut.isEmpty()) {
            QJsonArray leftOut;
            for (const ImageLeftOut& image : imagesLeftOut)
                leftOut.append(QJsonObject{{QStringLiteral("imageId"), image.imageId},
                                           {QStringLiteral("reason"), reasonName(image.reason)}});
            json.insert(QStringLiteral("imagesLeftOut"), leftOut);
        }
        if (!textsNotFitting.isEmpty() || !imagesOverText.isEmpty())
            json.insert(QStringLiteral("fit"), fitJson(*this));
        if (outcome == Outcome::Skipped) {
            json.insert(QStringLiteral("blockingContentId"), blockingContentId);
            json.insert(QStringLiteral("remainingMillis"), double(remainingMillis));
        }
        break;
    case Kind::ContentRemoved:
        json.insert(QStringLiteral("maxPersistingTimeMillis"), maxMillis);
        break;
    case Kind::EventSent: {
        QJsonArray values;
        for (float value : eventValues)
            values.append(double(value));
        json.insert(QStringLiteral("eventType"), eventType);
        json.insert(QStringLiteral("values"), values);
        json.insert(QStringLiteral("agents"), count);
        if (fromPose)
            json.insert(QStringLiteral("source"), QStringLiteral("pose"));
        if (outcome == Outcome::Dropped)
            json.insert(QStringLiteral("peer"), peer);
        break;
    }
    case Kind::ConnectionRefused:
        json.insert(QStringLiteral("peer"), peer);
        break;
    case Kind::LinkDropped:
        json.insert(QStringLiteral("agents"), count);
        break;
    case Kind::LinkRefusal:
        json.insert(QStringLiteral("refusing"), refusing);
        break;
    case Kind::LinkDelay:
        json.insert(QStringLiteral("delayMillis"), delayMillis);
        break;
    case Kind::RecordingStopped:
        json.insert(QStringLiteral("writeError"), writeError);
        break;
    }
    if (connection > 0) {
        json.insert(QStringLiteral("connection"), connection);
        json.insert(QStringLiteral("peer"), peer);
    }
    if (!lint.ignored.isEmpty())
        json.insert(QStringLiteral("ignored"), QJsonArray::fromStringList(lint.ignored));
    if (!lint.coerced.isEmpty()) {
        QJsonArray coerced;
        for (const ZelvoAction::Coercion& coercion : lint.coerced)
            coerced.append(QJsonObject{{QStringLiteral("member"), coercion.member},
                                       {QStringLiteral("given"), coercion.given},
                                       {QStringLiteral("taken"), coercion.taken}});
        json.insert(QStringLiteral("coerced"), coerced);
    }
    return json;
}

QString ZelvoRecord::directionName(Direction direction)
{
    return nameIn(directions, direction);
}

QString ZelvoRecord::kindName(Kind kind)
{
    return nameIn(kinds, kind);
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
