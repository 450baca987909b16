#include "clock/ZelvoClock.h"
#include "control/ZelvoControlCommands.h"
#include "control/ZelvoControlServer.h"
#include "web/ZelvoWebServer.h"
#include "ui/ZelvoEmulator.h"
#include "comm/ZelvoServer.h"
#include "services/ZelvoServices.h"
#include "shell/ZelvoDataLock.h"
#include "shell/ZelvoStopSignals.h"
#include "util/ZelvoImageStore.h"
#include "util/ZelvoMemory.h"
#include "ZelvoLog.h"
#include "ZelvoControlToken.h"
#include "ZelvoInstance.h"
#include "ZelvoVersion.h"

#include <QApplication>
#include <QByteArrayList>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHostAddress>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTimer>

#include <cstdio>

#include <unistd.h>

namespace {

constexpr char clockVariable[] = "ZELVO_CLOCK";
constexpr char listenVariable[] = "ZELVO_LISTEN";

QtMessageHandler qtMessageHandler = nullptr;
bool logInColour = false;

// Colours are for a person at a terminal who has not opted out
// (https://no-color.org); a log in a file, a pipe or a CI artifact is plain.
bool colourWanted()
{
    return ::isatty(STDERR_FILENO) == 1 && qEnvironmentVariableIsEmpty("NO_COLOR");
}

// The log lines write their colours inline, ESC [ ... m; here, once, they
// go where no colour is wanted.
QString withoutColour(const QString& message)
{
    static const QRegularExpression colour(QStringLiteral("\x1b\\[[0-9;]*m"));
    return QString(message).remove(colour);
}

// Lines that quote a frame or a text cut it themselves; this bounds any
// other, such as the dozen that name an agent whose app id is a megabyte.
void boundedMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QString text = logInColour || !message.contains(QChar(0x1b)) ? message : withoutColour(message);
    qtMessageHandler(type, context, text.size() <= ZelvoLog::payloadQuoted ? text : ZelvoLog::payload(text.toUtf8()));
}

// Platforms without a screen, where a message box waits for a click that
// can never come.
bool nobodyCanAnswer()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

// "ZelvoEmulator --version" or "--help" alone prints and ends before a
// window could open; on a machine without a display Qt's default platform
// would abort the program first.
void printWithoutDisplay(int argc, char** argv)
{
    static const QByteArrayList printing = {"--version", "-v", "--help", "-h", "-?", "--help-all"};
    if (argc == 2 && printing.contains(QByteArray(argv[1])) && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "minimal");
}

int startFailed(const QString& message)
{
    std::fprintf(stderr, "ZelvoEmulator: %s\n", qUtf8Printable(message));
    return 1;
}

// Another emulator holds what this one needs: said on standard error, and
// in a box where a person can see it.
int alreadyInUse(const QString& line, const QString& box)
{
    std::fprintf(stderr, "%s\n", qUtf8Printable(line));
    if (!nobodyCanAnswer())
        QMessageBox::warning(nullptr, QStringLiteral("ZelvoEmulator"), box, QMessageBox::Ok, QMessageBox::NoButton);
    return 1;
}

// A lock left behind (empty, garbage, a gone process's) is taken over
// in one line; another emulator's, or one that is no file, ends the start.
bool lockDataDirectory(ZelvoDataLock* lock, QString* error)
{
    QString message;
    if (lock->lock(&message) == ZelvoDataLock::Outcome::Refused) {
        *error = message;
        return false;
    }
    if (!message.isEmpty())
        std::fprintf(stderr, "ZelvoEmulator: %s\n", qUtf8Printable(message));
    return true;
}

struct Options
{
    ZelvoInstance instance;
    bool control = true;
    // Set by an option or the environment rather than by default.
    bool controlPortChosen = false;
    QString portsFile;
    ZelvoClock::Mode clock = ZelvoClock::Mode::Real;
    // The web page's port, when it is served at all.
    bool web = false;
    quint16 webPort = 0;
    // Null unless given; then it wins over listen for the page alone.
    QHostAddress webHost;
    // The interface of every port; null unless given, and then agents
    // connect on every interface, as they reach the glasses from a phone or
    // another machine, while the control channel and the page stay on
    // this machine.
    QHostAddress listen;

    QHostAddress agentAddress() const { return listen.isNull() ? QHostAddress(QHostAddress::Any) : listen; }
    QHostAddress controlAddress() const { return listen.isNull() ? QHostAddress(QHostAddress::LocalHost) : listen; }
    QHostAddress webAddress() const { return webHost.isNull() ? controlAddress() : webHost; }
};

