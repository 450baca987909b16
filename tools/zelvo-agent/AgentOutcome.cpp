#include "AgentOutcome.h"

#include "AgentRequest.h"
#include "CtlConnection.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QJsonArray>
#include <QThread>
#include <QJsonObject>

#include <cstdio>

namespace {

// Briefly: the content is handled as soon as its frame arrives.
constexpr int outcomeWaitMillis = 2000;
// Pictures are decoded and written off the emulator's loop; large ones take a while.
constexpr int configurationWaitMillis = 30000;
constexpr int pollMillis = 20;
constexpr int answerMillis = outcomeWaitMillis + 3000;

bool isLocal(const QString& host)
{
    return host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
}

} // namespace

AgentOutcome::AgentOutcome(const AgentRequest& request)
    : request(request)
{
}

void AgentOutcome::prepare()
{
    if (request.outcomeAgent.isEmpty() || !isLocal(request.host))
        return;
    CtlConnection connection(request.host, request.controlPort, request.tokenFile, answerMillis);
    // Records after the newest possible one: none, only the newest number.
    reachable = connection.call({{QStringLiteral("cmd"), QStringLiteral("log")},
                                 {QStringLiteral("since"), 9007199254740992.0}})
        == CtlConnection::Result::Done;
    lastSequence = quint64(connection.results().value(QStringLiteral("last")).toDouble());
}

int AgentOutcome::report() const
{
    if (!reachable)
        return 0;
    if (request.outcomeIsConfiguration)
        return reportConfiguration();
    CtlConnection connection(request.host, request.controlPort, request.tokenFile, answerMillis);
    const CtlConnection::Result result = connection.call({{QStringLiteral("cmd"), QStringLiteral("wait")},
                                                          {QStringLiteral("contentOf"), request.outcomeAgent},
                                                          {QStringLiteral("contentId"), request.outcomeContentId},
                                                          {QStringLiteral("since"), double(lastSequence)},
                                                          {QStringLiteral("timeout"), outcomeWaitMillis}});
    const QString sentence = connection.results().value(QStringLiteral("sentence")).toString();
    if (result == CtlConnection::Result::Done) {
        std::printf("%s\n", qUtf8Printable(sentence));
        return 0;
    }
    // No record of the content: it never arrived. While the link refuses new
    // agents, the emulator closed this run's connection unread.
    if (sentence.isEmpty()) {
        CtlConnection link(request.host, request.controlPort, request.tokenFile, answerMillis);
        if (link.call({{QStringLiteral("cmd"), QStringLiteral("link")}}) != CtlConnection::Result::Done
            || !link.results().value(QStringLiteral("refused")).toBool())
            return 0;
        std::fprintf(stderr, "zelvo-agent: nothing was delivered: the emulator refuses new agents "
                             "('zelvo-ctl link refuse off' ends that)\n");
        return 1;
    }
    std::fprintf(stderr, "zelvo-agent: %s\n", qUtf8Printable(sentence));
    return 1;
}

int AgentOutcome::reportConfiguration() const
{
    // A script's next run may name the pictures at once: it must find them stored.
    const QDeadlineTimer deadline(configurationWaitMillis);
    do {
        CtlConnection connection(request.host, request.controlPort, request.tokenFile, answerMillis);
        if (connection.call({{QStringLiteral("cmd"), QStringLiteral("log")},
                             {QStringLiteral("since"), double(lastSequence)},
                             {QStringLiteral("agent"), request.outcomeAgent}})
            != CtlConnection::Result::Done)
            return 0;
        for (const QJsonValue record : connection.results().value(QStringLiteral("records")).toArray()) {
            const QJsonObject fields = record.toObject();
            if (fields.value(QStringLiteral("kind")).toString() != QLatin1String("agent_config"))
                continue;
            const QString sentence = fields.value(QStringLiteral("sentence")).toString();
            if (fields.value(QStringLiteral("outcome")).toString() == QLatin1String("configured")) {
                std::printf("%s\n", qUtf8Printable(sentence));
                return 0;
            }
            std::fprintf(stderr, "zelvo-agent: %s\n", qUtf8Printable(sentence));
            return 1;
        }
        QThread::msleep(pollMillis);
    } while (!deadline.hasExpired());
    return 0;
}
