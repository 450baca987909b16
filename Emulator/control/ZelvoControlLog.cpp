#include "control/ZelvoControlLog.h"

#include "record/ZelvoRecorder.h"
#include "ZelvoControlCommand.h"
#include "ZelvoLog.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QTcpSocket>

QString ZelvoControlLog::read(const QJsonObject& json, Request* request)
{
    const ZelvoControlCommand* command = nullptr;
    const ZelvoControlCommand::Action* action = nullptr;
    QString error = ZelvoControlCommand::check(json, &command, &action);
    if (!error.isEmpty())
        return error;
    request->since = quint64(json.value(QStringLiteral("since")).toDouble());
    request->follow = json.value(QStringLiteral("follow")).toBool();
    request->agent = json.value(QStringLiteral("agent")).toString();
    return QString();
}

QJsonObject ZelvoControlLog::answer(const ZelvoRecorder& recorder, const Request& request)
{
    QJsonArray records;
    const QSet<int> connections = recorder.connectionsOf(request.agent);
    for (const ZelvoRecord& record : recorder.since(request.since)) {
        if (request.agent.isEmpty() || record.isOf(request.agent, connections))
            records.append(record.toJson());
    }
    return {{QStringLiteral("records"), records}, {QStringLiteral("last"), double(recorder.lastSequence())}};
}

ZelvoControlLog::ZelvoControlLog(ZelvoRecorder* recorder, QTcpSocket* socket, const QString& agent, QObject* parent)
    : QObject(parent)
    , socket(socket)
    , agent(agent)
    , agentConnections(recorder->connectionsOf(agent))
{
    connect(recorder, &ZelvoRecorder::appended, this, &ZelvoControlLog::write);
}

ZelvoControlLog::~ZelvoControlLog() = default;

void ZelvoControlLog::write(const ZelvoRecord& record)
{
    if (record.source.connection > 0 && !agent.isEmpty() && record.agent == agent)
        agentConnections.insert(*record.source.connection);
    if ((!agent.isEmpty() && !record.isOf(agent, agentConnections)) || socket->state() != QAbstractSocket::ConnectedState)
        return;
    if (socket->bytesToWrite() > maxUnsentBytes) {
        qCWarning(zelvoControlLog, "\033[31mZelvoControlLog::write a log follower reads nothing, closing it\033[0m");
        // The closed socket takes no more lines (see above); its session
        // goes with it and takes this along.
        socket->abort();
        return;
    }
    socket->write(QJsonDocument(record.toJson()).toJson(QJsonDocument::Compact) + '\n');
}
