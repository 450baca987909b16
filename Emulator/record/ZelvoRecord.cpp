#include "record/ZelvoRecord.h"

#include <QJsonArray>
#include <QStringList>

namespace {

// "1 image", "0 texts".
QString counted(int number, const QString& noun)
{
    return QStringLiteral("%1 %2%3").arg(number).arg(noun, number == 1 ? QString() : QStringLiteral("s"));
}

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
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

QString ZelvoRecord::sentence() const
{
    const QString content = QStringLiteral("content %1").arg(contentId);
    switch (kind) {
    case Kind::ConnectionOpened:
        return QStringLiteral("agent connected from %1, %2 connected").arg(detail, counted(count, QStringLiteral("agent")));
    case Kind::ConnectionClosed:
        return QStringLiteral("agent at %1 disconnected, %2 remain").arg(detail, counted(count, QStringLiteral("agent")));
    case Kind::FrameReceived:
        if (outcome == Outcome::NoAction) {
            if (reason == Reason::FrameTooLarge)
                return QStringLiteral("no action: a frame of %1 bytes is over the limit of %2 bytes and was skipped")
                    .arg(size)
                    .arg(limit);
            return QStringLiteral("no action: ") + reasonText(reason);
        }
        if (detail.isEmpty())
            return QStringLiteral("received a message of %1 bytes").arg(size);
        return contentId >= 0 && detail == QLatin1String("agent_content")
            ? QStringLiteral("received %1 of %2 bytes for %3").arg(detail).arg(size).arg(content)
            : QStringLiteral("received %1 of %2 bytes").arg(detail).arg(size);
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
        return text;
    }
    case Kind::AgentContent:
        switch (outcome) {
        case Outcome::Drawn: {
            if (imagesLeftOut.isEmpty())
                return QStringLiteral("%1 drawn with layout %2").arg(content, detail);
            QStringList without;
            for (const ImageLeftOut& image : imagesLeftOut)
                without.append(QStringLiteral("without image %1: %2").arg(quoted(image.imageId), leftOutText(image.reason)));
            return content + QStringLiteral(" drawn ") + without.join(QStringLiteral("; "));
        }
        case Outcome::Skipped:
            return QStringLiteral("%1 skipped because the minimum persisting time of content %2 runs for %3 ms more")
                .arg(content)
                .arg(blockingContentId)
                .arg(remainingMillis);
        case Outcome::Refused:
            if (reason == Reason::ImagePathOutside)
                return QStringLiteral("%1 refused because image id %2 would name a path outside the agent's folder")
                    .arg(content, quoted(detail));
            if (reason == Reason::AgentPathOutside)
                return QStringLiteral("%1 refused because the agent's name %2 would name a path outside its folder")
                    .arg(content, quoted(agent));
            return QStringLiteral("%1 refused because %2").arg(content, reasonText(reason));
        default:
            break;
        }
        switch (reason) {
        case Reason::NoSuchLayout:
            return QStringLiteral("%1 not drawn because layout %2 does not exist").arg(content, quoted(detail));
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
        const QString what = QStringLiteral("%1 event (%2)").arg(eventKindName(eventType), eventValuesText(eventType, eventValues));
        const QString target = agent.isEmpty() ? QString() : QStringLiteral(" for %1 of %2").arg(content, agent);
        return QStringLiteral("%1%2 sent to %3").arg(what, target, counted(count, QStringLiteral("agent")));
    }
    case Kind::ConnectionRefused:
        return QStringLiteral("agent at %1 refused because the link refuses new agents").arg(detail);
    case Kind::LinkDropped:
        return QStringLiteral("link dropped: %1 disconnected").arg(counted(count, QStringLiteral("agent")));
    case Kind::LinkRefusal:
        return refusing ? QStringLiteral("link refuses new agents") : QStringLiteral("link accepts new agents again");
    case Kind::LinkDelay:
        return delayMillis > 0 ? QStringLiteral("messages to agents leave %1 ms late").arg(delayMillis)
                               : QStringLiteral("messages to agents leave at once again");
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
        json.insert(QStringLiteral("peer"), detail);
        json.insert(QStringLiteral("agents"), count);
        break;
    case Kind::FrameReceived:
        json.insert(QStringLiteral("size"), double(size));
        if (!detail.isEmpty())
            json.insert(QStringLiteral("commandType"), detail);
        if (reason == Reason::FrameTooLarge)
            json.insert(QStringLiteral("limit"), double(limit));
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
        break;
    }
    case Kind::AgentContent:
        json.insert(QStringLiteral("layoutId"), outcome == Outcome::Drawn || reason == Reason::NoSuchLayout ? detail : QString());
        if (reason == Reason::ImagePathOutside)
            json.insert(QStringLiteral("imageId"), detail);
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
        break;
    }
    case Kind::ConnectionRefused:
        json.insert(QStringLiteral("peer"), detail);
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
    }
    return json;
}

QString ZelvoRecord::directionName(Direction direction)
{
    switch (direction) {
    case Direction::In:
        return QStringLiteral("in");
    case Direction::Out:
        return QStringLiteral("out");
    case Direction::Link:
        break;
    }
    return QStringLiteral("link");
}

