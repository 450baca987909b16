#include "control/ZelvoControlServer.h"
#include "ui/ZelvoEmulator.h"
#include "comm/ZelvoServer.h"
#include "ZelvoPorts.h"

#include <QApplication>
#include <QDebug>
#include <QHostAddress>
#include <QMessageBox>

#include <cstdio>

namespace {

// Platforms without a screen, where a message box waits for a click that
// can never come.
bool nobodyCanAnswer()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

} // namespace

int qMain(int argc, char** argv)
{
    QApplication application(argc, argv);

    ZelvoServer server;
    if (!server.start(QHostAddress(QHostAddress::LocalHost), ZelvoPorts::agent)) {
        if (nobodyCanAnswer()) {
            std::fprintf(stderr, "ZelvoEmulator already in use (port %u)\n", unsigned(ZelvoPorts::agent));
            return 1;
        }
        QMessageBox::warning(nullptr, QStringLiteral("ZelvoEmulator"),
                             QStringLiteral("ZelvoEmulator already in use"),
                             QMessageBox::Ok, QMessageBox::NoButton);
        return 1;
    }
    qDebug() << "Zelvo Emulator started, agents connect on port" << ZelvoPorts::agent;
    qDebug() << "ZelvoServer::main";

    ZelvoEmulator emulator(&server, nullptr);
    emulator.show();

    // Without its port the emulator still serves agents; it says so in the log.
    ZelvoControlServer control(&emulator, &server);
    control.start(ZelvoControlServer::defaultPort);

    const int result = application.exec();
    qDebug() << "ZelvoServer::main SERVER STOP REQUESTED!!!!";
    qDebug() << "ZelvoServer::main SERVER STOPPED!!!!";
    return result;
}

int main(int argc, char** argv)
{
    return qMain(argc, argv);
}
