#pragma once

#include <QtGlobal>

// The resident memory of a process in KiB, from /proc; -1 when unknown.
// Without a pid, that of this process.
qint64 residentKilobytes(qint64 pid = 0);
