#pragma once

#include <QByteArray>
#include <QObject>

class ZelvoAction;
class ZelvoConnection;

// The outbound side of a connection: every event for an agent leaves here.
class ZelvoSender final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoSender)

public:
    explicit ZelvoSender(ZelvoConnection* connection);
    ~ZelvoSender() override;

    bool sendData(const QByteArray& data);
    bool sendCommand(const ZelvoAction& action);

private:
    ZelvoConnection* connection = nullptr;
};
