#pragma once

#include "ZelvoPorts.h"

#include <QByteArray>
#include <QList>
#include <QString>

// What one run of zelvo-agent does: the messages to send, in order, and
// whether to stay connected for the emulator's events afterwards.
struct AgentRequest
{
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = ZelvoPorts::agent;
    // The same emulator's control channel, asked what became of content.
    quint16 controlPort = ZelvoPorts::control;
    QString tokenFile;
    QList<QByteArray> messages;
    bool listen = false;
    // Events to wait for; 0 waits until the timeout or the emulator's close.
    int count = 0;
    // Listening time in milliseconds; 0 listens without a limit.
    int timeoutMillis = 0;
    // Events written byte for byte as they arrived instead of compact lines.
    bool raw = false;
    // Content sent: whose and which, to ask the emulator what became of it.
    QString outcomeAgent;
    int outcomeContentId = 0;
    // A configuration sent instead: its pictures are stored after the
    // connection has ended, so a run waits for its outcome before it exits.
    bool outcomeIsConfiguration = false;
};
