#pragma once

#include "ZelvoAction.h"

#include <QByteArray>
#include <QJsonObject>
#include <QMetaType>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <optional>

// What became of one agent message, or one thing the emulator did on the
// agent link: made where the decision is made, from numbers and enums only.
// The human sentence and the JSON form are built when someone reads them,
// so that recording costs an agent next to nothing when nobody looks.
// Its kinds (each with its sentence), outcomes and reasons are named in one
// table each (see ZelvoRecord.cpp), its members in ZelvoRecordMember; the
// names are the record's stable JSON form.
class ZelvoRecord
{
    Q_GADGET

public:
    // Control: what a script, a test or a person at the control channel did.
    enum class Direction { In, Out, Link, Control };
    Q_ENUM(Direction)

    enum class Kind {
        ConnectionOpened,
        ConnectionClosed,
        FrameReceived,
        ZelvoConfig,
        AgentConfig,
        AgentContent,
        ContentRemoved,
        EventSent,
        // The link faults a person or a script causes, and what they did.
        ConnectionRefused,
        LinkDropped,
        LinkRefusal,
        LinkDelay,
        // A recording that could not write stopped by itself.
        RecordingStopped,
        // A control command applied or refused, and a mark a test set.
        Command,
        Mark,
        // Display changes the report's history let go to stay in its bound.
        FramesDropped,
    };
    Q_ENUM(Kind)

    // The small fixed set of outcomes; a reader colours by it.
    enum class Outcome {
        Info,       // opened, closed, a frame received: nothing decided yet
        NoAction,   // the frame is no action
        Configured, // an agent's images were stored
        TimingSet,
        Drawn,
        Skipped,    // the minimum persisting time of the previous content runs
        NotDrawn,   // accepted, but nothing could be drawn
        Removed,    // content removed at its maximum time
        Refused,    // a path outside the agent's folder, a picture over a limit
        Sent,       // an event went out
        Dropped,    // an event did not go out to an agent
    };
    Q_ENUM(Outcome)

    // Why, where the outcome needs one.
    enum class Reason {
        None,
        NotJson,
        NotObject,
        NoCommandType,
        UnknownCommandType,
        FrameTooLarge,
        MinTimeRunning,
        NoLayoutId,
        NoAgentHash,
        NoSuchLayout,
        CountsDoNotFit,
        ImageNotStored,
        ImageUnreadable,
        AgentPathOutside,
        ImagePathOutside,
        NotAPicture,
        PictureTooLarge,
        WriteFailed,
        // Why the emulator closed an agent, or dropped an event for it.
        FrameNotHeld,
        FrameStalled,
        EventsUnread,
        DelayedEventsFull,
    };
    Q_ENUM(Reason)

    // One image of a configuration that was not stored; a picture too
    // large has its size, what it would decode to and the bound.
    struct ImageRefusal
    {
        int index = 0;
        Reason reason = Reason::None;
        int width = 0;
        int height = 0;
        qint64 decodedBytes = 0;
        qint64 limit = 0;
    };

    // An image that content named and the display shows without.
    struct ImageLeftOut
    {
        QString imageId;
        Reason reason = Reason::None;
    };

    // Drawn content: a text cut at its rectangle's foot or running past its
    // right edge (index from 0), and a picture over texts.
    struct TextFit
    {
        int index = 0;
        int lines = 0;
        bool cut = false;
        int hiddenChars = 0;
        int overflow = 0;
    };
    struct ImageOverText
    {
        QString imageId;
        QVector<int> texts;
    };
    // The agent connection a message came by and what of the message was
    // not taken as written; every record the message leads to carries it.
    // A record of an agent without a connection (one refused, one an event
    // did not reach) has its address only.
    struct Source
    {
        // Numbered from 1 as accepted.
        std::optional<int> connection;
        // The agent's address and port.
        std::optional<QString> peer;
        // A message of a known command type: its members not read and its
        // values converted.
        ZelvoAction::Lint lint;
    };

    ZelvoRecord() = default;
    ZelvoRecord(Direction direction, Kind kind, Outcome outcome, Reason reason = Reason::None);

    // Set by the recorder.
    quint64 sequence = 0;
    qint64 timeMillis = 0; // since the epoch, UTC

