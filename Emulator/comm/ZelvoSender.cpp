#include "comm/ZelvoSender.h"

#include "comm/ZelvoConnection.h"
#include "ZelvoLog.h"
#include "comm/ZelvoSocket.h"

#include <QDebug>

ZelvoSender::ZelvoSender(ZelvoConnection* connection)
    : connection(connection)
{
}

ZelvoSender::~ZelvoSender()
{
    qCDebug(zelvoLog) << "Invoked Destructor of ZelvoSender";
}

bool ZelvoSender::sendData(const QByteArray& data)
{
    return connection->socket()->sendData(data);
}

bool ZelvoSender::sendCommand(const ZelvoAction& action)
{
    return connection->socket()->sendCommand(action);
}
