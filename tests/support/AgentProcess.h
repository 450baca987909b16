#pragma once

#include "ChildProcess.h"

#include <QByteArray>
#include <QStringList>

struct AgentResult
{
    // -1 when the program did not end normally in time.
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// The real zelvo-agent program, run as a developer runs it. A program
// still running is killed with the object.
class AgentProcess final
{
public:
    explicit AgentProcess(quint16 port);

    // The port goes right after the command, so that a --port among the
    // arguments still wins.
    void start(const QStringList& arguments);
    AgentResult finish(int timeoutMillis = 60000);
    qint64 pid() const { return process.processId(); }

    static AgentResult run(const QStringList& arguments, quint16 port);

private:
    ChildProcess process;
    quint16 port;
};
