#pragma once

#include "record/ZelvoRecord.h"
#include "util/ZelvoImageWriter.h"

#include <QList>
#include <QString>

#include <utility>

struct ZelvoContent;
struct ZelvoTiming;

// What the agent link needs of the window: where an agent's pictures go,
// and the three messages that change what the glasses show. Each message
// takes effect on the window's thread, in the order its agent sent it,
// its pictures already stored; source is the message's, for its records.
class ZelvoAgentSink
{
public:
    virtual ~ZelvoAgentSink() = default;

    // The agent's picture directory, made now; empty when the hash names
    // none of its own, with *writeError set when it cannot be made.
    virtual QString pictureDirectory(const QString& agentHash, QString* writeError) = 0;
    virtual void applyTiming(const ZelvoTiming& timing, const ZelvoRecord::Source& source) = 0;
    virtual void applyConfiguration(const ZelvoImageWriter::Configuration& configuration,
                                    const ZelvoRecord::Source& source) = 0;
    virtual void applyContent(const ZelvoContent& content, const ZelvoRecord::Source& source) = 0;

    // A job storing the agent's pictures in its directory of sink; without
    // a sink they are refused, as they have nowhere to go.
    static ZelvoImageWriter::Job pictureJob(ZelvoAgentSink* sink, const ZelvoImageWriter& writer,
                                            const QString& agentHash, const QList<QString>& images)
    {
        ZelvoImageWriter::Configuration configuration;
        configuration.agentHash = agentHash;
        if (sink)
            configuration.directory = sink->pictureDirectory(agentHash, &configuration.writeError);
        return writer.job(std::move(configuration), images);
    }
};
