#pragma once

#include "comm/ZelvoServer.h"
#include "services/ZelvoServices.h"
#include "ui/ZelvoEmulator.h"

#include <QTcpSocket>

#include <chrono>
#include <memory>

class QByteArray;
class QJsonObject;

// The emulator's server and window in this process, with one agent on a
// real loopback connection. A frame sent returns once the window's slot
// has handled it (a configuration: once its pictures are stored), with the
// moment that happened.
class LoopbackRig final
{
    Q_DISABLE_COPY_MOVE(LoopbackRig)

public:
    using Clock = std::chrono::steady_clock;

    LoopbackRig();
    ~LoopbackRig();

    Clock::time_point send(const QByteArray& frame);
    Clock::time_point send(const QJsonObject& action);

    ZelvoEmulator& window() { return *emulator; }
    ZelvoDisplayRecorder* displayRecorder() const { return services.displayRecorder.get(); }

private:
    ZelvoServices services;
    ZelvoServer server{services.clock.get(), services.recorder.get(), services.pictureWriter.get()};
    std::unique_ptr<ZelvoEmulator> emulator;
    QTcpSocket agent;
    bool pending = false;
    Clock::time_point relayedAt;
};
