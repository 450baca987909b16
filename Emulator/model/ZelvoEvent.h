#pragma once

// One thing that happened on the glasses, as reported to the agents: a kind
// (ZelvoVocabulary::EventKind) and four values whose meaning depends on the kind.
class ZelvoEvent
{
public:
    ZelvoEvent() = default;
    explicit ZelvoEvent(int type);

    int type = 0;
    float values[4] = {0.0f, 0.0f, 0.0f, 0.0f};
};
