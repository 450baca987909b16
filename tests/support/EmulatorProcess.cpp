#include "EmulatorProcess.h"

#include "Desktop.h"
#include "ResidentMemory.h"
#include "ZelvoInstance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <unistd.h>

namespace {

// Socket inodes of the established connections whose local port is `port`.
QSet<QByteArray> establishedOn(quint16 port)
{
    QSet<QByteArray> inodes;
    const QByteArray localPort = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        // Files under /proc have no size; read them whole instead of
        // asking for their end.
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (const QByteArray& line : lines.mid(1)) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            // sl local remote st ... uid timeout inode; state 01 is ESTABLISHED.
            if (fields.size() > 9 && fields.at(1).endsWith(localPort) && fields.at(3) == "01")
                inodes.insert(fields.at(9));
        }
    }
    return inodes;
}

bool isFree(quint16 port)
{
    return QTcpServer().listen(QHostAddress::Any, port);
}

} // namespace

EmulatorProcess::EmulatorProcess(const Desktop* desktop, const QString& logName)
    : desktop(desktop)
    , log(QDir(Desktop::artifactsPath()).filePath(logName + QStringLiteral(".log")))
{
    QDir().mkpath(QFileInfo(log).absolutePath());
}

QString EmulatorProcess::home() const
{
    return homePath.isEmpty() ? ownHome.path() : homePath;
}

bool EmulatorProcess::portsAreFree() const
{
    return isFree(served.agent) && isFree(served.control);
}

bool EmulatorProcess::waitForFreePorts(int timeoutMillis) const
{
    return QTest::qWaitFor([this] { return portsAreFree(); }, timeoutMillis);
}

QString EmulatorProcess::program()
{
    return QStringLiteral(ZELVO_EMULATOR_PATH);
}

QString EmulatorProcess::portsFile() const
{
    return defaultPorts ? QString() : QDir(runtimeDir.path()).filePath(QStringLiteral("ports.json"));
}

bool EmulatorProcess::waitForPorts(int timeoutMillis)
{
    if (defaultPorts)
        return true;
    ZelvoInstance instance;
    QString error;
    const bool told = QTest::qWaitFor([&] { return !isRunning() || instance.readPortsFile(portsFile(), &error); },
                                      timeoutMillis)
                      && isRunning();
    if (told) {
        served = {instance.agentPort, instance.controlPort};
        token = instance.tokenFile();
    }
    return told;
}

bool EmulatorProcess::start()
{
    if ((homePath.isEmpty() && !ownHome.isValid()) || !runtimeDir.isValid())
        return false;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (desktop)
        environment = desktop->environment();
    else
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The test's own choice of instance must not leak into the program's.
    for (const char* variable : {ZelvoInstance::agentPortVariable, ZelvoInstance::controlPortVariable,
                                 ZelvoInstance::dataDirVariable, ZelvoInstance::webPortVariable})
        environment.remove(QLatin1String(variable));
    environment.insert(QStringLiteral("HOME"), home());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QDir(home()).filePath(QStringLiteral(".config")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir.path());
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(log, QIODevice::Append);
    process.setWorkingDirectory(home());
    QStringList programArguments;
    if (!defaultPorts) {
        // A file of an earlier run would tell its ports instead.
        QFile::remove(portsFile());
        programArguments = QStringList{QStringLiteral("--agent-port"), QStringLiteral("0"),
                                       QStringLiteral("--control-port"), QStringLiteral("0"),
                                       QStringLiteral("--ports-file"), portsFile()};
    }
    token = QDir(home()).filePath(QStringLiteral(".config/Zelvo/control-token"));
    process.start(program(), programArguments + arguments);
    return process.waitForStarted(10000);
}

bool EmulatorProcess::startUntilListening(int timeoutMillis)
{
    return start() && waitForPorts(timeoutMillis)
           && QTest::qWaitFor([this] { return !isRunning() || isListening(); }, timeoutMillis) && isRunning();
}

QString EmulatorProcess::startWithWindow(int timeoutMillis)
{
    return startUntilListening(timeoutMillis) ? waitForMainWindow(timeoutMillis) : QString();
}

bool EmulatorProcess::isListening() const
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, served.agent);
    return socket.waitForConnected(1000);
}

QByteArray EmulatorProcess::logText() const
{
    QFile file(log);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString EmulatorProcess::waitForMainWindow(int timeoutMillis) const
{
    if (!desktop)
        return QString();
    return desktop->waitForWindow({QStringLiteral("--pid"), QString::number(pid()), QStringLiteral("--name"),
                                   QStringLiteral("^Zelvo Emulator$")},
                                  QStringList(), timeoutMillis);
}

int EmulatorProcess::acceptedAgents() const
{
    const QSet<QByteArray> established = establishedOn(served.agent);
    int count = 0;
    const QDir descriptors(QStringLiteral("/proc/%1/fd").arg(pid()));
    for (const QString& descriptor : descriptors.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        // A socket descriptor links to "socket:[inode]", which is no path,
        // so Qt's link resolution does not apply.
        char target[64] = {};
        const ssize_t length = ::readlink(QFile::encodeName(descriptors.filePath(descriptor)).constData(), target,
                                          sizeof target - 1);
        const QByteArray link(target, length > 0 ? int(length) : 0);
        if (link.startsWith("socket:[") && established.contains(link.mid(8, link.size() - 9)))
            ++count;
    }
    return count;
}

qint64 EmulatorProcess::residentKilobytes() const
{
    return ::residentKilobytes(pid());
}