// The environment first, then the command line over it; false with
// *error on a value that cannot be used.
bool readOptions(const QApplication& application, Options* options, QString* error)
{
    const QCommandLineOption agentPort(QStringLiteral("agent-port"),
        QStringLiteral("Port agents connect to, 0 for any free one (default 2000, or $%1).")
            .arg(QLatin1String(ZelvoInstance::agentPortVariable)), QStringLiteral("N"));
    const QCommandLineOption controlPort(QStringLiteral("control-port"),
        QStringLiteral("Port of the control channel on 127.0.0.1, 0 for any free one (default 2001, or $%1).")
            .arg(QLatin1String(ZelvoInstance::controlPortVariable)), QStringLiteral("N"));
    const QCommandLineOption noControl(QStringLiteral("no-control"), QStringLiteral("Run without the control channel."));
    const QCommandLineOption dataDir(QStringLiteral("data-dir"),
        QStringLiteral("Keep the agents' images and the control token in DIR instead of the home folders "
                       "(made if missing, mode 0700; or $%1).").arg(QLatin1String(ZelvoInstance::dataDirVariable)),
        QStringLiteral("DIR"));
    const QCommandLineOption portsFile(QStringLiteral("ports-file"),
        QStringLiteral("Once both ports listen, write them, the token file and the process id to FILE as JSON."),
        QStringLiteral("FILE"));

    const QCommandLineOption webPort(QStringLiteral("web-port"),
        QStringLiteral("Serve the web page of this emulator on PORT, 0 for any free one (or $%1).")
            .arg(QLatin1String(ZelvoInstance::webPortVariable)), QStringLiteral("PORT"));
    const QCommandLineOption webHost(QStringLiteral("web-host"),
        QStringLiteral("Serve the web page on ADDRESS instead of 127.0.0.1 or the --listen one (0.0.0.0 for every "
                       "interface)."),
        QStringLiteral("ADDRESS"));
    const QCommandLineOption listen(QStringLiteral("listen"),
        QStringLiteral("Open every port (agents, control channel, web page) on ADDRESS only, 0.0.0.0 for every "
                       "interface, as in a container (or $%1); without it agents connect on every interface and the "
                       "control channel and the page on 127.0.0.1. The control channel still asks for the token.")
            .arg(QLatin1String(listenVariable)),
        QStringLiteral("ADDRESS"));
    const QCommandLineOption clock(QStringLiteral("clock"),
        QStringLiteral("\"real\" (default) or \"manual\": the device's time stands still until the control "
                       "channel advances it (or $%1).").arg(QLatin1String(clockVariable)),
        QStringLiteral("MODE"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The desktop emulator of the Zelvo smart glasses."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({agentPort, controlPort, noControl, dataDir, portsFile, webPort, webHost, listen, clock});
    // Help, version and unknown options end the program here.
    parser.process(application);

    ZelvoInstance& instance = options->instance;
    if (!instance.readEnvironment(error))
        return false;
    options->controlPortChosen = qEnvironmentVariableIsSet(ZelvoInstance::controlPortVariable);
    const auto readPort = [&parser, error](const QCommandLineOption& option, quint16* port) {
        if (!parser.isSet(option) || ZelvoInstance::parsePort(parser.value(option), port))
            return true;
        *error = QStringLiteral("--%1 needs a port from 0 to 65535, not '%2'")
                     .arg(option.names().constFirst(), parser.value(option));
        return false;
    };
    if (!readPort(agentPort, &instance.agentPort) || !readPort(controlPort, &instance.controlPort))
        return false;
    if (qEnvironmentVariableIsSet(ZelvoInstance::webPortVariable)) {
        const QString text = qEnvironmentVariable(ZelvoInstance::webPortVariable);
        if (!ZelvoInstance::parsePort(text, &options->webPort)) {
            *error = QStringLiteral("%1 needs a port from 0 to 65535, not '%2'")
                         .arg(QLatin1String(ZelvoInstance::webPortVariable), text);
            return false;
        }
        options->web = true;
    }
    if (!readPort(webPort, &options->webPort))
        return false;
    options->web = options->web || parser.isSet(webPort);
    if (parser.isSet(webHost) && !options->webHost.setAddress(parser.value(webHost))) {
        *error = QStringLiteral("--web-host needs an IP address, not '%1'").arg(parser.value(webHost));
        return false;
    }
    const QString listenAddress = parser.isSet(listen) ? parser.value(listen) : qEnvironmentVariable(listenVariable);
    if (!listenAddress.isEmpty() && !options->listen.setAddress(listenAddress)) {
        *error = QStringLiteral("--listen needs an IP address, not '%1'").arg(listenAddress);
        return false;
    }
    options->controlPortChosen = options->controlPortChosen || parser.isSet(controlPort);
    if (parser.isSet(dataDir))
        instance.dataDirectory = parser.value(dataDir);
    if (!instance.dataDirectory.isEmpty())
        instance.dataDirectory = QFileInfo(instance.dataDirectory).absoluteFilePath();
    const QString clockMode = parser.isSet(clock) ? parser.value(clock) : qEnvironmentVariable(clockVariable);
    if (!clockMode.isEmpty() && !ZelvoClock::modeNamed(clockMode, &options->clock)) {
        *error = QStringLiteral("--clock needs \"real\" or \"manual\", not '%1'").arg(clockMode);
        return false;
    }
    options->control = !parser.isSet(noControl);
    if (parser.isSet(portsFile))
        options->portsFile = QFileInfo(parser.value(portsFile)).absoluteFilePath();
    return true;
}

QString webAddressFile(const QString& tokenFile)
{
    return QFileInfo(tokenFile).dir().filePath(QStringLiteral("web-address"));
}

// Serves the web page and writes its address beside the token it holds;
// false with *error when it cannot.
bool startWeb(ZelvoWebServer* web, const Options& options, const QString& tokenFile, QString* error)
{
    // The page asks for the control token, so it is served with the channel only.
    if (tokenFile.isEmpty()) {
        *error = QStringLiteral("the web page needs the control channel");
        return false;
    }
    if (!web->start(options.webAddress(), options.webPort)) {
        *error = web->errorString();
        return false;
    }
    if (web->writeAddressFile(webAddressFile(tokenFile), error))
        return true;
    web->close();
    return false;
}

} // namespace

int qMain(int argc, char** argv)
{
    ZelvoMemory::returnLargeBlocks();
    // Each part logs in a category of its own, yet its lines read as they
    // always have; QT_MESSAGE_PATTERN="%{category}: %{message}" names the
    // category to switch.
    qSetMessagePattern(QStringLiteral("%{message}"));
    logInColour = colourWanted();
    qtMessageHandler = qInstallMessageHandler(boundedMessage);
    printWithoutDisplay(argc, argv);
    QApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ZelvoEmulator"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(ZelvoVersion::text()));

    Options options;
    QString error;
    if (!readOptions(application, &options, &error))
        return startFailed(error);

    // A service manager, a CI job or Ctrl-C ends the run as closing the
    // window does: recordings finished, agents closed, this run's files
    // removed, exit code 0. Declared before everything it must outlive, so
    // that a second signal still ends a stop that hangs.
    ZelvoStopSignals stopSignals;
    if (!stopSignals.install(&error))
        std::fprintf(stderr, "ZelvoEmulator: %s\n", qUtf8Printable(error));
    QObject::connect(&stopSignals, &ZelvoStopSignals::stopRequested, &application, [](int signal) {
        qCDebug(zelvoWindowLog).noquote() << "ZelvoServer::main" << ZelvoStopSignals::name(signal) << "received, stopping";
        QCoreApplication::exit(0);
    });
    const ZelvoInstance& instance = options.instance;
    ZelvoDataLock dataLock(instance.dataDirectory);
    if (!instance.dataDirectory.isEmpty()) {
        if (!ZelvoControlToken::makePrivateDirectory(instance.dataDirectory, &error))
            return startFailed(QStringLiteral("no data directory: %1").arg(error));
        if (!lockDataDirectory(&dataLock, &error))
            return alreadyInUse(QStringLiteral("ZelvoEmulator: %1 (%2)").arg(error, instance.dataDirectory),
                                QStringLiteral("ZelvoEmulator: %1").arg(error));
    }

    // Made before, and gone after, everyone they are handed to.
    ZelvoServices services(options.clock);
    ZelvoServer server(services.clock.get(), services.recorder.get(), services.pictureWriter.get());
    if (!server.start(options.agentAddress(), instance.agentPort)) {
        // An address of no interface of this machine is no other emulator.
        if (server.serverError() != QAbstractSocket::AddressInUseError)
            return startFailed(QStringLiteral("cannot take agents on %1 port %2: %3")
                                   .arg(options.agentAddress().toString())
                                   .arg(instance.agentPort)
                                   .arg(server.errorString()));
        return alreadyInUse(QStringLiteral("ZelvoEmulator already in use (port %1)").arg(instance.agentPort),
                            QStringLiteral("ZelvoEmulator already in use"));
    }
    qCDebug(zelvoWindowLog) << "Zelvo Emulator started, agents connect on port" << server.serverPort();
    qCDebug(zelvoWindowLog) << "ZelvoServer::main";

    ZelvoEmulator emulator(&server, services, nullptr);
    if (!instance.dataDirectory.isEmpty())
        emulator.imageStore()->setDataDirectory(instance.dataDirectory);
    emulator.show();

    ZelvoControlServer control(&emulator, &server, services);
    if (options.control && !control.start(instance.controlPort, instance.tokenFile(), options.controlAddress())) {
        std::fprintf(stderr, "ZelvoEmulator: no control channel: %s\n", qUtf8Printable(control.errorString()));
        // Without the port it was asked for, or that a ports file would
        // announce, a script has nothing to talk to; a person at the window
        // still has the emulator, as with the default port.
        if ((options.controlPortChosen || !options.portsFile.isEmpty()) && nobodyCanAnswer())
            return 1;
    }
    const bool controlListens = !control.tokenFile().isEmpty();

    ZelvoWebServer web(&emulator, control.controlCommands(), services, &control.accessToken());
    if (options.web) {
        if (startWeb(&web, options, control.tokenFile(), &error)) {
            const QString address = web.address().toString();
            control.controlCommands()->setWebAddress(address);
            std::fprintf(stderr, "ZelvoEmulator: the web page of this emulator is at\n    %s\n", qUtf8Printable(address));
        } else {
            std::fprintf(stderr, "ZelvoEmulator: no web page: %s\n", qUtf8Printable(error));
            if (nobodyCanAnswer())
                return 1;
        }
    }
    const auto writePortsFile = [&](QString* failure) {
        return ZelvoInstance::writePortsFile(options.portsFile, server.serverPort(), control.port(), web.port(),
                                             control.tokenFile(), options.controlAddress(), failure);
    };
    if (!options.portsFile.isEmpty() && (controlListens || !options.control) && !writePortsFile(&error))
        return startFailed(error);

    // A data folder removed while the emulator runs comes back with the
    // token (ZelvoControlServer); the lock, the web address and the ports
    // file follow it, and are looked for on every change in the folder
    // after, as rm may still be deleting what was just written again.
    QFileSystemWatcher folderWatcher;
    // A watch can be lost to rm's pace (the folder made again between two
    // of its events, the old watch not yet dropped): while a file is still
    // missing, the folder is looked at again shortly.
    QTimer restoreAgain;
    restoreAgain.setSingleShot(true);
    restoreAgain.setInterval(200);
    QString lastFailure;
    const auto restoreFiles = [&] {
        if (!QFileInfo::exists(control.tokenFile()))
            return;
        QString failure;
        dataLock.keep(&failure);
        const QString address = webAddressFile(control.tokenFile());
        const bool webAddress = web.port() != 0;
        if (webAddress && !QFileInfo::exists(address))
            web.writeAddressFile(address, &failure);
        if (!options.portsFile.isEmpty() && !QFileInfo::exists(options.portsFile))
            writePortsFile(&failure);
        // A folder gone again meanwhile brings them back with the token;
        // a failure that stays is said once.
        if (!failure.isEmpty() && failure != lastFailure && QFileInfo::exists(control.tokenFile()))
            std::fprintf(stderr, "ZelvoEmulator: %s\n", qUtf8Printable(failure));
        lastFailure = failure;
        const QString folder = QFileInfo(control.tokenFile()).absolutePath();
        if (!folderWatcher.directories().contains(folder))
            folderWatcher.addPath(folder);
        const bool missing = !dataLock.isKept() || (webAddress && !QFileInfo::exists(address))
            || (!options.portsFile.isEmpty() && !QFileInfo::exists(options.portsFile));
        if (missing)
            restoreAgain.start();
    };
    if (controlListens) {
        restoreFiles();
        QObject::connect(&control, &ZelvoControlServer::tokenRewritten, &folderWatcher, restoreFiles);
        QObject::connect(&folderWatcher, &QFileSystemWatcher::directoryChanged, &folderWatcher, restoreFiles);
        QObject::connect(&restoreAgain, &QTimer::timeout, &folderWatcher, restoreFiles);
    }

    const int result = application.exec();
    qCDebug(zelvoWindowLog) << "ZelvoServer::main SERVER STOP REQUESTED!!!!";
    qCDebug(zelvoWindowLog) << "ZelvoServer::main SERVER STOPPED!!!!";
    // Ports of a finished run would send a script to whoever takes them next.
    if (!options.portsFile.isEmpty())
        ZelvoInstance::removeOwnPortsFile(options.portsFile);
    return result;
}

int main(int argc, char** argv)
{
    return qMain(argc, argv);
}
