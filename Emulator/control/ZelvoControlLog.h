#pragma once

#include <QObject>
#include <QSet>
#include <QString>

class QJsonObject;
class QTcpSocket;
class ZelvoRecord;
class ZelvoRecorder;

// The control channel's "log" command: {"cmd": "log", "since": SEQ,
// "follow": BOOL, "agent": HASH} answers with the kept records after SEQ
// ("records", oldest first, and "last", the newest sequence number). With
// "follow" an instance then writes every new record as one JSON line to
// the connection until it closes; no further requests are read on it.
// With "agent", records that name no agent but came by a connection the
// agent used are its too (a frame that is not JSON).
class ZelvoControlLog final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ZelvoControlLog)

public:
    // A follower that reads nothing is cut off once this much waits unsent.
    static constexpr qint64 maxUnsentBytes = 4 * 1024 * 1024;

    struct Request
    {
        quint64 since = 0;
        bool follow = false;
        QString agent;
    };

    // The request's members checked; a non-empty text says what is wrong.
    static QString read(const QJsonObject& json, Request* request);
    static QJsonObject answer(const ZelvoRecorder& recorder, const Request& request);

    // Streams to socket, which outlives it (it is a child of the socket's owner).
    ZelvoControlLog(ZelvoRecorder* recorder, QTcpSocket* socket, const QString& agent, QObject* parent);
    ~ZelvoControlLog() override;

private:
    void write(const ZelvoRecord& record);

    QTcpSocket* socket = nullptr;
    QString agent;
    // The connections the agent used, growing as records show more.
    QSet<int> agentConnections;
};
