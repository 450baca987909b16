#include "AgentCommandLine.h"
#include "AgentOutcome.h"
#include "AgentReplay.h"
#include "AgentSession.h"
#include "ExitCode.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTimer>

#include <cstdio>

namespace {

void printError(const QString& message)
{
    std::fprintf(stderr, "zelvo-agent: %s\n", qUtf8Printable(message));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zelvo-agent"));

    // The framing and image code log every step for the emulator's
    // developers, and the image readers complain about broken files; a
    // command-line user wants one line per error, which this program
    // writes itself. Decided before parsing, which already reads pictures.
    if (!QCoreApplication::arguments().contains(QLatin1String("--verbose")))
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false\n*.warning=false"));

    if (QCoreApplication::arguments().value(1) == QLatin1String("replay")) {
        AgentReplay::Options options;
        const QString usage = AgentReplay::parse(QCoreApplication::arguments(), &options);
        if (!usage.isEmpty()) {
            printError(usage);
            return toInt(ExitCode::UsageError);
        }
        return AgentReplay(options).run();
    }

    AgentCommandLine commandLine;
    switch (commandLine.parse(QCoreApplication::arguments())) {
    case AgentCommandLine::Status::Help:
        std::fputs(qUtf8Printable(commandLine.text()), stdout);
        return toInt(ExitCode::Success);
    case AgentCommandLine::Status::UsageError:
        printError(commandLine.text());
        return toInt(ExitCode::UsageError);
    case AgentCommandLine::Status::FileError:
        printError(commandLine.text());
        return toInt(ExitCode::Failure);
    case AgentCommandLine::Status::Run:
        break;
    }

    AgentOutcome outcome(commandLine.request());
    outcome.prepare();
    AgentSession session(commandLine.request());
    QObject::connect(&session, &AgentSession::finished, &application, [&outcome](int exitCode, const QString& error) {
        if (!error.isEmpty())
            printError(error);
        QCoreApplication::exit(exitCode == 0 ? outcome.report() : exitCode);
    });
    QTimer::singleShot(0, &session, &AgentSession::start);
    return QCoreApplication::exec();
}
