#pragma once

#include "ZelvoAction.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>

// What an agent asked for in one frame, decoded into typed values by pure
// functions: safe on any thread, the same bytes always giving the same
// message.
struct ZelvoTiming
{
    int minMillis = 0;
    int maxMillis = 0;
    // A time outside the int range was taken as its nearest bound.
    bool clamped = false;
};

struct ZelvoAgentConfig
{
    QString agentHash;
    // Base64 pictures, by index.
    QList<QString> images;
};

struct ZelvoContent
{
    QString agentHash;
    int contentId = 0;
    bool contentIdClamped = false;
    QString layoutId;
    QList<QString> imageIds;
    QList<QString> texts;
    // Each text's characters, counted where the frame is decoded: off the
    // window's thread for a large one, where a text may be megabytes.
    QList<qsizetype> textCharacters;

    // Characters, not UTF-16 units: a surrogate pair is one.
    static qsizetype characterCount(QStringView text);
};

struct ZelvoMessage
{
    enum class Kind { Timing, AgentConfig, Content, Invalid };
    // Why a frame is no message the emulator acts on.
    enum class Fault { None, NotJson, NotObject, NoCommandType, UnknownCommandType };

    static ZelvoMessage decode(const QByteArray& payload);
    // The message of an action already parsed: for callers that have no frame.
    static ZelvoMessage fromAction(const ZelvoAction& action);

    Kind kind = Kind::Invalid;
    Fault fault = Fault::NotJson;
    QByteArray payload;
    ZelvoAction action;
    ZelvoAction::Lint lint;
    ZelvoTiming timing;
    ZelvoAgentConfig agentConfig;
    ZelvoContent content;
};
