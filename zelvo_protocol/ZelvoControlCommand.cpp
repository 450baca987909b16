#include "ZelvoControlCommand.h"

#include "ZelvoSensorReading.h"
#include "ZelvoVocabulary.h"

#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <limits>

namespace {

using Field = ZelvoControlField;

// Longer than any test would hold a button or wait, short enough that a
// typo in milliseconds does not hang a CI job for days.
constexpr double maxMillis = 3600000;
// Sequence numbers are exact in a double up to 2^53, far beyond any run's records.
constexpr double maxSequence = 9007199254740992.0;

QList<ZelvoControlCommand> declarations()
{
    const Field button = Field::choice(QStringLiteral("button"), ZelvoVocabulary::buttonNames())
                             .positional(ZelvoVocabulary::buttonNames().join(QLatin1Char('|')));
    const Field sensor = Field::choice(QStringLiteral("sensor"), ZelvoSensorReading::sensorNames())
                             .positional(QStringLiteral("NAME"));
    const Field file = Field::path(QStringLiteral("file")).positional(QStringLiteral("FILE"));
    const Field since = Field::whole(QStringLiteral("since"), 0, maxSequence);

    ZelvoControlCommand buttons{
        QStringLiteral("button"), QString(), QStringLiteral("gesture"), QString(), true, {button},
        {{QStringLiteral("click"), QStringLiteral("Press and release a button."), {}},
         {QStringLiteral("press"), QStringLiteral("Press a button and keep it down (until 'release', or for --hold MS)."),
          {Field::whole(QStringLiteral("hold"), 0, maxMillis)
               .option(QStringLiteral("hold"), QStringLiteral("MS"), QStringLiteral("Release after MS milliseconds and return then."))
               .delaysAnswer()}},
         {QStringLiteral("release"), QStringLiteral("Release a pressed button."), {}},
         {QStringLiteral("long"), QStringLiteral("Hold a button until its long press fires, then release it."), {}}}};

    ZelvoControlCommand sensors{
        QStringLiteral("sensor"),
        QStringLiteral("Send one reading of battery (1 value), accelerometer (3), compass (3) or\n"
                       "light (1), as the sensor panel's single shot does (a battery reading\n"
                       "leaves the shown level alone; 'battery' sets it), or start or stop that\n"
                       "sensor's simulation. Put -- before values that begin with a minus sign."),
        QStringLiteral("action"), QStringLiteral("shot"), false, {sensor},
        {{QStringLiteral("shot"), QString(), {Field::numbers(QStringLiteral("values")).rest(QStringLiteral("V..."))}},
         {QStringLiteral("start"), QString(), {}},
         {QStringLiteral("stop"), QString(), {}}}};

    ZelvoControlCommand trace{
        QStringLiteral("trace"),
        QStringLiteral("Play a CSV trace of readings, one a line: milliseconds,sensor,v0[,v1,v2];\n"
                       "milliseconds,pose,yaw,pitch,roll moves the wearer's head there."),
        QStringLiteral("action"), QStringLiteral("play"), false, {},
        {{QStringLiteral("play"), QString(),
          {file, Field::onOff(QStringLiteral("wait"))
                     .flag(QStringLiteral("wait"), QStringLiteral("Return when the trace has ended instead of when it starts."))}},
         {QStringLiteral("stop"), QString(), {}}}};

    ZelvoControlCommand screenshot{
        QStringLiteral("screenshot"),
        QStringLiteral("Save the 320 x 240 display as PNG ('-' writes it to standard output), or\n"
                       "compare it with a golden picture."),
        QString(), QString(), false,
        {Field::path(QStringLiteral("path")),
         Field::onOff(QStringLiteral("opaque"))
             .flag(QStringLiteral("opaque"),
                   QStringLiteral("The display on its black background, as the glasses show it, instead of transparent."))},
        {{}}};

    ZelvoControlCommand record{
        QStringLiteral("record"),
        QStringLiteral("Record the display as animated PNG (GIF when FILE ends in .gif), one frame per\n"
                       "change, or every agent frame and device event as JSON lines; 'stop' ends both\n"
                       "and says what each wrote."),
        QStringLiteral("what"), QString(), false, {},
        {{QStringLiteral("display"), QString(),
          {file,
           Field::number(QStringLiteral("seconds"), 0, maxMillis / 1000, true)
               .option(QStringLiteral("seconds"), QStringLiteral("SECONDS"),
                       QStringLiteral("Record for SECONDS (fractions allowed) and return once the file is written."))
               .delaysAnswer(1000),
           // Answers once the file is written instead of when recording starts.
           Field::onOff(QStringLiteral("wait"))}},
         {QStringLiteral("session"), QString(), {file}},
         {QStringLiteral("stop"), QString(), {}}}};

    ZelvoControlCommand state{QStringLiteral("state"), QStringLiteral("Print the emulator's state as JSON."),
                              QString(), QString(), false, {}, {{}}};

    ZelvoControlCommand screen{
        QStringLiteral("screen"),
        QStringLiteral("Print what the display shows as JSON: each text's lines as drawn and whether\n"
                       "it was cut or runs past its rectangle, each picture's place, the status\n"
                       "strip and the persisting times still to run."),
        QString(), QString(), false, {}, {{}}};

    ZelvoControlCommand wait{
        QStringLiteral("wait"),
        QStringLiteral("Return once that agent's content was drawn, printing what became of it\n"
                       "(a text cut or running past its rectangle, a picture over text), or with\n"
                       "--removed once none of it is on the display; fail at once with the reason\n"
                       "when it was skipped, not drawn or refused."),
        QString(), QString(), false,
        {Field::text(QStringLiteral("contentOf"), QStringLiteral("an agent hash"))
             .option(QStringLiteral("content-of"), QStringLiteral("HASH"),
                     QStringLiteral("The agent hash (\"appId\") whose content to wait for."))
             .required(),
         Field::whole(QStringLiteral("contentId"), std::numeric_limits<int>::min(), std::numeric_limits<int>::max())
             .option(QStringLiteral("content-id"), QStringLiteral("N"), QStringLiteral("Wait for this content id of the agent only.")),
         since.option(QStringLiteral("since"), QStringLiteral("SEQ"),
                      QStringLiteral("Only what happened after this sequence number of the record.")),
         Field::onOff(QStringLiteral("removed"))
             .flag(QStringLiteral("removed"), QStringLiteral("Wait until that content is no longer on the display.")),
         Field::whole(QStringLiteral("timeout"), 0, maxMillis)
             .option(QStringLiteral("timeout"), QStringLiteral("SECONDS"),
                     QStringLiteral("Give up after SECONDS (fractions allowed, default 10)."))
             .inSeconds()
             .byDefault(10000)
             .delaysAnswer()},
        {{}}};

    ZelvoControlCommand log{
        QStringLiteral("log"), QStringLiteral("Print what became of the agents' messages, one record a line."),
        QString(), QString(), false,
        {Field::onOff(QStringLiteral("follow"))
             .flag(QStringLiteral("follow"),
                   QStringLiteral("Keep printing new records until the emulator ends or the command is stopped.")),
         Field::text(QStringLiteral("agent"))
             .option(QStringLiteral("agent"), QStringLiteral("HASH"), QStringLiteral("Only the records of this agent hash, and those of the connections it used.")),
         since.option(QStringLiteral("since"), QStringLiteral("SEQ"), QStringLiteral("Only the records after this sequence number."))},
        {{}}};

    ZelvoControlCommand fullscreen{
        QStringLiteral("fullscreen"), QStringLiteral("Switch full-screen mode."), QString(), QString(), false,
        {Field::choice(QStringLiteral("mode"), {QStringLiteral("on"), QStringLiteral("off")}).positional(QStringLiteral("on|off"))},
        {{}}};

    ZelvoControlCommand link{
        QStringLiteral("link"),
        QStringLiteral("Print the link's state as JSON, after dropping every agent connection,\n"
                       "refusing new agents (or no longer), or sending every message to agents\n"
                       "MS milliseconds late (0 ends it)."),
        QStringLiteral("action"), QStringLiteral("state"), false, {},
        {{QStringLiteral("state"), QString(), {}},
         {QStringLiteral("drop"), QString(), {}},
         {QStringLiteral("refuse"), QString(), {Field::onOff(QStringLiteral("on")).positional(QStringLiteral("on|off"))}},
         {QStringLiteral("delay"), QString(), {Field::whole(QStringLiteral("millis"), 0, maxMillis).positional(QStringLiteral("MS"))}}}};

    ZelvoControlCommand battery{
        QStringLiteral("battery"), QStringLiteral("Show the battery at LEVEL percent (0 to 100) and send agents its event."),
        QString(), QString(), false,
        {Field::whole(QStringLiteral("level"), 0, 100).positional(QStringLiteral("LEVEL")),
         Field::onOff(QStringLiteral("charging"))
             .option(QStringLiteral("charging"), QStringLiteral("on|off"),
                     QStringLiteral("Show the charging bolt (on) or not (off); unchanged when not given."))},
        {{}}};

    ZelvoControlCommand reset{
        QStringLiteral("reset"),
        QStringLiteral("Bring the emulator back to the state of a fresh start: no content, default\n"
                       "times, sensors and traces stopped, its agents' images and the message\n"
                       "record deleted. Connected agents stay connected."),
        QString(), QString(), false, {}, {{}}};

    ZelvoControlCommand web{
        QStringLiteral("web"),
        QStringLiteral("Print the address of the emulator's web page, its token in it (the emulator\n"
                       "serves the page when started with --web-port PORT)."),
        QString(), QString(), false, {}, {{}}};

    ZelvoControlCommand clock{
        QStringLiteral("clock"),
        QStringLiteral("Stop the device's time, let it run again, move it MS milliseconds on\n"
                       "(every timer due on the way fires first, the emulator serving meanwhile;\n"
                       "a second advance queues behind), or print it as JSON."),
        QStringLiteral("action"), QStringLiteral("state"), false, {},
        {{QStringLiteral("pause"), QString(), {}},
         {QStringLiteral("resume"), QString(), {}},
         {QStringLiteral("advance"), QString(),
          {Field::whole(QStringLiteral("ms"), 0, maxMillis).positional(QStringLiteral("MS")).delaysAnswer()}},
         {QStringLiteral("state"), QString(), {}}}};

    const QList<Field> pose = {
        Field::number(QStringLiteral("yaw"), -ZelvoSensorReading::maxYaw, ZelvoSensorReading::maxYaw)
            .option(QStringLiteral("yaw"), QStringLiteral("DEGREES"), QStringLiteral("Heading, clockwise from north.")),
        Field::number(QStringLiteral("pitch"), -ZelvoSensorReading::maxPitch, ZelvoSensorReading::maxPitch)
            .option(QStringLiteral("pitch"), QStringLiteral("DEGREES"), QStringLiteral("Looking up is positive.")),
        Field::number(QStringLiteral("roll"), -ZelvoSensorReading::maxRoll, ZelvoSensorReading::maxRoll)
            .option(QStringLiteral("roll"), QStringLiteral("DEGREES"), QStringLiteral("Right ear down is positive."))};
    ZelvoControlCommand head{
        QStringLiteral("pose"),
        QStringLiteral("Place the wearer's head (the angles not given stay as they are), move it there\n"
                       "over MS milliseconds, or play a gesture; the compass and the accelerometer read\n"
                       "what the head does, along the way at the pose rate (readings a second). A move\n"
                       "or a gesture returns when it has ended; on the manual clock it moves the clock."),
        QStringLiteral("action"), QStringLiteral("set"), false, {},
        {{QStringLiteral("set"), QString(), pose},
         {QStringLiteral("move"), QString(),
          pose + QList<Field>{Field::whole(QStringLiteral("over"), 0, maxMillis)
                                  .option(QStringLiteral("over"), QStringLiteral("MS"), QStringLiteral("Take MS milliseconds to get there."))
                                  .required()
                                  .delaysAnswer()}},
         {QStringLiteral("gesture"), QString(),
          {Field::choice(QStringLiteral("gesture"), ZelvoVocabulary::headGestureNames())
               .positional(QStringLiteral("NAME"))
               .required(),
           // No gesture takes longer than a second.
           Field::whole(QStringLiteral("times"), 1, 100)
               .option(QStringLiteral("times"), QStringLiteral("N"), QStringLiteral("Play it N times in a row (default 1)."))
               .byDefault(1)
               .delaysAnswer(1000)}},
         {QStringLiteral("rate"), QString(), {Field::whole(QStringLiteral("rate"), 1, 100).positional(QStringLiteral("PER_SECOND"))}},
         {QStringLiteral("stop"), QString(), {}},
         {QStringLiteral("state"), QString(), {}}}};

    ZelvoControlCommand report{
        QStringLiteral("report"),
        QStringLiteral("Write a run report: one HTML file that opens in a browser without the\n"
                       "emulator, with every record since the start or the last reset (or after\n"
                       "record SEQ) beside the display as it was right after each, and the display\n"
                       "as data. With --session (and --display) it is made from those recordings."),
        QString(), QString(), false,
        {since.option(QStringLiteral("since"), QStringLiteral("SEQ"), QStringLiteral("Only the records after record SEQ.")),
         Field::text(QStringLiteral("title"))
             .option(QStringLiteral("title"), QStringLiteral("TEXT"), QStringLiteral("The report's title."))},
        {{}}};

    ZelvoControlCommand mark{
        QStringLiteral("mark"),
        QStringLiteral("Put a mark with TEXT in the message record, such as the start or the end of\n"
                       "a test; reports and the web page show it."),
        QString(), QString(), false,
        {Field::text(QStringLiteral("text")).positional(QStringLiteral("TEXT")).required()},
        {{}}};

    return {buttons, sensors, trace, screenshot, record, state, screen, wait, log, fullscreen, link, battery, reset, web, clock, head, report, mark};
}

QString mustBe(const ZelvoControlField& field)
{
    return QStringLiteral("\"%1\" must be %2").arg(field.key, field.expected());
}

} // namespace

