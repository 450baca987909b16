#pragma once

#include "ControlClient.h"
#include "TestAgent.h"
#include "clock/ZelvoClock.h"
#include "control/ZelvoControlServer.h"
#include "ui/ZelvoEmulator.h"
#include "comm/ZelvoServer.h"
#include "services/ZelvoServices.h"

#include <QHostAddress>
#include <QList>

// The emulator as the program builds it, with the agent server and the
// control channel on free loopback ports.
struct ControlRig
{
    explicit ControlRig(ZelvoClock::Mode mode = ZelvoClock::Mode::Real)
        : services(mode)
    {
        started = server.start(QHostAddress::LocalHost, 0) && control.start(0);
    }

    ZelvoServices services;
    ZelvoClock& clock = *services.clock;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    ZelvoEmulator window{&server, services, nullptr};
    ZelvoControlServer control{&window, &server, services};
    bool started = false;
};

// True once the rig runs, its agent server serves every agent and the
// control channel has let every client in with the token.
inline bool isReady(const ControlRig& rig, const QList<ControlClient*>& clients, const QList<TestAgent*>& agents = {})
{
    if (!rig.started || (!agents.isEmpty() && !TestAgent::waitUntilServed(rig.server, agents)))
        return false;
    for (ControlClient* client : clients) {
        if (!client->authenticate())
            return false;
    }
    return true;
}
