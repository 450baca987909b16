#include "AgentProcess.h"

#include <QSignalSpy>

#include <csignal>

AgentProcess::AgentProcess(quint16 port)
    : process(SIGKILL)
    , port(port)
{
    process.setProgram(QStringLiteral(ZELVO_AGENT_PATH));
}

AgentProcess::~AgentProcess()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
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
    if (process.state() != QProcess::NotRunning) {
        qRegisterMetaType<QProcess::ExitStatus>();
        QSignalSpy finished(&process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
        finished.wait(timeoutMillis);
    }
    AgentResult result;
    if (process.state() == QProcess::NotRunning && process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
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
