// A ZelvoServer that may hold at most 64 file descriptors. Prints its port,
// answers every agent configuration with a broadcast of the agent's hash, and
// ends when its standard input is closed.

#include "comm/ZelvoServer.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QSocketNotifier>

#include <cstdio>

#include <sys/resource.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = 64;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        std::perror("setrlimit");
        return 2;
    }

    QCoreApplication application(argc, argv);
    ZelvoServer server;
    if (!server.start(QHostAddress::LocalHost, 0))
        return 1;
    QObject::connect(&server, &ZelvoServer::agentConfigReceived, &server,
                     [&server](const QString& agentHash) { server.sendMessageToClients(agentHash.toUtf8()); });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &application, &QCoreApplication::quit);

    std::printf("%u\n", unsigned(server.serverPort()));
    std::fflush(stdout);
    return application.exec();
}
