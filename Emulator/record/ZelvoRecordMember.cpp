#include "record/ZelvoRecordMember.h"

#include <QJsonArray>
#include <QJsonObject>

#include <array>
#include <optional>
#include <utility>

namespace {

using Member = ZelvoRecordMember;
using Record = ZelvoRecord;
using Kind = ZelvoRecord::Kind;
using Type = ZelvoRecordMember::Type;

// The kinds of the records an agent connection leads to.
const QList<Kind> connectionKinds = {Kind::ConnectionOpened, Kind::ConnectionClosed, Kind::FrameReceived,
                                     Kind::ZelvoConfig,      Kind::AgentConfig,      Kind::AgentContent};
// The outcome of a message of a known command type, and its frame.
const QList<Kind> messageKinds = {Kind::FrameReceived, Kind::ZelvoConfig, Kind::AgentConfig, Kind::AgentContent};

const QJsonValue absent(QJsonValue::Undefined);

QJsonValue json(int number)
{
    return number;
}

QJsonValue json(qint64 number)
{
    return double(number);
}

QJsonValue json(bool flag)
{
    return flag;
}

QJsonValue json(const QString& text)
{
    return text;
}

QJsonValue json(const std::array<float, 4>& values)
{
    QJsonArray array;
    for (float value : values)
        array.append(double(value));
    return array;
}

QJsonValue json(const QVector<Record::ImageRefusal>& refusals)
{
    QJsonArray refused;
    for (const Record::ImageRefusal& refusal : refusals) {
        QJsonObject image{{QStringLiteral("index"), refusal.index},
                          {QStringLiteral("reason"), Record::reasonName(refusal.reason)}};
        if (refusal.reason == Record::Reason::PictureTooLarge) {
            image.insert(QStringLiteral("width"), refusal.width);
            image.insert(QStringLiteral("height"), refusal.height);
            image.insert(QStringLiteral("decodedBytes"), double(refusal.decodedBytes));
            image.insert(QStringLiteral("limit"), double(refusal.limit));
        }
        refused.append(image);
    }
    return refused;
}

// A fact the record holds or not; a text, a list or a flag where it says
// something: an empty one is none.
template <typename T>
QJsonValue held(const std::optional<T>& fact)
{
    return fact ? json(*fact) : absent;
}

QJsonValue held(const QString& text)
{
    return text.isEmpty() ? absent : QJsonValue(text);
}

QJsonValue held(bool flag)
{
    return flag ? QJsonValue(true) : absent;
}

QJsonValue held(const QStringList& list)
{
    return list.isEmpty() ? absent : QJsonValue(QJsonArray::fromStringList(list));
}

QJsonValue held(const QVector<Record::ImageLeftOut>& images)
{
    QJsonArray leftOut;
    for (const Record::ImageLeftOut& image : images)
        leftOut.append(QJsonObject{{QStringLiteral("imageId"), image.imageId},
                                   {QStringLiteral("reason"), Record::reasonName(image.reason)}});
    return images.isEmpty() ? absent : QJsonValue(leftOut);
}

QJsonValue held(const QVector<ZelvoAction::Coercion>& coercions)
{
    QJsonArray coerced;
    for (const ZelvoAction::Coercion& coercion : coercions)
        coerced.append(QJsonObject{{QStringLiteral("member"), coercion.member},
                                   {QStringLiteral("given"), coercion.given},
                                   {QStringLiteral("taken"), coercion.taken}});
    return coercions.isEmpty() ? absent : QJsonValue(coerced);
}

QJsonValue fitJson(const Record& record)
{
    if (!record.hasFitProblems())
        return absent;
    QJsonArray texts;
    for (const Record::TextFit& text : record.textsNotFitting)
        texts.append(QJsonObject{{QStringLiteral("index"), text.index},
                                 {QStringLiteral("lines"), text.lines},
                                 {QStringLiteral("cut"), text.cut},
                                 {QStringLiteral("hiddenChars"), text.hiddenChars},
                                 {QStringLiteral("overflow"), text.overflow}});
    QJsonArray images;
    for (const Record::ImageOverText& image : record.imagesOverText) {
        QJsonArray covers;
        for (int index : image.texts)
            covers.append(index);
        images.append(QJsonObject{{QStringLiteral("id"), image.imageId}, {QStringLiteral("covers"), covers}});
    }
    return QJsonObject{{QStringLiteral("texts"), texts}, {QStringLiteral("images"), images}};
}

template <auto field>
QJsonValue valueOf(const Record& record)
{
    return held(record.*field);
}

// A member read from one field of the record.
template <auto field>
Member fact(const char* key, Type type, QList<Kind> kinds, const char* meaning)
{
    return {QLatin1String(key), type, std::move(kinds), QString::fromUtf8(meaning), valueOf<field>};
}

// A member made from more than one field, or from none alone.
Member made(const char* key, Type type, QList<Kind> kinds, QJsonValue (*value)(const Record&), const char* meaning)
{
    return {QLatin1String(key), type, std::move(kinds), QString::fromUtf8(meaning), value};
}

QList<Member> declarations()
{
    return {
        made("seq", Type::Number, {}, [](const Record& r) -> QJsonValue { return double(r.sequence); },
             "sequence number, from 1, one per record"),
        made("time", Type::Number, {}, [](const Record& r) -> QJsonValue { return double(r.timeMillis); },
             "milliseconds since 1970 (UTC)"),
        made("direction", Type::String, {}, [](const Record& r) -> QJsonValue { return Record::directionName(r.direction); },
             "`in` (from an agent), `out` (to the agents), `link` (connections, removals, link faults), `control` "
             "(control commands and marks)"),
        made("kind", Type::String, {}, [](const Record& r) -> QJsonValue { return Record::kindName(r.kind); },
             "`opened`, `closed`, `frame`, `zelvo_config`, `agent_config`, `agent_content`, `removed`, `event`, "
             "`refused` (a new agent closed while the link refuses), `link_dropped`, `link_refusal`, `link_delay`, "
             "`recording_stopped` (a recording that could not write stopped by itself, reason `write_failed`), "
             "`command` (a control command applied, or `refused`), `mark` (a mark a test or script set), "
             "`frames_dropped` (display changes the report's history let go)"),
        made("outcome", Type::String, {}, [](const Record& r) -> QJsonValue { return Record::outcomeName(r.outcome); },
             "`info`, `no_action`, `configured`, `timing_set`, `drawn`, `skipped`, `not_drawn`, `removed`, `refused`, "
             "`sent`, `dropped`"),
        made("reason", Type::String, {},
             [](const Record& r) { return r.reason == Record::Reason::None ? absent : Record::reasonName(r.reason); },
             "why, where the outcome has one: `not_json`, `not_object`, `no_command_type`, `unknown_command_type`, "
             "`frame_too_large`, `min_time_running`, `no_layout_id`, `no_agent_hash`, `no_such_layout`, "
             "`counts_do_not_fit`, `image_not_stored`, `image_unreadable`, `agent_path_outside`, "
             "`image_path_outside`, `not_a_picture`, `picture_too_large`, `write_failed`; why the emulator closed an "
             "agent (`closed`): `frame_not_held`, `frame_stalled`, `events_unread`; why an event was dropped: "
             "`delayed_events_full`"),
        made("agent", Type::String, {}, [](const Record& r) -> QJsonValue { return r.agent; },
             "the agent hash (`appId`), `\"\"` when none"),
        made("contentId", Type::Number, {}, [](const Record& r) -> QJsonValue { return r.contentId; },
             "the content id, -1 when none"),
        made("sentence", Type::String, {}, [](const Record& r) -> QJsonValue { return r.sentence(); },
             "the outcome in words"),
        made("connection", Type::Number, connectionKinds, [](const Record& r) { return held(r.source.connection); },
             "every record of an agent connection (`opened`, `closed`, `frame`, and the `zelvo_config`, "
             "`agent_config`, `agent_content` outcome of its messages): the connection's number, from 1 in the order "
             "accepted"),
        made("peer", Type::String, connectionKinds + QList<Kind>{Kind::EventSent, Kind::ConnectionRefused},
             [](const Record& r) { return held(r.source.peer); },
             "the agent's address and port: of the connection on every record of an agent connection, of the agent "
             "`refused`, of the agent a `dropped` event did not go to"),
        fact<&Record::agents>("agents", Type::Number,
                              {Kind::ConnectionOpened, Kind::ConnectionClosed, Kind::EventSent, Kind::LinkDropped},
                              "`opened`, `closed`: the agents connected afterwards; `event`: how many agents it went "
                              "to; `link_dropped`: the connections closed"),
        made("ignored", Type::Array, messageKinds, [](const Record& r) { return held(r.source.lint.ignored); },
             "a message of a known command type, on its `frame` record and its outcome: the members that type does "
             "not read; only when there are any"),
        made("coerced", Type::Array, messageKinds, [](const Record& r) { return held(r.source.lint.coerced); },
             "a message of a known command type, on its `frame` record and its outcome: `{\"member\", \"given\", "
             "\"taken\"}` for each value taken other than as written (values as short JSON text, long ones cut with "
             "`…`); only when there are any"),
        fact<&Record::size>("size", Type::Number, {Kind::FrameReceived}, "`frame`: payload bytes"),
        fact<&Record::commandType>("commandType", Type::String, {Kind::FrameReceived},
                                   "`frame`: its `\"command.type\"`"),
        fact<&Record::limit>("limit", Type::Number, {Kind::FrameReceived, Kind::FramesDropped},
                             "`frame` skipped: the limit it went over; `frames_dropped`: the bytes the history keeps "
                             "at most"),
        fact<&Record::clamped>("clamped", Type::Bool, {Kind::FrameReceived},
                               "`frame`: `true` when a number in it was beyond the 32-bit range and taken as the "
                               "nearest bound"),
        fact<&Record::minMillis>("minPersistingTimeMillis", Type::Number, {Kind::ZelvoConfig},
                                 "`zelvo_config`: the minimum persisting time"),
        fact<&Record::maxMillis>("maxPersistingTimeMillis", Type::Number, {Kind::ZelvoConfig, Kind::ContentRemoved},
                                 "`zelvo_config`: the maximum persisting time; `removed`: the one that ran out"),
        fact<&Record::stored>("stored", Type::Number, {Kind::AgentConfig}, "`agent_config`: images stored"),
        fact<&Record::refusals>("refused", Type::Array, {Kind::AgentConfig},
                                "`agent_config`: `{\"index\", \"reason\"}` for each image refused; one too large adds "
                                "`\"width\"`, `\"height\"`, `\"decodedBytes\"` and the `\"limit\"` it went over"),
        fact<&Record::layoutId>("layoutId", Type::String, {Kind::AgentContent},
                                "`agent_content`: the layout the message named (`\"\"` when none)"),
        fact<&Record::imageId>("imageId", Type::String, {Kind::AgentContent},
                               "`agent_content`: the image id refused for naming a path outside"),
        fact<&Record::imagesLeftOut>("imagesLeftOut", Type::Array, {Kind::AgentContent},
                                     "`agent_content` drawn without some of its images: `{\"imageId\", \"reason\"}` "
                                     "for each (`image_not_stored`, `image_unreadable`)"),
        fact<&Record::missingGlyphs>("missingGlyphs", Type::Number, {Kind::AgentContent},
                                     "`agent_content`: characters of its texts that no installed font can show (drawn "
                                     "as empty boxes); only when there are any"),
        made("fit", Type::Object, {Kind::AgentContent}, fitJson,
             "`agent_content` drawn with a text cut at its rectangle's foot or running past its right edge, or a "
             "picture over text: `{\"texts\": [{\"index\", \"lines\", \"cut\", \"hiddenChars\", \"overflow\"}], "
             "\"images\": [{\"id\", \"covers\"}]}` (indexes from 0); only when there is any, and named in the sentence"),
        fact<&Record::layoutImages>("layoutImages", Type::Number, {Kind::AgentContent},
                                    "`agent_content` with `counts_do_not_fit`: images the layout takes"),
        fact<&Record::layoutTexts>("layoutTexts", Type::Number, {Kind::AgentContent},
                                   "`agent_content` with `counts_do_not_fit`: texts the layout takes"),
        fact<&Record::givenImages>("givenImages", Type::Number, {Kind::AgentContent},
                                   "`agent_content` with `counts_do_not_fit`: images the message gave"),
        fact<&Record::givenTexts>("givenTexts", Type::Number, {Kind::AgentContent},
                                  "`agent_content` with `counts_do_not_fit`: texts the message gave"),
        fact<&Record::blockingContentId>("blockingContentId", Type::Number, {Kind::AgentContent},
                                         "`agent_content` skipped: the content whose minimum time runs"),
        fact<&Record::remainingMillis>("remainingMillis", Type::Number, {Kind::AgentContent},
                                       "`agent_content` skipped: for how long the minimum time runs still"),
        fact<&Record::eventType>("eventType", Type::Number, {Kind::EventSent}, "`event`: its kind"),
        fact<&Record::eventValues>("values", Type::Array, {Kind::EventSent}, "`event`: its four values"),
        made("source", Type::String, {Kind::EventSent},
             [](const Record& r) { return r.fromPose ? QJsonValue(QStringLiteral("pose")) : absent; },
             "`event`: `\"pose\"` for a compass or accelerometer reading that the head pose gave"),
        fact<&Record::refusing>("refusing", Type::Bool, {Kind::LinkRefusal},
                                "`link_refusal`: whether new agents are refused from now on"),
        fact<&Record::delayMillis>("delayMillis", Type::Number, {Kind::LinkDelay},
                                   "`link_delay`: the new delay, 0 when it ended"),
        fact<&Record::writeError>("writeError", Type::String, {Kind::AgentConfig, Kind::RecordingStopped},
                                  "`agent_config` refused with `write_failed`: the system's reason (\"No space left on "
                                  "device\"); `recording_stopped`: why, with the file and what it holds"),
        fact<&Record::text>("text", Type::String, {Kind::Command, Kind::Mark},
                            "`command`: the command as given (`button click plus`); `mark`: its text"),
        fact<&Record::error>("error", Type::String, {Kind::Command}, "`command` `refused`: why"),
        fact<&Record::dropped>("dropped", Type::Number, {Kind::FramesDropped},
                               "`frames_dropped`: the display changes let go"),
    };
}

} // namespace

const QList<ZelvoRecordMember>& ZelvoRecordMember::all()
{
    static const QList<ZelvoRecordMember> members = declarations();
    return members;
}

QString ZelvoRecordMember::typeName(Type type)
{
    switch (type) {
    case Type::Number:
        return QStringLiteral("number");
    case Type::String:
        return QStringLiteral("string");
    case Type::Bool:
        return QStringLiteral("bool");
    case Type::Array:
        return QStringLiteral("array");
    case Type::Object:
        return QStringLiteral("object");
    }
    return QString();
}

QString ZelvoRecordMember::table()
{
    QString markdown = QStringLiteral("| Field | Type | Meaning |\n|---|---|---|\n");
    for (const ZelvoRecordMember& member : all())
        markdown += QStringLiteral("| `%1` | %2 | %3 |\n").arg(member.key, typeName(member.type), member.meaning);
    return markdown;
}

bool ZelvoRecordMember::isCarriedBy(ZelvoRecord::Kind recordKind) const
{
    return kinds.isEmpty() || kinds.contains(recordKind);
}
