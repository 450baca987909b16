#include "ZelvoControlServer.h"
#include "ZelvoEmulator.h"
#include "ZelvoServer.h"

#include <QApplication>
#include <QDebug>
#include <QHostAddress>
#include <QMessageBox>

int qMain(int argc, char** argv)
{
    QApplication application(argc, argv);

    ZelvoServer server;
    if (!server.start(QHostAddress(QHostAddress::LocalHost), 2000)) {
        QMessageBox::warning(nullptr, QStringLiteral("ZelvoEmulator"),
                             QStringLiteral("ZelvoEmulator already in use"),
                             QMessageBox::Ok, QMessageBox::NoButton);
        return 1;
    }
    qDebug() << "Zelvo Emulator started, agents connect on port 2000";
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