const QList<ZelvoControlCommand>& ZelvoControlCommand::all()
{
    static const QList<ZelvoControlCommand> commands = declarations();
    return commands;
}

const ZelvoControlCommand* ZelvoControlCommand::find(const QString& name)
{
    const QList<ZelvoControlCommand>& commands = all();
    const auto found = std::find_if(commands.cbegin(), commands.cend(),
                                    [&name](const ZelvoControlCommand& command) { return command.name == name; });
    return found == commands.cend() ? nullptr : &*found;
}

const ZelvoControlCommand::Action* ZelvoControlCommand::action(const QString& actionName) const
{
    const auto found = std::find_if(actions.cbegin(), actions.cend(),
                                    [&actionName](const Action& action) { return action.name == actionName; });
    return found == actions.cend() ? nullptr : &*found;
}

QList<ZelvoControlField> ZelvoControlCommand::fieldsOf(const Action& action) const
{
    return fields + action.fields;
}

QString ZelvoControlCommand::operationName(const Action& action) const
{
    return action.name.isEmpty() ? name : name + QLatin1Char(' ') + action.name;
}

QString ZelvoControlCommand::check(const QJsonObject& request, const ZelvoControlCommand** command,
                                   const Action** action)
{
    const QString name = request.value(QStringLiteral("cmd")).toString();
    if (name.isEmpty())
        return QStringLiteral("\"cmd\" must name a command");
    const ZelvoControlCommand* found = find(name);
    if (!found)
        return QStringLiteral("unknown command \"%1\"").arg(name);

    const Action* chosen = &found->actions.constFirst();
    if (!found->actionKey.isEmpty()) {
        QStringList names;
        for (const Action& each : found->actions)
            names.append(each.name);
        const ZelvoControlField actionField = ZelvoControlField::choice(found->actionKey, names);
        const QJsonValue given = request.value(found->actionKey);
        if (given.isUndefined() && found->defaultAction.isEmpty())
            return QStringLiteral("\"%1\" is missing; it must be %2").arg(found->actionKey, actionField.expected());
        chosen = found->action(given.isUndefined() ? found->defaultAction : given.toString());
        if (!given.isUndefined() && (!given.isString() || !chosen))
            return mustBe(actionField);
    }

    const QList<ZelvoControlField> fields = found->fieldsOf(*chosen);
    for (auto it = request.begin(); it != request.end(); ++it) {
        const QString key = it.key();
        const bool known = key == QLatin1String("cmd") || key == QLatin1String("id") || key == found->actionKey
                           || std::any_of(fields.cbegin(), fields.cend(),
                                          [&key](const ZelvoControlField& field) { return field.key == key; });
        if (!known)
            return QStringLiteral("\"%1\" is not a field of %2").arg(key, found->operationName(*chosen));
    }
    for (const ZelvoControlField& field : fields) {
        const QJsonValue value = request.value(field.key);
        if (value.isUndefined() && field.isRequired)
            return QStringLiteral("\"%1\" is missing; it must be %2").arg(field.key, field.expected());
        if (!value.isUndefined() && !field.accepts(value))
            return mustBe(field);
    }
    *command = found;
    *action = chosen;
    return QString();
}

QJsonObject ZelvoControlCommand::usageError()
{
    return {{QStringLiteral("usage"), true}};
}

bool ZelvoControlCommand::isUsageError(const QJsonObject& answer)
{
    return answer.value(QStringLiteral("usage")).toBool();
}
