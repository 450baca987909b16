#pragma once

#include <QtGlobal>

struct AgentRequest;

// What became of the content a run sends, asked of the emulator's control
// channel when the emulator runs on this machine. Without a reachable
// control channel nothing is asked and nothing is said.
class AgentOutcome final
{
public:
    explicit AgentOutcome(const AgentRequest& request);

    // Before sending: notes the emulator's newest record, so that the
    // answer concerns this run's content only.
    void prepare();
    // After sending: prints the outcome and returns the exit code, 1 when
    // the content was not drawn.
    int report() const;

private:
    // Waits until the configuration's pictures are stored or refused.
    int reportConfiguration() const;

    const AgentRequest& request;
    bool reachable = false;
    quint64 lastSequence = 0;
};
