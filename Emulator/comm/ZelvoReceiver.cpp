#include "ZelvoReceiver.h"

#include "ZelvoAction.h"
#include "ZelvoConnection.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>

ZelvoReceiver::ZelvoReceiver(ZelvoConnection* connection)
    : connection(connection)
{
}

ZelvoReceiver::~ZelvoReceiver()
{
    qDebug() << "Invoked Destructor of ZelvoReceiver";
}

void ZelvoReceiver::onDataReceived(const QByteArray& data)
{
    qDebug().nospace() << "ZelvoReceiver::onDataReceived cmd [dataSize:" << data.size() << "]";
    const QJsonDocument document = QJsonDocument::fromJson(data);
    qDebug() << "\033[95mZelvoReceiver::dataReceived ~~~DESERIALIZATION~~~ RET:" << false << "\033[0m";
    // Re-serialising megabytes of images costs more than parsing them; skip
    // it when nobody would see the line.
    if (QLoggingCategory::defaultCategory()->isDebugEnabled()) {
        qDebug() << "\033[95mZelvoReceiver::dataReceived ~~~DESERIALIZATION~~~ JSON:"
                 << QString::fromUtf8(document.toJson(QJsonDocument::Indented)) << "\033[0m";
    }
    const ZelvoAction action(document.object().toVariantMap());
    if (action.args.isEmpty()) {
        qDebug() << "\033[94mZelvoReceiver::onDataReceived ---:> INVALID ACTION!!!\033[0m";
        return;
    }
    qDebug() << "mZelvoReceiver::onDataReceived ---:> Valid ACTION!!!";
    onActionReceived(action);
}

void ZelvoReceiver::onActionReceived(const ZelvoAction& action)
{
    qDebug() << "ZelvoReceiver::onActionReceived COMMAND" << action.commandType();
    connection->onActionReceived(action);
}
