#include "ZelvoInstance.h"

#include "ZelvoControlToken.h"
#include "ZelvoFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {

// A ports file is a line of JSON; anything longer is not one.
constexpr qint64 maxPortsFileSize = 64 * 1024;

const QString agentPortKey = QStringLiteral("agentPort");
const QString controlPortKey = QStringLiteral("controlPort");
const QString webPortKey = QStringLiteral("webPort");
const QString tokenFileKey = QStringLiteral("tokenFile");
const QString hostKey = QStringLiteral("host");
const QString pidKey = QStringLiteral("pid");

bool readPortVariable(const char* name, quint16* port, QString* error)
{
    if (!qEnvironmentVariableIsSet(name))
        return true;
    const QString text = qEnvironmentVariable(name);
    if (ZelvoInstance::parsePort(text, port))
        return true;
    *error = QStringLiteral("%1 needs a port from 0 to 65535, not '%2'").arg(QLatin1String(name), text);
    return false;
}

} // namespace

bool ZelvoInstance::readEnvironment(QString* error)
{
    if (!readPortVariable(agentPortVariable, &agentPort, error)
        || !readPortVariable(controlPortVariable, &controlPort, error))
        return false;
    if (qEnvironmentVariableIsSet(dataDirVariable))
        dataDirectory = qEnvironmentVariable(dataDirVariable);
    if (!qEnvironmentVariable(hostVariable).isEmpty())
        host = qEnvironmentVariable(hostVariable);
    return true;
}

bool ZelvoInstance::locate(const QString& portsFile, QString* error)
{
    return readEnvironment(error) && (portsFile.isEmpty() || readPortsFile(portsFile, error));
}

bool ZelvoInstance::readPortsFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the ports file %1: %2").arg(path, file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.read(maxPortsFileSize), &parseError);
    const QJsonObject object = document.object();
    const auto isPort = [&object](const QString& key) {
        const double number = object.value(key).toDouble(-1);
        return number >= 0 && number <= 65535 && number == qint64(number);
    };
    if (parseError.error != QJsonParseError::NoError || !document.isObject() || !isPort(agentPortKey)
        || !isPort(controlPortKey) || !object.value(tokenFileKey).isString()) {
        *error = QStringLiteral("%1 is not a ports file of the emulator").arg(path);
        return false;
    }
    agentPort = quint16(object.value(agentPortKey).toInt());
    controlPort = quint16(object.value(controlPortKey).toInt());
    portsFileToken = object.value(tokenFileKey).toString();
    // Files of earlier emulators name no host.
    const QString named = object.value(hostKey).toString();
    if (!named.isEmpty() && qEnvironmentVariable(hostVariable).isEmpty())
        host = named;
    return true;
}

bool ZelvoInstance::writePortsFile(const QString& path, quint16 agentPort, quint16 controlPort, quint16 webPort,
                                   const QString& tokenFile, const QHostAddress& controlAddress, QString* error)
{
    // Nobody connects to an "any" address; this machine's loopback is one of them.
    QHostAddress reachable = controlAddress;
    if (controlAddress == QHostAddress::AnyIPv6)
        reachable = QHostAddress::LocalHostIPv6;
    else if (controlAddress == QHostAddress::Any || controlAddress == QHostAddress::AnyIPv4)
        reachable = QHostAddress::LocalHost;
    const QJsonObject object{{agentPortKey, agentPort},
                             {controlPortKey, controlPort},
                             {webPortKey, webPort},
                             {tokenFileKey, tokenFile},
                             {hostKey, reachable.toString()},
                             {pidKey, double(QCoreApplication::applicationPid())}};
    QString reason;
    if (!ZelvoFile::writeWhole(path, QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n', &reason)) {
        *error = QStringLiteral("cannot write the ports file %1: %2").arg(path, reason);
        return false;
    }
    return true;
}

void ZelvoInstance::removeOwnPortsFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonObject object = QJsonDocument::fromJson(file.read(maxPortsFileSize)).object();
    file.close();
    if (object.value(pidKey).toDouble() == double(QCoreApplication::applicationPid()))
        QFile::remove(path);
}

QString ZelvoInstance::tokenFile() const
{
    if (!portsFileToken.isEmpty())
        return portsFileToken;
    return ZelvoControlToken::filePath(dataDirectory);
}

bool ZelvoInstance::parsePort(const QString& text, quint16* port)
{
    bool ok = false;
    const uint number = text.trimmed().toUInt(&ok);
    if (!ok || number > 65535)
        return false;
    *port = quint16(number);
    return true;
}
