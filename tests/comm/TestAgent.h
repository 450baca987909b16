#pragma once

#include "ZelvoFrame.h"

#include <QByteArray>
#include <QHostAddress>
#include <QTcpSocket>

#include <sys/socket.h>

// The agent's end of a real loopback connection.
struct TestAgent
{
    explicit TestAgent(quint16 port) { socket.connectToHost(QHostAddress::LocalHost, port); }

    bool isConnected() const { return socket.state() == QAbstractSocket::ConnectedState; }

    void send(const QByteArray& bytes)
    {
        socket.write(bytes);
        socket.flush();
    }

    void sendFrame(const QByteArray& payload) { send(ZelvoFrame::encode(payload)); }

    void close() { socket.disconnectFromHost(); }

    // Ends the connection with a TCP reset instead of the orderly close.
    void reset()
    {
        const linger hard{1, 0};
        ::setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        socket.abort();
    }

    QTcpSocket socket;
};