QString ZelvoRecord::kindName(Kind kind)
{
    switch (kind) {
    case Kind::ConnectionOpened:
        return QStringLiteral("opened");
    case Kind::ConnectionClosed:
        return QStringLiteral("closed");
    case Kind::FrameReceived:
        return QStringLiteral("frame");
    case Kind::ZelvoConfig:
        return QStringLiteral("zelvo_config");
    case Kind::AgentConfig:
        return QStringLiteral("agent_config");
    case Kind::AgentContent:
        return QStringLiteral("agent_content");
    case Kind::ContentRemoved:
        return QStringLiteral("removed");
    case Kind::EventSent:
        return QStringLiteral("event");
    case Kind::ConnectionRefused:
        return QStringLiteral("refused");
    case Kind::LinkDropped:
        return QStringLiteral("link_dropped");
    case Kind::LinkRefusal:
        return QStringLiteral("link_refusal");
    case Kind::LinkDelay:
        break;
    }
    return QStringLiteral("link_delay");
}

QString ZelvoRecord::outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Info:
        return QStringLiteral("info");
    case Outcome::NoAction:
        return QStringLiteral("no_action");
    case Outcome::Configured:
        return QStringLiteral("configured");
    case Outcome::TimingSet:
        return QStringLiteral("timing_set");
    case Outcome::Drawn:
        return QStringLiteral("drawn");
    case Outcome::Skipped:
        return QStringLiteral("skipped");
    case Outcome::NotDrawn:
        return QStringLiteral("not_drawn");
    case Outcome::Removed:
        return QStringLiteral("removed");
    case Outcome::Refused:
        return QStringLiteral("refused");
    case Outcome::Sent:
        break;
    }
    return QStringLiteral("sent");
}

QString ZelvoRecord::reasonName(Reason reason)
{
    switch (reason) {
    case Reason::None: return QStringLiteral("none");
    case Reason::NotJson: return QStringLiteral("not_json");
    case Reason::NotObject: return QStringLiteral("not_object");
    case Reason::NoCommandType: return QStringLiteral("no_command_type");
    case Reason::UnknownCommandType: return QStringLiteral("unknown_command_type");
    case Reason::FrameTooLarge: return QStringLiteral("frame_too_large");
    case Reason::MinTimeRunning: return QStringLiteral("min_time_running");
    case Reason::NoLayoutId: return QStringLiteral("no_layout_id");
    case Reason::NoAgentHash: return QStringLiteral("no_agent_hash");
    case Reason::NoSuchLayout: return QStringLiteral("no_such_layout");
    case Reason::CountsDoNotFit: return QStringLiteral("counts_do_not_fit");
    case Reason::ImageNotStored: return QStringLiteral("image_not_stored");
    case Reason::ImageUnreadable: return QStringLiteral("image_unreadable");
    case Reason::AgentPathOutside: return QStringLiteral("agent_path_outside");
    case Reason::ImagePathOutside: return QStringLiteral("image_path_outside");
    case Reason::NotAPicture: return QStringLiteral("not_a_picture");
    case Reason::PictureTooLarge: return QStringLiteral("picture_too_large");
    case Reason::WriteFailed: break;
    }
    return QStringLiteral("write_failed");
}

QString ZelvoRecord::reasonText(Reason reason)
{
    switch (reason) {
    case Reason::None: return QString();
    case Reason::NotJson: return QStringLiteral("the frame is not JSON");
    case Reason::NotObject: return QStringLiteral("the frame is not a JSON object");
    case Reason::NoCommandType: return QStringLiteral("the message has no \"command.type\"");
    case Reason::UnknownCommandType: return QStringLiteral("the \"command.type\" is none of zelvo_config, agent_config, agent_content");
    case Reason::FrameTooLarge: return QStringLiteral("the frame is over the size limit");
    case Reason::MinTimeRunning: return QStringLiteral("the minimum persisting time of the previous content runs");
    case Reason::NoLayoutId: return QStringLiteral("the message has no \"layoutId\"");
    case Reason::NoAgentHash: return QStringLiteral("the message has no \"appId\"");
    case Reason::NoSuchLayout: return QStringLiteral("the layout does not exist");
    case Reason::CountsDoNotFit: return QStringLiteral("the image and text counts do not fit the layout");
    case Reason::ImageNotStored: return QStringLiteral("an image of this agent is not stored");
    case Reason::ImageUnreadable: return QStringLiteral("a stored image cannot be read");
    case Reason::AgentPathOutside: return QStringLiteral("the agent's name would name a path outside its folder");
    case Reason::ImagePathOutside: return QStringLiteral("an image id would name a path outside the agent's folder");
    case Reason::NotAPicture: return QStringLiteral("it is neither a ZI nor a PNG picture");
    case Reason::PictureTooLarge: return QStringLiteral("the picture decodes to more than a picture may");
    case Reason::WriteFailed: break;
    }
    return QStringLiteral("its file could not be written");
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
