#include "comm/ZelvoReceiver.h"

#include "ZelvoAction.h"
#include "comm/ZelvoConnection.h"
#include "ZelvoJson.h"
#include "ZelvoLog.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

ZelvoReceiver::ZelvoReceiver(ZelvoConnection* connection)
    : connection(connection)
{
}

ZelvoReceiver::~ZelvoReceiver()
{
    qCDebug(zelvoLog) << "Invoked Destructor of ZelvoReceiver";
}

void ZelvoReceiver::onDataReceived(const QByteArray& data)
{
    qCDebug(zelvoLog).nospace() << "ZelvoReceiver::onDataReceived cmd [dataSize:" << data.size() << "]";
    QJsonParseError parseError;
    const QJsonDocument document = ZelvoJson::parse(data, &parseError);
    qCDebug(zelvoLog) << "\033[95mZelvoReceiver::dataReceived ~~~DESERIALIZATION~~~ RET:" << false << "\033[0m";
    // Re-serialising megabytes of images costs more than parsing them;
    // qCDebug skips it when nobody would see the line.
    qCDebug(zelvoLog) << "\033[95mZelvoReceiver::dataReceived ~~~DESERIALIZATION~~~ JSON:"
                      << QString::fromUtf8(document.toJson(QJsonDocument::Indented)) << "\033[0m";
    const ZelvoAction action(document.object().toVariantMap());
    if (action.args.isEmpty()) {
        qCDebug(zelvoLog) << "\033[94mZelvoReceiver::onDataReceived ---:> INVALID ACTION!!!\033[0m";
        const ZelvoRecord::Reason reason = parseError.error != QJsonParseError::NoError ? ZelvoRecord::Reason::NotJson
            : !document.isObject()                                                  ? ZelvoRecord::Reason::NotObject
                                                                                     : ZelvoRecord::Reason::NoCommandType;
        connection->recordFrame(data, action, ZelvoRecord::Outcome::NoAction, reason);
        return;
    }
    connection->recordFrame(data, action);
    qCDebug(zelvoLog) << "mZelvoReceiver::onDataReceived ---:> Valid ACTION!!!";
    onActionReceived(action);
}

void ZelvoReceiver::onActionReceived(const ZelvoAction& action)
{
    qCDebug(zelvoLog) << "ZelvoReceiver::onActionReceived COMMAND" << action.commandType();
    connection->onActionReceived(action);
}
