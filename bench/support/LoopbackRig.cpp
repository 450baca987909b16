#include "LoopbackRig.h"

#include "BenchSupport.h"
#include "ZelvoFrame.h"
#include "record/ZelvoRecorder.h"

#include <QByteArray>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>

LoopbackRig::LoopbackRig()
{
    server.start(QHostAddress::LocalHost, 0);
    emulator = std::make_unique<ZelvoEmulator>(&server, services, nullptr);
    // Connected after the window: runs once its slot has drawn and shown.
    const auto relayed = [this] {
        relayedAt = Clock::now();
        pending = false;
    };
    QObject::connect(&server, &ZelvoServer::zelvoConfigReceived, &agent, relayed);
    QObject::connect(&server, &ZelvoServer::agentContentReceived, &agent, relayed);
    // Pictures are stored off the window's thread: done once recorded.
    QObject::connect(services.recorder.get(), &ZelvoRecorder::appended, &agent, [relayed](const ZelvoRecord& record) {
        if (record.kind == ZelvoRecord::Kind::AgentConfig)
            relayed();
    });
    agent.connectToHost(QHostAddress::LocalHost, server.serverPort());
    waitFor([this] { return server.connections().size() == 1; });
}

LoopbackRig::~LoopbackRig() = default;

LoopbackRig::Clock::time_point LoopbackRig::send(const QByteArray& frame)
{
    pending = true;
    agent.write(frame);
    agent.flush();
    waitFor([this] { return !pending; });
    return relayedAt;
}

LoopbackRig::Clock::time_point LoopbackRig::send(const QJsonObject& action)
{
    return send(ZelvoFrame::encode(QJsonDocument(action).toJson(QJsonDocument::Compact)));
}
