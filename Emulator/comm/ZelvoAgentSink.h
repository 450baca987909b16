#pragma once

#include "record/ZelvoRecord.h"
#include "util/ZelvoImageWriter.h"

#include <QList>
#include <QString>

#include <utility>

// What the agent link needs of the window besides its signals: where an
// agent's pictures go, made when its configuration is read, before the
// message takes effect.
class ZelvoAgentSink
{
public:
    virtual ~ZelvoAgentSink() = default;

    // The agent's picture directory, made now; empty when the hash names
    // none of its own, with *writeError set when it cannot be made.
    virtual QString pictureDirectory(const QString& agentHash, QString* writeError) = 0;

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
