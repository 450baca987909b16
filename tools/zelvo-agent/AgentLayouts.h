#pragma once

#include <QString>

// The five layouts as an agent developer needs them: what each holds and
// how large each rectangle is, and whether a content message fits one.
class AgentLayouts final
{
public:
    AgentLayouts() = delete;

    // One block per layout: its images and texts in order, each with its
    // size and place in display pixels.
    static QString table();

    // Empty when a message with that many image ids and texts fits the
    // layout; else one line that says why not, e.g. "layout 2 takes 1
    // image and 1 text; given 1 image and 0 texts".
    static QString check(const QString& layoutId, int images, int texts);
};