    Direction direction = Direction::Link;
    Kind kind = Kind::FrameReceived;
    Outcome outcome = Outcome::Info;
    Reason reason = Reason::None;

    QString agent;
    int contentId = -1;
    Source source;

    // Names agent, or names none and came by one of the connections agent
    // used: a frame that is not JSON belongs to whoever sent it.
    bool isOf(const QString& agent, const QSet<int>& agentConnections) const;

    // The facts the sentence is made from, each held or not: a fact left
    // unset is absent from the JSON, whatever its value would be. Which
    // kinds carry which, and their JSON names, are declared once in
    // ZelvoRecordMember; a fact set on a kind that does not carry it is a
    // fault (strayMembers()). Texts and lists are absent when empty.
    // A received frame's "command.type".
    QString commandType;
    // Content: the layout the message named, and the image that is missing
    // or refused.
    std::optional<QString> layoutId;
    QString imageId;
    // Content: the characters of its texts that no installed font can show.
    std::optional<int> missingGlyphs;
    // Frame bytes.
    std::optional<qint64> size;
    // The limit a skipped frame went over.
    std::optional<qint64> limit;
    // Agents connected after opening or closing, reached by an event or
    // dropped with the link.
    std::optional<int> agents;
    // Images stored by a configuration.
    std::optional<int> stored;
    // Images and texts a layout takes, and those a message gave.
    std::optional<int> layoutImages;
    std::optional<int> layoutTexts;
    std::optional<int> givenImages;
    std::optional<int> givenTexts;
    // Skipped: the content whose minimum time runs, and for how long still.
    std::optional<int> blockingContentId;
    std::optional<qint64> remainingMillis;
    // Timing: the persisting times; removal: the maximum time that ran out.
    std::optional<int> minMillis;
    std::optional<int> maxMillis;
    // Link faults: refusing new agents or not, the delay of outgoing messages.
    std::optional<bool> refusing;
    std::optional<int> delayMillis;
    // A received frame: a number in it was beyond the int range and
    // taken as the nearest bound.
    bool clamped = false;
    // Events.
    std::optional<int> eventType;
    // A compass or accelerometer reading that the head pose gave.
    bool fromPose = false;
    std::optional<std::array<float, 4>> eventValues;
    // A configuration: every image refused, none when all were stored.
    std::optional<QVector<ImageRefusal>> refusals;
    // A configuration: the system's reason a file or folder could not be
    // written ("No space left on device"), the first if several; a
    // recording that stopped: why, in words.
    std::optional<QString> writeError;
    // A control command as given ("button click plus") or a mark's text.
    std::optional<QString> text;
    // A control command refused: why, in words.
    QString error;
    // Display changes let go.
    std::optional<int> dropped;
    QVector<ImageLeftOut> imagesLeftOut;
    QVector<TextFit> textsNotFitting;
    QVector<ImageOverText> imagesOverText;
    // The frame of a received message, shared with the one the agent sent
    // (no copy); may be let go by the recorder to keep within its budget,
    // and a large one cut to its start (shorter than size then). Not part
    // of the JSON form.
    QByteArray payload;

    // Drawn content with a text cut or overflowing, or a picture over text.
    bool hasFitProblems() const { return !textsNotFitting.isEmpty() || !imagesOverText.isEmpty(); }

    // The human sentence, e.g. "content 3 skipped: the minimum persisting
    // time of content 2 runs for 1200 ms more".
    QString sentence() const;

    // The members the record's kind carries (ZelvoRecordMember), under
    // their stable names.
    QJsonObject toJson() const;
    // The JSON names of the facts the record holds that its kind does not
    // carry; empty for every record the emulator makes.
    QStringList strayMembers() const;

    static QString directionName(Direction direction);
    static QString kindName(Kind kind);
    static QString outcomeName(Outcome outcome);
    static QString reasonName(Reason reason);
    // "image 9 is not a PNG or ZI picture" style explanation of one reason.
    static QString reasonText(Reason reason);
    // "image 3 (40000 x 40000, 6.0 GiB decoded) refused: over the 256 MiB a
    // picture may decode to".
    static QString refusalText(const ImageRefusal& refusal);
    // "6.0 GiB", "256 MiB", "12 KiB", "300 bytes".
    static QString byteSizeText(qint64 bytes);

};
