#include "AgentProcess.h"

AgentProcess::AgentProcess(quint16 port)
    : port(port)
{
    process.setProgram(QStringLiteral(ZELVO_AGENT_PATH));
}

void AgentProcess::start(const QStringList& arguments)
{
    QStringList withPort = arguments;
    if (!withPort.isEmpty())
        withPort.insert(1, QStringLiteral("--port=%1").arg(port));
    process.setArguments(withPort);
    process.start();
}

AgentResult AgentProcess::finish(int timeoutMillis)
{
    AgentResult result;
    result.exitCode = process.waitForExit(timeoutMillis);
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

AgentResult AgentProcess::run(const QStringList& arguments, quint16 port)
{
    AgentProcess agent(port);
    agent.start(arguments);
    return agent.finish();
}
