#pragma once

#include <QString>

// The control channel's commands as a Markdown page, made from their
// declarations (ZelvoControlCommand): each command's help, its actions and
// the members each request takes, with their bounds and zelvo-ctl's
// spelling of them.
class ControlReference final
{
public:
    static QString markdown();
};
