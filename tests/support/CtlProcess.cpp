#include "CtlProcess.h"

#include "ChildProcess.h"

#include <QJsonDocument>

QString CtlProcess::program()
{
    return QStringLiteral(ZELVO_CTL_PATH);
}

CtlResult CtlProcess::run(const QStringList& arguments, int timeoutMillis)
{
    ChildProcess process;
    process.start(program(), arguments);
    CtlResult result;
    result.exitCode = process.waitForExit(timeoutMillis);
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QJsonObject CtlProcess::state(const QString& portsFile)
{
    const CtlResult answer = run({QStringLiteral("state"), QStringLiteral("--ports-file"), portsFile});
    return answer.exitCode == 0 ? QJsonDocument::fromJson(answer.out).object() : QJsonObject();
}
