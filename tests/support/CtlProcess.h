#pragma once

#include "AgentProcess.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

using CtlResult = AgentResult;

// The real zelvo-ctl program, run as a script runs it.
class CtlProcess final
{
public:
    static QString program();
    // Its exit code and output once it ends; exitCode -1 when it does not
    // end normally in time (it is killed then).
    static CtlResult run(const QStringList& arguments, int timeoutMillis = 30000);
    // `zelvo-ctl state` of the emulator that wrote portsFile; empty when it
    // does not answer.
    static QJsonObject state(const QString& portsFile);
};
