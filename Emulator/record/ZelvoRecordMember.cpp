#include "record/ZelvoRecordMember.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>

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

QJsonValue when(bool present, const QJsonValue& value)
{
    return present ? value : QJsonValue(QJsonValue::Undefined);
}

bool holdsPeer(const Record& record)
{
    return !record.source.peer.isEmpty();
}

bool holdsAgents(const Record& record)
{
    return record.agents != 0;
}

bool holdsMaxMillis(const Record& record)
{
    return record.maxMillis != 0;
}

bool holdsWriteError(const Record& record)
{
    return !record.writeError.isEmpty();
}

QJsonValue peer(const Record& record)
{
    return record.source.peer;
}

QJsonValue agents(const Record& record)
{
    return record.agents;
}

bool hasCountsThatDoNotFit(const Record& record)
{
    return record.reason == Record::Reason::CountsDoNotFit;
}

bool isSkipped(const Record& record)
{
    return record.outcome == Record::Outcome::Skipped;
}

QJsonValue refusedJson(const Record& record)
{
    QJsonArray refused;
    for (const Record::ImageRefusal& refusal : record.refusals) {
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

QJsonValue leftOutJson(const Record& record)
{
    QJsonArray leftOut;
    for (const Record::ImageLeftOut& image : record.imagesLeftOut)
        leftOut.append(QJsonObject{{QStringLiteral("imageId"), image.imageId},
                                   {QStringLiteral("reason"), Record::reasonName(image.reason)}});
    return when(!leftOut.isEmpty(), leftOut);
}

QJsonValue fitJson(const Record& record)
{
    if (!record.hasFitProblems())
        return QJsonValue::Undefined;
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

QJsonValue coercedJson(const Record& record)
{
    QJsonArray coerced;
    for (const ZelvoAction::Coercion& coercion : record.source.lint.coerced)
        coerced.append(QJsonObject{{QStringLiteral("member"), coercion.member},
                                   {QStringLiteral("given"), coercion.given},
                                   {QStringLiteral("taken"), coercion.taken}});
    return when(!coerced.isEmpty(), coerced);
}

QJsonValue eventValuesJson(const Record& record)
{
    QJsonArray values;
    for (float value : record.eventValues)
        values.append(double(value));
    return values;
}

// The members every record carries, whatever its kind.
Member common(const char* key, Type type, QJsonValue (*value)(const Record&))
{
    return {QLatin1String(key), type, {}, value, nullptr};
}

QList<Member::Row> declarations()
{
    const auto text = [](const char* meaning) { return QString::fromUtf8(meaning); };
    return {
        {{common("seq", Type::Number, [](const Record& r) -> QJsonValue { return double(r.sequence); })},
         text("sequence number, from 1, one per record")},
        {{common("time", Type::Number, [](const Record& r) -> QJsonValue { return double(r.timeMillis); })},
         text("milliseconds since 1970 (UTC)")},
        {{common("direction", Type::String, [](const Record& r) -> QJsonValue { return Record::directionName(r.direction); })},
         text("`in` (from an agent), `out` (to the agents), `link` (connections, removals, link faults), `control` "
              "(control commands and marks)")},
        {{common("kind", Type::String, [](const Record& r) -> QJsonValue { return Record::kindName(r.kind); })},
         text("`opened`, `closed`, `frame`, `zelvo_config`, `agent_config`, `agent_content`, `removed`, `event`, "
              "`refused` (a new agent closed while the link refuses), `link_dropped`, `link_refusal`, `link_delay`, "
              "`recording_stopped` (a recording that could not write stopped by itself, reason `write_failed`), "
              "`command` (a control command applied, or `refused`), `mark` (a mark a test or script set), "
              "`frames_dropped` (display changes the report's history let go)")},
        {{common("outcome", Type::String, [](const Record& r) -> QJsonValue { return Record::outcomeName(r.outcome); })},
         text("`info`, `no_action`, `configured`, `timing_set`, `drawn`, `skipped`, `not_drawn`, `removed`, `refused`, "
              "`sent`, `dropped`")},
        {{common("reason", Type::String,
                 [](const Record& r) { return when(r.reason != Record::Reason::None, Record::reasonName(r.reason)); })},
         text("why, where the outcome has one: `not_json`, `not_object`, `no_command_type`, `unknown_command_type`, "
              "`frame_too_large`, `min_time_running`, `no_layout_id`, `no_agent_hash`, `no_such_layout`, "
              "`counts_do_not_fit`, `image_not_stored`, `image_unreadable`, `agent_path_outside`, "
              "`image_path_outside`, `not_a_picture`, `picture_too_large`, `write_failed`; why the emulator closed "
              "an agent (`closed`): `frame_not_held`, `frame_stalled`, `events_unread`; why an event was dropped: "
              "`delayed_events_full`")},
        {{common("agent", Type::String, [](const Record& r) -> QJsonValue { return r.agent; })},
         text("the agent hash (`appId`), `\"\"` when none")},
        {{common("contentId", Type::Number, [](const Record& r) -> QJsonValue { return r.contentId; })},
         text("the content id, -1 when none")},
        {{common("sentence", Type::String, [](const Record& r) -> QJsonValue { return r.sentence(); })},
         text("the outcome in words")},
        {{{QStringLiteral("peer"), Type::String, {Kind::ConnectionOpened, Kind::ConnectionClosed}, peer, holdsPeer},
          {QStringLiteral("agents"), Type::Number, {Kind::ConnectionOpened, Kind::ConnectionClosed}, agents, holdsAgents}},
         text("`opened`, `closed`: the agent's address and port, and the agents connected afterwards")},
        {{{QStringLiteral("connection"), Type::Number, connectionKinds,
           [](const Record& r) { return when(r.source.connection > 0, r.source.connection); },
           [](const Record& r) { return r.source.connection != 0; }},
          {QStringLiteral("peer"), Type::String, connectionKinds,
           [](const Record& r) { return when(r.source.connection > 0, r.source.peer); }, holdsPeer}},
         text("every record of an agent connection (`opened`, `closed`, `frame`, and the `zelvo_config`, "
              "`agent_config`, `agent_content` outcome of its messages): the connection's number, from 1 in the order "
              "accepted, and the agent's address and port")},
        {{{QStringLiteral("ignored"), Type::Array, messageKinds,
           [](const Record& r) {
               return when(!r.source.lint.ignored.isEmpty(), QJsonArray::fromStringList(r.source.lint.ignored));
           },
           [](const Record& r) { return !r.source.lint.ignored.isEmpty(); }},
          {QStringLiteral("coerced"), Type::Array, messageKinds, coercedJson,
           [](const Record& r) { return !r.source.lint.coerced.isEmpty(); }}},
         text("a message of a known command type, on its `frame` record and its outcome: the members that type does "
              "not read, and `{\"member\", \"given\", \"taken\"}` for each value taken other than as written (values as "
              "short JSON text, long ones cut with `…`); only when there are any")},
        {{{QStringLiteral("size"), Type::Number, {Kind::FrameReceived},
           [](const Record& r) -> QJsonValue { return double(r.size); }, [](const Record& r) { return r.size != 0; }},
          {QStringLiteral("commandType"), Type::String, {Kind::FrameReceived},
           [](const Record& r) { return when(!r.commandType.isEmpty(), r.commandType); },
           [](const Record& r) { return !r.commandType.isEmpty(); }},
          {QStringLiteral("limit"), Type::Number, {Kind::FrameReceived},
           [](const Record& r) { return when(r.reason == Record::Reason::FrameTooLarge, double(r.limit)); },
           [](const Record& r) { return r.limit != 0; }},
          {QStringLiteral("peer"), Type::String, {Kind::FrameReceived},
           [](const Record& r) { return when(!r.source.peer.isEmpty(), r.source.peer); }, holdsPeer},
          {QStringLiteral("clamped"), Type::Bool, {Kind::FrameReceived}, [](const Record& r) { return when(r.clamped, true); },
           [](const Record& r) { return r.clamped; }}},
         text("`frame`: payload bytes, its `\"command.type\"`, for a skipped frame the limit it went over and the "
              "agent's address and port, and `true` when a number in it was beyond the 32-bit range and taken as the "
              "nearest bound")},
        {{{QStringLiteral("minPersistingTimeMillis"), Type::Number, {Kind::ZelvoConfig},
           [](const Record& r) -> QJsonValue { return r.minMillis; }, [](const Record& r) { return r.minMillis != 0; }},
          {QStringLiteral("maxPersistingTimeMillis"), Type::Number, {Kind::ZelvoConfig, Kind::ContentRemoved},
           [](const Record& r) -> QJsonValue { return r.maxMillis; }, holdsMaxMillis}},
         text("`zelvo_config`; `removed` has the maximum")},
        {{{QStringLiteral("stored"), Type::Number, {Kind::AgentConfig}, [](const Record& r) -> QJsonValue { return r.stored; },
           [](const Record& r) { return r.stored != 0; }},
          {QStringLiteral("refused"), Type::Array, {Kind::AgentConfig}, refusedJson,
           [](const Record& r) { return !r.refusals.isEmpty(); }}},
         text("`agent_config`: images stored, and `{\"index\", \"reason\"}` for each refused; one too large adds "
              "`\"width\"`, `\"height\"`, `\"decodedBytes\"` and the `\"limit\"` it went over")},
        {{{QStringLiteral("layoutId"), Type::String, {Kind::AgentContent},
           [](const Record& r) -> QJsonValue { return r.layoutId; }, [](const Record& r) { return !r.layoutId.isEmpty(); }},
          {QStringLiteral("imageId"), Type::String, {Kind::AgentContent},
           [](const Record& r) { return when(!r.imageId.isEmpty(), r.imageId); },
           [](const Record& r) { return !r.imageId.isEmpty(); }}},
         text("`agent_content`: the layout the message named (`\"\"` when none), the image id refused for naming a path "
              "outside")},
        {{{QStringLiteral("imagesLeftOut"), Type::Array, {Kind::AgentContent}, leftOutJson,
           [](const Record& r) { return !r.imagesLeftOut.isEmpty(); }}},
         text("`agent_content` drawn without some of its images: `{\"imageId\", \"reason\"}` for each "
              "(`image_not_stored`, `image_unreadable`)")},
        {{{QStringLiteral("missingGlyphs"), Type::Number, {Kind::AgentContent},
           [](const Record& r) { return when(r.missingGlyphs > 0, r.missingGlyphs); },
           [](const Record& r) { return r.missingGlyphs != 0; }}},
         text("`agent_content`: characters of its texts that no installed font can show (drawn as empty boxes); only "
              "when there are any")},
        {{{QStringLiteral("fit"), Type::Object, {Kind::AgentContent}, fitJson,
           [](const Record& r) { return r.hasFitProblems(); }}},
         text("`agent_content` drawn with a text cut at its rectangle's foot or running past its right edge, or a "
              "picture over text: `{\"texts\": [{\"index\", \"lines\", \"cut\", \"hiddenChars\", \"overflow\"}], "
              "\"images\": [{\"id\", \"covers\"}]}` (indexes from 0); only when there is any, and named in the sentence")},
        {{{QStringLiteral("layoutImages"), Type::Number, {Kind::AgentContent},
           [](const Record& r) { return when(hasCountsThatDoNotFit(r), r.layoutImages); },
           [](const Record& r) { return r.layoutImages != 0; }},
          {QStringLiteral("layoutTexts"), Type::Number, {Kind::AgentContent},
           [](const Record& r) { return when(hasCountsThatDoNotFit(r), r.layoutTexts); },
           [](const Record& r) { return r.layoutTexts != 0; }},
          {QStringLiteral("givenImages"), Type::Number, {Kind::AgentContent},
           [](const Record& r) { return when(hasCountsThatDoNotFit(r), r.givenImages); },
           [](const Record& r) { return r.givenImages != 0; }},
          {QStringLiteral("givenTexts"), Type::Number, {Kind::AgentContent},
           [](const Record& r) { return when(hasCountsThatDoNotFit(r), r.givenTexts); },
           [](const Record& r) { return r.givenTexts != 0; }}},
         text("`agent_content` with `counts_do_not_fit`")},
        {{{QStringLiteral("blockingContentId"), Type::Number, {Kind::AgentContent},
           [](const Record& r) { return when(isSkipped(r), r.blockingContentId); },
           [](const Record& r) { return r.blockingContentId != -1; }},
          {QStringLiteral("remainingMillis"), Type::Number, {Kind::AgentContent},
           [](const Record& r) { return when(isSkipped(r), double(r.remainingMillis)); },
           [](const Record& r) { return r.remainingMillis != 0; }}},
         text("`agent_content` skipped: the content whose minimum time runs, and for how long still")},
        {{{QStringLiteral("eventType"), Type::Number, {Kind::EventSent},
           [](const Record& r) -> QJsonValue { return r.eventType; }, [](const Record& r) { return r.eventType != 0; }},
          {QStringLiteral("values"), Type::Array, {Kind::EventSent}, eventValuesJson,
           [](const Record& r) {
               return std::any_of(r.eventValues.cbegin(), r.eventValues.cend(), [](float value) { return value != 0; });
           }},
          {QStringLiteral("agents"), Type::Number, {Kind::EventSent}, agents, holdsAgents},
          {QStringLiteral("peer"), Type::String, {Kind::EventSent},
           [](const Record& r) { return when(r.outcome == Record::Outcome::Dropped, r.source.peer); }, holdsPeer}},
         text("`event`: its kind, its four values and how many agents it went to; `dropped`: the agent it did not go "
              "to")},
        {{{QStringLiteral("source"), Type::String, {Kind::EventSent},
           [](const Record& r) { return when(r.fromPose, QStringLiteral("pose")); },
           [](const Record& r) { return r.fromPose; }}},
         text("`event`: `\"pose\"` for a compass or accelerometer reading that the head pose gave")},
        {{{QStringLiteral("peer"), Type::String, {Kind::ConnectionRefused}, peer, holdsPeer}},
         text("`refused`: the refused agent's address and port")},
        {{{QStringLiteral("agents"), Type::Number, {Kind::LinkDropped}, agents, holdsAgents}},
         text("`link_dropped`: the connections closed")},
        {{{QStringLiteral("refusing"), Type::Bool, {Kind::LinkRefusal}, [](const Record& r) -> QJsonValue { return r.refusing; },
           [](const Record& r) { return r.refusing; }}},
         text("`link_refusal`: whether new agents are refused from now on")},
        {{{QStringLiteral("delayMillis"), Type::Number, {Kind::LinkDelay},
           [](const Record& r) -> QJsonValue { return r.delayMillis; }, [](const Record& r) { return r.delayMillis != 0; }}},
         text("`link_delay`: the new delay, 0 when it ended")},
        {{{QStringLiteral("writeError"), Type::String, {Kind::AgentConfig, Kind::RecordingStopped},
           [](const Record& r) {
               return when(r.kind == Kind::RecordingStopped || !r.writeError.isEmpty(), r.writeError);
           },
           holdsWriteError}},
         text("`agent_config` refused with `write_failed`: the system's reason (\"No space left on device\"); "
              "`recording_stopped`: why, with the file and what it holds")},
        {{{QStringLiteral("text"), Type::String, {Kind::Command, Kind::Mark},
           [](const Record& r) -> QJsonValue { return r.text; }, [](const Record& r) { return !r.text.isEmpty(); }},
          {QStringLiteral("error"), Type::String, {Kind::Command},
           [](const Record& r) { return when(!r.error.isEmpty(), r.error); },
           [](const Record& r) { return !r.error.isEmpty(); }}},
         text("`command`: the command as given (`button click plus`) and, when `refused`, why; `mark`: its text")},
        {{{QStringLiteral("dropped"), Type::Number, {Kind::FramesDropped},
           [](const Record& r) -> QJsonValue { return r.dropped; }, [](const Record& r) { return r.dropped != 0; }},
          {QStringLiteral("limit"), Type::Number, {Kind::FramesDropped},
           [](const Record& r) -> QJsonValue { return double(r.limit); }, nullptr}},
         text("`frames_dropped`: the display changes let go, and the bytes the history keeps at most")},
    };
}

} // namespace

const QList<ZelvoRecordMember::Row>& ZelvoRecordMember::rows()
{
    static const QList<Row> all = declarations();
    return all;
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
    for (const Row& row : rows()) {
        QStringList keys;
        QStringList types;
        for (const ZelvoRecordMember& member : row.members) {
            keys.append(QLatin1Char('`') + member.key + QLatin1Char('`'));
            types.append(typeName(member.type));
        }
        // "number" for members of one type, "number, string" for several.
        types.removeDuplicates();
        if (types.size() > 1) {
            types.clear();
            for (const ZelvoRecordMember& member : row.members)
                types.append(typeName(member.type));
        }
        markdown += QStringLiteral("| %1 | %2 | %3 |\n")
                        .arg(keys.join(QStringLiteral(", ")), types.join(QStringLiteral(", ")), row.meaning);
    }
    return markdown;
}

bool ZelvoRecordMember::isCarriedBy(ZelvoRecord::Kind recordKind) const
{
    return kinds.isEmpty() || kinds.contains(recordKind);
}
