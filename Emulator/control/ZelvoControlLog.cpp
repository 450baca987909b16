#include "control/ZelvoControlLog.h"

#include "record/ZelvoRecorder.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QTcpSocket>

#include <cmath>

namespace {

bool wanted(const ZelvoRecord& record, const QString& agent)
{
    return agent.isEmpty() || record.agent == agent;
}

} // namespace

QString ZelvoControlLog::read(const QJsonObject& json, Request* request)
{
    const QJsonValue since = json.value(QStringLiteral("since"));
    if (!since.isUndefined()) {
        const double number = since.toDouble(-1);
        // Exact in a double up to 2^53, far beyond any run's records.
        if (!since.isDouble() || number < 0 || number != std::floor(number) || number > 9007199254740992.0)
            return QStringLiteral("\"since\" must be a sequence number from 0");
        request->since = quint64(number);
    }
    const QJsonValue follow = json.value(QStringLiteral("follow"));
    if (!follow.isUndefined() && !follow.isBool())
        return QStringLiteral("\"follow\" must be true or false");
    request->follow = follow.toBool();
    const QJsonValue agent = json.value(QStringLiteral("agent"));
    if (!agent.isUndefined() && !agent.isString())
        return QStringLiteral("\"agent\" must be an agent hash");
    request->agent = agent.toString();
    return QString();
}

QJsonObject ZelvoControlLog::answer(const ZelvoRecorder& recorder, const Request& request)
{
    QJsonArray records;
    for (const ZelvoRecord& record : recorder.since(request.since)) {
        if (wanted(record, request.agent))
            records.append(record.toJson());
    }
    return {{QStringLiteral("records"), records}, {QStringLiteral("last"), double(recorder.lastSequence())}};
}

ZelvoControlLog::ZelvoControlLog(ZelvoRecorder* recorder, QTcpSocket* socket, const QString& agent, QObject* parent)
    : QObject(parent)
    , socket(socket)
    , agent(agent)
{
    connect(recorder, &ZelvoRecorder::appended, this, &ZelvoControlLog::write);
}

ZelvoControlLog::~ZelvoControlLog() = default;

void ZelvoControlLog::write(const ZelvoRecord& record)
{
    if (!wanted(record, agent) || socket->state() != QAbstractSocket::ConnectedState)
        return;
    if (socket->bytesToWrite() > maxUnsentBytes) {
        qWarning("\033[31mZelvoControlLog::write a log follower reads nothing, closing it\033[0m");
        // The closed socket takes no more lines (see above); its session
        // goes with it and takes this along.
        socket->abort();
        return;
    }
    socket->write(QJsonDocument(record.toJson()).toJson(QJsonDocument::Compact) + '\n');
}
